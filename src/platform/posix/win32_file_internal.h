// Shared pieces of the POSIX file layer: path arguments, name resolution,
// attributes, the table of open files (share modes, locks, mappings) and the
// file handle object.  Only the win32_file*, win32_find, win32_mapping and
// win32_volume sources include this.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/nt_file_stat.h"
#include "platform/posix/win32_base.h"
#include "platform/posix/win32_file.h"

// ------------------------------------------------------------ object identity
// A file system object as the kernel names it, as the key of the layer's
// tables (open files, folder names, remembered attributes).
struct ObjectKey {
    dev_t dev;
    ino_t ino;
    bool operator==(const ObjectKey &other) const { return dev == other.dev && ino == other.ino; }
};
struct ObjectKeyHash {
    size_t operator()(const ObjectKey &key) const
    {
        return std::hash<uint64_t>()(static_cast<uint64_t>(key.ino) * 1000003u ^ static_cast<uint64_t>(key.dev));
    }
};

// ---------------------------------------------------------------- code pages
// UTF-8 from Windows-1252 text (the ANSI code page of this build).
void Utf8FromAnsi(const char *ansi, std::string *utf8);
// UTF-8 from UTF-16; returns 0 when the text holds a lone surrogate.
int Utf8FromWide(const WCHAR *wide, std::string *utf8);
// Windows-1252 from UTF-8 for names handed back to A callers: characters
// without a 1252 form become '?' (which no file name can hold).
void AnsiFromUtf8(const char *utf8, std::string *ansi);
// UTF-16 from UTF-8; invalid bytes become U+FFFD.  Returns the unit count.
size_t WideFromUtf8(const char *utf8, WCHAR *wide, size_t capacity);

// ------------------------------------------------------------ path arguments
// A path argument of an A or W entry point as UTF-8 text in Windows form.
// The A forms are limited to MAX_PATH characters as on Windows (also with
// the "\\?\" prefix); returns 0 with the error set when the argument cannot
// be a path.
int PathArgFromAnsi(LPCSTR name, std::string *utf8);
int PathArgFromWide(LPCWSTR name, std::string *utf8);

// A Windows path turned into a POSIX path for the resolver.
struct PosixName {
    std::string path;      // normalised POSIX path ("/a/b", "." for the current directory)
    int trailingSeparator; // the Windows path ended in a separator (names a directory)
    int longForm;          // the path had the "\\?\" prefix
};
// Normalises separators, "." and "..", trailing dots and spaces of the last
// component (not for "\\?\" paths), refuses characters that Windows names
// cannot hold (ERROR_INVALID_NAME) and maps drive Z: to the root.
int PosixNameFromWindows(const char *utf8WindowsPath, PosixName *out);

// ---------------------------------------------------------- name resolution
// Outcome of resolving a path without regard to ASCII case.
enum ResolveResult {
    RESOLVE_ERROR = 0,   // error set (ERROR_PATH_NOT_FOUND when a folder on the way is missing)
    RESOLVE_FOUND = 1,   // actual = the existing object's path, st filled (symbolic links followed)
    RESOLVE_MISSING = 2, // the parent folder exists; actual = its path + "/" + the given name
};
struct ResolvedPath {
    std::string actual;
    std::string parent;       // the actual parent folder ("" for the root)
    std::string name;         // the last component as on disk (or as given when missing)
    struct stat st;           // the object (FOUND)
    struct stat parentStat;   // the parent folder when it had to be looked at
    int parentKnown;          // parentStat is valid
    // What the resolver learned on the way, so callers need not ask again:
    int linkKnown;            // whether actual is a symbolic link is known (isLink)
    int isLink;               // actual is a symbolic link (linkStat is the link itself)
    struct stat linkStat;
    int entryFolder = -1;     // actual is the entry name of this folder descriptor
    int birthKnown;           // birth is the birth time of st (tv_nsec < 0: none kept)
    struct timespec birth;
};
// exactMissing: ENOENT or ENOTDIR when a look at the exact path (without
// following a link at its end) found nothing there, to be taken as that look.
int ResolvePosixPath(const std::string &path, ResolvedPath *out, int exactMissing = 0);
// ResolvePosixPath for name, one component, in the folder open as folder:
// looked up through the folder's descriptor, wherever the folder is now
// (actual names it below DescriptorPath).  ERROR_INVALID_NAME for a name
// that is no single component a Windows name may be.
int ResolveNameInFolder(const struct FileObject *folder, const std::string &name, ResolvedPath *out);
// 1 for a name that is one component a Windows name may be; 0 with
// ERROR_INVALID_NAME otherwise.
int IsFolderEntryName(const std::string &name);
// PathArg + PosixNameFromWindows + ResolvePosixPath in one step.
int ResolveWindowsPath(const char *utf8WindowsPath, ResolvedPath *out, PosixName *name);
// ResolveWindowsPath for a path that must name an existing object: returns 1,
// or 0 with ERROR_FILE_NOT_FOUND when it is missing and ERROR_INVALID_NAME
// when a trailing separator follows a file's name.
int ResolveExistingWindowsPath(const char *utf8WindowsPath, ResolvedPath *out, PosixName *name);

