// The procedures of nlmd, one table per version served by the generic
// dispatch (rpc/rpc_procedure.h): each finds the file and works on the lock
// table; once the reply has left, the calls that are due go to the delivery
// thread.
#include <atomic>
#include <cstring>
#include <new>

#include "nlm/nlm_delivery.h"
#include "nlm/nlm_procs.h"
#include "nlm/nlm_service.h"
#include "nlm/nsm_clients.h"
#include "rpc/rpc_message.h"
#include "rpc/rpc_procedure.h"
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

// One request in service, and what it brought about for after its reply: a
// _MSG procedure's answer (a _RES call) and the waiters it granted.
struct NlmRequest {
    RpcTransport *transport;
    RpcCall *call;
    uint32_t client;  // IPv4 address, network order
    NlmOutCall *answer;
    NlmGrantList *granted;
};

// The owner a request names and its byte range, first..last.
struct Named {
    NlmOwner owner;
    uint64_t first, last;
};
Named NamedBy(const NlmRequest *r, const NlmArgs *args)
{
    Named named = {{r->client, args->lock.svid, args->lock.ohLength, args->lock.oh}, 0, 0};
    NlmRangeOf(args->lock.offset, args->lock.length, &named.first, &named.last);
    return named;
}

uint32_t Acquire(const NlmRequest *r, const NlmArgs *args, bool open, void **file)
{
    *file = nullptr;
    if (!HaveBinding)
        return open ? static_cast<uint32_t>(NLM_FAILED) : static_cast<uint32_t>(NLM_GRANTED);
    NlmFileRequest request = {&args->lock, args->version, r->client,
                              r->call->cred_flavor == AUTH_UNIX ? &r->call->auth : nullptr, args->exclusive != 0};
    uint32_t stat = Binding.acquire(&request, open, file);
    if (stat == NLM_GRANTED && open && *file == nullptr)
        stat = NLM_FAILED;
    return stat;
}

// The NLM_GRANTED call of a request that may have to wait: its lock as
// asked, under our own cookie.
NlmOutCall *GrantedCall(const NlmRequest *r, const NlmArgs *args)
{
    static_assert(sizeof GrantedCookie - 1 <= NLM_MAX_NETOBJ, "cookie");
    NlmArgs granted = *args;
    granted.cookie.length = sizeof GrantedCookie - 1;
    memcpy(granted.cookie.data, GrantedCookie, granted.cookie.length);
    return NlmNewOutCall(r->call, r->client, r->transport->protocol, NLMPROC_GRANTED, NlmEncodeTestArgs, &granted);
}

// LOCK, and NM_LOCK, which asks for a lock without monitoring.
template <bool Monitor>
uint32_t Lock(NlmRequest *r, const NlmArgs *args, NlmResult *)
{
    if (!args->reclaim && Grace())
        return NLM_DENIED_GRACE_PERIOD;
    void *file;
    uint32_t stat = Acquire(r, args, true, &file);
    if (stat != NLM_GRANTED)
        return stat;
    const Named named = NamedBy(r, args);
    NlmLockRequest request = {file, named.owner, named.first, named.last, args->exclusive != 0,
                              args->block != 0, args->lock.callerName, nullptr};
    if (request.block)
        request.call = GrantedCall(r, args);
    stat = NlmTableLock(&request, GetTickCount(), r->granted);
    if (request.call != nullptr)
        NlmOutCallFree(request.call);
    Binding.release(file);
    if (Monitor && (stat == NLM_GRANTED || stat == NLM_BLOCKED))
        NsmMonitor(r->client);
    return stat;
}

uint32_t Test(NlmRequest *r, const NlmArgs *args, NlmResult *result)
{
    void *file;
    uint32_t stat = Acquire(r, args, false, &file);
    if (stat != NLM_GRANTED || file == nullptr)
        return stat;
    const Named named = NamedBy(r, args);
    NlmTableHolder holder;
    stat = NlmTableTest(file, &named.owner, named.first, named.last, args->exclusive != 0, &holder);
    Binding.release(file);
    if (stat == NLM_DENIED) {
        NlmHolder *h = &result->holder;
        h->exclusive = holder.exclusive;
        h->svid = holder.svid;
        h->ohLength = holder.ohLength;
        memcpy(h->oh, holder.oh, holder.ohLength);
        NlmWireRange(holder.first, holder.last, args->version, &h->offset, &h->length);
    }
    return stat;
}

uint32_t Cancel(NlmRequest *r, const NlmArgs *args, NlmResult *)
{
    void *file;
    if (Acquire(r, args, false, &file) != NLM_GRANTED)
        return NLM_DENIED;
    if (file != nullptr) {
        const Named named = NamedBy(r, args);
        NlmTableCancel(file, &named.owner, named.first, named.last, GetTickCount(), r->granted);
        Binding.release(file);
    }
    return NLM_GRANTED;
}

uint32_t Unlock(NlmRequest *r, const NlmArgs *args, NlmResult *)
{
    void *file;
    // A handle that no longer resolves holds no locks any more.
    if (Acquire(r, args, false, &file) != NLM_GRANTED || file == nullptr)
        return NLM_GRANTED;
    const Named named = NamedBy(r, args);
    uint32_t stat = NlmTableUnlock(file, &named.owner, named.first, named.last, GetTickCount(), r->granted);
    Binding.release(file);
    return stat;
}

