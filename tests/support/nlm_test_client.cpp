// The fake lock manager client of the tests.
#include "support/nlm_test_client.h"

#include "support/pmap_test_calls.h"

namespace {

const uint32_t NLM_PROGRAM = 100021;

// Versions 1 and 3 carry 32-bit offsets, version 4 64-bit.
std::string Offset(uint32_t vers, uint64_t value)
{
    return vers >= 4 ? Words({static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)})
                     : Words({static_cast<uint32_t>(value)});
}

std::string LockRecord(uint32_t vers, const NlmTestLock &lock)
{
    return CountedOpaque(lock.caller) + CountedOpaque(lock.fh) + CountedOpaque(lock.oh) + Words({lock.svid}) +
           Offset(vers, lock.offset) + Offset(vers, lock.length);
}

// A strict reader of XDR bytes.
struct Reader {
    const std::string &bytes;
    size_t at = 0;
    bool ok = true;
    uint32_t Word()
    {
        if (at + 4 > bytes.size()) {
            ok = false;
            return 0;
        }
        at += 4;
        return WordAt(bytes, at - 4);
    }
    uint64_t Offset(uint32_t vers)
    {
        uint64_t high = vers >= 4 ? Word() : 0;
        return high << 32 | Word();
    }
    std::string CountedOpaque()
    {
        uint32_t length = Word();
        size_t padded = (static_cast<size_t>(length) + 3) & ~static_cast<size_t>(3);
        if (!ok || length > 4096 || at + padded > bytes.size()) {
            ok = false;
            return "";
        }
        std::string value = bytes.substr(at, length);
        at += padded;
        return value;
    }
};

}  // namespace


std::string NlmTestArgs(uint32_t vers, const std::string &cookie, bool exclusive, const NlmTestLock &lock)
{
    return CountedOpaque(cookie) + Words({exclusive}) + LockRecord(vers, lock);
}

std::string NlmLockArgs(uint32_t vers, const std::string &cookie, bool block, bool exclusive, const NlmTestLock &lock)
{
    return NlmCancelArgs(vers, cookie, block, exclusive, lock) + Words({lock.reclaim, 1});  // state 1
}

std::string NlmCancelArgs(uint32_t vers, const std::string &cookie, bool block, bool exclusive,
                          const NlmTestLock &lock)
{
    return CountedOpaque(cookie) + Words({block, exclusive}) + LockRecord(vers, lock);
}

std::string NlmUnlockArgs(uint32_t vers, const std::string &cookie, const NlmTestLock &lock)
{
    return CountedOpaque(cookie) + LockRecord(vers, lock);
}

static NlmTestResult NlmParseResult(const std::string &results, uint32_t vers, bool testResult)
{
    NlmTestResult r;
    Reader in{results};
    r.cookie = in.CountedOpaque();
    r.stat = in.Word();
    if (testResult && r.stat == 1) {
        r.exclusive = in.Word() != 0;
        r.svid = in.Word();
        r.oh = in.CountedOpaque();
        r.offset = in.Offset(vers);
        r.length = in.Offset(vers);
    }
    r.ok = in.ok && in.at == results.size();
    return r;
}

NlmTestClient::NlmTestClient(uint16_t nlmPort, uint16_t pmapPort)
    : nlmPort_(nlmPort), pmapPort_(pmapPort), xid_(0x4E4C0000u + GetTickCount() % 0x10000u)
{
    sockaddr_in local;
    int length = sizeof local;
    if (callbacks_.ok() && getsockname(callbacks_.handle(), reinterpret_cast<sockaddr *>(&local), &length) == 0)
        callbackPort_ = ntohs(local.sin_port);
}

NlmTestClient::~NlmTestClient()
{
    for (int i = 0; i < registrations_; i++) {
        std::string reply;
        requests_.Call(RpcTestAddress(pmapPort_),
                       NullAuthCall(++xid_, 100000, 2, 2, PmapMappingArgs(registered_[i][0], registered_[i][1], 17, 0)),
                       &reply, 2000);
    }
}

