// Private profile (INI file) functions of the Win32 subset for the POSIX
// build, with the behaviour of the Windows functions: lines are edited in
// place, so comments, blank lines and the layout of other lines survive a
// write; names compare without regard to ASCII case; the file is named by a
// Windows path.
#pragma once

#include "platform/posix/win32_types.h"

// The value of key in section, or the default when the key (or the file) is
// missing.  A null key lists the section's key names, a null section lists
// the section names (each name zero-terminated, the list ends with an extra
// zero).  Returns the number of characters copied without the final zero;
// size - 1 when a value was truncated, size - 2 when a list was.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName);
// The value read as an integer (leading blanks, a sign, "0x" hexadecimal,
// digits up to the first other character); the default when the key is
// missing or its value empty.
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);
// Sets key=value in section, creating the section at the end of the file and
// the file itself when needed.  A null value deletes the key, a null key
// deletes the whole section.  Returns FALSE with the error set on failure.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
