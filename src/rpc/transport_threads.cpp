// NFS UDP worker threads and TCP connection threads.
#include "rpc/transport_threads.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "log/log.h"
#include "rpc/transport.h"

namespace {

struct ServiceThread {
    ServiceThread *prev;
    ServiceThread *next;
    RpcTransport *transport;
    bool udp;
    RpcServeFunction serve;
};

std::mutex ThreadListLock;
ServiceThread *ThreadList = nullptr;
std::atomic<int> ThreadCount{0};

// Listed before the thread starts, so that a stop right after the start still
// finds it.
ServiceThread *Enlist(RpcTransport *transport, bool udp, RpcServeFunction serve)
{
    ServiceThread *e = (ServiceThread *)calloc(1, sizeof(ServiceThread));
    if (e == nullptr) {
        return nullptr;
    }
    e->transport = transport;
    e->udp = udp;
    e->serve = serve;
    std::lock_guard<std::mutex> guard(ThreadListLock);
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
        std::lock_guard<std::mutex> guard(ThreadListLock);
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
        ThreadCount.fetch_sub(1);
    }
    free(e);
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

DWORD WINAPI ConnectionThread(LPVOID parameter)
{
    ServiceThread *self = (ServiceThread *)parameter;
    RpcTransport *t = self->transport;
    RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    while (call != nullptr && !TransportsStopped()) {
        if (!ReceiveRecord(t, nullptr, nullptr) || !DecodeCall(t, call)) {
            break;
        }
        if (self->serve != nullptr) {
            self->serve(t, call);
        } else {
            TransportNoteRequest();
            DispatchCall(t, call);
        }
    }
    free(call);
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
        }
        LogLine(2, "nfsd: tcp thread create error\n");
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
    connection->peer = peer;
    connection->peer_length = peer_length;
    return connection;
}

int TransportThreadCount(void)
{
    return ThreadCount.load();
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
            std::lock_guard<std::mutex> guard(ThreadListLock);
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
