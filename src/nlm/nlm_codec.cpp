// XDR of the lock manager's arguments and results, versions 1, 3 and 4.
#include <cstring>

#include "nlm/nlm_protocol.h"
#include "rpc/rpc_message.h"
#include "rpc/xdr.h"

namespace {

bool Is64(uint32_t version)
{
    return version >= 4;
}

bool GetBool(RpcCall *call, uint32_t *value)
{
    if (!XdrGetU32(call, value))
        return false;
    *value = *value != 0;
    return true;
}

bool GetOffset(RpcCall *call, uint32_t version, uint64_t *value)
{
    if (Is64(version))
        return XdrGetU64(call, value);
    uint32_t word;
    if (!XdrGetU32(call, &word))
        return false;
    *value = word;
    return true;
}

bool GetCookie(RpcCall *call, NlmCookie *cookie)
{
    return XdrGetOpaque(call, cookie->data, NLM_MAX_NETOBJ, &cookie->length);
}

// Caller name, file handle and owner handle: the part that nlm_lock and
// nlm_share share.
bool GetLockHead(RpcCall *call, uint32_t version, NlmLock *lock)
{
    if (XdrGetString(call, lock->callerName, NLM_MAX_NAME + 1) == 0)
        return false;
    if (!XdrGetOpaque(call, lock->fh, Is64(version) ? NLM_MAX_FH : NLM_FH2_SIZE, &lock->fhLength))
        return false;
    if (!Is64(version) && lock->fhLength != NLM_FH2_SIZE)
        return false;
    return XdrGetOpaque(call, lock->oh, NLM_MAX_NETOBJ, &lock->ohLength);
}

bool GetLock(RpcCall *call, uint32_t version, NlmLock *lock)
{
    return GetLockHead(call, version, lock) && XdrGetU32(call, &lock->svid) &&
           GetOffset(call, version, &lock->offset) && GetOffset(call, version, &lock->length);
}

uint32_t PutOffset(uint8_t *out, uint32_t version, uint64_t value)
{
    return Is64(version) ? XdrPutHyper(out, value) : XdrPutWord(out, static_cast<uint32_t>(value));
}

uint32_t PutCookie(uint8_t *out, const NlmCookie *cookie)
{
    return XdrPutOpaque(out, cookie->data, cookie->length);
}

}  // namespace

bool NlmDecodeTestArgs(RpcCall *call, uint32_t version, NlmArgs *args)
{
    args->version = version;
    return GetCookie(call, &args->cookie) && GetBool(call, &args->exclusive) && GetLock(call, version, &args->lock);
}

bool NlmDecodeLockArgs(RpcCall *call, uint32_t version, NlmArgs *args)
{
    args->version = version;
    return GetCookie(call, &args->cookie) && GetBool(call, &args->block) && GetBool(call, &args->exclusive) &&
           GetLock(call, version, &args->lock) && GetBool(call, &args->reclaim) && XdrGetU32(call, &args->state);
}

bool NlmDecodeCancelArgs(RpcCall *call, uint32_t version, NlmArgs *args)
{
    args->version = version;
    return GetCookie(call, &args->cookie) && GetBool(call, &args->block) && GetBool(call, &args->exclusive) &&
           GetLock(call, version, &args->lock);
}

bool NlmDecodeUnlockArgs(RpcCall *call, uint32_t version, NlmArgs *args)
{
    args->version = version;
    return GetCookie(call, &args->cookie) && GetLock(call, version, &args->lock);
}

bool NlmDecodeShareArgs(RpcCall *call, uint32_t version, NlmArgs *args)
{
    args->version = version;
    return GetCookie(call, &args->cookie) && GetLockHead(call, version, &args->lock) &&
           XdrGetU32(call, &args->mode) && XdrGetU32(call, &args->access) && GetBool(call, &args->reclaim);
}

bool NlmDecodeNotify(RpcCall *call, uint32_t version, NlmArgs *args)
{
    args->version = version;
    return XdrGetString(call, args->lock.callerName, NLM_MAX_NAME + 1) != 0 && XdrGetU32(call, &args->state);
}

bool NlmDecodeResult(RpcCall *call, bool testResult, NlmResult *result)
{
    memset(result, 0, sizeof *result);
    result->version = call->vers;
    if (!GetCookie(call, &result->cookie) || !XdrGetU32(call, &result->stat))
        return false;
    if (!testResult || result->stat != NLM_DENIED)
        return true;
    NlmHolder *h = &result->holder;
    return GetBool(call, &h->exclusive) && XdrGetU32(call, &h->svid) &&
           XdrGetOpaque(call, h->oh, NLM_MAX_NETOBJ, &h->ohLength) && GetOffset(call, call->vers, &h->offset) &&
           GetOffset(call, call->vers, &h->length);
}

uint32_t NlmEncodeRes(uint8_t *out, const void *value)
{
    const NlmResult *result = static_cast<const NlmResult *>(value);
    uint32_t n = PutCookie(out, &result->cookie);
    return n + XdrPutWord(out + n, result->stat);
}

uint32_t NlmEncodeTestRes(uint8_t *out, const void *value)
{
    const NlmResult *result = static_cast<const NlmResult *>(value);
    uint32_t n = NlmEncodeRes(out, value);
    if (result->stat != NLM_DENIED)
        return n;
    const NlmHolder *h = &result->holder;
    n += XdrPutWord(out + n, h->exclusive);
    n += XdrPutWord(out + n, h->svid);
    n += XdrPutOpaque(out + n, h->oh, h->ohLength);
    n += PutOffset(out + n, result->version, h->offset);
    return n + PutOffset(out + n, result->version, h->length);
}

uint32_t NlmEncodeShareRes(uint8_t *out, const void *value)
{
    const NlmResult *result = static_cast<const NlmResult *>(value);
    uint32_t n = NlmEncodeRes(out, value);
    return n + XdrPutWord(out + n, result->sequence);
}

uint32_t NlmEncodeTestArgs(uint8_t *out, const void *value)
{
    const NlmArgs *args = static_cast<const NlmArgs *>(value);
    const NlmLock *lock = &args->lock;
    uint32_t n = PutCookie(out, &args->cookie);
    n += XdrPutWord(out + n, args->exclusive);
    n += XdrPutOpaque(out + n, lock->callerName, static_cast<uint32_t>(strnlen(lock->callerName, NLM_MAX_NAME)));
    n += XdrPutOpaque(out + n, lock->fh, lock->fhLength);
    n += XdrPutOpaque(out + n, lock->oh, lock->ohLength);
    n += XdrPutWord(out + n, lock->svid);
    n += PutOffset(out + n, args->version, lock->offset);
    return n + PutOffset(out + n, args->version, lock->length);
}

uint32_t NlmStatForVersion(uint32_t stat, uint32_t version)
{
    if (Is64(version) || stat <= NLM_DENIED_GRACE_PERIOD)
        return stat;
    return stat == NLM_DEADLCK ? NLM_DENIED : NLM_DENIED_NOLOCKS;
}

void NlmRangeOf(uint64_t offset, uint64_t length, uint64_t *first, uint64_t *last)
{
    *first = offset;
    uint64_t end = offset + (length - 1);
    *last = (length == 0 || end < offset) ? UINT64_MAX : end;
}

void NlmWireRange(uint64_t first, uint64_t last, uint32_t version, uint64_t *offset, uint64_t *length)
{
    if (!Is64(version)) {
        if (first > UINT32_MAX)
            first = UINT32_MAX;
        if (last > UINT32_MAX)
            last = UINT64_MAX;
    }
    *offset = first;
    *length = last == UINT64_MAX ? 0 : last - first + 1;
}
