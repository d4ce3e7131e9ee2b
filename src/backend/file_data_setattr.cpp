// SETATTR: size, times, mode and owner of a file or folder.
//
// Who may do what, as on a local POSIX file system: the owner (or root)
// changes anything; a caller with write permission may truncate and set the
// times to the current time (what open(O_TRUNC) and utime(NULL) do); setting
// a time to a value of the caller's choice, the mode or the owner is the
// owner's alone.  A file with the read-only attribute has it lifted for the
// change of size or times and put back afterwards, so the owner can truncate
// his own read-only file.  Times of folders are set like those of files; a
// size for a folder is ISDIR, for a link or special file INVAL.  With the
// Unix attribute store on, the owner is the stored one (PosixSetattrRules),
// a refused change of mode, owner or time answers PERM, and mode, owner and
// group are kept in the file's record.
#include "backend/change_target.h"
#include "backend/containment.h"
#include "backend/credentials.h"
#include "backend/file_data.h"
#include "backend/file_data_internal.h"
#include "backend/mode_attributes.h"
#include "backend/open_file_cache.h"
#include "backend/posix_access.h"
#include "backend/special_file.h"
#include "backend/unix_mode.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"

namespace {


bool FileIsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The DOS attributes of the request's file; a file that is gone loses its
// inode (table mode).  INVALID_FILE_ATTRIBUTES with *status set on failure.
DWORD DosAttributes(DataRequest *request, uint32_t goneStatus, uint32_t *status)
{
    DWORD dos = ChangeTargetAttributes(ChangeTarget{request->path, &request->kept});
    if (dos != INVALID_FILE_ATTRIBUTES)
        return dos;
    const DWORD error = GetLastError();
    if (FileIsGone(error)) {
        if ((request->context.flags & EXPORT_FILEID_MODE) == 0 && request->inode <= 0xFFFFFFFFu)
            DeleteInode(static_cast<uint32_t>(request->inode));
        *status = goneStatus;
    } else {
        *status = NfsStatusFromWindowsError(error);
    }
    return INVALID_FILE_ATTRIBUTES;
}

// The Unix type of a file with these DOS attributes.  A file with the system
// attribute and not hidden is a special file when it holds a record, and a
// symbolic link when it has exactly that attribute and no record.
uint32_t TypeOf(const ChangeTarget &target, DWORD dos)
{
    if ((dos & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FILE_TYPE_DIRECTORY;
    if ((dos & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return FILE_TYPE_SYMLINK;
    if (ModeNeedsSpecialRecord(dos)) {
        SpecialRecord record = SpecialRecordOf(target);
        if (record.type != SPECIAL_UNREADABLE && record.type != SPECIAL_NO_RECORD)
            return record.type;
        if (OnlySystemAttribute(dos))
            return FILE_TYPE_SYMLINK;
    }
    return FILE_TYPE_REGULAR;
}

// The time a request asks for, or null to leave it: every second, the
// epoch included, and its fraction are a time a client may set; the
// server's time is taken now, to the 100 ns the volume keeps.
const FILETIME *RequestedTime(uint32_t mode, uint32_t seconds, uint32_t nanoseconds, FILETIME *time)
{
    if (mode == SET_TIME_LEAVE)
        return nullptr;
    if (mode == SET_TIME_SERVER)
        GetSystemTimeAsFileTime(time);
    else
        *time = FileTimeFromUnixTime(seconds, nanoseconds);
    return time;
}

// The POSIX rules of SETATTR for the caller (the store on): only root gives a
// file away; the owner may give it to one of his groups; mode and times of
// the client's choice are the owner's; the times set to now and the size
// need write permission.  *record becomes the file's record after the
// change (a set-group-id bit the caller's groups do not cover, and the
// set-id bits on a change of owner by others than root, are dropped).
uint32_t PosixSetattrRules(DataRequest *r, const SetAttr *request, const AuthUnix *caller,
                           StoredUnixAttributes *record, FileAttributes *nowOut)
{
    FileAttributes &now = *nowOut;
    uint32_t status = JudgedAttributes(r, &now, caller);
    if (status != NFS_OK)
        return status;
    const bool root = IsRoot(caller);
    const bool owns = CallerOwns(&r->context, caller, &now);
    if (request->setUid && request->uid != now.uid && !root)
        return NFSERR_PERM;
    if (request->setGid && request->gid != now.gid && !root &&
        !(owns && CallerInGroup(&r->context, caller, request->gid)))
        return NFSERR_PERM;
    if ((request->setMode || request->setUid || request->setGid) && !owns)
        return NFSERR_PERM;
    if (request->atimeMode == SET_TIME_CLIENT || request->mtimeMode == SET_TIME_CLIENT) {
        if (!owns)
            return NFSERR_PERM;
    }
    const bool writer = (CallerPermissions(&r->context, caller, &now) & PERMIT_WRITE) != 0;
    const bool touch = request->atimeMode == SET_TIME_SERVER || request->mtimeMode == SET_TIME_SERVER;
    if (touch && !owns && !writer)
        return NFSERR_ACCES;
    // Without a record the owner keeps today's right to truncate.
    if (request->setSize && !writer && !(now.stored == 0 && owns))
        return NFSERR_ACCES;
    record->mode = now.mode & 07777u;
    record->uid = request->setUid ? request->uid : now.uid;
    record->gid = request->setGid ? request->gid : now.gid;
    if (request->setMode) {
        record->mode = request->mode & 07777u;
        if (!root && !CallerInGroup(&r->context, caller, record->gid) && now.type != FILE_TYPE_DIRECTORY)
            record->mode &= ~02000u;
    }
    if (!root && (record->uid != now.uid || record->gid != now.gid) && now.type == FILE_TYPE_REGULAR)
        record->mode &= ~06000u;
    return NFS_OK;
}

// The rules without the store: the caller is shown as the owner (unless the
// export has "-uid"), so AccessBits decides; refusals answer ACCES.
uint32_t EmulatedSetattrRules(DataRequest *r, const SetAttr *request, const AuthUnix *caller, bool sizeOrTimes)
{
    const uint32_t bits = AccessBits(&r->context, caller);
    const bool owner = bits >= 0700u;  // root, or an owner whose bits the umask leaves whole
    const bool ownerOnly = request->setMode || request->setUid || request->setGid ||
                           request->atimeMode == SET_TIME_CLIENT || request->mtimeMode == SET_TIME_CLIENT;
    if (ownerOnly && !owner)
        return NFSERR_ACCES;
    if (sizeOrTimes && !owner) {
        // A writer who is not the owner: truncate and touch need write access.
        FileAttributes now;
        uint32_t status = JudgedAttributes(r, &now, caller);
        if (status != NFS_OK)
            return status;
        if ((bits & now.mode & 0222u) == 0)
            return NFSERR_ACCES;
    }
    return NFS_OK;
}

} // namespace

namespace {

// Sets the size (when setSize) and the access and modification times (null =
// leave) of the judged object: through a handle opened again from the one
// the check kept, with the access the change needs checked as for any
// writer, so that what changes is what was judged, whatever has its name
// now; by path only for the export's root, which no check keeps.
uint32_t SetSizeAndTimes(DataRequest *r, bool setSize, uint64_t size, const FILETIME *accessTime,
                         const FILETIME *modifyTime)
{
    if (setSize && size > FILE_DATA_MAX_END)
        return NFSERR_FBIG;
    const char *path = r->path;
    const DWORD access = (setSize ? GENERIC_WRITE : 0) | FILE_WRITE_ATTRIBUTES;
    HANDLE file = OpenChangeTarget(ChangeTarget{path, &r->kept}, access);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        LogLine(2, "nfs_sizettime: %s error %u\n", path, static_cast<unsigned>(error));
        return FileIsGone(error) ? static_cast<uint32_t>(NFSERR_NOENT) : NfsStatusFromWindowsError(error);
    }
    uint32_t status = NFS_OK;
    // The size first: changing it touches the modification time, which a
    // time asked for in the same request must win over.
    if (setSize) {
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
            const DWORD error = GetLastError();
            LogLine(2, "nfs_setsize: %s error %u\n", path, static_cast<unsigned>(error));
            status = error == ERROR_INVALID_PARAMETER ? static_cast<uint32_t>(NFSERR_FBIG)
                                                      : NfsStatusFromWindowsError(error);
        }
    }
    if (status == NFS_OK && (accessTime != nullptr || modifyTime != nullptr)) {
        if (!SetFileTime(file, nullptr, accessTime, modifyTime)) {
            const DWORD error = GetLastError();
            LogLine(2, "nfs_settime: %s error %u\n", path, static_cast<unsigned>(error));
            status = NfsStatusFromWindowsError(error);
        }
    }
    CloseHandle(file);
    return status;
}

}  // namespace

uint32_t SetAttributes(const FileHandle *handle, const SetAttr *request, FileAttributes *attributes,
                       AuthUnix *credentials, AttributesBefore *before)
{
    if (before != nullptr)
        before->seen.present = 0;
    DataRequest r;
    if (BeginDataRequest(handle, &r) != NFS_OK)
        return NFSERR_STALE;
    if ((r.context.flags & EXPORT_READONLY) != 0)
        return NFSERR_ROFS;
    MapCredentials(&r.context, credentials);
    if (NeedDataPath(&r) != NFS_OK)
        return NFSERR_STALE;
    if (before != nullptr) {
        OptionalAttributes *seen = &before->seen;
        seen->present =
            ReadKeptAttributes(&r.kept, r.inode, &r.context, r.path, &seen->attributes, credentials) == NFS_OK;
        const uint32_t refused = before->check != nullptr ? before->check(seen, before->state) : NFS_OK;
        if (refused != NFS_OK)
            return refused;
    }

    const bool sizeOrTimes =
        request->setSize || request->atimeMode != SET_TIME_LEAVE || request->mtimeMode != SET_TIME_LEAVE;
    const bool store = UnixStoreEnabled();
    StoredUnixAttributes record = {};
    FileAttributes ownerBefore = {};
    uint32_t status = store ? PosixSetattrRules(&r, request, credentials, &record, &ownerBefore)
                            : EmulatedSetattrRules(&r, request, credentials, sizeOrTimes);
    if (status != NFS_OK)
        return status;
    // A change of owner to the owner and group that the file's record holds
    // already (a tar run by root sends one for every file) changes nothing:
    // nothing is written, and the reply waits for no flush.
    if (store && !sizeOrTimes && !request->setMode && ownerBefore.stored != 0 &&
        ownerBefore.type == FILE_TYPE_REGULAR && record.uid == ownerBefore.uid && record.gid == ownerBefore.gid &&
        record.mode == (ownerBefore.mode & 07777u)) {
        *attributes = ownerBefore;
        return NFS_OK;
    }

    // No cached handle may write past a new end of file.
    CacheInvalidate(&r.context.exportEntry->options, r.inode);
    // Every change goes to the object judged above, whatever has its name now.
    const ChangeTarget target{r.path, &r.kept};

    if (sizeOrTimes) {
        const DWORD dos = DosAttributes(&r, NFSERR_STALE, &status);
        if (dos == INVALID_FILE_ATTRIBUTES)
            return status;
        if (request->setSize) {
            const uint32_t type = TypeOf(target, dos);
            if (type != FILE_TYPE_REGULAR)
                return type == FILE_TYPE_DIRECTORY ? NFSERR_ISDIR : NFSERR_INVAL;
        }
        const bool readOnly = (dos & FILE_ATTRIBUTE_READONLY) != 0 && (dos & FILE_ATTRIBUTE_DIRECTORY) == 0;
        if (readOnly) {
            const DWORD lifted = dos & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (!SetChangeTargetAttributes(target, lifted))
                return NfsStatusFromWindowsError(GetLastError());
        }
        FILETIME accessTime, modifyTime;
        status = SetSizeAndTimes(
            &r, request->setSize != 0, request->size,
            RequestedTime(request->atimeMode, request->atime, request->atimeNsec, &accessTime),
            RequestedTime(request->mtimeMode, request->mtime, request->mtimeNsec, &modifyTime));
        if (readOnly && !SetChangeTargetAttributes(target, dos)) {
            LogLine(1, "nfs_setattr cannot restore attributes %u path %s\n", static_cast<unsigned>(GetLastError()),
                    r.path);
            if (status == NFS_OK)
                status = NfsStatusFromWindowsError(GetLastError());
        }
        if (status != NFS_OK)
            return status;
    }

    if (request->setMode || request->setUid || request->setGid) {
        const DWORD dos = DosAttributes(&r, NFSERR_NOENT, &status);
        if (dos == INVALID_FILE_ATTRIBUTES)
            return status;
        const uint32_t type = TypeOf(target, dos);
        // The mode of a symbolic link is always 0777.
        const bool setMode = request->setMode != 0 && type != FILE_TYPE_SYMLINK;
        bool recorded = false;
        status = SetModeAttributes(&r.context, target, setMode, type, store ? record.mode : request->mode,
                                   store ? &record : nullptr, &recorded, dos);
        if (status != NFS_OK)
            return status;
        // A volume without the store cannot give a file away: never answer
        // success for a change that was not made.
        if (store && !recorded && (request->setUid || request->setGid) &&
            (record.uid != ownerBefore.uid || record.gid != ownerBefore.gid))
            return NFSERR_PERM;
    }
    // The reply acknowledges a change that is on the disk.
    const bool changed = sizeOrTimes || request->setMode || request->setUid || request->setGid;
    if (changed) {
        status = ChangeDurable(target);
        if (status != NFS_OK)
            return status;
    }
    // What the check read is from before the change.
    r.kept.known = false;
    return JudgedAttributes(&r, attributes, credentials);
}
