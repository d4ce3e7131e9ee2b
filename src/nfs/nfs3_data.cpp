// NFS version 3: READ, WRITE, COMMIT and SETATTR.
#include <cstdint>
#include <cstring>

#include "backend/file_attributes.h"
#include "backend/file_data.h"
#include "fs/nfs_status.h"
#include "nfs/nfs3_args.h"
#include "nfs/nfs3_procs.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_request.h"
#include "nfs/nfs_service.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

// The largest offset a Windows file can be addressed at.
const uint64_t MAX_FILE_OFFSET = 0x7FFFFFFFFFFFFFFFull;

// Whether a file may reach end bytes on the mount's volume; what no volume
// refuses is not asked of the volume.
bool VolumeHolds(const ExportContext *context, uint64_t end)
{
    return end <= 0xFFFFFFFFull || end <= NfsMaxFileSize(context);
}

// What SETATTR asks before it changes anything: the guard's change time
// (attributes that cannot be read fail it), and a size the volume holds.
struct SetattrChecks {
    const Nfs3SetattrArgs *args;
    const ExportContext *context;
};

uint32_t CheckBefore(const OptionalAttributes *seen, const void *state)
{
    const SetattrChecks *checks = static_cast<const SetattrChecks *>(state);
    const Nfs3SetattrArgs *args = checks->args;
    if (args->guard != 0 && (!seen->present || seen->attributes.ctime != args->guardCtime ||
                             seen->attributes.ctimeNsec != args->guardCtimeNsec))
        return NFS3ERR_NOT_SYNC;
    if (args->attributes.setSize && !VolumeHolds(checks->context, args->attributes.size))
        return NFSERR_FBIG;
    return NFS_OK;
}

}  // namespace

void Nfs3Setattr(NfsRequest *request, Nfs3SetattrArgs *args, Nfs3WccResult *result)
{
    ExportContext context;
    bool visible = false;
    result->status = NfsCheckChange(request, &args->handle, &visible, &context);
    if (result->status == NFS_OK) {
        // The attributes before the change come from the object the change
        // judged, and the guard is checked against them there.
        const SetattrChecks checks = {args, &context};
        AttributesBefore before = {{}, CheckBefore, &checks};
        args->attributes.mode &= 07777u;
        result->status =
            SetAttributes(&args->handle, &args->attributes, &result->wcc.after, &request->caller, &before);
        result->wcc.afterPresent = result->status == NFS_OK;
        result->wcc.beforePresent = before.seen.present;
        result->wcc.before = before.seen.attributes;
    } else if (visible) {
        // A read-only export: nothing changes, its attributes are shown.
        result->wcc.beforePresent =
            GetAttrByHandle(&args->handle, &result->wcc.before, &request->caller) == NFS_OK;
    }
}

void Nfs3Read(NfsRequest *request, const Nfs3RangeArgs *args, Nfs3ReadResult *result)
{
    // The data goes straight to its place in the reply, which must hold it
    // behind the header that carries the call's verifier back.
    const uint32_t size = NfsTransferSize(request->transport) & ~3u;
    uint32_t count = args->count < size ? args->count : size;
    const uint32_t room = NfsDataRoom(request, NFS3_READ_DATA_OFFSET, (count + 3) & ~3u);
    if (room < count)
        count = room;
    uint8_t *data =
        request->transport->buffer + ReplySuccessHeaderLength(request->call) + NFS3_READ_DATA_OFFSET;
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    uint64_t end = 0;
    if (result->status == NFS_OK && (args->offset > MAX_FILE_OFFSET || !NfsRangeEnd(args->offset, count, &end)))
        result->status = NFS3ERR_INVAL;
    if (result->status == NFS_OK) {
        uint32_t got = count;
        result->status = ReadFileData(&args->handle, args->offset, &got, data, &result->attributes.attributes,
                                      &request->caller);
        if (result->status == NFS_OK) {
            result->attributes.present = 1;
            result->eof = got < count || end >= result->attributes.attributes.size;
            result->count = got <= count ? got : count;
            result->data = data;
        }
    }
}

void Nfs3Write(NfsRequest *request, const Nfs3WriteArgs *args, Nfs3WriteResult *result)
{
    const uint32_t size = NfsTransferSize(request->transport);
    uint32_t count = args->count < size ? args->count : size;
    ExportContext context;
    bool visible = false;
    result->status = NfsCheckChange(request, &args->handle, &visible, &context);
    uint64_t end = 0;
    if (result->status == NFS_OK && (!NfsRangeEnd(args->offset, count, &end) || !VolumeHolds(&context, end)))
        result->status = NFSERR_FBIG;
    if (result->status == NFS_OK) {
        // DATA_SYNC is served as FILE_SYNC; the setting may ask for more
        // than the client, or that every write be unstable and committed
        // later.  What is reported is what the backend reached.
        uint32_t stable = args->stable == WRITE_DATA_SYNC ? WRITE_FILE_SYNC : args->stable;
        const uint32_t least = ServerSettings.NFS3Write >= WRITE_FILE_SYNC ? WRITE_FILE_SYNC : WRITE_UNSTABLE;
        if (stable < least)
            stable = least;
        if (ServerSettings.NFS3WriteFlag)
            stable = WRITE_UNSTABLE;
        uint32_t written = count;
        result->status = WriteFileData(&args->handle, args->offset, &written, &stable, args->data, &result->wcc.after,
                                       &result->wcc.before, &request->caller);
        if (result->status == NFS_OK) {
            result->wcc.beforePresent = result->wcc.afterPresent = 1;
            result->count = written <= count ? written : count;
            result->committed = stable <= WRITE_FILE_SYNC ? stable : WRITE_UNSTABLE;
            memcpy(result->verifier, NfsWriteVerifier(), NFS_VERIFIER_SIZE);
        }
    }
}

void Nfs3Commit(NfsRequest *request, const Nfs3RangeArgs *args, Nfs3CommitResult *result)
{
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    uint64_t end = 0;
    if (result->status == NFS_OK && !NfsRangeEnd(args->offset, args->count, &end))
        result->status = NFS3ERR_INVAL;
    if (result->status == NFS_OK) {
        result->status = CommitFile(&args->handle, args->offset, args->count, &result->wcc.after, &request->caller);
        if (result->status == NFS_OK) {
            result->wcc.afterPresent = 1;
            memcpy(result->verifier, NfsWriteVerifier(), NFS_VERIFIER_SIZE);
        }
    }
}
