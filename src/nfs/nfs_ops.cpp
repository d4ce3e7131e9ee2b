// LOOKUP for both versions.
#include "nfs/nfs_ops.h"

#include "backend/lookup.h"
#include "fs/nfs_status.h"
#include "mount/mount_service.h"
#include "rpc/transport.h"

uint32_t NfsLookup(NfsRequest *request, NfsDirOp *op, FileHandle *object, FileAttributes *attributes,
                   bool *dirAllowed)
{
    *dirAllowed = false;
    // A name with a NUL byte inside names nothing that can exist.
    const bool clean = NfsNameIsClean(&op->name);
    if (NfsIsPublicHandle(&op->dir)) {
        if (!clean)
            return NFSERR_NOENT;
        int status = WebNfsLookup(&op->dir, op->name.text, request->client, request->transport->protocol);
        if (status != 0)
            return static_cast<uint32_t>(status);
        op->name.length = 1;
    }
    uint32_t status = NfsCheckCaller(request, &op->dir, false, nullptr);
    if (status != NFS_OK)
        return status;
    *dirAllowed = true;
    if (!clean)
        return NFSERR_NOENT;
    return Lookup(&op->dir, op->name.text, object, attributes, request->client, &request->caller);
}
