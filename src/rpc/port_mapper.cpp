// The port mapper service: its sockets on port 111, its thread (UDP served
// inline, one thread per TCP connection), and the procedures of port mapper
// version 2.
#include <atomic>
#include <cstring>

#include "log/log.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"
#include "rpc/port_mapper_internal.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "rpc/transport_threads.h"
#include "settings/settings.h"

namespace {

// Capacity of the port mapper's own handles and of CALLIT's forwarded call.
const uint32_t kPmapCapacity = 8192;
const uint32_t kCallitCapacity = 8704;

SOCKET UdpSocket = INVALID_SOCKET;
SOCKET TcpListener = INVALID_SOCKET;
RpcTransport *UdpHandle = nullptr;
RpcTransport *ListenerHandle = nullptr;
HANDLE Thread = nullptr;
thread_local bool OnPortMapperThread = false;
std::atomic<int> Running{0};
std::atomic<int> StopFlag{0};

// CALLIT forwards on threads of their own, so that a silent service holds
// up only its caller, never the port mapper; at most kMaxCallits at once
// (more are dropped, as CALLIT failures are silent anyway).  They answer
// through the UDP socket, which the last of its users closes: the port
// mapper, or a forward still waiting when the port mapper stopped.
const int kMaxCallits = 16;
RankedLock CallitLock(LOCK_RANK_PORT_MAPPER_CALLIT, "port mapper forwarded calls");
int CallitsRunning = 0;
struct SharedSocket {
    SOCKET socket;
    int users;
};
SharedSocket *UdpShare = nullptr;

void ReleaseShare(SharedSocket *share)
{
    bool last;
    {
        LockGuard guard(CallitLock);
        last = --share->users == 0;
    }
    if (last) {
        CloseSocket(share->socket);
        free(share);
    }
}

// The port mapper lets go of its UDP socket: closed now, or when the last
// forward on it ends.
void CloseUdpSocket()
{
    if (UdpShare != nullptr) {
        ReleaseShare(UdpShare);
        UdpShare = nullptr;
    } else {
        CloseSocket(UdpSocket);
    }
    UdpSocket = INVALID_SOCKET;
}

struct DumpResult {
    uint32_t count;
    PmapMapping entries[PMAP_DUMP_MAX_ENTRIES];
};

uint32_t PutDump(uint8_t *out, const void *result)
{
    const DumpResult *d = (const DumpResult *)result;
    uint32_t n = 0;
    for (uint32_t i = 0; i < d->count; i++) {
        n += XdrPutWord(out + n, 1);
        n += XdrPutWord(out + n, d->entries[i].prog);
        n += XdrPutWord(out + n, d->entries[i].vers);
        n += XdrPutWord(out + n, d->entries[i].prot);
        n += XdrPutWord(out + n, d->entries[i].port);
    }
    n += XdrPutWord(out + n, 0);
    return n;
}

struct CallitResult {
    uint32_t port;
    const uint8_t *data;
    uint32_t length;
};

uint32_t PutCallit(uint8_t *out, const void *result)
{
    const CallitResult *c = (const CallitResult *)result;
    uint32_t n = XdrPutWord(out, c->port);
    return n + XdrPutOpaque(out + n, c->data, c->length);
}

// The four argument words of SET, UNSET and GETPORT, which must be exactly
// 16 bytes.
bool GetMappingArgs(RpcCall *call, uint32_t *prog, uint32_t *vers, uint32_t *prot, uint32_t *port)
{
    return call->arg_length == 16 && XdrGetU32(call, prog) && XdrGetU32(call, vers) && XdrGetU32(call, prot) &&
           XdrGetU32(call, port);
}

// The port of a CALLIT's service, or 0 when the call is not forwarded: only
// NULL calls of registered UDP services other than the port mapper.
uint32_t CallitPort(RpcCall *call, uint32_t *prog, uint32_t *vers, uint32_t *proc, uint32_t *length)
{
    if (call->arg_length < 16 || !XdrGetU32(call, prog) || !XdrGetU32(call, vers) || !XdrGetU32(call, proc) ||
        !XdrGetU32(call, length) || *length > call->arg_length - 16)
        return 0;
    // The port mapper would wait for itself until the time-out.
    if (*proc != 0 || *prog == PMAP_PROG)
        return 0;
    uint32_t port = 0;
    PmapLockTable();
    PmapMapping *m = FindMapping(*prog, *vers, 17);
    if (m != nullptr)
        port = m->port;
    PmapUnlockTable();
    return port <= 0xFFFF ? port : 0;
}

// CALLIT (UDP only): forwards a NULL call to a registered UDP service on this
// computer and hands its result back with the service's port.  Every
// failure stays silent, since the procedure is meant for broadcasts.
void ServeCallit(RpcTransport *transport, RpcCall *call)
{
    uint32_t prog, vers, proc, length;
    uint32_t port = CallitPort(call, &prog, &vers, &proc, &length);
    if (port == 0)
        return;
    RpcTransport *forward = NewTransport(INVALID_SOCKET, RPC_PROTO_UDP, 0, kCallitCapacity);
    if (forward == nullptr)
        return;
    uint32_t header = ClientBuildCall(forward, prog, vers, proc, nullptr, nullptr);
    if (header + length > forward->capacity) {
        FreeTransport(forward);
        return;
    }
    memcpy(forward->buffer + header, call->args + 16, length);
    forward->length = (int32_t)(header + length);
    int replied = ClientCall(forward, RPC_PROTO_UDP, (uint16_t)port);
    if (replied >= 24) {
        CallitResult result = {port, forward->buffer + 24, (uint32_t)replied - 24};
        // The answer must fit the caller's buffer, or it is not sent.
        uint64_t need = (uint64_t)ReplySuccessHeaderLength(call) + 8 + XdrPadded(result.length);
        if (need <= transport->capacity)
            ReplySuccess(transport, call, PutCallit, &result);
    }
    FreeTransport(forward);
}

struct CallitJob {
    RpcTransport *copy;
    SharedSocket *share;
};

// A forward's thread: the datagram, copied into a handle of its own, is
// decoded again and served there.
DWORD WINAPI CallitThread(LPVOID parameter)
{
    CallitJob *job = (CallitJob *)parameter;
    RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    if (call != nullptr && DecodeCall(job->copy, call))
        ServeCallit(job->copy, call);
    free(call);
    FreeTransport(job->copy);
    {
        LockGuard guard(CallitLock);
        CallitsRunning--;
    }
    ReleaseShare(job->share);
    free(job);
    return 0;
}

// Hands a CALLIT that will be forwarded to a thread of its own.
void StartCallit(RpcTransport *transport, RpcCall *call)
{
    uint32_t prog, vers, proc, length;
    if (CallitPort(call, &prog, &vers, &proc, &length) == 0 || transport->length <= 0 || UdpShare == nullptr)
        return;
    CallitJob *job = (CallitJob *)malloc(sizeof(CallitJob));
    RpcTransport *copy = NewTransport(transport->socket, RPC_PROTO_UDP, transport->port, kPmapCapacity);
    if (job == nullptr || copy == nullptr) {
        free(job);
        if (copy != nullptr)
            FreeTransport(copy);
        return;
    }
    memcpy(copy->buffer, transport->buffer, (size_t)transport->length);
    copy->length = transport->length;
    copy->peer = transport->peer;
    copy->peer_length = transport->peer_length;
    job->copy = copy;
    job->share = UdpShare;
    {
        LockGuard guard(CallitLock);
        if (CallitsRunning >= kMaxCallits) {
            FreeTransport(copy);
            free(job);
            return;
        }
        CallitsRunning++;
        UdpShare->users++;
    }
    HANDLE thread = CreateThread(nullptr, 0, CallitThread, job, 0, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
        return;
    }
    FreeTransport(copy);
    {
        LockGuard guard(CallitLock);
        CallitsRunning--;
    }
    ReleaseShare(job->share);
    free(job);
}

DWORD WINAPI PortMapperThread(LPVOID)
{
    OnPortMapperThread = true;
    RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    while (call != nullptr && !StopFlag.load()) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(UdpHandle->socket, &ready);
        FD_SET(ListenerHandle->socket, &ready);
        if (select(0, &ready, nullptr, nullptr, nullptr) == SOCKET_ERROR)
            break;
        // A stop wakes the wait (a datagram, or closing the sockets when the
        // thread is late): touch the sockets no more.
        if (StopFlag.load())
            break;
        if (FD_ISSET(UdpHandle->socket, &ready)) {
            UdpHandle->peer_length = (int)sizeof(UdpHandle->peer);
            if (ReceiveDatagram(UdpHandle) && DecodeCall(UdpHandle, call))
                PmapServe(UdpHandle, call);
        } else if (FD_ISSET(ListenerHandle->socket, &ready)) {
            RpcTransport *connection = AcceptConnection(ListenerHandle);
            if (connection != nullptr)
                StartConnectionThread(connection, PmapServe);
        }
    }
    free(call);
    PortMapperStop();
    return 0;
}

