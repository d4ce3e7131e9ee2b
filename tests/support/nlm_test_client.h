// A fake lock manager client for tests, independent of the server's NLM
// code: NLM calls of every version built byte by byte, and a callback service
// (UDP, registered as program 100021) that answers NLM_GRANTED and _RES calls.
#pragma once

#include <cstdint>
#include <string>

#include "support/rpc_test_client.h"

struct NlmTestLock {
    std::string caller = "fakeclient", fh, oh;  // fh: 32 bytes for versions 1 and 3
    uint32_t svid = 0;
    uint64_t offset = 0, length = 0;
    bool reclaim = false;  // LOCK only
};

// Argument bytes; versions 1 and 3 carry 32-bit offsets, version 4 64-bit.
std::string NlmTestArgs(uint32_t vers, const std::string &cookie, bool exclusive, const NlmTestLock &lock);
std::string NlmLockArgs(uint32_t vers, const std::string &cookie, bool block, bool exclusive, const NlmTestLock &lock);
std::string NlmCancelArgs(uint32_t vers, const std::string &cookie, bool block, bool exclusive,
                          const NlmTestLock &lock);
std::string NlmUnlockArgs(uint32_t vers, const std::string &cookie, const NlmTestLock &lock);

// nlm_res, or nlm_testres (with the holder when stat is 1), taken apart
// strictly: ok only when exactly the record is there.
struct NlmTestResult {
    bool ok = false;
    std::string cookie;
    uint32_t stat = 0xFFFFFFFFu;
    bool exclusive = false;
    uint32_t svid = 0;
    std::string oh;
    uint64_t offset = 0, length = 0;
};

// A call that reached the callback service.
struct NlmTestCallback {
    uint32_t prog = 0;  // 100021, or 100024 for SM_NOTIFY (its name and state)
    std::string monName;
    uint32_t state = 0, vers = 0, proc = 0;
    // NLM_GRANTED: its arguments (cookie, exclusive, lock).
    std::string cookie;
    bool exclusive = false;
    NlmTestLock lock;
    // The _RES calls: their record.
    NlmTestResult result;
};

#define NLM_TEST_SILENT 0xFFFFFFFFu

class NlmTestClient {
public:
    // The server's lock manager and port mapper ports on 127.0.0.1.
    NlmTestClient(uint16_t nlmPort, uint16_t pmapPort);
    ~NlmTestClient();
    NlmTestClient(const NlmTestClient &) = delete;
    NlmTestClient &operator=(const NlmTestClient &) = delete;

    // Registers the callback socket as (prog, vers, UDP) with the port
    // mapper; withdrawn again when the client goes.
    bool Register(uint32_t vers, uint32_t prog = 100021);
    // Calls from here on carry AUTH_UNIX with these ids (default AUTH_NULL).
    void UseUnixCredential(uint32_t uid, uint32_t gid) { unixUid_ = uid, unixGid_ = gid, unix_ = true; }
    // One call; the reply (valid false when none came).
    RpcReplyView Call(uint32_t vers, uint32_t proc, const std::string &args, bool tcp, int timeoutMs = 3000);
    // Waits for one call to the callback service and answers it: NLM_GRANTED
    // with nlm_res (its cookie, `grantedAnswer`; NLM_TEST_SILENT: no answer),
    // the rest with an empty reply.  False when none came in time or it did
    // not parse.
    bool AwaitCallback(NlmTestCallback *callback, int timeoutMs, uint32_t grantedAnswer = 0);
    // A plain procedure over TCP; its result record (ok false on any other
    // reply), or just the status of LOCK and UNLOCK.
    NlmTestResult Result(uint32_t vers, uint32_t proc, const std::string &args);
    uint32_t Lock(const NlmTestLock &lock, bool exclusive, bool block = false, uint32_t vers = 4)
    {
        return Result(vers, 2, NlmLockArgs(vers, "lock", block, exclusive, lock)).stat;
    }
    uint32_t Unlock(const NlmTestLock &lock, uint32_t vers = 4)
    {
        return Result(vers, 4, NlmUnlockArgs(vers, "unlock", lock)).stat;
    }
    NlmTestResult Test(const NlmTestLock &lock, bool exclusive, uint32_t vers = 4)
    {
        return Result(vers, 1, NlmTestArgs(vers, "test", exclusive, lock));
    }

private:
    uint16_t nlmPort_;
    uint16_t pmapPort_;
    uint16_t callbackPort_ = 0;
    RpcUdpClient callbacks_;
    RpcUdpClient requests_;
    uint32_t xid_;
    uint32_t registered_[8][2] = {};
    int registrations_ = 0;
    bool unix_ = false;
    uint32_t unixUid_ = 0, unixGid_ = 0;
};
