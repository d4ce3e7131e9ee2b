// Files, directories, volumes, file mapping, byte-range locks and code-page
// conversion of the Win32 subset for the POSIX build.
//
// Semantics follow Windows on a local NTFS volume as seen through drive Z:
// (the same view of the host that Wine gives): share modes are enforced
// between the handles of this process, names resolve without regard to ASCII
// case, READONLY is kept as cleared Unix write bits and HIDDEN/SYSTEM in the
// extended attribute "user.DOSATTRIB", so a folder shows the same attributes
// to this build and to the Windows build running under Wine.
#pragma once

#include "platform/posix/win32_types.h"

// Windows errors that only the file layer reports.
#ifndef ERROR_BAD_LENGTH
#define ERROR_BAD_LENGTH 24L
#endif
#ifndef ERROR_NEGATIVE_SEEK
#define ERROR_NEGATIVE_SEEK 131L
#endif
#ifndef ERROR_DIR_NOT_ROOT
#define ERROR_DIR_NOT_ROOT 144L
#endif
#ifndef ERROR_DELETE_PENDING
#define ERROR_DELETE_PENDING 303L
#endif
#ifndef ERROR_INVALID_LOCK_RANGE
#define ERROR_INVALID_LOCK_RANGE 307L
#endif
#ifndef ERROR_INVALID_ADDRESS
#define ERROR_INVALID_ADDRESS 487L
#endif
#ifndef ERROR_FILE_INVALID
#define ERROR_FILE_INVALID 1006L
#endif
#ifndef ERROR_MAPPED_ALIGNMENT
#define ERROR_MAPPED_ALIGNMENT 1132L
#endif
#ifndef ERROR_USER_MAPPED_FILE
#define ERROR_USER_MAPPED_FILE 1224L
#endif

// --- Access rights -----------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define DELETE 0x00010000u
#define READ_CONTROL 0x00020000u
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define SYNCHRONIZE 0x00100000u
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#define STANDARD_RIGHTS_ALL 0x001F0000u
#define FILE_READ_DATA 0x0001u
#define FILE_LIST_DIRECTORY 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_ADD_FILE 0x0002u
#define FILE_APPEND_DATA 0x0004u
#define FILE_ADD_SUBDIRECTORY 0x0004u
#define FILE_READ_EA 0x0008u
#define FILE_WRITE_EA 0x0010u
#define FILE_EXECUTE 0x0020u
#define FILE_TRAVERSE 0x0020u
#define FILE_DELETE_CHILD 0x0040u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_WRITE_ATTRIBUTES 0x0100u
#define FILE_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FFu)
#define FILE_GENERIC_READ (STANDARD_RIGHTS_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE)
#define FILE_GENERIC_WRITE \
    (STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | FILE_APPEND_DATA | SYNCHRONIZE)
#define FILE_GENERIC_EXECUTE (STANDARD_RIGHTS_EXECUTE | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE)

// --- Sharing and dispositions -----------------------------------------------
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

// --- Attributes and flags -----------------------------------------------------
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_DEVICE 0x00000040u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define FILE_ATTRIBUTE_SPARSE_FILE 0x00000200u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define FILE_ATTRIBUTE_COMPRESSED 0x00000800u
#define FILE_ATTRIBUTE_OFFLINE 0x00001000u
#define FILE_ATTRIBUTE_NOT_CONTENT_INDEXED 0x00002000u
#define FILE_ATTRIBUTE_ENCRYPTED 0x00004000u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_POSIX_SEMANTICS 0x01000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_FLAG_OPEN_NO_RECALL 0x00100000u

#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu

// --- Handles of files ------------------------------------------------------------
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// A new handle of the object the original handle names (never what has its
// name now, never a link's target), with its own access and sharing, judged
// as an open of the existing object by name would be.
HANDLE ReOpenFile(HANDLE original, DWORD access, DWORD share, DWORD flags);

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu
DWORD SetFilePointer(HANDLE file, LONG distance, LPLONG distanceHigh, DWORD method);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method);
BOOL SetEndOfFile(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL FlushFileBuffers(HANDLE file);

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *PBY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);

// Only FileBasicInfo is known (others fail with ERROR_INVALID_PARAMETER); its
// ChangeTime is the status change time of the file (st_ctim).
typedef enum _FILE_INFO_BY_HANDLE_CLASS : int {
    FileBasicInfo = 0,
} FILE_INFO_BY_HANDLE_CLASS;
typedef struct _FILE_BASIC_INFO {
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    DWORD FileAttributes;
} FILE_BASIC_INFO, *PFILE_BASIC_INFO;
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size);
// FileBasicInfo: a time of zero and attributes of zero leave them as they
// are; FILE_ATTRIBUTE_NORMAL clears the others.  Needs FILE_WRITE_ATTRIBUTES.
// A symbolic link keeps no attributes of its own here: a change of them
// fails with ERROR_ACCESS_DENIED (never reaching what the link leads to).
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size);

