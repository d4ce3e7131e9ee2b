// Pieces shared by the resizable dialogs (exports file editor, log viewer):
// a status bar with size grip, margins in dialog units, and the question
// asked before a file changed on disk is overwritten.
#pragma once

#include "platform/win32.h"

// The status bar along the bottom of a dialog (id 1032, no text).
HWND AddStatusBar(HWND dialog);
// Dialog units converted to pixels.
POINT DialogUnits(HWND dialog, int x, int y);
// The height of a window, and its width.
int WindowHeight(HWND window);
int WindowWidth(HWND window);
// Moves a control to x, y (centred in a row rowHeight high when it is lower)
// keeping its size, and repaints it.
void MoveControl(HWND control, int x, int y, int rowHeight);
// Asks whether a file changed on disk since it was opened may be overwritten.
bool AskOverwrite(HWND owner, const char *fileName);
// Reports that a file could not be written (it stays as it was).
void ReportNotSaved(HWND owner, const char *fileName);
// Runs a modal dialog of the program's resources; reports "Failed to create
// dialog" when it cannot be made.
INT_PTR RunDialog(HWND owner, int resource, DLGPROC procedure, LPARAM parameter);
