// Creating, removing and renaming names, with the inode table kept in step.
// Every operation returns an NFS status (0 = success) and maps the caller's
// credentials in place.  Names are client names of one component.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/file_data.h"
#include "fs/file_handle.h"
#include "platform/win32.h"
#include "rpc/rpc_message.h"

// How CREATE treats an existing name.
enum CreateHow : uint32_t {
    CREATE_HOW_UNCHECKED = 0,  // open or create
    CREATE_HOW_GUARDED = 1,    // the name must not exist
    CREATE_HOW_EXCLUSIVE = 2,  // the name must not exist, unless made by this verifier
};

// Creates (or, unchecked, opens) the file name in the directory; request
// holds the attributes to set (unchecked and guarded), verifier the 8 bytes
// of an exclusive create.  handle and attributes receive the file's.
uint32_t CreateFileOp(const FileHandle *directoryHandle, const char *name, uint32_t how, const SetAttr *request,
                      const uint8_t verifier[8], FileHandle *handle, FileAttributes *attributes,
                      AuthUnix *credentials, FolderWcc *wcc = nullptr);

// Creates the folder name in the directory; request (may be null) holds the
// attributes asked for.
uint32_t MakeDirectory(const FileHandle *directoryHandle, const char *name, const SetAttr *request,
                       FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials,
                       FolderWcc *wcc = nullptr);

// Removes a name that is not a folder / an empty folder.
uint32_t RemoveFile(const FileHandle *directoryHandle, const char *name, AuthUnix *credentials,
                    FolderWcc *wcc = nullptr);
uint32_t RemoveDir(const FileHandle *directoryHandle, const char *name, AuthUnix *credentials,
                   FolderWcc *wcc = nullptr);

// Renames fromName in fromDirectory to toName in toDirectory, replacing an
// existing target as POSIX rename does.
uint32_t RenameOp(const FileHandle *fromDirectory, const char *fromName, const FileHandle *toDirectory,
                  const char *toName, AuthUnix *credentials, FolderWcc *fromWcc = nullptr,
                  FolderWcc *toWcc = nullptr);

// The times that mark a file made by an exclusive create with this
// verifier.  On NTFS-like volumes all 8 bytes: the low 4 as whole seconds
// after 1 January 1980 in the last write time, the high 4 the same way in the
// last access time (times up to 2116 that NTFS, ext4 beneath the POSIX build
// and Wine all keep exactly; nothing here reads the file before the client
// sets its real times).  FAT keeps two seconds in the write time and only a
// day in the access time, so there the write time alone holds 1980 plus twice
// the verifier's CRC-16 in seconds, and two verifiers may share a time.
struct ExclusiveTimes {
    FILETIME lastWrite;
    FILETIME lastAccess;
    bool withAccess;  // lastAccess is set and compared
};
ExclusiveTimes ExclusiveVerifierTimes(const uint8_t verifier[8], bool ntfs);
