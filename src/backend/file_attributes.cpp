#include "backend/file_attributes.h"

#include <cstring>

#include "backend/credentials.h"
#include "backend/open_file_cache.h"
#include "backend/special_file.h"
#include "backend/unix_attributes_store.h"
#include "backend/unix_mode.h"
#include "backend/unix_record_memory.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "settings/settings.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool FileIdMode(const ExportContext *context) { return (context->flags & EXPORT_FILEID_MODE) != 0; }

// What Windows tells about a file, from its handle or from a directory search.
struct FileFacts {
    DWORD attributes;
    uint64_t size;
    FILETIME accessTime, writeTime;
    FILETIME changeTime;  // the last write time while no handle told it
    bool changeKnown;     // changeTime is the change time
    uint32_t links;  // 0 while unknown
    DWORD reparseTag;
    uint64_t fileIndex;  // from a handle; 0 while unknown
    DWORD volumeSerial;
};

// Step 2 of GetAttributes: the facts a handle gave.
void FactsFromInformation(const BY_HANDLE_FILE_INFORMATION &info, uint64_t inode, const ExportContext *context,
                          FileFacts *facts)
{
    facts->attributes = info.dwFileAttributes;
    facts->size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    facts->accessTime = info.ftLastAccessTime;
    facts->writeTime = info.ftLastWriteTime;
    facts->changeTime = info.ftLastWriteTime;
    facts->links = info.nNumberOfLinks;
    facts->fileIndex = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    facts->volumeSerial = info.dwVolumeSerialNumber;
    if (!FileIdMode(context) && info.nNumberOfLinks >= 2 && inode != 0 && inode <= 0xFFFFFFFFu) {
        // All names of the file get one number: its identity record.  The
        // handle names the file's volume (the serial GetVolumeInformation
        // gives), so no look-up by path is needed.
        RegisterHardLink(static_cast<uint32_t>(inode), info.nFileIndexLow, info.nFileIndexHigh,
                         info.dwVolumeSerialNumber);
    }
}

// The facts through a handle.  Returns false when the handle gives none.
bool FactsFromHandle(HANDLE handle, uint64_t inode, const ExportContext *context, FileFacts *facts)
{
    BY_HANDLE_FILE_INFORMATION info;
    FILETIME changed;
    bool changeKnown;
    if (!InformationThrough(handle, &info, &changed, &changeKnown))
        return false;
    FactsFromInformation(info, inode, context, facts);
    if (changeKnown)
        facts->changeTime = changed;
    facts->changeKnown = changeKnown;
    return true;
}

// Step 3: the facts from a directory search (which also gives the reparse
// tag).  Returns the Windows error, 0 on success.
DWORD FactsFromSearch(const char *path, FileFacts *facts)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FsFindFirstFile(path, &data);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != 0 ? error : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    }
    FindClose(search);
    facts->attributes = data.dwFileAttributes;
    facts->size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    facts->accessTime = data.ftLastAccessTime;
    facts->writeTime = data.ftLastWriteTime;
    if (facts->links == 0) {
        // No handle told the facts: no change time either.
        facts->changeTime = data.ftLastWriteTime;
        facts->links = 1;
    }
    facts->reparseTag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? data.dwReserved0 : 0;
    return 0;
}

bool FileIsGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_DRIVE;
}

// A reparse point that the SoftLinks setting shows as a symbolic link.
bool ShownAsSymlink(const FileFacts &facts)
{
    if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    if (facts.reparseTag == IO_REPARSE_TAG_SYMLINK)
        return (ServerSettings.SoftLinks & 2) != 0;
    if (facts.reparseTag == IO_REPARSE_TAG_MOUNT_POINT)
        return (ServerSettings.SoftLinks & 4) != 0;
    return false;
}

