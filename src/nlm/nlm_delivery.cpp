// The delivery thread of the lock manager's calls to its clients.
#include "nlm/nlm_delivery.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "nlm/nlm_worker.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"
#include "rpc/port_mapper.h"
#include "rpc/port_mapper_internal.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

const uint32_t BUFFER_SIZE = 8192;

RankedLock QueueLock(LOCK_RANK_LEAF, "lock manager delivery queue");
// Set by the first start: calls made before it are dropped.
bool QueueReady = false;
NlmOutCall *Queue = nullptr;
bool Accepting = false;  // under QueueLock: the thread runs and takes calls
NlmWorker Delivery;
uint16_t OwnPorts[2];  // UDP, TCP

void Push(NlmOutCall *call)
{
    LockTake(&QueueLock);
    bool accepted = Accepting;
    if (accepted) {
        call->next = Queue;
        Queue = call;
        SetEvent(Delivery.wake);
    }
    LockGive(&QueueLock);
    if (!accepted)
        NlmOutCallFree(call);
}

// Takes the call whose time has come, or reports in *wait how long until
// the next one.
NlmOutCall *PopDue(uint32_t now, uint32_t *wait)
{
    LockTake(&QueueLock);
    NlmOutCall **due = nullptr;
    for (NlmOutCall **p = &Queue; *p != nullptr; p = &(*p)->next) {
        int32_t left = static_cast<int32_t>((*p)->due - now);
        if (left <= 0) {
            due = p;
        } else if (static_cast<uint32_t>(left) < *wait) {
            *wait = static_cast<uint32_t>(left);
        }
    }
    NlmOutCall *call = nullptr;
    if (due != nullptr) {
        call = *due;
        *due = call->next;
        call->next = nullptr;
    }
    LockGive(&QueueLock);
    return call;
}

// A socket for a call to address:port (network order address, host order
// port).  A TCP connection that does not come about within RPCTIMEOUT
// seconds counts as failed.
bool OpenTo(RpcTransport *t, uint32_t protocol, uint32_t address, uint16_t port)
{
    memset(&t->peer, 0, sizeof t->peer);
    t->peer.sin_family = AF_INET;
    t->peer.sin_port = htons(port);
    t->peer.sin_addr.s_addr = address;
    t->peer_length = static_cast<int>(sizeof t->peer);
    t->protocol = static_cast<uint16_t>(protocol);
    if (protocol == RPC_PROTO_UDP) {
        t->socket = OpenUdpSocket(0, 0);
        return t->socket != INVALID_SOCKET;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    bool connected = connect(s, reinterpret_cast<const sockaddr *>(&t->peer), t->peer_length) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval wait = {RPCTIMEOUT > 0 ? RPCTIMEOUT : 1, 0};
        int error = 0;
        int length = static_cast<int>(sizeof error);
        connected = select(static_cast<int>(s) + 1, nullptr, &writable, nullptr, &wait) == 1 &&
                    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) == 0 &&
                    error == 0;
    }
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    t->socket = connected ? s : CloseSocket(s);
    return connected;
}

// Sends the call built in the transport and waits for the reply: its length
// (results from byte 24) or 0 / a negative ClientCheckReply code.
int RoundTrip(RpcTransport *t, uint32_t protocol, uint32_t address, uint16_t port)
{
    if (!OpenTo(t, protocol, address, port))
        return 0;
    if (TransportSend(t) <= 0) {
        t->socket = CloseSocket(t->socket);
        return 0;
    }
    return ClientAwaitReply(t);
}

// The port of the client's lock manager for the call's version over
// `protocol`, as the client's port mapper names it; 0 when none.
uint16_t ClientPort(RpcTransport *t, const NlmOutCall *call, uint32_t protocol)
{
    uint32_t n = ClientBuildCall(t, PMAP_PROG, PMAP_VERS, PMAPPROC_GETPORT, nullptr, nullptr);
    n += XdrPack(t->buffer + n, "qqqq", NLM_PROG, call->version, protocol, 0u);
    t->length = static_cast<int32_t>(n);
    if (RoundTrip(t, RPC_PROTO_UDP, call->client, PmapPort) != 28)
        return 0;
    uint32_t port = XdrLoad32(t->buffer + 24);
    if (port == 0 || port > 65535)
        return 0;
    // Our own registration answers for this computer: never call ourselves.
    if (port == OwnPorts[protocol == RPC_PROTO_TCP] && IsLocalAddress(call->client))
        return 0;
    return static_cast<uint16_t>(port);
}

