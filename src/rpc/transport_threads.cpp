// NFS UDP worker threads and TCP connection threads.
#include "rpc/transport_threads.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/ranked_lock.h"
#include "log/log.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

// What a connection thread is doing: waiting for the first byte of a call
// (the only state in which it may be closed to make room), receiving the
// rest of it, or serving it.
enum ConnectionState { WAITING = 0, RECEIVING = 1, SERVING = 2 };

struct ServiceThread {
    ServiceThread *prev;
    ServiceThread *next;
    RpcTransport *transport;
    bool udp;
    RpcServeFunction serve;
    uint32_t address;                // TCP: the peer's address, network order
    bool evicted;                    // closed to make room; no longer counted
    std::atomic<int> state;          // ConnectionState
    std::atomic<DWORD> waitingSince; // tick count when the wait began
};

RankedLock ThreadListLock(LOCK_RANK_SERVICE_THREADS, "service threads");
ServiceThread *ThreadList = nullptr;
std::atomic<int> ThreadCount{0};
std::atomic<int> ConnectionCount{0};
// One log line per kind every ten seconds at most: a flood of connections
// must not become a flood of lines.
std::atomic<DWORD> LastLimitLine{0};

void LogLimit(const char *what, uint32_t address, int count)
{
    DWORD now = GetTickCount();
    DWORD last = LastLimitLine.load();
    if (last != 0 && now - last < 10000)
        return;
    LastLimitLine.store(now == 0 ? 1 : now);
    const uint8_t *b = (const uint8_t *)&address;
    LogLine(2, "nfsd: tcp connection from %u.%u.%u.%u %s (%d connections)\n", b[0], b[1], b[2], b[3], what, count);
}

// The waiting connection that has waited longest, among those of one
// address (or all, with `any`).  ThreadListLock held.
ServiceThread *LongestWaiting(uint32_t address, bool any)
{
    ServiceThread *oldest = nullptr;
    DWORD now = GetTickCount();
    for (ServiceThread *o = ThreadList; o != nullptr; o = o->next) {
        if (o->udp || o->evicted || (!any && o->address != address) || o->state.load() != WAITING)
            continue;
        // The list runs newest first: on equal waits the older connection
        // (further down) is the one that waited longest.
        if (oldest == nullptr || now - o->waitingSince.load() >= now - oldest->waitingSince.load())
            oldest = o;
    }
    return oldest;
}

void Evict(ServiceThread *victim)
{
    victim->evicted = true;
    ConnectionCount.fetch_sub(1);
    shutdown(victim->transport->socket, SD_BOTH);
}

// Whether a new connection from address may be served, making room when
// the bounds are reached: TcpConnectionsPerAddress of one address and
// TcpConnectionsMax in all.  Room is made by closing the connection that has
// waited longest for a call (of that address, or of any); when every
// connection is busy with a call, the new one is refused.  ThreadListLock
// held.
bool AdmitConnection(uint32_t address)
{
    int ofAddress = 0;
    for (ServiceThread *o = ThreadList; o != nullptr; o = o->next) {
        if (!o->udp && !o->evicted && o->address == address)
            ofAddress++;
    }
    if (TcpConnectionsPerAddress > 0 && ofAddress >= TcpConnectionsPerAddress) {
        ServiceThread *victim = LongestWaiting(address, false);
        if (victim == nullptr) {
            LogLimit("refused, its limit reached", address, ofAddress);
            return false;
        }
        Evict(victim);
    }
    if (TcpConnectionsMax > 0 && ConnectionCount.load() >= TcpConnectionsMax) {
        ServiceThread *victim = LongestWaiting(address, true);
        if (victim == nullptr) {
            LogLimit("refused, the limit reached", address, ConnectionCount.load());
            return false;
        }
        Evict(victim);
    }
    return true;
}

// Listed before the thread starts, so that a stop right after the start still
// finds it.  A TCP connection is admitted first (null when it is refused).
ServiceThread *Enlist(RpcTransport *transport, bool udp, RpcServeFunction serve)
{
    ServiceThread *e = new (std::nothrow) ServiceThread();
    if (e == nullptr) {
        return nullptr;
    }
    e->transport = transport;
    e->udp = udp;
    e->serve = serve;
    e->address = udp ? 0 : transport->peer.sin_addr.s_addr;
    e->state.store(WAITING);
    e->waitingSince.store(GetTickCount());
    LockGuard guard(ThreadListLock);
    if (!udp) {
        if (!AdmitConnection(e->address)) {
            delete e;
            return nullptr;
        }
        ConnectionCount.fetch_add(1);
    }
    e->next = ThreadList;
    if (ThreadList != nullptr) {
        ThreadList->prev = e;
    }
    ThreadList = e;
    ThreadCount.fetch_add(1);
    return e;
}

