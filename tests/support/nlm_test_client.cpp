// The fake lock manager client of the tests.
#include "support/nlm_test_client.h"

#include "support/pmap_test_calls.h"

namespace {

const uint32_t NLM_PROGRAM = 100021;

void PutOffset(std::string &out, uint32_t vers, uint64_t value)
{
    if (vers >= 4)
        PutWord(out, static_cast<uint32_t>(value >> 32));
    PutWord(out, static_cast<uint32_t>(value));
}

std::string LockRecord(uint32_t vers, const NlmTestLock &lock)
{
    std::string out;
    PutOpaque(out, lock.caller);
    PutOpaque(out, lock.fh);
    PutOpaque(out, lock.oh);
    PutWord(out, lock.svid);
    PutOffset(out, vers, lock.offset);
    PutOffset(out, vers, lock.length);
    return out;
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
    std::string Opaque()
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
    std::string out;
    PutOpaque(out, cookie);
    PutWord(out, exclusive);
    return out + LockRecord(vers, lock);
}

std::string NlmLockArgs(uint32_t vers, const std::string &cookie, bool block, bool exclusive, const NlmTestLock &lock)
{
    std::string out;
    PutOpaque(out, cookie);
    PutWord(out, block);
    PutWord(out, exclusive);
    out += LockRecord(vers, lock);
    PutWord(out, lock.reclaim);
    PutWord(out, 1);  // state
    return out;
}

std::string NlmCancelArgs(uint32_t vers, const std::string &cookie, bool block, bool exclusive,
                          const NlmTestLock &lock)
{
    std::string out;
    PutOpaque(out, cookie);
    PutWord(out, block);
    PutWord(out, exclusive);
    return out + LockRecord(vers, lock);
}

std::string NlmUnlockArgs(uint32_t vers, const std::string &cookie, const NlmTestLock &lock)
{
    std::string out;
    PutOpaque(out, cookie);
    return out + LockRecord(vers, lock);
}

NlmTestResult NlmParseResult(const std::string &results, uint32_t vers, bool testResult)
{
    NlmTestResult r;
    Reader in{results};
    r.cookie = in.Opaque();
    r.stat = in.Word();
    if (testResult && r.stat == 1) {
        r.exclusive = in.Word() != 0;
        r.svid = in.Word();
        r.oh = in.Opaque();
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
    std::string call = NullAuthCall(++xid_, NLM_PROGRAM, vers, proc, args);
    if (unix_) {
        RpcCallParts parts;
        parts.xid = xid_;
        parts.prog = NLM_PROGRAM;
        parts.vers = vers;
        parts.proc = proc;
        parts.cred_flavor = 1;
        parts.cred_body = AuthUnixBody(0, "fakeclient", unixUid_, unixGid_, {unixGid_});
        call = BuildCall(parts) + args;
    }
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
    in.Opaque();  // credential
    in.Word();
    in.Opaque();  // verifier
    if (!in.ok || !isCall)
        return false;
    std::string args = call.substr(in.at);
    std::string results;
    if (callback->prog != NLM_PROGRAM) {
        Reader a{args};
        callback->monName = a.Opaque();
        callback->state = a.Word();
        if (callback->proc != 6 || !a.ok || a.at != args.size())
            return false;
    } else if (callback->proc == 5) {
        Reader a{args};
        callback->cookie = a.Opaque();
        callback->exclusive = a.Word() != 0;
        NlmTestLock &lock = callback->lock;
        lock.caller = a.Opaque();
        lock.fh = a.Opaque();
        lock.oh = a.Opaque();
        lock.svid = a.Word();
        lock.offset = a.Offset(callback->vers);
        lock.length = a.Offset(callback->vers);
        if (!a.ok || a.at != args.size())
            return false;
        if (grantedAnswer == NLM_TEST_SILENT)
            return true;
        PutOpaque(results, callback->cookie);
        PutWord(results, grantedAnswer);
    } else {
        callback->result = NlmParseResult(args, callback->vers, callback->proc == 11);
        if (!callback->result.ok)
            return false;
    }
    std::string reply;
    for (uint32_t word : {xid, 1u, 0u, 0u, 0u, 0u})
        PutWord(reply, word);
    return callbacks_.Send(from, reply + results);
}

NlmTestResult NlmTestClient::Result(uint32_t vers, uint32_t proc, const std::string &args)
{
    RpcReplyView reply = Call(vers, proc, args, true);
    if (!reply.valid || reply.reply_stat != 0 || reply.accept_stat != 0)
        return NlmTestResult();
    return NlmParseResult(reply.results, vers, proc == 1);
}
