#include "backend/posix_access.h"

#include "backend/credentials.h"
#include "backend/unix_mode.h"

bool CallerInGroup(const ExportContext *context, const AuthUnix *caller, uint32_t gid)
{
    if (caller->gid == gid)
        return true;
    if ((context->flags & EXPORT_MAPALL_UID) != 0)
        return false;
    const uint32_t count = caller->gid_count < AUTH_UNIX_MAX_GROUPS ? caller->gid_count : AUTH_UNIX_MAX_GROUPS;
    for (uint32_t i = 0; i < count; i++) {
        if (caller->gid_list[i] == gid)
            return true;
    }
    return false;
}

uint32_t CallerPermissions(const ExportContext *context, const AuthUnix *caller, const FileAttributes *attributes)
{
    const uint32_t mode = attributes->mode;
    if (attributes->stored == 0) {
        const uint32_t granted = AccessBits(context, caller) & mode;
        return (granted >> 6 | granted >> 3 | granted) & 7u;
    }
    if (IsRoot(caller)) {
        const bool execute = attributes->type == FILE_TYPE_DIRECTORY || (mode & 0111u) != 0;
        return PERMIT_READ | PERMIT_WRITE | (execute ? PERMIT_EXECUTE : 0u);
    }
    if (caller->uid == attributes->uid)
        return mode >> 6 & 7u;
    if (CallerInGroup(context, caller, attributes->gid))
        return mode >> 3 & 7u;
    return mode & 7u;
}

bool CallerOwns(const ExportContext *context, const AuthUnix *caller, const FileAttributes *attributes)
{
    if (attributes->stored == 0)
        return AccessBits(context, caller) >= 0700u;
    return IsRoot(caller) || caller->uid == attributes->uid;
}

StoredUnixAttributes NewObjectRecord(const AuthUnix *caller, const FileAttributes *folder, bool isDirectory,
                                     uint32_t mode)
{
    StoredUnixAttributes record = {mode & 07777u, caller->uid, caller->gid};
    if (folder != nullptr && folder->stored != 0 && (folder->mode & 02000u) != 0) {
        record.gid = folder->gid;
        if (isDirectory)
            record.mode |= 02000u;
    }
    return record;
}

bool StickyAllows(const AuthUnix *caller, const FileAttributes *folder, const FileAttributes *entry)
{
    if (folder->stored == 0 || (folder->mode & UNIX_MODE_STICKY) == 0 || IsRoot(caller))
        return true;
    if (caller->uid == folder->uid)
        return true;
    // An entry without a record is shown as the caller's own.
    return entry == nullptr || entry->stored == 0 || caller->uid == entry->uid;
}