void FreeHandles()
{
    if (UdpHandle != nullptr)
        FreeTransport(UdpHandle);
    if (ListenerHandle != nullptr)
        FreeTransport(ListenerHandle);
    UdpHandle = nullptr;
    ListenerHandle = nullptr;
}

} // namespace

void PmapServe(RpcTransport *transport, RpcCall *call)
{
    // Whatever reaches the port mapper's sockets is served as the port
    // mapper; the program number is not looked at.
    if (call->vers != PMAP_VERS) {
        ReplyProgMismatch(transport, call, PMAP_VERS, PMAP_VERS);
        return;
    }
    uint32_t prog, vers, prot, port;
    uint32_t answer;
    switch (call->proc) {
    case PMAPPROC_NULL:
        ReplySuccess(transport, call, XdrPutNothing, nullptr);
        return;
    case PMAPPROC_SET:
        if (!GetMappingArgs(call, &prog, &vers, &prot, &port)) {
            ReplyAccepted(transport, call, GARBAGE_ARGS);
            return;
        }
        answer = 0;
        if ((port == 0 || port > 1024) && IsLocalAddress(transport->peer.sin_addr.s_addr))
            answer = PmapTableSet(prog, vers, prot, port);
        ReplySuccess(transport, call, XdrPutU32, &answer);
        return;
    case PMAPPROC_UNSET:
        if (!GetMappingArgs(call, &prog, &vers, &prot, &port)) {
            ReplyAccepted(transport, call, GARBAGE_ARGS);
            return;
        }
        answer = IsLocalAddress(transport->peer.sin_addr.s_addr) ? PmapTableUnset(prog, vers) : 0;
        ReplySuccess(transport, call, XdrPutU32, &answer);
        return;
    case PMAPPROC_GETPORT:
        if (!GetMappingArgs(call, &prog, &vers, &prot, &port)) {
            ReplyAccepted(transport, call, GARBAGE_ARGS);
            return;
        }
        answer = PmapTableGetPort(prog, vers, prot);
        ReplySuccess(transport, call, XdrPutU32, &answer);
        return;
    case PMAPPROC_DUMP: {
        if (call->arg_length != 0) {
            ReplyAccepted(transport, call, GARBAGE_ARGS);
            return;
        }
        DumpResult dump;
        dump.count = PmapTableSnapshot(dump.entries, PMAP_DUMP_MAX_ENTRIES);
        ReplySuccess(transport, call, PutDump, &dump);
        return;
    }
    case PMAPPROC_CALLIT:
        if (transport->protocol != RPC_PROTO_UDP) {
            ReplyAccepted(transport, call, PROC_UNAVAIL);
            return;
        }
        StartCallit(transport, call);
        return;
    default:
        ReplyAccepted(transport, call, PROC_UNAVAIL);
        return;
    }
}

