// The Windows file access layer: the only place where the backend's 8-bit
// paths meet the path-taking Win32 calls.
//
// Naming: every operation that stands for a Win32 function is that
// function's name with the prefix "Fs" and without the A/W suffix
// (FsCreateFile for CreateFileA/W, FsFindFirstFile for FindFirstFileA/W, ...),
// so none of them collides with the SDK's macros.  They take and return what
// their namesakes take and return; each string argument is an 8-bit path in
// the clients' character set.  The Windows error of a failed call stays in
// GetLastError; the layer itself never logs or reports anything.
//
// Character set: ServerSettings.CharSetActive 2 (UTF-8) sends every call to
// the wide function, the path converted from UTF-8 into a buffer of 4096
// UTF-16 units; 0 (ASCII) and 1 (Windows ANSI) send the bytes unchanged to
// the ANSI function.  A path that is not valid UTF-8, or does not fit, becomes
// an empty wide path, so the call fails on its own and never reaches a file
// whose name merely resembles the bytes.  No "\\?\" prefix is added: long
// paths work when the caller already gives that form.
#pragma once

#include <cstdint>

#include "platform/nt_extended_attributes.h"
#include "platform/nt_file_stat.h"
#include "platform/win32.h"

// Units of each conversion buffer of a path argument.
#define FS_WIDE_PATH_UNITS 4096

// True when the wide functions are in use (CharSetActive is UTF-8).
bool FsWideMode();

// Converts a NUL-terminated UTF-8 text into wide, 4096 units at most.
// Returns 1, or 0 with wide[0] = 0 when the text is not valid UTF-8 or does
// not fit.
int FsToWide(const char *text, WCHAR *wide, int units);
// Converts a NUL-terminated wide text to UTF-8 into buffer of size bytes.
// Returns the length without the terminator, or -1 with buffer[0] = 0 (when
// size > 0) when it does not fit.
int FsFromWide(const WCHAR *wide, char *buffer, uint32_t size);

DWORD FsGetFileAttributes(const char *path);
// The attributes of the object named by path itself: a link at its end is
// the link, never what it leads to (on POSIX a link keeps none, and the
// change fails with ERROR_ACCESS_DENIED).  0 stands for FILE_ATTRIBUTE_NORMAL.
BOOL FsSetFileAttributes(const char *path, DWORD attributes);
// The same through an open handle (INVALID_HANDLE_VALUE: FALSE, the error
// left as it is), which is closed, the error kept.  The handle has
// FILE_WRITE_ATTRIBUTES; where opening with it is refused as access denied,
// callers open with SYNCHRONIZE instead: Wine refuses that access to a
// read-only file and sets attributes through any handle, while Windows
// grants it (and refuses the change through a handle without it).
BOOL FsSetAttributesAndClose(HANDLE file, DWORD attributes);
BOOL FsDeleteFile(const char *path);
HANDLE FsCreateFile(const char *path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                    DWORD flags, HANDLE templateFile);
BOOL FsCreateDirectory(const char *path, LPSECURITY_ATTRIBUTES security);
BOOL FsRemoveDirectory(const char *path);
BOOL FsMoveFile(const char *existing, const char *newName);
// Through the entry point found by FsFindHardLinkApi; fails with
// ERROR_CALL_NOT_IMPLEMENTED when it was not found.
BOOL FsCreateHardLink(const char *newName, const char *existing, LPSECURITY_ATTRIBUTES security);
// Through the entry point found by FsFindFileIdApi.  In wide mode the result
// is converted to UTF-8 into buffer (size bytes) and its length in bytes is
// returned; 0 with the error set on failure (ERROR_INSUFFICIENT_BUFFER when
// the converted path does not fit).
DWORD FsGetFinalPathNameByHandle(HANDLE handle, char *buffer, DWORD size, DWORD flags);
// The caller always sees the ANSI record.  In wide mode both names are
// converted to UTF-8; a name whose UTF-8 form does not fit its field is
// delivered empty (never cut into another, possibly existing, name).
HANDLE FsFindFirstFile(const char *pattern, WIN32_FIND_DATAA *data);
BOOL FsFindNextFile(HANDLE find, WIN32_FIND_DATAA *data);
// One entry of a folder as FsListFolder hands it on: its name as the Fs
// functions spell names (empty when it cannot be spelt so) and, of its
// attributes, only FILE_ATTRIBUTE_DIRECTORY and FILE_ATTRIBUTE_REPARSE_POINT.
// false ends the listing early.
typedef bool (*FsFolderVisit)(void *context, const char *name, DWORD kinds);
// Every entry of the folder held open by folder (any access), "." and ".."
// where the folder has them (a volume's root has neither), read through
// that handle wherever the folder is now; FALSE with the
// error when the folder could not be read to its end.
BOOL FsListFolder(HANDLE folder, FsFolderVisit visit, void *context);
BOOL FsGetDiskFreeSpaceEx(const char *path, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                          PULARGE_INTEGER totalFree);
UINT FsGetDriveType(const char *path);
BOOL FsGetVolumePathName(const char *path, char *buffer, DWORD size);
// Absent (null) name buffers stay absent: no name is written.
BOOL FsGetVolumeInformation(const char *root, char *volumeName, DWORD volumeNameSize, LPDWORD serial,
                            LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, char *fileSystemName,
                            DWORD fileSystemNameSize);