// Unlisted under the lock, and the socket closed under it, so a stop never
// shuts down a socket number that was closed and reused meanwhile.  A UDP
// worker closes the shared socket only when it is the last one on it; with
// `close_socket` false (a thread that never ran) nothing is closed.
void Delist(ServiceThread *e, bool close_socket)
{
    {
        LockGuard guard(ThreadListLock);
        if (e->prev != nullptr) {
            e->prev->next = e->next;
        } else {
            ThreadList = e->next;
        }
        if (e->next != nullptr) {
            e->next->prev = e->prev;
        }
        if (close_socket) {
            bool shared = false;
            if (e->udp) {
                for (ServiceThread *o = ThreadList; o != nullptr; o = o->next) {
                    if (o->udp && o->transport->socket == e->transport->socket) {
                        shared = true;
                    }
                }
            }
            if (!shared) {
                CloseSocket(e->transport->socket);
            }
        }
        if (!e->udp && !e->evicted) {
            ConnectionCount.fetch_sub(1);
        }
        ThreadCount.fetch_sub(1);
    }
    delete e;
}

bool Spawn(LPTHREAD_START_ROUTINE routine, ServiceThread *e)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, e, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}

// Datagrams that cannot be taken are dropped and the worker goes on at once:
// one larger than the buffer (WSAEMSGSIZE), or the report of an earlier
// reply that did not reach its client (WSAECONNRESET).
bool DroppedDatagramError(int error)
{
    return error == WSAEMSGSIZE || error == WSAECONNRESET || error == WSAEINTR;
}

// One overlapped receive on the shared socket; true when a datagram came.
// (The POSIX layer completes the receive before WSARecvFrom returns; the
// kernel hands each datagram to exactly one of the blocked workers.)
bool WorkerReceive(RpcTransport *t, HANDLE event)
{
    WSAOVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof(overlapped));
    overlapped.hEvent = event;
    WSABUF buffer;
    buffer.len = t->capacity;
    buffer.buf = (char *)t->buffer;
    DWORD bytes = 0;
    DWORD flags = 0;
    t->peer_length = (int)sizeof(t->peer);
    t->length = 0;
    if (WSARecvFrom(t->socket, &buffer, 1, &bytes, &flags, (sockaddr *)&t->peer, &t->peer_length, &overlapped,
                    nullptr) == SOCKET_ERROR) {
        int error = WSAGetLastError();
        if (error != WSA_IO_PENDING) {
            if (!DroppedDatagramError(error) && !TransportsStopped()) {
                Sleep(1000);
            }
            return false;
        }
    }
    if (!WSAGetOverlappedResult(t->socket, &overlapped, &bytes, TRUE, &flags)) {
        return false;
    }
    t->length = (int32_t)bytes;
    return bytes > 0;
}

DWORD WINAPI UdpWorker(LPVOID parameter)
{
    ServiceThread *self = (ServiceThread *)parameter;
    RpcTransport *t = self->transport;
    RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    while (call != nullptr && !TransportsStopped()) {
        if (!WorkerReceive(t, event)) {
            continue;
        }
        if (TransportsStopped()) {
            break;
        }
        if (DecodeCall(t, call)) {
            TransportNoteRequest();
            DispatchCall(t, call);
        }
    }
    if (event != nullptr) {
        CloseHandle(event);
    }
    free(call);
    Delist(self, true);
    FreeTransport(t);
    return 0;
}

void NoteFirstByte(void *context)
{
    ((ServiceThread *)context)->state.store(RECEIVING);
}

// Milliseconds of a limit in seconds; 0 (none) stays 0.
uint32_t Milliseconds(int32_t seconds)
{
    if (seconds <= 0) {
        return 0;
    }
    return seconds > 4000000 ? 4000000000u : (uint32_t)seconds * 1000u;
}

