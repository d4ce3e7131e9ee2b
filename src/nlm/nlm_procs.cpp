// The procedures of nlmd: decode, find the file, work on the lock table,
// answer, then hand the calls that are due to the delivery thread.
#include <atomic>
#include <cstring>
#include <new>

#include "log/log.h"
#include "nlm/nlm_delivery.h"
#include "nlm/nlm_procs.h"
#include "nlm/nlm_service.h"
#include "nlm/nsm_clients.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

NlmFileBinding Binding;
bool HaveBinding = false;
// The grace period after a start: only reclaims until GraceEnd.
std::atomic<bool> InGrace{false};
std::atomic<uint32_t> GraceEnd{0};

bool Grace()
{
    if (!InGrace.load())
        return false;
    if (static_cast<int32_t>(GraceEnd.load() - GetTickCount()) > 0)
        return true;
    InGrace = false;
    return false;
}

bool NoLock(void *, uint64_t, uint64_t)
{
    return false;
}
void NoUnlock(void *, uint64_t, uint64_t) {}
void NoRefer(void *, int) {}
const NlmFileOps NoOps = {NoLock, NoUnlock, NoRefer};

// The cookie of every NLM_GRANTED call.
const char GrantedCookie[] = "korvane";

struct Request {
    RpcTransport *transport;
    RpcCall *call;
    NlmArgs args;
    NlmResult result;
    NlmOwner owner;
    uint64_t first;
    uint64_t last;
    NlmGrantList granted;
};

uint32_t Acquire(Request &r, bool open, void **file)
{
    *file = nullptr;
    if (!HaveBinding)
        return open ? static_cast<uint32_t>(NLM_FAILED) : static_cast<uint32_t>(NLM_GRANTED);
    NlmFileRequest request = {&r.args.lock, r.args.version, r.owner.client,
                              r.call->cred_flavor == AUTH_UNIX ? &r.call->auth : nullptr, r.args.exclusive != 0};
    uint32_t stat = Binding.acquire(&request, open, file);
    if (stat == NLM_GRANTED && open && *file == nullptr)
        stat = NLM_FAILED;
    return stat;
}

// The NLM_GRANTED call of a request that may have to wait: its lock as
// asked, under our own cookie.
NlmOutCall *GrantedCall(Request &r)
{
    static_assert(sizeof GrantedCookie - 1 <= NLM_MAX_NETOBJ, "cookie");
    NlmArgs granted = r.args;
    granted.cookie.length = sizeof GrantedCookie - 1;
    memcpy(granted.cookie.data, GrantedCookie, granted.cookie.length);
    return NlmNewOutCall(r.call, r.owner.client, r.transport->protocol, NLMPROC_GRANTED, NlmEncodeTestArgs,
                         &granted);
}

uint32_t Lock(Request &r)
{
    if (!r.args.reclaim && Grace())
        return NLM_DENIED_GRACE_PERIOD;
    void *file;
    uint32_t stat = Acquire(r, true, &file);
    if (stat != NLM_GRANTED)
        return stat;
    NlmLockRequest request = {file,          r.owner, r.first, r.last, r.args.exclusive != 0, r.args.block != 0,
                              r.args.lock.callerName, nullptr};
    if (request.block)
        request.call = GrantedCall(r);
    stat = NlmTableLock(&request, GetTickCount(), &r.granted);
    if (request.call != nullptr)
        NlmOutCallFree(request.call);
    Binding.release(file);
    // NM_LOCK asks for a lock without monitoring.
    if ((stat == NLM_GRANTED || stat == NLM_BLOCKED) && r.call->proc != NLMPROC_NM_LOCK)
        NsmMonitor(r.owner.client);
    return stat;
}

uint32_t Test(Request &r)
{
    void *file;
    uint32_t stat = Acquire(r, false, &file);
    if (stat != NLM_GRANTED || file == nullptr)
        return stat;
    NlmTableHolder holder;
    stat = NlmTableTest(file, &r.owner, r.first, r.last, r.args.exclusive != 0, &holder);
    Binding.release(file);
    if (stat == NLM_DENIED) {
        NlmHolder *h = &r.result.holder;
        h->exclusive = holder.exclusive;
        h->svid = holder.svid;
        h->ohLength = holder.ohLength;
        memcpy(h->oh, holder.oh, holder.ohLength);
        NlmWireRange(holder.first, holder.last, r.args.version, &h->offset, &h->length);
    }
    return stat;
}

uint32_t Cancel(Request &r)
{
    void *file;
    uint32_t stat = Acquire(r, false, &file);
    if (stat != NLM_GRANTED)
        return NLM_DENIED;
    if (file != nullptr) {
        NlmTableCancel(file, &r.owner, r.first, r.last, GetTickCount(), &r.granted);
        Binding.release(file);
    }
    return NLM_GRANTED;
}

uint32_t Unlock(Request &r)
{
    void *file;
    // A handle that no longer resolves holds no locks any more.
    if (Acquire(r, false, &file) != NLM_GRANTED || file == nullptr)
        return NLM_GRANTED;
    uint32_t stat = NlmTableUnlock(file, &r.owner, r.first, r.last, GetTickCount(), &r.granted);
    Binding.release(file);
    return stat;
}