// The per-folder cache of case-folded names keeps itself valid against
// changes by other programs through the folder's change times; changes made
// through this layer are entered directly, so a run of creates in one large
// folder never rescans it.  "before" is the folder's state that the resolver
// saw (parentStat), or null when unknown.
void NameCacheNoteAdded(const std::string &folder, const std::string &name, const struct stat *before);
void NameCacheNoteRemoved(const std::string &folder, const std::string &name, const struct stat *before);
// Held around every change of a folder made through this layer (recursive).
void NamespaceLock();
void NamespaceUnlock();
// The changes ended so far; whether none has ended since that count and
// none is under way (the lock is free: the name cache's own brief holds
// count as under way); and a wait for a change under way to end.
uint64_t NamespaceChangesEnded();
bool NamespaceSettledSince(uint64_t ended);
void NamespaceAwaitChange();
// Drops what is known about one folder (after a change whose effect is unclear).
void NameCacheForget(const std::string &folder);
// For tests: tables without inotify watches (as on network file systems),
// and the number of folder reads so far.
void NameCacheUseWatches(int on);
unsigned long NameCacheScanCount();
// For tests: runs after a change of this layer's own, before the folder's
// times are read again (where another program's change can slip in).
extern void (*NameCacheRefreshHook)(const char *folder);
// Lower-cases ASCII letters: the key under which names meet.
void FoldName(const char *name, size_t length, std::string *folded);
// Splits a POSIX path into folder and last component ("/a" -> "/", "a").
void SplitPosixPath(const std::string &path, std::string *folder, std::string *name);

// -------------------------------------------------------------- attributes
// Attributes as this build keeps them (the same rules as Wine on the same
// folder): DIRECTORY from the type; READONLY from cleared Unix write bits;
// HIDDEN and SYSTEM from "user.DOSATTRIB" ("0x6"); ARCHIVE for every file.
// The object is read through fd, else as the entry of the folder descriptor
// (when given: no path walked where the kernel can; an empty entry: the
// object of that descriptor itself, an O_PATH one), else by path.
DWORD AttributesFromStat(const struct stat &st, int fd, const char *path, int folder = -1,
                         const char *entry = nullptr);
// The HIDDEN and SYSTEM bits as kept in "user.DOSATTRIB"; *certain is
// cleared when they could not be read.
DWORD ReadStoredBits(int fd, const char *path, int *certain, int folder = -1, const char *entry = nullptr);
// The same through a memory of the bits per object, valid while the
// object's change time stays as it was (see win32_file_attribute_memory.cpp).
DWORD RememberedStoredBits(const struct stat &st, int fd, const char *path, int folder = -1,
                           const char *entry = nullptr);