// A null time pointer, or a time of zero, leaves that time unchanged.
BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess, const FILETIME *lastWrite);

// --- Attributes by name ------------------------------------------------------------
typedef enum _GET_FILEEX_INFO_LEVELS : int {
    GetFileExInfoStandard,
    GetFileExMaxInfoLevel
} GET_FILEEX_INFO_LEVELS;
typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;

DWORD GetFileAttributesA(LPCSTR name);
DWORD GetFileAttributesW(LPCWSTR name);
BOOL GetFileAttributesExA(LPCSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID information);
BOOL GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID information);
// The classes of GetFileInformationByName; only FileStatByNameInfo (an
// NtFileStatInformation of platform/nt_file_stat.h) is offered.  The object
// named is looked at itself: a symbolic link shows as a reparse point.
typedef enum _FILE_INFO_BY_NAME_CLASS : int {
    FileStatByNameInfo,
    FileStatLxByNameInfo,
    FileCaseSensitiveByNameInfo,
    FileStatBasicByNameInfo,
    MaximumFileInfoByNameClass
} FILE_INFO_BY_NAME_CLASS;
BOOL GetFileInformationByName(LPCWSTR name, FILE_INFO_BY_NAME_CLASS kind, LPVOID information, ULONG size);
// What NtQueryInformationByName does on Windows for FileStatInformation of a
// name relative to an open folder (the RootDirectory of its object
// attributes): name is one component, looked up in the folder the handle
// holds open, wherever that folder is now.
BOOL GetFileInformationByNameIn(HANDLE folder, LPCWSTR name, FILE_INFO_BY_NAME_CLASS kind, LPVOID information,
                                ULONG size);
// What NtQueryInformationFile does on Windows for FileStatInformation of an
// open handle (information is that record), with the volume serial that
// GetVolumeInformationByHandleW tells of it in *volumeSerial: the change time
// and all that GetFileInformationByHandle tells, from one look at the object.
BOOL GetFileStatByHandle(HANDLE handle, LPVOID information, ULONG size, LPDWORD volumeSerial);
// CreateFileW of an existing object (OPEN_EXISTING) that also fills the
// record of GetFileStatByHandle as the open saw the object, when it saw it
// (*known; else the caller asks GetFileStatByHandle): on Windows the open
// and the query are two calls, here the open's own look answers both.
HANDLE CreateFileAndStatW(LPCWSTR name, DWORD access, DWORD share, DWORD flags, LPVOID information, ULONG size,
                          LPDWORD volumeSerial, BOOL *known);
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);

// --- Names -------------------------------------------------------------------------
BOOL DeleteFileA(LPCSTR name);
BOOL DeleteFileW(LPCWSTR name);
BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security);
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR name);
BOOL RemoveDirectoryW(LPCWSTR name);
BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists);
BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists);
// Fails with ERROR_ALREADY_EXISTS when the new name exists (also for a
// different-case spelling of the same file's own name, which renames it).
BOOL MoveFileA(LPCSTR existing, LPCSTR newName);
BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName);
BOOL CreateHardLinkA(LPCSTR newName, LPCSTR existing, LPSECURITY_ATTRIBUTES security);
BOOL CreateHardLinkW(LPCWSTR newName, LPCWSTR existing, LPSECURITY_ATTRIBUTES security);

// --- Directory search ----------------------------------------------------------------
typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;  // reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;
typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

// Patterns are "dir\*" (every entry, "." and ".." first, as NTFS gives them)
// or "dir\name" (that one entry, found without regard to case).
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);
// What NtQueryDirectoryFile tells of the folder held open by folder (any
// access), wherever that folder is now, cut to what a listing of names
// needs: visit gets every entry ("." and ".." but at the root, as
// FindFirstFile lists them) with its name (empty when
// it is too long to be a Windows name) and, of its attributes,
// FILE_ATTRIBUTE_DIRECTORY and FILE_ATTRIBUTE_REPARSE_POINT as
// FindFirstFile tells them.  Only an entry whose kind the folder does not
// tell (a symbolic link) is looked at.  visit returning FALSE ends the
// listing early; FALSE with the error when the folder could not be read.
typedef BOOL (*FolderKindVisit)(void *context, LPCWSTR name, DWORD attributes);
BOOL ListFolderKinds(HANDLE folder, FolderKindVisit visit, void *context);

// --- Volumes -------------------------------------------------------------------------
#define DRIVE_UNKNOWN 0u
#define DRIVE_NO_ROOT_DIR 1u
#define DRIVE_REMOVABLE 2u
#define DRIVE_FIXED 3u
#define DRIVE_REMOTE 4u
#define DRIVE_CDROM 5u
#define DRIVE_RAMDISK 6u