DWORD WINAPI ConnectionThread(LPVOID parameter)
{
    ServiceThread *self = (ServiceThread *)parameter;
    RpcTransport *t = self->transport;
    RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    ReadAhead *ahead = (ReadAhead *)calloc(1, sizeof(ReadAhead));
    const uint32_t idle = Milliseconds(TcpIdleTime);
    const uint32_t record = Milliseconds(TcpRecordTime);
    // The first wait counts from the admission (set when enlisted), however
    // late the thread itself starts; each later one from the reply before it.
    while (call != nullptr && ahead != nullptr && !TransportsStopped()) {
        self->state.store(WAITING);
        bool received = ReceiveRecordTimed(t, idle, record, NoteFirstByte, self, ahead);
        self->state.store(SERVING);
        if (!received || !DecodeCall(t, call)) {
            break;
        }
        if (self->serve != nullptr) {
            self->serve(t, call);
        } else {
            TransportNoteRequest();
            DispatchCall(t, call);
        }
        self->waitingSince.store(GetTickCount());
    }
    free(call);
    free(ahead);
    Delist(self, true);
    FreeTransport(t);
    return 0;
}

}  // namespace

bool StartUdpWorkers(int count, RpcTransport *transport)
{
    if (count < 2) {
        return false;
    }
    ServiceThread *e = Enlist(transport, true, nullptr);
    if (e == nullptr || !Spawn(UdpWorker, e)) {
        if (e != nullptr) {
            Delist(e, false);
        }
        LogLine(2, "nfsd: udp thread create error\n");
        return false;
    }
    for (int i = 1; i < count; i++) {
        RpcTransport *h = NewTransport(transport->socket, RPC_PROTO_UDP, transport->port, transport->capacity);
        if (h == nullptr) {
            LogLine(2, "nfsd: udp create error\n");
            break;
        }
        e = Enlist(h, true, nullptr);
        if (e == nullptr || !Spawn(UdpWorker, e)) {
            if (e != nullptr) {
                Delist(e, false);
            }
            LogLine(2, "nfsd: udp thread create error\n");
            FreeTransport(h);
            break;
        }
    }
    return true;
}

bool StartConnectionThread(RpcTransport *connection, RpcServeFunction serve)
{
    ServiceThread *e = Enlist(connection, false, serve);
    if (e == nullptr || !Spawn(ConnectionThread, e)) {
        if (e != nullptr) {
            Delist(e, false);
            LogLine(2, "nfsd: tcp thread create error\n");
        }
        CloseSocket(connection->socket);
        FreeTransport(connection);
        return false;
    }
    return true;
}

RpcTransport *AcceptConnection(RpcTransport *listener)
{
    sockaddr_in peer;
    memset(&peer, 0, sizeof(peer));
    int peer_length = (int)sizeof(peer);
    SOCKET s = accept(listener->socket, (sockaddr *)&peer, &peer_length);
    if (s == INVALID_SOCKET) {
        // Out of descriptors or buffers, the listener stays readable: pause
        // briefly rather than spin the caller's loop.
        int error = WSAGetLastError();
        if (error == WSAEMFILE || error == WSAENOBUFS) {
            Sleep(10);
        }
        return nullptr;
    }
    RpcTransport *connection = NewTransport(s, RPC_PROTO_TCP, listener->port, listener->capacity);
    if (connection == nullptr) {
        LogLine(2, "nfsd: tcp create error\n");
        CloseSocket(s);
        return nullptr;
    }
    if (listener->limit > connection->limit)
        connection->limit = listener->limit;
    connection->peer = peer;
    connection->peer_length = peer_length;
    return connection;
}

int TransportThreadCount(void)
{
    return ThreadCount.load();
}

int TransportConnectionCount(void)
{
    return ConnectionCount.load();
}

void SendWakeDatagram(SOCKET from, SOCKET to)
{
    sockaddr_in target;
    memset(&target, 0, sizeof(target));
    int size = (int)sizeof(target);
    if (from == INVALID_SOCKET || getsockname(to, (sockaddr *)&target, &size) != 0) {
        return;
    }
    if (target.sin_addr.s_addr == htonl(INADDR_ANY)) {
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    char nothing = 0;
    sendto(from, &nothing, 0, 0, (const sockaddr *)&target, (int)sizeof(target));
}

void StopServiceThreads(unsigned milliseconds)
{
    SOCKET waker = OpenUdpSocket(0, 0);
    DWORD start = GetTickCount();
    while (ThreadCount.load() > 0 && GetTickCount() - start < milliseconds) {
        {
            LockGuard guard(ThreadListLock);
            for (ServiceThread *e = ThreadList; e != nullptr; e = e->next) {
                if (e->udp) {
                    // One datagram reaches one worker; every listed worker
                    // adds one, so each gets its own.
                    SendWakeDatagram(waker, e->transport->socket);
                } else {
                    shutdown(e->transport->socket, SD_BOTH);
                }
            }
        }
        Sleep(20);
    }
    CloseSocket(waker);
}