// getxattr of entry (never followed) in the folder descriptor, by getxattrat
// of Linux 6.13 and later; -1 with ENOSYS where the kernel lacks it.
ssize_t GetXattrOfEntry(int folder, const char *entry, const char *name, void *value, size_t room);
void ForgetStoredBits(const struct stat &st);
// Stores HIDDEN/SYSTEM (and READONLY as write bits); fd or path names the object.
int StoreAttributes(const struct stat &st, int fd, const char *path, DWORD attributes);
void FileTimeFromSeconds(const struct timespec &ts, FILETIME *ft);
// The times of FILE_BASIC_INFO and FILE_STAT_INFORMATION as counts of
// 100 ns: the creation time given, the others from st.
void CountedTimes(const FILETIME &creation, const struct stat &st, LARGE_INTEGER *created, LARGE_INTEGER *accessed,
                  LARGE_INTEGER *written, LARGE_INTEGER *changed);
// FILE_STAT_INFORMATION of the object of st, its creation time given, as a
// handle of it tells them (a folder has no size and, as on NTFS, one name);
// attributes and reparse tag are the caller's (zero here).
void StatInformationFrom(const struct stat &st, const FILETIME &creation, NtFileStatInformation *info);
int TimespecFromFileTime(const FILETIME *ft, struct timespec *ts);
// Creation time: the birth time where the file system keeps one, else the
// older of change and modification time.
void CreationTimeOf(int fd, const char *path, const struct stat &st, FILETIME *ft);
// The same from a birth time already read (tv_nsec < 0: none kept).
void CreationTimeFrom(const struct stat &st, const struct timespec &birth, FILETIME *ft);
// fstatat with the birth time in the same call (statx); birth->tv_nsec < 0
// when the file system keeps none.  Returns 0, or -1 with errno set.
int StatusAt(int folder, const char *path, int flags, struct stat *st, struct timespec *birth);
inline int IsReadOnlyMode(mode_t mode) { return (mode & 0222) == 0; }

// ------------------------------------------------------------ open files
// Access rights after the generic rights are mapped to file rights.
DWORD MapFileAccess(DWORD access);
#define FILE_ACCESS_READ_DATA (FILE_READ_DATA | FILE_EXECUTE)
#define FILE_ACCESS_WRITE_DATA (FILE_WRITE_DATA | FILE_APPEND_DATA)

struct LockRange {
    ULONGLONG offset;
    ULONGLONG length;
};
struct FileObject;
struct MappingObject;
// One per open file (device and inode): the handles open on it, with their
// access and sharing, their byte-range locks and the live mappings.
struct OpenFileRecord {
    dev_t dev;
    ino_t ino;
    int references;                       // handles and mappings
    std::vector<FileObject *> handles;
    std::vector<MappingObject *> mappings;
    volatile LONG lockCount;              // locks held by all handles (read without the table lock)
};
struct FileObject {
    PosixObject header;
    int fd;
    int pathOnly;      // fd is an O_PATH descriptor (no data access was asked)
    int isDirectory;
    DWORD access;      // mapped access rights
    DWORD share;
    DWORD flags;
    std::string path;  // the POSIX path it was opened by
    OpenFileRecord *record;
    std::vector<LockRange> locks;
};

// The table lock guards every OpenFileRecord and the lock lists.
void FileTableLock();
void FileTableUnlock();
// Enters a new handle in the table when its access and sharing agree with
// the handles already open (ERROR_SHARING_VIOLATION otherwise).  Table lock
// must NOT be held.
int FileTableAdd(FileObject *file, const struct stat &st);
void FileTableRemove(FileObject *file);
// ERROR_SHARING_VIOLATION when a handle open on the object, in this process
// or another one, would refuse access for the given rights (DeleteFile and
// MoveFile ask for DELETE).  path names the object on disk.
DWORD FileTableCheckAccess(const struct stat &st, DWORD access, const char *path);
// Sharing between processes is kept in open-file-description locks on the
// six bytes from this offset (see win32_file_table.cpp); LockFile's locks
// end before them.
#define SHARE_LOCK_BASE (static_cast<off_t>(INT64_MAX) - 63)
OpenFileRecord *FileTableRecord(const struct stat &st); // table lock held; null when not open
void FileTableRelease(OpenFileRecord *record);          // table lock held