// One attempt over either protocol.  True when the client answered; an
// NLM_GRANTED answer's status goes to *stat.
bool Attempt(RpcTransport *t, const NlmOutCall *call, uint32_t *stat)
{
    const uint32_t order[2] = {call->protocol, call->protocol == RPC_PROTO_TCP ? RPC_PROTO_UDP : RPC_PROTO_TCP};
    for (uint32_t protocol : order) {
        uint16_t port = ClientPort(t, call, protocol);
        if (port == 0)
            continue;
        uint32_t xid = ClientNextXid();
        t->xid = xid;
        uint32_t n = XdrPack(t->buffer, "qqqqqqqOqq", xid, RPC_CALL, RPC_VERSION, NLM_PROG, call->version, call->proc,
                             call->credFlavor, call->cred, AUTH_NULL, 0u);
        memcpy(t->buffer + n, call->args, call->argsLength);
        t->length = static_cast<int32_t>(n + call->argsLength);
        int replied = RoundTrip(t, protocol, call->client, port);
        if (replied < 24)
            continue;
        *stat = NLM_GRANTED;
        if (call->proc == NLMPROC_GRANTED) {
            RpcCall view = {};
            view.vers = call->version;
            view.args = t->buffer + 24;
            view.arg_length = static_cast<uint32_t>(replied - 24);
            NlmResult result;
            if (NlmDecodeResult(&view, false, &result))
                *stat = result.stat;
        }
        return true;
    }
    return false;
}

void Deliver(RpcTransport *t, NlmOutCall *call)
{
    uint32_t stat = NLM_FAILED;
    bool answered = Attempt(t, call, &stat);
    uint32_t now = GetTickCount();
    if (!answered && ++call->attempts < NLM_DELIVERY_ATTEMPTS) {
        call->due = now + (1000u << (call->attempts - 1));
        Push(call);
        return;
    }
    if (!answered) {
        char address[16];
        const uint8_t *a = reinterpret_cast<const uint8_t *>(&call->client);
        snprintf(address, sizeof address, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        LogEvent(2, "nlmd: call %u to %s not answered after %u attempts\n", call->proc, address, call->attempts);
    }
    if (answered && call->grantId != 0) {
        NlmGrantList granted;
        granted.count = 0;
        NlmTableGrantAnswered(call->grantId, stat, now, &granted);
        NlmDeliverGrants(&granted);
    }
    NlmOutCallFree(call);
}

DWORD WINAPI DeliveryThread(LPVOID)
{
    RpcTransport *t = NewTransport(INVALID_SOCKET, RPC_PROTO_UDP, 0, BUFFER_SIZE);
    while (!Delivery.stopping.load()) {
        uint32_t now = GetTickCount();
        NlmGrantList granted;
        granted.count = 0;
        uint32_t wait = NlmTableExpire(now, &granted);
        NlmDeliverGrants(&granted);
        NlmOutCall *call = PopDue(now, &wait);
        if (call == nullptr) {
            WaitForSingleObject(Delivery.wake, wait < 1000 ? wait : 1000);
        } else if (t == nullptr) {
            NlmOutCallFree(call);
        } else {
            Deliver(t, call);
        }
    }
    if (t != nullptr)
        FreeTransport(t);
    return 0;
}

}  // namespace

void NlmOutCallFree(NlmOutCall *call)
{
    free(call);
}

NlmOutCall *NlmNewOutCall(const RpcCall *request, uint32_t client, uint32_t protocol, uint32_t proc,
                          XdrEncoder encoder, const void *args)
{
    NlmOutCall *call = static_cast<NlmOutCall *>(calloc(1, sizeof(NlmOutCall)));
    if (call == nullptr)
        return nullptr;
    call->client = client;
    call->version = request->vers;
    call->proc = proc;
    call->protocol = protocol;
    call->credFlavor = request->cred_flavor;
    memcpy(call->cred, request->cred, 4 + request->cred_length);
    call->argsLength = encoder(call->args, args);
    return call;
}

bool NlmDeliveryStart(uint16_t ownUdpPort, uint16_t ownTcpPort)
{
    QueueReady = true;
    OwnPorts[0] = ownUdpPort;
    OwnPorts[1] = ownTcpPort;
    if (Delivery.thread != nullptr)
        return true;
    Accepting = true;
    if (!NlmWorkerStart(Delivery, DeliveryThread)) {
        Accepting = false;
        return false;
    }
    return true;
}

void NlmDeliveryStop(void)
{
    if (Delivery.thread == nullptr)
        return;
    LockTake(&QueueLock);
    Accepting = false;
    LockGive(&QueueLock);
    NlmWorkerStop(Delivery);
    LockTake(&QueueLock);
    NlmOutCall *queue = Queue;
    Queue = nullptr;
    LockGive(&QueueLock);
    while (queue != nullptr) {
        NlmOutCall *next = queue->next;
        NlmOutCallFree(queue);
        queue = next;
    }
}

void NlmDeliver(NlmOutCall *call)
{
    if (call == nullptr)
        return;
    if (!QueueReady) {
        NlmOutCallFree(call);
        return;
    }
    call->due = GetTickCount();
    Push(call);
}

void NlmDeliverGrants(NlmGrantList *granted)
{
    for (uint32_t i = 0; i < granted->count; i++) {
        granted->grants[i].call->grantId = granted->grants[i].grantId;
        NlmDeliver(granted->grants[i].call);
    }
    granted->count = 0;
}
