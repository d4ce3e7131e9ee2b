// Handles, names, settable and reported attributes on the wire.
#include "nfs/nfs_xdr.h"

#include <cstring>

#include "backend/fs_stats.h"
#include "settings/settings.h"

namespace {

// Version 2 has no fifo type: a fifo goes out as a character device with
// this device number, which clients turn back into a fifo.
const uint32_t NFS2_FIFO_DEVICE = 0xFFFFFFFFu;

bool GetTime3(RpcCall *call, uint32_t *how, uint32_t *seconds, uint32_t *nanoseconds)
{
    if (!XdrGetU32(call, how))
        return false;
    switch (*how) {
    case SET_TIME_LEAVE:
        return true;
    case SET_TIME_SERVER:
        *seconds = NfsUnixNow();
        *nanoseconds = 0;
        return true;
    case SET_TIME_CLIENT:
        return XdrGetU32(call, seconds) && XdrGetU32(call, nanoseconds);
    default:
        return false;
    }
}

// A flag word and, when it is set, the value.
bool GetOptional32(RpcCall *call, uint32_t *set, uint32_t *value)
{
    if (!XdrGetU32(call, set))
        return false;
    return *set == 0 || XdrGetU32(call, value);
}

void Time2(uint32_t seconds, uint32_t microseconds, uint32_t *how, uint32_t *outSeconds, uint32_t *nanoseconds)
{
    if (seconds == 0xFFFFFFFFu)
        return;
    if (microseconds >= 1000000u) {
        *how = SET_TIME_SERVER;
        *outSeconds = NfsUnixNow();
        *nanoseconds = 0;
        return;
    }
    *how = SET_TIME_CLIENT;
    *outSeconds = seconds;
    *nanoseconds = microseconds * 1000u;
}

uint32_t PutTimes(uint8_t *out, const FileAttributes *a, uint32_t divisor)
{
    uint8_t *p = out;
    p += XdrPutWord(p, a->atime);
    p += XdrPutWord(p, a->atimeNsec / divisor);
    p += XdrPutWord(p, a->mtime);
    p += XdrPutWord(p, a->mtimeNsec / divisor);
    p += XdrPutWord(p, a->ctime);
    p += XdrPutWord(p, a->ctimeNsec / divisor);
    return static_cast<uint32_t>(p - out);
}

}  // namespace

bool NfsNameIsClean(const NfsName *name)
{
    return memchr(name->text, '\0', name->length) == nullptr;
}

bool NfsIsPublicHandle(const FileHandle *handle)
{
    static const FileHandle zero = {};
    return memcmp(handle, &zero, sizeof zero) == 0;
}

uint32_t NfsUnixNow(void)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixSecondsFromFileTime(&now);
}

uint32_t Nfs3HandleSize(void)
{
    return ServerSettings.FHsize == FILE_HANDLE_SHORT_SIZE ? FILE_HANDLE_SHORT_SIZE : FILE_HANDLE_SIZE;
}

bool NfsGetHandle3(RpcCall *call, FileHandle *handle)
{
    const uint8_t *bytes;
    uint32_t length;
    if (!XdrGetOpaqueRef(call, &bytes, FILE_HANDLE_SIZE, &length))
        return false;
    if (length == 0) {
        memset(handle, 0, sizeof *handle);
        return true;
    }
    return length == Nfs3HandleSize() && DecodeHandle(bytes, length, handle) == 1;
}

bool NfsGetHandle2(RpcCall *call, FileHandle *handle)
{
    uint8_t bytes[NFS2_HANDLE_SIZE];
    return XdrGetFixedOpaque(call, bytes, NFS2_HANDLE_SIZE) && DecodeHandle(bytes, NFS2_HANDLE_SIZE, handle) == 1;
}

bool NfsGetName(RpcCall *call, NfsName *name)
{
    uint32_t got = XdrGetString(call, name->text, NFS_NAME_SIZE);
    name->length = got > 0 ? got - 1 : 0;
    return got > 0;
}

bool NfsGetPath(RpcCall *call, NfsPath *path)
{
    uint32_t got = XdrGetString(call, path->text, NFS_PATH_SIZE);
    path->length = got > 0 ? got - 1 : 0;
    return got > 0;
}

bool NfsGetDirOp3(RpcCall *call, NfsDirOp *op)
{
    return NfsGetHandle3(call, &op->dir) && NfsGetName(call, &op->name);
}

bool NfsGetDirOp2(RpcCall *call, NfsDirOp *op)
{
    return NfsGetHandle2(call, &op->dir) && NfsGetName(call, &op->name);
}

bool NfsGetSattr3(RpcCall *call, SetAttr *a)
{
    memset(a, 0, sizeof *a);
    if (!GetOptional32(call, &a->setMode, &a->mode) || !GetOptional32(call, &a->setUid, &a->uid) ||
        !GetOptional32(call, &a->setGid, &a->gid) || !XdrGetU32(call, &a->setSize))
        return false;
    if (a->setSize != 0 && !XdrGetU64(call, &a->size))
        return false;
    return GetTime3(call, &a->atimeMode, &a->atime, &a->atimeNsec) &&
           GetTime3(call, &a->mtimeMode, &a->mtime, &a->mtimeNsec);
}