FileObject *FileFromHandle(HANDLE handle);
// The descriptor's own object as a path, also for O_PATH descriptors (whose
// f*xattr calls fail) and the link itself for a link opened as one.
std::string DescriptorPath(const FileObject *file);
// This process's /proc/self/fd, open (-1 where it cannot be opened).
int DescriptorFolder();
// getxattr of the object of a descriptor, also an O_PATH one: through its
// entry in /proc/self/fd, which leads to the object itself.
ssize_t GetXattrThroughDescriptor(int fd, const char *name, void *value, size_t room);
// readlink() of the descriptor's entry in /proc/self/fd: the path of its
// object now, " (deleted)" appended once that has no name.
ssize_t ReadDescriptorLink(int fd, char *target, size_t size);
// 1 when the range [offset, offset + length) of the file is locked by
// another handle (the read or write is then refused with ERROR_LOCK_VIOLATION).
int RangeLockedByOthers(FileObject *file, ULONGLONG offset, ULONGLONG length);
// Releases the handle's locks before its descriptor closes.
void ReleaseAllLocks(FileObject *file);
// ERROR_USER_MAPPED_FILE when a live mapping of the file reaches past size.
DWORD MappingRefusesSize(OpenFileRecord *record, ULONGLONG size);

// The volume serial number of the file system that holds the object.
DWORD VolumeSerialOf(const struct stat &st, int fd, const char *path);
// The folder of a resolved path as it is before a change (for the name tables).
const struct stat *ParentStatBefore(ResolvedPath *resolved);
void NameCacheNoteRenamed(const std::string &folder, const std::string &oldName, const std::string &newName,
                          const struct stat *before);

// The status of an existing object that its open saw: the descriptor's
// own, with the birth time of the look-up before it (known false when the
// open saw none of them, or changed the object).
struct OpenedStatus {
    bool known;
    struct stat st;
    struct timespec birth;
};
// Shared implementation of CreateFileA/W; with opened, what the open saw.
HANDLE CreateFileUtf8(const char *utf8WindowsPath, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                      OpenedStatus *opened = nullptr);
// Sets the error from errno and returns 0 (for one-line failure returns).
int FailErrno();
int Fail(DWORD error);

// ------------------------------------------------------- symbolic links
// 1 with st filled (lstat) when the object at the POSIX path is itself a
// symbolic link, else 0.
int LinkStatOf(const std::string &path, struct stat *st);
// The status of the object the resolved name is itself (a symbolic link, not
// what it leads to), with its birth time when the resolver read it (null:
// ask with CreationTimeOf).  scratch holds the status when it had to be read.
const struct stat &OwnStatus(const ResolvedPath &resolved, struct stat *scratch, const struct timespec **birth);
// Creation time from a known birth time, or asked by path when null.
void CreationTimeKnown(const char *path, const struct stat &st, const struct timespec *birth, FILETIME *ft);
// A link's own attributes: REPARSE_POINT, with DIRECTORY when it leads to a
// folder (as a Windows folder link), else ARCHIVE.  path names the link.
DWORD LinkAttributes(const char *path);

// ------------------------------------------------------------ symbolic links
// True when the resolved name (found or missing) is a symbolic link itself.
int LinkAtResolvedPath(const ResolvedPath &resolved);
// The attributes of the symbolic link that resolved (RESOLVE_FOUND: its
// target exists; RESOLVE_MISSING: it dangles) names.
DWORD LinkAttributes(int result, const ResolvedPath &resolved);
// Removes the link that a resolution (result as ResolvePosixPath gave it)
// names: -1 when the name is no link (nothing done), 1 when removed, 0 with
// the error set (a folder link asked to be removed as a file or the other
// way round).  The caller holds the namespace lock.
int RemoveResolvedLink(int result, ResolvedPath *resolved, int asDirectory);
// The checks of ResolveExistingWindowsPath on a resolution already made:
// 1, or 0 with the error set.
int CheckExistingResult(int result, const ResolvedPath &resolved, const PosixName &name);

// FSCTL_SET_REPARSE_POINT and FSCTL_DELETE_REPARSE_POINT on an open handle
// (win32_file_reparse_set.cpp).
BOOL ChangeReparseData(FileObject *file, DWORD code, const void *in, DWORD inSize, LPDWORD returned);
