// Files of the data directory, named by their Windows paths.  The C library
// streams give the exports file its text mode: on Windows line ends are CR LF
// on disk; the POSIX build writes the same bytes (WriteTextLine).
#pragma once

#include <cstddef>
#include <cstdio>

// DataDirectory followed by name; 0 when it does not fit.
int DataFilePath(const char *name, char *out, size_t size);

// fopen of a Windows path, in text mode ("r", "w").
FILE *OpenDataFile(const char *windowsPath, const char *mode);
// remove() of a Windows path: 1 on success.
int RemoveDataFile(const char *windowsPath);
// rename() of Windows paths: 1 on success (fails when the target exists).
int RenameDataFile(const char *from, const char *to);

// Writes text (one line, its "\n" at most at the end; a missing "\n" is
// added) with the line end of a text-mode stream on Windows.  Returns 1, or
// 0 on a write error.
int WriteTextLine(FILE *stream, const char *text, size_t length);
