// The dialogs that the menus and the drop of a folder open: the preferences,
// the log viewer, the about box and the exports editors.  They are not built
// yet; each command ends here.
#include "ui/control_win32.h"

void OpenPreferences() {}
void OpenLogViewer(HWND) {}
void OpenAbout(HWND) {}
void OpenExportsEditor(HWND) {}
int OpenExportDialog(HWND, int, int, const char *) { return 0; }
