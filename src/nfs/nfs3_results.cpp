// Encoding the results of NFS version 3.
#include "nfs/nfs3_results.h"

#include <initializer_list>

namespace {

uint32_t CutName(uint32_t nameLength)
{
    return nameLength < NFS_NAME_SIZE ? nameLength : NFS_NAME_SIZE - 1;
}

uint32_t PutPostOpHandle(uint8_t *out, const FileHandle *handle)
{
    return handle != nullptr ? NfsPutPostOpHandle3(out, handle) : XdrPutWord(out, 0);
}

}  // namespace

uint32_t Nfs3PutAttrResult(uint8_t *out, const void *result)
{
    const Nfs3AttrResult *r = NfsResultAs<Nfs3AttrResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status == 0)
        n += NfsPutFattr3(out + n, &r->attributes);
    return n;
}

uint32_t Nfs3PutWccResult(uint8_t *out, const void *result)
{
    const Nfs3WccResult *r = NfsResultAs<Nfs3WccResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    return n + NfsPutWcc(out + n, &r->wcc);
}

uint32_t Nfs3PutLookupResult(uint8_t *out, const void *result)
{
    const Nfs3LookupResult *r = NfsResultAs<Nfs3LookupResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status == 0) {
        n += NfsPutHandle3(out + n, &r->object);
        n += NfsPutPostOpAttr(out + n, &r->objectAttributes);
    }
    return n + NfsPutPostOpAttr(out + n, &r->dirAttributes);
}

uint32_t Nfs3PutAccessResult(uint8_t *out, const void *result)
{
    const Nfs3AccessResult *r = NfsResultAs<Nfs3AccessResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutPostOpAttr(out + n, &r->attributes);
    if (r->status == 0)
        n += XdrPutWord(out + n, r->access);
    return n;
}

uint32_t Nfs3PutReadlinkResult(uint8_t *out, const void *result)
{
    const Nfs3ReadlinkResult *r = NfsResultAs<Nfs3ReadlinkResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutPostOpAttr(out + n, &r->attributes);
    if (r->status == 0)
        n += XdrPutOpaque(out + n, r->text, r->length);
    return n;
}

uint32_t Nfs3PutReadResult(uint8_t *out, const void *result)
{
    const Nfs3ReadResult *r = NfsResultAs<Nfs3ReadResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutPostOpAttr(out + n, &r->attributes);
    if (r->status == 0) {
        n += XdrPutWord(out + n, r->count);
        n += XdrPutWord(out + n, r->eof ? 1 : 0);
        n += XdrPutOpaque(out + n, r->data, r->count);
    }
    return n;
}

uint32_t Nfs3PutWriteResult(uint8_t *out, const void *result)
{
    const Nfs3WriteResult *r = NfsResultAs<Nfs3WriteResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutWcc(out + n, &r->wcc);
    if (r->status == 0) {
        n += XdrPutWord(out + n, r->count);
        n += XdrPutWord(out + n, r->committed);
        n += XdrPutFixedOpaque(out + n, r->verifier, NFS_VERIFIER_SIZE);
    }
    return n;
}

uint32_t Nfs3PutCreateResult(uint8_t *out, const void *result)
{
    const Nfs3CreateResult *r = NfsResultAs<Nfs3CreateResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    if (r->status == 0) {
        n += PutPostOpHandle(out + n, r->handlePresent ? &r->object : nullptr);
        n += NfsPutPostOpAttr(out + n, &r->attributes);
    }
    return n + NfsPutWcc(out + n, &r->dirWcc);
}

uint32_t Nfs3PutRenameResult(uint8_t *out, const void *result)
{
    const Nfs3RenameResult *r = NfsResultAs<Nfs3RenameResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutWcc(out + n, &r->fromWcc);
    return n + NfsPutWcc(out + n, &r->toWcc);
}

uint32_t Nfs3PutLinkResult(uint8_t *out, const void *result)
{
    const Nfs3LinkResult *r = NfsResultAs<Nfs3LinkResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutPostOpAttr(out + n, &r->attributes);
    return n + NfsPutWcc(out + n, &r->dirWcc);
}

uint32_t NfsReaddirEntriesOffset(uint32_t attributesPresent)
{
    return 4 + (attributesPresent ? NFS_POST_OP_ATTR_SIZE : 4) + NFS_VERIFIER_SIZE;
}