bool NlmTestClient::Register(uint32_t vers, uint32_t prog)
{
    std::string reply;
    if (callbackPort_ == 0 || registrations_ == 8 ||
        !requests_.Call(RpcTestAddress(pmapPort_),
                        NullAuthCall(++xid_, 100000, 2, 1, PmapMappingArgs(prog, vers, 17, callbackPort_)),
                        &reply, 2000) ||
        PmapWordAnswer(reply) != 1)
        return false;
    registered_[registrations_][0] = prog;
    registered_[registrations_++][1] = vers;
    return true;
}

RpcReplyView NlmTestClient::Call(uint32_t vers, uint32_t proc, const std::string &args, bool tcp, int timeoutMs)
{
    RpcCallParts parts{++xid_, 0, 2, NLM_PROGRAM, vers, proc, 0, "", 0, ""};
    if (unix_) {
        parts.cred_flavor = 1;
        parts.cred_body = AuthUnixBody(0, "fakeclient", unixUid_, unixGid_, {unixGid_});
    }
    const std::string call = BuildCall(parts) + args;
    std::string reply;
    bool answered;
    if (tcp) {
        RpcTcpClient connection;
        answered = connection.Connect(RpcTestAddress(nlmPort_)) && connection.Call(call, &reply, timeoutMs);
    } else {
        answered = requests_.Call(RpcTestAddress(nlmPort_), call, &reply, timeoutMs);
    }
    return answered ? ParseReply(reply) : RpcReplyView();
}

bool NlmTestClient::AwaitCallback(NlmTestCallback *callback, int timeoutMs, uint32_t grantedAnswer)
{
    std::string call;
    sockaddr_in from;
    if (!callbacks_.Receive(&call, timeoutMs, &from))
        return false;
    Reader in{call};
    uint32_t xid = in.Word();
    bool isCall = in.Word() == 0 && in.Word() == 2;
    callback->prog = in.Word();
    isCall = isCall && (callback->prog == NLM_PROGRAM || callback->prog == 100024);
    callback->vers = in.Word();
    callback->proc = in.Word();
    in.Word();
    in.CountedOpaque();  // credential
    in.Word();
    in.CountedOpaque();  // verifier
    if (!in.ok || !isCall)
        return false;
    std::string args = call.substr(in.at);
    std::string results;
    if (callback->prog != NLM_PROGRAM) {
        Reader a{args};
        callback->monName = a.CountedOpaque();
        callback->state = a.Word();
        if (callback->proc != 6 || !a.ok || a.at != args.size())
            return false;
    } else if (callback->proc == 5) {
        Reader a{args};
        callback->cookie = a.CountedOpaque();
        callback->exclusive = a.Word() != 0;
        NlmTestLock &lock = callback->lock;
        lock.caller = a.CountedOpaque();
        lock.fh = a.CountedOpaque();
        lock.oh = a.CountedOpaque();
        lock.svid = a.Word();
        lock.offset = a.Offset(callback->vers);
        lock.length = a.Offset(callback->vers);
        if (!a.ok || a.at != args.size())
            return false;
        if (grantedAnswer == NLM_TEST_SILENT)
            return true;
        results = CountedOpaque(callback->cookie) + Words({grantedAnswer});
    } else {
        callback->result = NlmParseResult(args, callback->vers, callback->proc == 11);
        if (!callback->result.ok)
            return false;
    }
    return callbacks_.Send(from, Words({xid, 1, 0, 0, 0, 0}) + results);
}

NlmTestResult NlmTestClient::Result(uint32_t vers, uint32_t proc, const std::string &args)
{
    RpcReplyView reply = Call(vers, proc, args, true);
    if (!reply.valid || reply.reply_stat != 0 || reply.accept_stat != 0)
        return NlmTestResult();
    return NlmParseResult(reply.results, vers, proc == 1);
}
