// Whether an object on disk really lies inside the folder a client mounted:
// the server never follows a symbolic link or junction on a client's behalf,
// so no link inside an export leads out of it.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "platform/win32.h"

// How a link at the end of a path is taken.
enum LinkUse {
    LINK_FOLLOWED = 0,     // the operation opens what the link leads to
    LINK_ITSELF = 1,       // the operation acts on the link object alone
    LINK_MOUNT_POINT = 2,  // a volume's mount point, crossed by an automatic mount
};

// 0 when path lies inside the context's root folder, else non-zero: on the
// same volume (unless the flags have EXPORT_VOLUME_FIXED), beginning with the
// root path compared without regard to ASCII case, continuing there at a
// component boundary, and with no ".." component.  Every backend operation
// checks each path it builds.
int CheckContainment(const char *path, const ExportContext *context);

// 0 when the existing object at path lies, as it is on disk, exactly where
// its path says below the root: the export's folder (links in the folder the
// administrator named are the administrator's choice), or for an automatic
// mount the mounted volume's folder.  No component between the root and the
// object may be a link or junction.  The object itself may be one only when
// the SoftLinks setting shows it as a link: with LINK_ITSELF it is then
// judged as the link object alone; with LINK_FOLLOWED what it leads to must
// also lie inside the root, so that an operation that follows it never
// leaves.  An object that does not exist is judged by the nearest folder
// above it that does.  Non-zero otherwise.
int CheckRealContainment(const char *path, const ExportContext *context, LinkUse use);
// The object a containment check judged, left open for the caller.
struct KeptObject {
    HANDLE handle;                    // INVALID_HANDLE_VALUE: none
    BY_HANDLE_FILE_INFORMATION info;  // what the check read through it,
    bool known;                       // when it did
    DWORD access;                     // the data access it was opened with (0: none)
    FILETIME changeTime;              // its change time, read with info
    bool changeKnown;                 // when it was
};

// The export's own root, which the checks take to lie inside as the
// administrator named it and so never open: opened as CheckRealContainmentKept
// keeps an object (every sharing mode), with what the handle tells of it,
// for a caller that looks at names in it.  False for any other path, for a
// root that is a link or junction, and when it cannot be opened.
bool KeepExportRoot(const char *path, const ExportContext *context, KeptObject *kept);

// CheckRealContainment that, when the object exists and lies inside, leaves
// the handle it was judged through in kept->handle (opened with no access,
// every sharing mode and FILE_FLAG_OPEN_REPARSE_POINT, so a link is the link
// itself) for the caller to use and close; INVALID_HANDLE_VALUE otherwise.
// With LINK_FOLLOWED a link gives no handle.  With dataAccess (GENERIC_READ,
// with GENERIC_WRITE or not) the object is first opened as a request opens a
// file for its data (that access, every sharing mode,
// FILE_FLAG_OPEN_REPARSE_POINT, no backup semantics, so access is checked as
// for any reader or writer), and judged through that handle, which the
// request can then read or write without opening the file again;
// kept->access tells whether it was (a folder, a file that refuses the
// access: judged through a handle without it).  With asFolder, it is opened
// with dataAccess as a folder is instead (backup semantics, and access to
// its Unix record where those are kept): GENERIC_WRITE for a change of the
// folder's names, which can then be flushed through the handle.
int CheckRealContainmentKept(const char *path, const ExportContext *context, LinkUse use, KeptObject *kept,
                             DWORD dataAccess = 0, bool asFolder = false);

// CheckRealContainmentKept that answers -1 (no handle) when nothing has
// the name at path (not found, or a folder on the way not found), without
// judging the folders that would hold it: for a caller that judged them.
int CheckRealContainmentOrMissing(const char *path, const ExportContext *context, LinkUse use, KeptObject *kept);

// 0 when an object opened by path lies, as it is on disk, exactly where path
// says below the root (see CheckRealContainment): what a handle opened
// earlier names now, whatever changed on the way since.  Non-zero otherwise.
int CheckOpenedContainment(HANDLE opened, const char *path, const ExportContext *context);
// True when the opened handle names the object a containment check judged
// (same volume and file index): what was opened by path after the check is
// what the check saw.
bool SameObject(HANDLE opened, const BY_HANDLE_FILE_INFORMATION *judged);
// Whether two looks tell of one file (same volume and file index).
bool SameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b);

// True when the folder at path is, as it is on disk, the root of a volume
// (a volume mounted in a folder) that the export's own folder does not hold.
bool IsMountedVolumeRoot(const char *path);

// ResolveHandlePath for operations on a link object itself (its attributes,
// its text): the link is inside, wherever it points.  ResolveHandlePath also
// requires what a link leads to to lie inside, for operations that follow it.
// With kept (may be null), the link object judged is left open there (see
// CheckRealContainmentKept).
uint32_t ResolveLinkHandlePath(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode,
                               KeptObject *kept = nullptr);

// ResolveHandlePath of a folder whose names a request changes, that leaves
// the object it judged open in *kept (see CheckRealContainmentKept: none for
// a link, the export root or a failure), for writing where it allows it
// (kept->access GENERIC_WRITE).
uint32_t ResolveHandlePathKept(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode,
                               KeptObject *kept);

// ResolveHandlePath without the look at the disk: the path is inside the
// export only by its text (CheckContainment).  For an operation that then
// judges a path below it with CheckRealContainment, which covers every
// folder on the way; the folder itself must be judged wherever the
// operation acts on it or answers from it.
uint32_t ResolveHandlePathLexically(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode);

// GetAttributes from kept, the object of CheckRealContainmentKept: what the
// check read (kept->known), else read through its handle, or as
// GetAttributes when it kept no handle.  The handle stays open.  record:
// the object's stored record when the caller has just read it through the
// handle (used with what the check read).
uint32_t ReadKeptAttributes(const KeptObject *kept, uint64_t inode, const ExportContext *context, const char *path,
                            FileAttributes *attributes, const AuthUnix *credentials,
                            const StoredUnixAttributes *record = nullptr);
// ReadKeptAttributes that then closes the kept handle.
uint32_t GetAttributesKept(KeptObject *kept, uint64_t inode, const ExportContext *context, const char *path,
                           FileAttributes *attributes, const AuthUnix *credentials);
// The attributes of the object at path, which lies inside the export by its
// text (a handle's resolution gave it), as GETATTR tells them: judged on
// disk as the object itself (LINK_ITSELF) and read through the handle it was
// judged by.  70 when it does not lie inside; credentials already mapped.
uint32_t GetAttributesJudged(uint64_t inode, const ExportContext *context, const char *path,
                             FileAttributes *attributes, const AuthUnix *credentials);