// DOS share reservations are not offered.
uint32_t Share(NlmRequest *, const NlmArgs *, NlmResult *)
{
    return NLM_DENIED_NOLOCKS;
}
uint32_t Unshare(NlmRequest *, const NlmArgs *, NlmResult *)
{
    return NLM_GRANTED;
}

void FreeAll(NlmRequest *r, const NlmArgs *args, RpcNothing *)
{
    NlmTableFreeAll(args->lock.callerName, GetTickCount(), r->granted);
}

typedef uint32_t (*NlmOperation)(NlmRequest *r, const NlmArgs *args, NlmResult *result);

// The result of an operation, with the call's cookie and the status as the
// version knows it.
template <NlmOperation Operation>
void Answer(NlmRequest *r, const NlmArgs *args, NlmResult *result)
{
    result->version = args->version;
    result->cookie = args->cookie;
    result->stat = NlmStatForVersion(Operation(r, args, result), args->version);
}

// A _MSG procedure: the operation's result goes back as a call of procedure
// Reply to the client, after the call's empty reply.
template <NlmOperation Operation, NlmProc Reply, XdrEncoder Encode>
void AnswerByCall(NlmRequest *r, const NlmArgs *args, RpcNothing *)
{
    NlmResult result;
    memset(&result, 0, sizeof result);
    Answer<Operation>(r, args, &result);
    r->answer = NlmNewOutCall(r->call, r->client, r->transport->protocol, Reply, Encode, &result);
}

// An argument form as version V carries it.
template <uint32_t V, bool (*Form)(RpcCall *, uint32_t, NlmArgs *)>
bool Decode(RpcCall *call, NlmArgs *args)
{
    return Form(call, V, args);
}

#define NLM_PROCEDURE_COUNT (NLMPROC_FREE_ALL + 1u)

// The procedures of version V by number: how each decodes, works and
// answers, and its name in the log.  None is answered from the duplicate
// request cache: a repeated request finds the table as its first left it.
// NLM_GRANTED and the _RES forms other than GRANTED_RES are this server's
// own calls to clients and not offered; our NLM_GRANTED calls are answered
// directly, so a GRANTED_RES is taken in without a word.
template <uint32_t V>
const RpcProcedure Procedures[NLM_PROCEDURE_COUNT] = {
    RpcNullRow("nlm_null"),
    RpcRow<Decode<V, NlmDecodeTestArgs>, Answer<Test>>("nlm_test", NlmEncodeTestRes),
    RpcRow<Decode<V, NlmDecodeLockArgs>, Answer<Lock<true>>>("nlm_lock", NlmEncodeRes),
    RpcRow<Decode<V, NlmDecodeCancelArgs>, Answer<Cancel>>("nlm_cancel", NlmEncodeRes),
    RpcRow<Decode<V, NlmDecodeUnlockArgs>, Answer<Unlock>>("nlm_unlock", NlmEncodeRes),
    {},
    RpcRow<Decode<V, NlmDecodeTestArgs>, AnswerByCall<Test, NLMPROC_TEST_RES, NlmEncodeTestRes>>(
        "nlm_test_msg", XdrPutNothing),
    RpcRow<Decode<V, NlmDecodeLockArgs>, AnswerByCall<Lock<true>, NLMPROC_LOCK_RES, NlmEncodeRes>>(
        "nlm_lock_msg", XdrPutNothing),
    RpcRow<Decode<V, NlmDecodeCancelArgs>, AnswerByCall<Cancel, NLMPROC_CANCEL_RES, NlmEncodeRes>>(
        "nlm_cancel_msg", XdrPutNothing),
    RpcRow<Decode<V, NlmDecodeUnlockArgs>, AnswerByCall<Unlock, NLMPROC_UNLOCK_RES, NlmEncodeRes>>(
        "nlm_unlock_msg", XdrPutNothing),
    {}, {}, {}, {}, {},
    RpcUnansweredRow("nlm_granted_res"),
    {}, {}, {}, {},
    RpcRow<Decode<V, NlmDecodeShareArgs>, Answer<Share>>("nlm_share", NlmEncodeShareRes),
    RpcRow<Decode<V, NlmDecodeShareArgs>, Answer<Unshare>>("nlm_unshare", NlmEncodeShareRes),
    RpcRow<Decode<V, NlmDecodeLockArgs>, Answer<Lock<false>>>("nlm_nm_lock", NlmEncodeRes),
    RpcRow<Decode<V, NlmDecodeNotify>, FreeAll>("nlm_free_all", XdrPutNothing),
};

const RpcProcedure *ProceduresOf(uint32_t version)
{
    switch (version) {
    case 1:
        return Procedures<1>;
    case 3:
        return Procedures<3>;
    case 4:
        return Procedures<4>;
    default:
        return nullptr;
    }
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
    const RpcProcedure *table = ProceduresOf(call->vers);
    const RpcProcedure *procedure = table != nullptr ? RpcProcedureOf(table, NLM_PROCEDURE_COUNT, call) : nullptr;
    if (procedure == nullptr) {
        ReplyAccepted(transport, call, PROC_UNAVAIL);
        return;
    }
    NlmGrantList granted;
    granted.count = 0;
    NlmRequest request = {transport, call, transport->peer.sin_addr.s_addr, nullptr, &granted};
    RpcServeProcedure(transport, call, procedure, &request);
    // Clients hear of a request's answer before the grants it brought about.
    if (request.answer != nullptr)
        NlmDeliver(request.answer);
    NlmDeliverGrants(&granted);
}