// The work of one procedure (the _MSG forms as their plain procedure).
uint32_t Perform(Request &r, uint32_t proc)
{
    switch (proc) {
    case NLMPROC_TEST:
        return Test(r);
    case NLMPROC_LOCK:
    case NLMPROC_NM_LOCK:
        return Lock(r);
    case NLMPROC_CANCEL:
        return Cancel(r);
    case NLMPROC_UNLOCK:
        return Unlock(r);
    case NLMPROC_SHARE:
        // DOS share reservations are not offered.
        return NLM_DENIED_NOLOCKS;
    case NLMPROC_FREE_ALL:
        NlmTableFreeAll(r.args.lock.callerName, GetTickCount(), &r.granted);
        return NLM_GRANTED;
    default:  // UNSHARE
        return NLM_GRANTED;
    }
}

XdrEncoder EncoderOf(uint32_t proc)
{
    if (proc == NLMPROC_TEST)
        return NlmEncodeTestRes;
    if (proc == NLMPROC_SHARE || proc == NLMPROC_UNSHARE)
        return NlmEncodeShareRes;
    return NlmEncodeRes;
}

}  // namespace

void NlmSetFileBinding(const NlmFileBinding *binding)
{
    HaveBinding = binding != nullptr;
    if (HaveBinding)
        Binding = *binding;
}

void NlmProcsReset(void)
{
    NlmTableInit(HaveBinding ? &Binding.ops : &NoOps);
    InGrace = false;
    NlmTableSetBounds(NlmLocksMax > 0 ? static_cast<uint32_t>(NlmLocksMax) : 0,
                      NlmLocksPerClient > 0 ? static_cast<uint32_t>(NlmLocksPerClient) : 0);
}

void NlmReleaseFile(void *file)
{
    NlmTableReleaseFile(file);
}

void NlmBeginGrace(uint32_t ms)
{
    GraceEnd = GetTickCount() + ms;
    InGrace = ms > 0;
}

void NlmReleaseClient(uint32_t address, const char *name)
{
    NlmGrantList *granted = new (std::nothrow) NlmGrantList;
    if (granted == nullptr)
        return;
    granted->count = 0;
    NlmTableFreeClient(address, name, GetTickCount(), granted);
    NlmDeliverGrants(granted);
    delete granted;
}

void NlmDispatch(RpcTransport *transport, RpcCall *call)
{
    const uint32_t proc = call->proc;
    switch (proc) {
    case NLMPROC_NULL:
        ReplySuccess(transport, call, XdrPutNothing, nullptr);
        return;
    case NLMPROC_GRANTED_RES:
        // Our NLM_GRANTED calls are answered directly; a _RES is ignored.
        return;
    case NLMPROC_TEST:
    case NLMPROC_LOCK:
    case NLMPROC_CANCEL:
    case NLMPROC_UNLOCK:
    case NLMPROC_TEST_MSG:
    case NLMPROC_LOCK_MSG:
    case NLMPROC_CANCEL_MSG:
    case NLMPROC_UNLOCK_MSG:
    case NLMPROC_SHARE:
    case NLMPROC_UNSHARE:
    case NLMPROC_NM_LOCK:
    case NLMPROC_FREE_ALL:
        break;
    default:
        ReplyAccepted(transport, call, PROC_UNAVAIL);
        return;
    }
    Request *r = new (std::nothrow) Request;
    if (r == nullptr) {
        ReplyAccepted(transport, call, SYSTEM_ERR);
        return;
    }
    r->transport = transport;
    r->call = call;
    r->granted.count = 0;
    if (!NlmDecodeArgs(call, proc, &r->args)) {
        LogLine(2, "nlmd: cannot decode arguments of procedure %u\n", proc);
        ReplyAccepted(transport, call, GARBAGE_ARGS);
        delete r;
        return;
    }
    const bool message = proc >= NLMPROC_TEST_MSG && proc <= NLMPROC_UNLOCK_MSG;
    const uint32_t base = message ? proc - 5 : proc;
    r->owner = NlmOwner{transport->peer.sin_addr.s_addr, r->args.lock.svid, r->args.lock.ohLength, r->args.lock.oh};
    NlmRangeOf(r->args.lock.offset, r->args.lock.length, &r->first, &r->last);
    memset(&r->result, 0, sizeof r->result);
    r->result.version = call->vers;
    r->result.cookie = r->args.cookie;
    r->result.stat = NlmStatForVersion(Perform(*r, base), call->vers);

    if (message) {
        NlmOutCall *answer = NlmNewOutCall(call, r->owner.client, transport->protocol, base + 10, EncoderOf(base),
                                           &r->result);
        ReplySuccess(transport, call, XdrPutNothing, nullptr);
        NlmDeliver(answer);
    } else if (proc == NLMPROC_FREE_ALL) {
        ReplySuccess(transport, call, XdrPutNothing, nullptr);
    } else {
        ReplySuccess(transport, call, EncoderOf(base), &r->result);
    }
    // Clients hear of an unlock before the grants it brought about.
    NlmDeliverGrants(&r->granted);
    delete r;
}
