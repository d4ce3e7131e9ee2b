// The Network Lock Manager protocol, program 100021 versions 1, 3 and 4: its
// numbers, the decoded argument and result records, and their XDR decoders
// and encoders.  Versions 1 and 3 carry 32-bit ranges and an NFS version 2
// file handle of 32 bytes; version 4 carries 64-bit ranges and an NFS
// version 3 handle of up to 64 bytes.
//
// The decoders copy everything they keep out of the call's arguments, since
// replies are built over the received message.
#pragma once

#include <cstdint>

struct RpcCall;

#define NLM_PROG 100021u

enum NlmProc : uint32_t {
    NLMPROC_NULL = 0,
    NLMPROC_TEST = 1,
    NLMPROC_LOCK = 2,
    NLMPROC_CANCEL = 3,
    NLMPROC_UNLOCK = 4,
    NLMPROC_GRANTED = 5,
    NLMPROC_TEST_MSG = 6,
    NLMPROC_LOCK_MSG = 7,
    NLMPROC_CANCEL_MSG = 8,
    NLMPROC_UNLOCK_MSG = 9,
    NLMPROC_GRANTED_MSG = 10,
    NLMPROC_TEST_RES = 11,
    NLMPROC_LOCK_RES = 12,
    NLMPROC_CANCEL_RES = 13,
    NLMPROC_UNLOCK_RES = 14,
    NLMPROC_GRANTED_RES = 15,
    NLMPROC_SHARE = 20,
    NLMPROC_UNSHARE = 21,
    NLMPROC_NM_LOCK = 22,
    NLMPROC_FREE_ALL = 23,
};

// nlm4_stats; versions 1 and 3 know only 0 to 4 (see NlmStatForVersion).
enum NlmStat : uint32_t {
    NLM_GRANTED = 0,
    NLM_DENIED = 1,
    NLM_DENIED_NOLOCKS = 2,
    NLM_BLOCKED = 3,
    NLM_DENIED_GRACE_PERIOD = 4,
    NLM_DEADLCK = 5,
    NLM_ROFS = 6,
    NLM_STALE_FH = 7,
    NLM_FBIG = 8,
    NLM_FAILED = 9,
};

// Protocol limits: netobj (cookie, owner handle) and strings of 1024 bytes;
// file handles of 32 bytes (versions 1, 3) and up to 64 (version 4).
#define NLM_MAX_NETOBJ 1024u
#define NLM_MAX_NAME 1024u
#define NLM_FH2_SIZE 32u
#define NLM_MAX_FH 64u

struct NlmCookie {
    uint32_t length;
    uint8_t data[NLM_MAX_NETOBJ];
};

// nlm_lock / nlm4_lock.  offset and length as on the wire (32-bit values of
// versions 1 and 3 widened).
struct NlmLock {
    char callerName[NLM_MAX_NAME + 1];
    uint32_t fhLength;
    uint8_t fh[NLM_MAX_FH];
    uint32_t ohLength;
    uint8_t oh[NLM_MAX_NETOBJ];
    uint32_t svid;
    uint64_t offset;
    uint64_t length;
};

// The arguments of every procedure in one record, zeroed before it decodes;
// each decoder fills the fields its procedure carries.
//   TEST, GRANTED (nlm_testargs):    cookie, exclusive, lock
//   LOCK, NM_LOCK (nlm_lockargs):    cookie, block, exclusive, lock, reclaim, state
//   CANCEL (nlm_cancargs):           cookie, block, exclusive, lock
//   UNLOCK (nlm_unlockargs):         cookie, lock
//   SHARE, UNSHARE (nlm_shareargs):  cookie, lock (caller name, fh, oh), mode, access, reclaim
//   FREE_ALL (nlm_notify):           lock.callerName (the name), state
//   the _RES procedures: see NlmResult
struct NlmArgs {
    uint32_t version;
    NlmCookie cookie;
    uint32_t block;
    uint32_t exclusive;
    uint32_t reclaim;
    uint32_t state;
    uint32_t mode;
    uint32_t access;
    NlmLock lock;
};

// The holder a denied TEST reports.
struct NlmHolder {
    uint32_t exclusive;
    uint32_t svid;
    uint32_t ohLength;
    uint8_t oh[NLM_MAX_NETOBJ];
    uint64_t offset;
    uint64_t length;  // 0: to the end of the file
};

// nlm_res, nlm_testres and nlm_shareres in one record.  The encoders write
// `stat` as it stands: use NlmStatForVersion first.
struct NlmResult {
    uint32_t version;
    NlmCookie cookie;
    uint32_t stat;
    NlmHolder holder;   // TEST with NLM_DENIED
    uint32_t sequence;  // SHARE, UNSHARE
};

// The decoders of the argument forms of `version` into a zeroed record
// (the _MSG procedures decode as their plain ones): nlm_testargs (TEST,
// GRANTED), nlm_lockargs (LOCK, NM_LOCK), nlm_cancargs, nlm_unlockargs,
// nlm_shareargs (SHARE, UNSHARE) and nlm_notify (FREE_ALL).  False when the
// arguments do not decode; arg_pos is then undefined.
bool NlmDecodeTestArgs(RpcCall *call, uint32_t version, NlmArgs *args);
bool NlmDecodeLockArgs(RpcCall *call, uint32_t version, NlmArgs *args);
bool NlmDecodeCancelArgs(RpcCall *call, uint32_t version, NlmArgs *args);
bool NlmDecodeUnlockArgs(RpcCall *call, uint32_t version, NlmArgs *args);
bool NlmDecodeShareArgs(RpcCall *call, uint32_t version, NlmArgs *args);
bool NlmDecodeNotify(RpcCall *call, uint32_t version, NlmArgs *args);
// nlm_res (proc NLMPROC_*_RES other than TEST_RES) or nlm_testres
// (NLMPROC_TEST_RES, and `testResult` true).
bool NlmDecodeResult(RpcCall *call, bool testResult, NlmResult *result);

// Encoders (XdrEncoder form; `result` points to an NlmResult, `args` to an
// NlmArgs).  They write at most NLM_MAX_ENCODED bytes.
uint32_t NlmEncodeRes(uint8_t *out, const void *result);
uint32_t NlmEncodeTestRes(uint8_t *out, const void *result);
uint32_t NlmEncodeShareRes(uint8_t *out, const void *result);
// nlm_testargs: the arguments of an NLM_GRANTED call.
uint32_t NlmEncodeTestArgs(uint8_t *out, const void *args);
#define NLM_MAX_ENCODED (4u * 12u + 3u * (4u + NLM_MAX_NETOBJ) + 4u + NLM_MAX_NAME + 4u + NLM_MAX_FH)

// The status a client of `version` understands: versions 1 and 3 know only
// 0 to 4, so a deadlock becomes DENIED and the other version 4 failures
// DENIED_NOLOCKS.
uint32_t NlmStatForVersion(uint32_t stat, uint32_t version);

// A lock's byte range as the table keeps it: first and last byte, inclusive.
// Length 0 reaches to the end (2^64 - 1), and so does a range that would
// pass it.
void NlmRangeOf(uint64_t offset, uint64_t length, uint64_t *first, uint64_t *last);
// The reverse for a reply of `version`: offset and length (0 = to the end).
// Versions 1 and 3 see ranges beyond 32 bits clipped: an offset past 2^32 - 1
// as 2^32 - 1, an end past it as "to the end".
void NlmWireRange(uint64_t first, uint64_t last, uint32_t version, uint64_t *offset, uint64_t *length);
