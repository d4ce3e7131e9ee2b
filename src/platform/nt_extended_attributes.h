// The extended-attribute calls of ntdll, NtQueryEaFile and NtSetEaFile, with
// their records: the Windows SDK declares them only for drivers, so they are
// declared here; the POSIX layer offers them in its win32_file.h.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#include <winternl.h>
typedef struct _FILE_GET_EA_INFORMATION {
    ULONG NextEntryOffset;
    UCHAR EaNameLength;
    CHAR EaName[1];
} FILE_GET_EA_INFORMATION, *PFILE_GET_EA_INFORMATION;
extern "C" NTSTATUS NTAPI NtQueryEaFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                        BOOLEAN returnSingleEntry, PVOID eaList, ULONG eaListLength,
                                        PULONG eaIndex, BOOLEAN restartScan);
extern "C" NTSTATUS NTAPI NtSetEaFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID buffer, ULONG length);
#endif