// Steps 3 and 4: the record from the facts, with a directory search for a
// reparse point or when no handle could tell them (known false).
uint32_t AttributesFromFacts(bool known, FileFacts *factsIn, uint64_t inode, const ExportContext *context,
                             const char *path, FileAttributes *attributes, const AuthUnix *credentials,
                             HANDLE open, HANDLE folder = INVALID_HANDLE_VALUE, const char *name = nullptr,
                             const StoredUnixAttributes *given = nullptr)
{
    FileFacts &facts = *factsIn;
    memset(attributes, 0, sizeof *attributes);
    bool symlink = false;
    if (!known || (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        DWORD error = FactsFromSearch(path, &facts);
        if (error != 0) {
            // A file that is gone loses its number; one that merely cannot
            // be read now (access, sharing) keeps it, as in the table's own
            // background check.
            if (!FileIdMode(context) && inode != 0 && inode <= 0xFFFFFFFFu && FileIsGone(error))
                DeleteInode(static_cast<uint32_t>(inode));
            return NfsStatusFromWindowsError(error);
        }
        symlink = ShownAsSymlink(facts);
    }

    attributes->size = facts.size;
    attributes->links = facts.links;
    UnixTimeFromFileTime(&facts.accessTime, &attributes->atime, &attributes->atimeNsec);
    UnixTimeFromFileTime(&facts.writeTime, &attributes->mtime, &attributes->mtimeNsec);
    UnixTimeFromFileTime(&facts.changeTime, &attributes->ctime, &attributes->ctimeNsec);

    if (symlink) {
        attributes->type = FILE_TYPE_SYMLINK;
        attributes->mode = UNIX_MODE_SYMLINK | 0777u;
    } else {
        SpecialRecord special = {SPECIAL_UNREADABLE, 0, 0, 0};
        if (ModeNeedsSpecialRecord(facts.attributes))
            special = SpecialRecordOf(PathTarget(path));
        const bool execForAll = (context->flags & EXPORT_EXEC) != 0 || ServerSettings.SetExec != 0;
        UnixModeFromDos(facts.attributes, &special, execForAll, context->exportEntry->options.umask,
                        &attributes->type, &attributes->mode);
        if (attributes->type == FILE_TYPE_BLOCK || attributes->type == FILE_TYPE_CHARACTER) {
            attributes->major = special.major;
            attributes->minor = special.minor;
        }
        if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            attributes->links = CountSubdirsOf(path, facts.volumeSerial, facts.fileIndex, &facts.writeTime);
            attributes->size = DIRECTORY_SIZE;
        }
    }

    StoredUnixAttributes record;
    bool stored = false;
    if (attributes->type != FILE_TYPE_NONE && UnixStoreEnabled()) {
        // A record read before and unchanged since needs no read; the look
        // that told the change time must have told the file's index too.
        const UnixRecordKey key = {facts.volumeSerial, known && facts.changeKnown ? facts.fileIndex : 0,
                                   facts.changeTime};
        if (given != nullptr) {
            record = *given;
            stored = true;
        } else {
            stored = RecallUnixRecord(key, &record);
        }
        if (!stored) {
            const uint64_t written = UnixRecordsWritten();
            FILETIME before;
            GetSystemTimeAsFileTime(&before);
            if (open != INVALID_HANDLE_VALUE)
                stored = ReadUnixAttributes(open, path, &record);
            else if (folder != INVALID_HANDLE_VALUE && name != nullptr)
                stored = ReadUnixAttributesIn(folder, name, &record);
            else
                stored = ReadUnixAttributesAt(path, &record);
            if (stored)
                RememberUnixRecord(key, record, before, written);
        }
    }
    if (stored) {
        // A symbolic link keeps its 0777.
        if (attributes->type != FILE_TYPE_SYMLINK)
            attributes->mode = (attributes->mode & ~07777u) | record.mode;
        attributes->uid = record.uid;
        attributes->gid = record.gid;
        attributes->stored = 1;
    } else {
        attributes->uid = OwnerUid(context, credentials);
        attributes->gid = OwnerGid(context, credentials);
    }
    attributes->fsid = context->volumeSerial;
    if (FileIdMode(context))
        attributes->fileId = inode;
    else
        attributes->fileId = inode != 0 && inode <= 0xFFFFFFFFu ? CanonicalInode(static_cast<uint32_t>(inode)) : 0;
    return NFS_OK;
}

} // namespace

bool InformationThrough(HANDLE handle, BY_HANDLE_FILE_INFORMATION *info, FILETIME *changeTime, bool *changeKnown)
{
    *changeKnown = false;
    if (!FsGetInformationOf(handle, info, changeTime, changeKnown))
        return false;
    if (!*changeKnown)
        *changeKnown = ChangeTimeOf(handle, changeTime);
    return true;
}

uint32_t GetAttributes(uint64_t inode, const ExportContext *context, const char *path, FileAttributes *attributes,
                       const AuthUnix *credentials)
{
    // A cached handle is used while its entry is held busy, so the sweeper
    // cannot close it meanwhile.
    HANDLE handle = INVALID_HANDLE_VALUE;
    CacheEntry *entry = CacheLookup(&context->exportEntry->options, inode, CACHE_LEVEL_READ, &handle, nullptr);
    uint32_t status = GetAttributesThrough(entry != nullptr ? handle : INVALID_HANDLE_VALUE, inode, context, path,
                                           attributes, credentials);
    if (entry != nullptr)
        CacheRelease(entry, status == NFS_OK ? attributes : nullptr);
    return status;
}

uint32_t GetAttributesThrough(HANDLE open, uint64_t inode, const ExportContext *context, const char *path,
                              FileAttributes *attributes, const AuthUnix *credentials)
{
    FileFacts facts;
    memset(&facts, 0, sizeof facts);
    bool known = false;

    if (open != INVALID_HANDLE_VALUE) {
        known = FactsFromHandle(open, inode, context, &facts);
        return AttributesFromFacts(known, &facts, inode, context, path, attributes, credentials, open);
    }
    // With the store on, the look also reads the record through its handle.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (UnixStoreEnabled())
        handle = FsCreateFile(path, FILE_READ_EA, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        handle = FsCreateFile(path, 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
        known = FactsFromHandle(handle, inode, context, &facts);
    const uint32_t status = AttributesFromFacts(known, &facts, inode, context, path, attributes, credentials, handle);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return status;
}

uint32_t GetAttributesFromInformation(const BY_HANDLE_FILE_INFORMATION *information, const FILETIME *changeTime,
                                      uint64_t inode, const ExportContext *context, const char *path,
                                      FileAttributes *attributes, const AuthUnix *credentials, HANDLE folder,
                                      const char *name, HANDLE open, const StoredUnixAttributes *record)
{
    FileFacts facts;
    memset(&facts, 0, sizeof facts);
    FactsFromInformation(*information, inode, context, &facts);
    if (changeTime != nullptr)
        facts.changeTime = *changeTime;
    facts.changeKnown = changeTime != nullptr;
    return AttributesFromFacts(true, &facts, inode, context, path, attributes, credentials, open, folder, name,
                               record);
}