#define FILE_CASE_SENSITIVE_SEARCH 0x00000001u
#define FILE_CASE_PRESERVED_NAMES 0x00000002u
#define FILE_UNICODE_ON_DISK 0x00000004u
#define FILE_PERSISTENT_ACLS 0x00000008u
#define FILE_FILE_COMPRESSION 0x00000010u
#define FILE_SUPPORTS_REPARSE_POINTS 0x00000080u
#define FILE_SUPPORTS_HARD_LINKS 0x00400000u

BOOL GetDiskFreeSpaceExA(LPCSTR directory, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree);
BOOL GetDiskFreeSpaceExW(LPCWSTR directory, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree);
UINT GetDriveTypeA(LPCSTR root);
UINT GetDriveTypeW(LPCWSTR root);
// The root of the volume that holds the path: "Z:\" on POSIX (one drive for
// the whole host, as Wine shows it), with the "\\?\" prefix kept when given.
BOOL GetVolumePathNameA(LPCSTR path, LPSTR buffer, DWORD size);
BOOL GetVolumePathNameW(LPCWSTR path, LPWSTR buffer, DWORD size);
// The serial number is derived from the device of the root (stable while the
// host's mounts stay as they are); null buffers are left alone.
BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                           LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPSTR fileSystemName,
                           DWORD fileSystemNameSize);
BOOL GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                           LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                           DWORD fileSystemNameSize);

// --- File mapping ------------------------------------------------------------------------
#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_WRITECOPY 0x08u
#define SEC_COMMIT 0x08000000u
#define FILE_MAP_COPY 0x0001u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

// A mapping of a file handle; a maximum size larger than the file grows the
// file, as on Windows.  Anonymous (pagefile) mappings are not offered.
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL FlushViewOfFile(LPCVOID base, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID base);

// --- Byte-range locks ------------------------------------------------------------------------
// Locks belong to the handle (open-file description locks): two handles of
// one process conflict with each other, as on Windows.
BOOL LockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh);
BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh);

// --- Code pages ------------------------------------------------------------------------------
#define CP_ACP 0u
#define CP_OEMCP 1u
#define CP_THREAD_ACP 3u
#define CP_UTF8 65001u
#define MB_PRECOMPOSED 0x00000001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_NO_BEST_FIT_CHARS 0x00000400u
#define WC_ERR_INVALID_CHARS 0x00000080u
// CP_ACP is Windows-1252 on POSIX; CP_UTF8 and 1252 are the code pages offered.
UINT GetACP(void);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR wide, int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text, int textLength,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar);

// --- Final paths (win32_file_nofollow.cpp) ---------------------------------------------------
// The path of the object a handle is open on, with every link on the way
// resolved: "\\?\Z:\...".  Only VOLUME_NAME_DOS (with FILE_NAME_NORMALIZED or
// FILE_NAME_OPENED) is offered.  A buffer too small gives the size needed,
// terminator included; success gives the length without it.
#define FILE_NAME_NORMALIZED 0x0u
#define FILE_NAME_OPENED 0x8u
#define VOLUME_NAME_DOS 0x0u
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR buffer, DWORD size, DWORD flags);
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD size, DWORD flags);

// --- Symbolic links ---------------------------------------------------------------------------
// A POSIX symbolic link is a reparse point: GetFileAttributes reports
// FILE_ATTRIBUTE_REPARSE_POINT for the link itself (with DIRECTORY when it
// leads to a folder), DeleteFile (file links) and RemoveDirectory (folder
// links) remove the link and never its target.
typedef unsigned char BOOLEAN;
#define SYMBOLIC_LINK_FLAG_DIRECTORY 0x1u
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2u
BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags);
BOOLEAN CreateSymbolicLinkW(LPCWSTR link, LPCWSTR target, DWORD flags);

// The reparse data of a symbolic link opened with FILE_FLAG_OPEN_REPARSE_POINT:
// FSCTL_GET_REPARSE_POINT gives the symbolic-link layout (tag
// IO_REPARSE_TAG_SYMLINK; an absolute target as "\\??\\" and its Windows path
// with flags 0, a relative one with backslashes and flags 1).  Other codes
// fail with ERROR_INVALID_FUNCTION.
#define FSCTL_SET_REPARSE_POINT 0x000900A4u
#define FSCTL_GET_REPARSE_POINT 0x000900A8u
#define FSCTL_DELETE_REPARSE_POINT 0x000900ACu
#define MAXIMUM_REPARSE_DATA_BUFFER_SIZE 16384u
#define SYMLINK_FLAG_RELATIVE 0x1u
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED overlapped);