int PortMapperStart(uint32_t enabled)
{
    StopFlag.store(0);
    if (enabled == 0)
        return 0;
    if (Running.load())
        return 0;
    if (Thread != nullptr) {
        // A thread that ended on its own before: it is gone or about to be.
        WaitForSingleObject(Thread, 5000);
        CloseHandle(Thread);
        Thread = nullptr;
        FreeHandles();
    }
    UdpSocket = OpenUdpSocket(0, PmapPort);
    TcpListener = OpenTcpListener(0, PmapPort);
    if (UdpSocket != INVALID_SOCKET && TcpListener != INVALID_SOCKET) {
        UdpHandle = NewTransport(UdpSocket, RPC_PROTO_UDP, PmapPort, kPmapCapacity);
        ListenerHandle = NewTransport(TcpListener, RPC_PROTO_TCP, PmapPort, kPmapCapacity);
        UdpShare = (SharedSocket *)malloc(sizeof(SharedSocket));
        if (UdpShare != nullptr)
            *UdpShare = {UdpSocket, 1};
    }
    if (UdpHandle == nullptr || ListenerHandle == nullptr || UdpShare == nullptr || !PmapTableAddOwn(PmapPort)) {
        FreeHandles();
        CloseUdpSocket();
        TcpListener = CloseSocket(TcpListener);
        return PMAP_START_FAILED;
    }
    LogEvent(1, "pmapd ready on port %u\n", (unsigned)PmapPort);
    FlushLog();
    Running.store(1);
    Thread = CreateThread(nullptr, 0, PortMapperThread, nullptr, 0, nullptr);
    if (Thread == nullptr) {
        Running.store(0);
        FreeHandles();
        CloseUdpSocket();
        TcpListener = CloseSocket(TcpListener);
        return PMAP_START_FAILED;
    }
    return 0;
}

void PortMapperStop(void)
{
    if (!Running.exchange(0))
        return;
    StopFlag.store(1);
    if (OnPortMapperThread) {
        // The thread itself is leaving: nothing waits on the sockets.
        CloseUdpSocket();
        TcpListener = CloseSocket(TcpListener);
        return;
    }
    // Wake the thread with an empty datagram and let it leave before its
    // sockets close: a socket closed under a thread that is about to wait on
    // it could be reused by another part of the process.  Only when the
    // thread does not leave in time does closing the sockets end its wait.
    SOCKET waker = OpenUdpSocket(0, 0);
    SendWakeDatagram(waker, UdpSocket);
    CloseSocket(waker);
    DWORD limit = (DWORD)((RPCTIMEOUT > 0 ? RPCTIMEOUT : 1) + 2) * 1000u;
    bool ended = Thread != nullptr && WaitForSingleObject(Thread, limit) == WAIT_OBJECT_0;
    // Forwards still waiting for their service end within their reply time;
    // the socket stays open for them until then.
    for (DWORD waited = 0; waited < limit; waited += 10) {
        {
            LockGuard guard(CallitLock);
            if (CallitsRunning == 0)
                break;
        }
        Sleep(10);
    }
    CloseUdpSocket();
    TcpListener = CloseSocket(TcpListener);
    if (!ended)
        ended = Thread != nullptr && WaitForSingleObject(Thread, limit) == WAIT_OBJECT_0;
    if (ended) {
        CloseHandle(Thread);
        Thread = nullptr;
        FreeHandles();
    }
}

bool PortMapperRunning(void) { return Running.load() != 0; }
