// Where an open file really lies: the path of its handle with every link and
// junction on the way resolved.
#pragma once

#include "platform/win32.h"

// The path of the object handle is open on, in the layer's form: "C:\...",
// "\\server\share\..." for a share, "\\?\Volume{...}\..." for a volume
// without a drive letter (the long prefix is dropped from the others), into
// buffer (size bytes, in the clients' character set as the other Fs calls).
// flags as GetFinalPathNameByHandle takes them (0, or 1 for the volume
// GUID form).  Returns the length, or 0 with the Windows error set
// (ERROR_CALL_NOT_IMPLEMENTED where the system has no such call).
DWORD FsFinalPathOfHandle(HANDLE handle, char *buffer, DWORD size, DWORD flags);

// The entry points of the system: null where it has none.
typedef DWORD(WINAPI *FinalPathAFn)(HANDLE, LPSTR, DWORD, DWORD);
typedef DWORD(WINAPI *FinalPathWFn)(HANDLE, LPWSTR, DWORD, DWORD);
void FinalPathEntryPoints(FinalPathAFn *ansi, FinalPathWFn *wide);