bool NfsGetSattr2(RpcCall *call, SetAttr *a)
{
    memset(a, 0, sizeof *a);
    uint32_t w[8];
    for (uint32_t &word : w) {
        if (!XdrGetU32(call, &word))
            return false;
    }
    const uint32_t unset = 0xFFFFFFFFu;
    a->setMode = w[0] != unset;
    a->mode = a->setMode ? w[0] : 0;
    a->setUid = w[1] != unset;
    a->uid = a->setUid ? w[1] : 0;
    a->setGid = w[2] != unset;
    a->gid = a->setGid ? w[2] : 0;
    a->setSize = w[3] != unset;
    a->size = a->setSize ? w[3] : 0;
    Time2(w[4], w[5], &a->atimeMode, &a->atime, &a->atimeNsec);
    Time2(w[6], w[7], &a->mtimeMode, &a->mtime, &a->mtimeNsec);
    return true;
}

uint32_t NfsPutFattr3(uint8_t *out, const FileAttributes *a)
{
    uint8_t *p = out;
    p += XdrPutWord(p, a->type);
    p += XdrPutWord(p, a->mode & 07777u);
    p += XdrPutWord(p, a->links);
    p += XdrPutWord(p, a->uid);
    p += XdrPutWord(p, a->gid);
    p += XdrPutHyper(p, a->size);
    p += XdrPutHyper(p, a->size);  // space used
    p += XdrPutWord(p, a->major);
    p += XdrPutWord(p, a->minor);
    p += XdrPutHyper(p, a->fsid);
    p += XdrPutHyper(p, a->fileId);
    p += PutTimes(p, a, 1);
    return static_cast<uint32_t>(p - out);
}

uint32_t NfsPutPostOpAttr(uint8_t *out, const NfsPostOpAttr *attributes)
{
    if (!attributes->present)
        return XdrPutWord(out, 0);
    return XdrPutWord(out, 1) + NfsPutFattr3(out + 4, &attributes->attributes);
}

uint32_t NfsPutWcc(uint8_t *out, const NfsWcc *wcc)
{
    uint8_t *p = out;
    p += XdrPutWord(p, wcc->beforePresent ? 1 : 0);
    if (wcc->beforePresent) {
        p += XdrPutHyper(p, wcc->before.size);
        p += XdrPutWord(p, wcc->before.mtime);
        p += XdrPutWord(p, wcc->before.mtimeNsec);
        p += XdrPutWord(p, wcc->before.ctime);
        p += XdrPutWord(p, wcc->before.ctimeNsec);
    }
    p += XdrPutWord(p, wcc->afterPresent ? 1 : 0);
    if (wcc->afterPresent)
        p += NfsPutFattr3(p, &wcc->after);
    return static_cast<uint32_t>(p - out);
}

uint32_t NfsPutHandle3(uint8_t *out, const FileHandle *handle)
{
    uint8_t bytes[FILE_HANDLE_SIZE];
    EncodeHandle(handle, bytes);
    return XdrPutOpaque(out, bytes, Nfs3HandleSize());
}

uint32_t NfsPutPostOpHandle3(uint8_t *out, const FileHandle *handle)
{
    return XdrPutWord(out, 1) + NfsPutHandle3(out + 4, handle);
}

uint32_t NfsPutFattr2(uint8_t *out, const FileAttributes *a)
{
    const uint64_t largest = 0xFFFFFFFFu;
    const uint64_t size = a->size < largest ? a->size : largest;
    const uint64_t blocks = (a->size + (FS_BLOCK_SIZE - 1)) / FS_BLOCK_SIZE;
    uint32_t type = a->type;
    uint32_t device = a->minor | a->major << 8;
    if (type == NF3FIFO) {
        type = NF3CHR;
        device = NFS2_FIFO_DEVICE;
    }
    uint8_t *p = out;
    p += XdrPutWord(p, type);
    p += XdrPutWord(p, a->mode);
    p += XdrPutWord(p, a->links);
    p += XdrPutWord(p, a->uid);
    p += XdrPutWord(p, a->gid);
    p += XdrPutWord(p, static_cast<uint32_t>(size));
    p += XdrPutWord(p, FS_BLOCK_SIZE);
    p += XdrPutWord(p, device);
    p += XdrPutWord(p, static_cast<uint32_t>(blocks < largest ? blocks : largest));
    p += XdrPutWord(p, a->fsid);
    p += XdrPutWord(p, static_cast<uint32_t>(a->fileId));
    p += PutTimes(p, a, 1000);
    return static_cast<uint32_t>(p - out);
}

uint32_t NfsPutHandle2(uint8_t *out, const FileHandle *handle)
{
    EncodeHandle(handle, out);
    return NFS2_HANDLE_SIZE;
}
