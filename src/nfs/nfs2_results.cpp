// Encoding the results of NFS version 2.
#include "nfs/nfs2_results.h"

#include <initializer_list>

uint32_t Nfs2PutAttrResult(uint8_t *out, const void *result)
{
    const Nfs2AttrResult *r = NfsResultAs<Nfs2AttrResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status == 0)
        n += NfsPutFattr2(out + n, &r->attributes);
    return n;
}

uint32_t Nfs2PutDirOpResult(uint8_t *out, const void *result)
{
    const Nfs2DirOpResult *r = NfsResultAs<Nfs2DirOpResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status == 0) {
        n += NfsPutHandle2(out + n, &r->handle);
        n += NfsPutFattr2(out + n, &r->attributes);
    }
    return n;
}

uint32_t Nfs2PutReadlinkResult(uint8_t *out, const void *result)
{
    const Nfs2ReadlinkResult *r = NfsResultAs<Nfs2ReadlinkResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status == 0)
        n += XdrPutOpaque(out + n, r->text, r->length);
    return n;
}

uint32_t Nfs2PutReadResult(uint8_t *out, const void *result)
{
    const Nfs2ReadResult *r = NfsResultAs<Nfs2ReadResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status == 0) {
        n += NfsPutFattr2(out + n, &r->attributes);
        n += XdrPutOpaque(out + n, r->data, r->count);
    }
    return n;
}

uint32_t Nfs2PutReaddirResult(uint8_t *out, const void *result)
{
    const Nfs2ReaddirResult *r = NfsResultAs<Nfs2ReaddirResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status != 0)
        return n;
    if (r->entriesLength != 0)
        n += XdrPutFixedOpaque(out + n, r->entries, r->entriesLength);
    n += XdrPutWord(out + n, 0);
    return n + XdrPutWord(out + n, r->eof ? 1 : 0);
}

uint32_t Nfs2PutStatfsResult(uint8_t *out, const void *result)
{
    const Nfs2StatfsResult *r = NfsResultAs<Nfs2StatfsResult>(result);
    uint8_t *p = out;
    p += XdrPutWord(p, r->status);
    if (r->status == 0) {
        for (uint32_t value : {r->tsize, r->bsize, r->blocks, r->bfree, r->bavail})
            p += XdrPutWord(p, value);
    }
    return static_cast<uint32_t>(p - out);
}

uint32_t Nfs2PutEntry(uint8_t *out, uint32_t room, uint32_t fileId, const char *name, uint32_t nameLength,
                      uint32_t cookie)
{
    if (nameLength >= NFS_NAME_SIZE)
        nameLength = NFS_NAME_SIZE - 1;
    if (16 + XdrPadded(nameLength) > room)
        return 0;
    uint8_t *p = out;
    p += XdrPutWord(p, 1);
    p += XdrPutWord(p, fileId);
    p += XdrPutOpaque(p, name, nameLength);
    p += XdrPutWord(p, cookie);
    return static_cast<uint32_t>(p - out);
}
