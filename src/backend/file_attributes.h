// Windows files presented as Unix files: the attribute record that the NFS
// services encode, and the operations that fill it.
#pragma once

#include <cstdint>

#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "platform/win32.h"
#include "rpc/rpc_message.h"

struct StoredUnixAttributes;

// 80 bytes, filled here and encoded by the NFS services.
struct FileAttributes {
    uint32_t type;      // UnixFileType
    uint32_t mode;      // permission and file-type bits
    uint32_t links;
    uint32_t uid;
    uint32_t gid;
    uint32_t stored;    // 1: mode, uid and gid come from the file's stored record (not encoded)
    uint64_t size;      // bytes; also reported as space used
    uint32_t minor;     // device numbers of block and character devices
    uint32_t major;
    uint32_t fsid;      // the export's volume serial number
    uint32_t zero2;
    uint64_t fileId;    // CanonicalInode of the inode, or the file ID in file id mode
    uint32_t atime, atimeNsec;
    uint32_t mtime, mtimeNsec;
    uint32_t ctime, ctimeNsec;
};
static_assert(sizeof(FileAttributes) == 80, "the attribute record is 80 bytes");

// The size reported for every folder.
#define DIRECTORY_SIZE 4096u

// FILETIME (100 ns since 1601) to Unix seconds, truncated to 32 bits, and back.
uint32_t UnixSecondsFromFileTime(const FILETIME *time);
FILETIME FileTimeFromUnixSeconds(uint32_t seconds);
// The same with the fraction of the second (kept to 100 nanoseconds).
FILETIME FileTimeFromUnixTime(uint32_t seconds, uint32_t nanoseconds);
// FILETIME to Unix seconds (truncated to 32 bits) and nanoseconds, to the
// 100 ns the FILETIME keeps.
void UnixTimeFromFileTime(const FILETIME *time, uint32_t *seconds, uint32_t *nanoseconds);
// The time of the last change of the file's data or attributes (ChangeTime
// of GetFileInformationByHandleEx) through an open handle; false where the
// system or volume keeps none.
bool ChangeTimeOf(HANDLE handle, FILETIME *changeTime);
// What GetFileInformationByHandle tells through handle, with the change
// time where the system or volume keeps one (*changeKnown).  False when the
// handle tells nothing.
bool InformationThrough(HANDLE handle, BY_HANDLE_FILE_INFORMATION *info, FILETIME *changeTime, bool *changeKnown);

// The attributes of the file at path, which the caller has checked to lie in
// the context's export; inode is its inode (or file ID in file id mode) and
// credentials are already mapped.  A file that has vanished loses its inode
// table entry.  Returns an NFS status.
uint32_t GetAttributes(uint64_t inode, const ExportContext *context, const char *path, FileAttributes *attributes,
                       const AuthUnix *credentials);

// GetAttributes through a handle the caller holds open (a busy cache entry's
// handle); INVALID_HANDLE_VALUE opens the file for the look.  Never waits for
// the cache, so the holder of an entry may call it.
uint32_t GetAttributesThrough(HANDLE open, uint64_t inode, const ExportContext *context, const char *path,
                              FileAttributes *attributes, const AuthUnix *credentials);

// GetAttributes from what GetFileInformationByHandle and ChangeTimeOf told
// of the file just now (a reparse point still gets its directory search);
// changeTime null: none known, the change time shows the last write.  A
// listing that holds the file's folder open gives it and the file's name
// there (folder, name), and the stored record is read through the folder;
// open (when given) is a handle on the file the information came from,
// through which the record is read instead.  record (when given) is the
// file's stored record as the caller read or wrote it just now, after the
// information: it is not read again.
uint32_t GetAttributesFromInformation(const BY_HANDLE_FILE_INFORMATION *information, const FILETIME *changeTime,
                                      uint64_t inode,
                                      const ExportContext *context, const char *path, FileAttributes *attributes,
                                      const AuthUnix *credentials, HANDLE folder = INVALID_HANDLE_VALUE,
                                      const char *name = nullptr, HANDLE open = INVALID_HANDLE_VALUE,
                                      const StoredUnixAttributes *record = nullptr);

// Attributes that an answer carries only when they could be read (post-op
// attributes).
struct OptionalAttributes {
    uint32_t present;
    FileAttributes attributes;
};

// The attributes of the folder a change is made in, for the client's
// weak cache consistency: read through the handle that judged the folder,
// just before the change and just after it.  `reached` stays false when the
// operation ended before it judged the folder (a stale handle, a read-only
// export); the caller then reads them itself.
struct FolderWcc {
    bool reached;
    uint32_t beforePresent;
    FileAttributes before;
    uint32_t afterPresent;
    FileAttributes after;
};

// Resolve, path, containment check, MapCredentials (in place), GetAttributes.
// 70 for any failure before GetAttributes.
uint32_t GetAttrByHandle(const FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials);

// The link count of a folder: the DirCount setting when it is non-zero, else
// the folders listed in path\* ("." and ".." included); 2 when the listing
// fails.
uint32_t CountSubdirs(const char *path);
// CountSubdirs for the folder with this file index on the volume with this
// serial, whose last write time (read just before) is writeTime: a count
// taken while the folder had that time is reused.  fileIndex 0: unknown.
uint32_t CountSubdirsOf(const char *path, DWORD volumeSerial, uint64_t fileIndex, const FILETIME *writeTime);
// The server is about to add or remove, in the folder at folderPath, a name
// that is no folder: while it does, a change of the folder's time keeps its
// count.  Every begin has its end, where changed tells whether the name was
// added or removed (the folder's next change of time then keeps its count).
void BeginFileNameChange(const char *folderPath);
void EndFileNameChange(const char *folderPath, bool changed);
// A change of the names in the folder at folderPath that may add or remove
// a folder is about to begin; every begin has its end, once the change is
// made or has failed.
void BeginSubdirChange(const char *folderPath);
void EndSubdirChange(const char *folderPath);