// OpenFileById takes handles only.  descriptor is a FILE_ID_DESCRIPTOR
// (24 bytes: u32 size 24, u32 type 0 = file id, u64 id).  Fails with
// ERROR_CALL_NOT_IMPLEMENTED when the entry point was not found.
HANDLE FsOpenFileById(HANDLE volumeHint, void *descriptor, DWORD access, DWORD share,
                      LPSECURITY_ATTRIBUTES security, DWORD flags);
// Through the entry point looked up at the first call (Windows Vista and
// later); fails with ERROR_CALL_NOT_IMPLEMENTED where it is missing.
BOOL FsGetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size);
// A look at the object named by path itself, without opening it: on Windows
// NtQueryInformationByName for FileStatInformation (Windows 10 1709 and
// later; where ntdll lacks it or the volume refuses the class the call fails
// with ERROR_CALL_NOT_IMPLEMENTED, and callers open the file instead).
// Whether Windows shows a reparse point or what it leads to is not
// documented: a caller trusts a result only for an object it knows to be no
// reparse point, and one that shows FILE_ATTRIBUTE_REPARSE_POINT not at all.
BOOL FsGetFileStatByName(const char *path, NtFileStatInformation *information);
// NtQueryEaFile (single entry, from the list's start) of the object named by
// path itself, never what a link leads to: on Windows through a handle
// opened for FILE_READ_EA and closed again, on POSIX without a handle.
// STATUS_OBJECT_NAME_NOT_FOUND, or STATUS_ACCESS_DENIED, when it cannot be
// opened.
NTSTATUS FsQueryEaByName(const char *path, PVOID buffer, ULONG length, PVOID eaList, ULONG eaListLength);
// FsGetFileStatByName and FsQueryEaByName for name, one component, in the
// folder open as folder (any handle of it, even one without access): the
// name is looked up in that folder wherever it is now, and no path is
// walked (on Windows the folder is the RootDirectory of the name's object
// attributes).
BOOL FsGetFileStatIn(HANDLE folder, const char *name, NtFileStatInformation *information);
// What an open handle tells of its object in one look: FileStatInformation
// (NtQueryInformationFile, Windows 10 1709 and later) and the serial of its
// volume (GetVolumeInformationByHandleW).  Fails with
// ERROR_CALL_NOT_IMPLEMENTED where the system cannot tell it that way;
// callers then ask GetFileInformationByHandle and the change time apart.
BOOL FsGetFileStatOf(HANDLE file, NtFileStatInformation *information, DWORD *volumeSerial);
// The time of a FileStatInformation field as a FILETIME.
FILETIME FsFileTimeOf(const LARGE_INTEGER &time);
// What GetFileInformationByHandle would tell of the object that stat tells
// of, on the volume of serial volumeSerial.
void FsInformationFromStat(const NtFileStatInformation *stat, DWORD volumeSerial, BY_HANDLE_FILE_INFORMATION *info);
// GetFileInformationByHandle of file, with its change time in *changeTime
// (*changeKnown true) where one look tells both (FsGetFileStatOf) and the
// volume keeps one; else by GetFileInformationByHandle alone.
BOOL FsGetInformationOf(HANDLE file, BY_HANDLE_FILE_INFORMATION *info, FILETIME *changeTime, bool *changeKnown);
// FsCreateFile of an existing object (OPEN_EXISTING) that, where the open
// itself saw the object, also tells what FsGetInformationOf would tell of
// it right after the open (*known); else the caller asks FsGetInformationOf.
HANDLE FsOpenAndLook(const char *path, DWORD access, DWORD share, DWORD flags, BY_HANDLE_FILE_INFORMATION *info,
                     FILETIME *changeTime, bool *changeKnown, bool *known);
NTSTATUS FsQueryEaIn(HANDLE folder, const char *name, PVOID buffer, ULONG length, PVOID eaList, ULONG eaListLength);

// The run-time entry points of kernel32 that older Windows versions lack.
// HardLinkApi: CreateHardLinkA and CreateHardLinkW were both found.
// FileIdApi: OpenFileById, GetFinalPathNameByHandleA and ...W were found.
extern bool HardLinkApi;
extern bool FileIdApi;
// Each looks its entry points up (LoadLibraryA("kernel32"), GetProcAddress)
// and returns its flag.  Called once by the NFS start.
bool FsFindHardLinkApi();
bool FsFindFileIdApi();

// The serial number of the volume that holds path: GetVolumePathName into
// 2048 bytes, then GetVolumeInformation of that root for the serial alone.
// Returns true when both succeed.
bool VolumeSerialOfPath(const char *path, DWORD *serial);

// The major version of Windows (6 and above have NTFS symbolic links),
// computed once from GetVersion; 0 when its top bit is set.
DWORD WindowsMajorVersion();

// The folder of the program: GetModuleFileNameA cut after its last
// backslash (kept).  A name that fills the buffer is cut by one byte.
// Returns the length; 0 with an empty buffer when no folder can be found.
// (Named with the prefix so it does not clash with the ProgramDirectory text
// that the program start keeps.)
uint32_t FsProgramDirectory(char *buffer, uint32_t size);