// --- Setting and deleting reparse points (win32_file_reparse_set.cpp) -------------------------
// FSCTL_SET_REPARSE_POINT with symbolic-link (IO_REPARSE_TAG_SYMLINK) or
// mount-point (IO_REPARSE_TAG_MOUNT_POINT) data, on a handle opened with
// FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS on an empty file
// or an empty folder (or an existing link), replaces that object by a POSIX
// symbolic link: absolute targets ("\??\C:\x") become the translated POSIX
// path, relative ones keep their text with '/' separators (one that starts
// with a separator is rooted at the link's drive and is translated too).  A folder holding
// names gives ERROR_DIR_NOT_EMPTY; a file holding data is refused with
// ERROR_NOT_SUPPORTED (its data would be lost).  FSCTL_DELETE_REPARSE_POINT
// (input: the 8-byte header with the link's tag) turns the link back into an
// empty folder (a link to a folder) or an empty file, as Windows leaves an
// object whose reparse data is removed.  The handle keeps naming the object
// it was opened on.
#define ERROR_REPARSE_TAG_INVALID 4393u
#define ERROR_REPARSE_TAG_MISMATCH 4394u
#define ERROR_INVALID_REPARSE_DATA 4392u

// Privileges: one user runs everything on POSIX and the file system asks for
// no privilege to make links, so these succeed and change nothing, as Windows
// answers a caller whose token already holds the privilege.
// LookupPrivilegeValueA knows the names used here (SE_RESTORE_NAME,
// SE_BACKUP_NAME); any other gives ERROR_NO_SUCH_PRIVILEGE.
typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID, *PLUID;
typedef struct _LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
} LUID_AND_ATTRIBUTES;
typedef struct _TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;
#define SE_PRIVILEGE_ENABLED 0x2u
#define TOKEN_ADJUST_PRIVILEGES 0x20u
#define TOKEN_QUERY 0x8u
#define SE_RESTORE_NAME "SeRestorePrivilege"
#define SE_BACKUP_NAME "SeBackupPrivilege"
#define ERROR_NO_SUCH_PRIVILEGE 1313u
HANDLE GetCurrentProcess(void);
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE *token);
BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid);
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD length,
                           PTOKEN_PRIVILEGES previous, LPDWORD returned);

// --- Extended attributes (win32_file_ea.cpp) --------------------------------------------------
// NtQueryEaFile and NtSetEaFile of ntdll over the host's extended attributes:
// the EA "NAME" is the attribute "user.NAME" (names upper-cased, as NTFS keeps
// them).  A query names its EAs in a FILE_GET_EA_INFORMATION list and gets
// each as a FILE_FULL_EA_INFORMATION entry (an EA the file lacks comes back
// with no value, as on NTFS); a set writes each entry, and an entry without a
// value removes that EA.  The handle needs FILE_READ_EA, or FILE_WRITE_EA.
// Symbolic links and file systems without user attributes answer
// STATUS_EAS_NOT_SUPPORTED.
typedef LONG NTSTATUS;
typedef unsigned char UCHAR;
typedef uint16_t USHORT;
typedef void *PVOID;
typedef ULONG *PULONG;
typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;
typedef struct _FILE_FULL_EA_INFORMATION {
    ULONG NextEntryOffset;
    UCHAR Flags;
    UCHAR EaNameLength;
    USHORT EaValueLength;
    CHAR EaName[1];
} FILE_FULL_EA_INFORMATION, *PFILE_FULL_EA_INFORMATION;
typedef struct _FILE_GET_EA_INFORMATION {
    ULONG NextEntryOffset;
    UCHAR EaNameLength;
    CHAR EaName[1];
} FILE_GET_EA_INFORMATION, *PFILE_GET_EA_INFORMATION;
#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022)
#define STATUS_EAS_NOT_SUPPORTED ((NTSTATUS)0xC000004F)
#define STATUS_NO_EAS_ON_FILE ((NTSTATUS)0xC0000052)
#define STATUS_DISK_FULL ((NTSTATUS)0xC000007F)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034)
NTSTATUS NtQueryEaFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID buffer, ULONG length, BOOLEAN returnSingleEntry,
                       PVOID eaList, ULONG eaListLength, PULONG eaIndex, BOOLEAN restartScan);
NTSTATUS NtSetEaFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID buffer, ULONG length);
// What CreateFileW of the object itself (never a link's target) with
// FILE_READ_EA, NtQueryEaFile and CloseHandle do on Windows, in one call
// without a handle; STATUS_OBJECT_NAME_NOT_FOUND when nothing has the name.
NTSTATUS QueryEaByNameW(LPCWSTR name, PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                        BOOLEAN returnSingleEntry, PVOID eaList, ULONG eaListLength);
// QueryEaByNameW for name (one component) in the folder open as folder, as
// NtOpenFile relative to it, NtQueryEaFile and NtClose do on Windows.
NTSTATUS QueryEaByNameInW(HANDLE folder, LPCWSTR name, PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                          BOOLEAN returnSingleEntry, PVOID eaList, ULONG eaListLength);
