// NFS version 2: SETATTR, READ and WRITE.
#include "backend/file_attributes.h"
#include "backend/file_data.h"
#include "fs/nfs_status.h"
#include "nfs/nfs2_args.h"
#include "nfs/nfs2_procs.h"
#include "nfs/nfs2_results.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_request.h"
#include "rpc/transport.h"
#include "settings/settings.h"

void Nfs2Setattr(NfsRequest *request, Nfs2SetattrArgs *args, Nfs2AttrResult *result)
{
    bool visible = false;
    result->status = NfsCheckChange(request, &args->handle, &visible, nullptr);
    if (result->status == NFS_OK) {
        args->attributes.mode &= 07777u;
        result->status = SetAttributes(&args->handle, &args->attributes, &result->attributes, &request->caller);
    }
}

void Nfs2Read(NfsRequest *request, const Nfs2ReadArgs *args, Nfs2ReadResult *result)
{
    // The data goes straight to its place in the reply, behind the header
    // that carries the call's verifier back.
    uint32_t count = NfsDataLimit(request, NFS2_READ_DATA_OFFSET, ServerSettings.ReadSize);
    if (args->count < count)
        count = args->count;
    uint8_t *data =
        request->transport->buffer + ReplySuccessHeaderLength(request->call) + NFS2_READ_DATA_OFFSET;
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    if (result->status == NFS_OK) {
        uint32_t got = count;
        result->status = ReadFileData(&args->handle, args->offset, &got, data, &result->attributes, &request->caller);
        result->count = got <= count ? got : count;
        result->data = data;
    }
}

void Nfs2Write(NfsRequest *request, const Nfs2WriteArgs *args, Nfs2AttrResult *result)
{
    bool visible = false;
    result->status = NfsCheckChange(request, &args->handle, &visible, nullptr);
    if (result->status == NFS_OK) {
        // Version 2 has no COMMIT: the setting chooses between writes that
        // reach the disk before the reply and faster ones that may not.
        uint32_t stability = ServerSettings.NFS2Write >= WRITE_FILE_SYNC ? WRITE_FILE_SYNC : WRITE_UNSTABLE;
        uint32_t count = args->count;
        result->status = WriteFileData(&args->handle, args->offset, &count, &stability, args->data, &result->attributes,
                                       nullptr, &request->caller);
        // A version 2 WRITE is all or nothing.
        if (result->status == NFS_OK && count != args->count)
            result->status = NFSERR_IO;
    }
}