uint32_t Nfs3PutReaddirResult(uint8_t *out, const void *result)
{
    const Nfs3ReaddirResult *r = NfsResultAs<Nfs3ReaddirResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutPostOpAttr(out + n, &r->dirAttributes);
    if (r->status != 0)
        return n;
    n += XdrPutFixedOpaque(out + n, r->verifier, NFS_VERIFIER_SIZE);
    if (r->entriesLength != 0)
        n += XdrPutFixedOpaque(out + n, r->entries, r->entriesLength);
    n += XdrPutWord(out + n, 0);
    return n + XdrPutWord(out + n, r->eof ? 1 : 0);
}

uint32_t Nfs3EntryInfoSize(uint32_t nameLength)
{
    return 8 + 4 + XdrPadded(CutName(nameLength)) + 8;
}

uint32_t Nfs3PutEntry(uint8_t *out, uint32_t room, uint64_t fileId, const char *name, uint32_t nameLength,
                      uint64_t cookie)
{
    nameLength = CutName(nameLength);
    if (4 + Nfs3EntryInfoSize(nameLength) > room)
        return 0;
    uint8_t *p = out;
    p += XdrPutWord(p, 1);
    p += XdrPutHyper(p, fileId);
    p += XdrPutOpaque(p, name, nameLength);
    p += XdrPutHyper(p, cookie);
    return static_cast<uint32_t>(p - out);
}

uint32_t Nfs3PutEntryPlus(uint8_t *out, uint32_t room, uint64_t fileId, const char *name, uint32_t nameLength,
                          uint64_t cookie, const NfsPostOpAttr *attributes, const FileHandle *handle)
{
    const uint32_t extra = (attributes->present ? NFS_POST_OP_ATTR_SIZE : 4) +
                           (handle != nullptr ? 8 + XdrPadded(Nfs3HandleSize()) : 4);
    const uint32_t size = 4 + Nfs3EntryInfoSize(nameLength) + extra;
    if (size > room)
        return 0;
    uint32_t n = Nfs3PutEntry(out, room, fileId, name, nameLength, cookie);
    n += NfsPutPostOpAttr(out + n, attributes);
    return n + PutPostOpHandle(out + n, handle);
}

uint32_t Nfs3PutFsstatResult(uint8_t *out, const void *result)
{
    const Nfs3FsstatResult *r = NfsResultAs<Nfs3FsstatResult>(result);
    uint8_t *p = out;
    p += XdrPutWord(p, r->status);
    p += NfsPutPostOpAttr(p, &r->attributes);
    if (r->status == 0) {
        for (uint64_t value : {r->tbytes, r->fbytes, r->abytes, r->tfiles, r->ffiles, r->afiles})
            p += XdrPutHyper(p, value);
        p += XdrPutWord(p, r->invarsec);
    }
    return static_cast<uint32_t>(p - out);
}

uint32_t Nfs3PutFsinfoResult(uint8_t *out, const void *result)
{
    const Nfs3FsinfoResult *r = NfsResultAs<Nfs3FsinfoResult>(result);
    uint8_t *p = out;
    p += XdrPutWord(p, r->status);
    p += NfsPutPostOpAttr(p, &r->attributes);
    if (r->status == 0) {
        for (uint32_t value : {r->rtmax, r->rtpref, r->rtmult, r->wtmax, r->wtpref, r->wtmult, r->dtpref})
            p += XdrPutWord(p, value);
        p += XdrPutHyper(p, r->maxfilesize);
        p += XdrPutWord(p, r->timeDeltaSeconds);
        p += XdrPutWord(p, r->timeDeltaNsec);
        p += XdrPutWord(p, r->properties);
    }
    return static_cast<uint32_t>(p - out);
}

uint32_t Nfs3PutPathconfResult(uint8_t *out, const void *result)
{
    const Nfs3PathconfResult *r = NfsResultAs<Nfs3PathconfResult>(result);
    uint8_t *p = out;
    p += XdrPutWord(p, r->status);
    p += NfsPutPostOpAttr(p, &r->attributes);
    if (r->status == 0) {
        for (uint32_t value : {r->linkmax, r->nameMax, r->noTrunc, r->chownRestricted, r->caseInsensitive,
                               r->casePreserving})
            p += XdrPutWord(p, value);
    }
    return static_cast<uint32_t>(p - out);
}

uint32_t Nfs3PutCommitResult(uint8_t *out, const void *result)
{
    const Nfs3CommitResult *r = NfsResultAs<Nfs3CommitResult>(result);
    uint32_t n = XdrPutWord(out, r->status);
    n += NfsPutWcc(out + n, &r->wcc);
    if (r->status == 0)
        n += XdrPutFixedOpaque(out + n, r->verifier, NFS_VERIFIER_SIZE);
    return n;
}
