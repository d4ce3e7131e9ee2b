// What a look at a file by its name tells: the layout of Windows'
// FILE_STAT_INFORMATION, which NtQueryInformationByName returns for the
// class FileStatInformation (68, Windows 10 1709 and later) and
// GetFileInformationByName for FileStatByNameInfo.  The user-mode SDKs do not
// all declare it, so it is declared here under a name of its own.  The POSIX
// layer answers the same question with GetFileInformationByName.
#pragma once

#include "platform/win32.h"

struct NtFileStatInformation {
    LARGE_INTEGER FileId;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER AllocationSize;
    LARGE_INTEGER EndOfFile;
    ULONG FileAttributes;
    ULONG ReparseTag;
    ULONG NumberOfLinks;
    ULONG EffectiveAccess;
};

// The information class of NtQueryInformationByName for the record above.
#define NT_FILE_STAT_INFORMATION_CLASS 68
