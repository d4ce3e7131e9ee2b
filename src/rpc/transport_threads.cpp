// NFS UDP worker threads and TCP connection threads.
#include "rpc/transport_threads.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "log/log.h"
#include "platform/ranked_lock.h"
#include "rpc/record_marking.h"
#include "rpc/transport.h"
#include "rpc/transport_pool.h"
#include "rpc/xdr.h"
#include "settings/settings.h"

namespace {

// What a connection thread is doing: waiting for the first byte of a call
// (the only state in which it may be closed to make room), receiving the
// rest of it, or serving it.
enum ConnectionState { WAITING = 0, RECEIVING = 1, SERVING = 2 };

struct ServiceThread;

const uint32_t LONG_CALL_US = 250;
// A kind of call that of late stood still this long (waiting for the disk,
// not for its reply to leave) goes to a worker whenever one is free.
const uint32_t STALLED_CALL_US = 150;
const uint32_t LONG_CALL_SLOTS = 32;

// A call of a connection with the handle it was received on; kept for reuse
// on the connection's list of free calls.
struct ConnectionCall {
    PoolJob job;  // first: the pool hands back this address
    ServiceThread *connection;
    RpcTransport *transport;
    ConnectionCall *nextFree;
    RpcCall call;
};

struct ServiceThread {
    ServiceThread *prev;
    ServiceThread *next;
    RpcTransport *transport;         // TCP: the first handle of the connection
    SOCKET socket;
    bool udp;
    RpcServeFunction serve;
    uint32_t address;                // TCP: the peer's address, network order
    bool evicted;                    // closed to make room; no longer counted
    std::atomic<int> state;          // ConnectionState
    std::atomic<DWORD> waitingSince; // tick count when the wait began
    // TCP: the connection's thread holds one reference and each call in
    // flight one; the last to let go closes the socket and frees the calls.
    std::atomic<int> refs{1};
    std::atomic<int> inflight{0};    // calls received and not yet answered
    std::atomic<int> pooled{0};      // of them, those handed to the workers
    // Microseconds each kind of call took of late (by program, version and
    // procedure, folded into one of LONG_CALL_SLOTS), by CallCost, and of
    // them the time it stood still (CallStall): see ServeSideBySide.
    std::atomic<uint32_t> took[LONG_CALL_SLOTS];
    std::atomic<uint32_t> stalled[LONG_CALL_SLOTS];
    // Of it, the processor time alone (the whole time when not measured).
    std::atomic<uint32_t> worked[LONG_CALL_SLOTS];
    // Kinds whose last call served by the connection's thread left its
    // flush to the reply batch (ReplyAfter): read and written by that
    // thread alone.
    bool settles[LONG_CALL_SLOTS];
    RankedLock lock{LOCK_RANK_LEAF, "connection calls"};  // the free calls and the count of calls
    ConnectionCall *free = nullptr;  // every call not in flight
    int calls = 0;                   // calls made
    RankedLock sendLock{LOCK_RANK_LEAF, "connection send"};
};

RankedLock ThreadListLock(LOCK_RANK_SERVICE_THREADS, "service threads");
ServiceThread *ThreadList = nullptr;
std::atomic<int> ThreadCount{0};
std::atomic<int> ConnectionCount{0};
// Calls of connections served side by side that are running now, on the
// workers or on their connections' threads.
std::atomic<int> CallsRunning{0};
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

// Waiting and without calls in flight: a connection that may be closed.
bool Evictable(const ServiceThread *o)
{
    return o->state.load() == WAITING && o->inflight.load() == 0;
}

// The waiting connection that has waited longest, among those of one
// address (or all, with `any`).  ThreadListLock held.
ServiceThread *LongestWaiting(uint32_t address, bool any)
{
    ServiceThread *oldest = nullptr;
    DWORD now = GetTickCount();
    for (ServiceThread *o = ThreadList; o != nullptr; o = o->next) {
        if (o->udp || o->evicted || (!any && o->address != address) || !Evictable(o))
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
    shutdown(victim->socket, SD_BOTH);
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
    e->socket = transport->socket;
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
                    if (o->udp && o->socket == e->socket) {
                        shared = true;
                    }
                }
            }
            if (!shared) {
                CloseSocket(e->socket);
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
    FreeTransport(t);
    Delist(self, true);
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

void RunCall(PoolJob *job, bool serve);

// The calling thread's processor time in 100 ns units (0 when unknown).
uint64_t ThreadProcessorTime()
{
    FILETIME creation, exit, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME &t) { return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime; };
    return ticks(kernel) + ticks(user);
}

// A call's processor time in microseconds, at most its whole time (the
// whole time without the processor time: precise false), at most a second.
uint32_t ProcessorUs(uint64_t wallUs, bool precise, uint64_t processor)
{
    const uint64_t us = !precise ? wallUs : processor / 10u < wallUs ? processor / 10u : wallUs;
    return us > 1000000u ? 1000000u : static_cast<uint32_t>(us);
}

// What a call cost, in microseconds: its processor time and a quarter of the
// rest of its time.  A call that waits for the disk (a flush) still counts
// as long, and runs on a worker where its wait overlaps others'; a cheap
// call that only waited for a processor on a busy machine stays cheap, as
// the wait would be no shorter on a worker.  Without the processor time
// (precise false) the cost is the whole time.
uint32_t CallCost(uint64_t wallUs, bool precise, uint64_t processor)
{
    const uint64_t processorUs = ProcessorUs(wallUs, precise, processor);
    const uint64_t cost = processorUs + (wallUs - processorUs) / 4u;
    return cost > 1000000u ? 1000000u : static_cast<uint32_t>(cost);
}

// How long a call stood still, in microseconds: its time neither on a
// processor nor sending its reply (which waits for the client and for the
// connection's other replies, and would wait as long on a worker).  What
// is left is mostly the disk: a flush that other calls' flushes may join.
// A stall shorter than twice the processor time is taken as none (a busy
// machine's wait for a processor).  Unknown without the processor time.
uint32_t CallStall(uint64_t wallUs, bool precise, uint64_t processor, uint32_t sendUs)
{
    const uint64_t processorUs = processor / 10u;
    if (!precise || wallUs <= processorUs + sendUs)
        return 0;
    const uint64_t stall = wallUs - processorUs - sendUs;
    if (stall < 2u * processorUs)
        return 0;
    return stall > 1000000u ? 1000000u : static_cast<uint32_t>(stall);
}

uint32_t KindSlot(const RpcCall *call)
{
    return (call->prog * 7u + call->vers * 131u + call->proc) % LONG_CALL_SLOTS;
}

std::atomic<uint32_t> &TookSlot(ServiceThread *c, const RpcCall *call)
{
    return c->took[KindSlot(call)];
}

// A quarter of the new sample joins the average.
void Average(std::atomic<uint32_t> &slot, uint32_t sample)
{
    const uint32_t last = slot.load(std::memory_order_relaxed);
    slot.store(last - last / 4 + sample / 4, std::memory_order_relaxed);
}

// A free call of the connection, or a new one (its handle is like the first
// one's).  A connection has at most PoolCallsPerConnection calls with the
// workers and one served by its thread, so it never makes more than that.
ConnectionCall *TakeCall(ServiceThread *c)
{
    LockGuard guard(c->lock);
    ConnectionCall *k = c->free;
    if (k != nullptr) {
        c->free = k->nextFree;
        return k;
    }
    RpcTransport *first = c->transport;
    RpcTransport *t = c->calls == 0 ? first : NewTransport(first->socket, RPC_PROTO_TCP, first->port, first->base);
    k = t == nullptr ? nullptr : (ConnectionCall *)calloc(1, sizeof(ConnectionCall));
    if (k == nullptr) {
        if (t != first)
            FreeTransport(t);
        return nullptr;
    }
    if (t != first) {
        t->limit = first->limit;
        t->peer = first->peer;
        t->peer_length = first->peer_length;
    }
    t->send_lock = &c->sendLock;
    k->job.run = RunCall;
    k->connection = c;
    k->transport = t;
    c->calls++;
    return k;
}

// The last reference closes the socket (unlisted first) and frees the calls
// with their handles, the connection's first handle among them (its own
// when no call was made).
void Release(ServiceThread *c)
{
    if (c->refs.fetch_sub(1) != 1)
        return;
    if (c->calls == 0)
        FreeTransport(c->transport);
    for (ConnectionCall *k = c->free, *next; k != nullptr; k = next) {
        next = k->nextFree;
        FreeTransport(k->transport);
        free(k);
    }
    // The connection's own locks go with it.
    LockRetire(&c->lock);
    LockRetire(&c->sendLock);
    Delist(c, true);
}

void PutCall(ConnectionCall *k, bool pooled)
{
    ServiceThread *c = k->connection;
    {
        LockGuard guard(c->lock);
        k->nextFree = c->free;
        c->free = k;
        if (pooled)
            c->pooled.fetch_sub(1);
        if (c->inflight.fetch_sub(1) == 1)
            c->waitingSince.store(GetTickCount());
    }
    Release(c);
}

// Serves a call, on a worker (pooled) or on its connection's thread, and
// notes how long it took for the next call of its kind.
void ServeCall(ConnectionCall *k, bool serve, bool pooled)
{
    ServiceThread *c = k->connection;
    if (serve && c->serve != nullptr) {
        c->serve(k->transport, &k->call);
    } else if (serve) {
        // The processor clock costs a system call or two: a kind that cost
        // well under LONG_CALL_US of late is timed by the wall clock alone
        // (the whole time is at least the cost).
        std::atomic<uint32_t> &took = TookSlot(c, &k->call);
        const uint32_t before = took.load(std::memory_order_relaxed);
        const bool precise = before >= LONG_CALL_US / 2;
        const auto start = std::chrono::steady_clock::now();
        const uint64_t processorStart = precise ? ThreadProcessorTime() : 0;
        CallsRunning.fetch_add(1);
        TransportNoteRequest();
        k->transport->send_us = 0;
        DispatchCall(k->transport, &k->call);
        CallsRunning.fetch_sub(1);
        const uint64_t processorEnd = precise ? ThreadProcessorTime() : 0;
        const uint64_t processor = processorEnd > processorStart ? processorEnd - processorStart : 0;
        const uint64_t wallUs = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
        Average(took, CallCost(wallUs, precise, processor));
        Average(c->worked[KindSlot(&k->call)], ProcessorUs(wallUs, precise, processor));
        Average(c->stalled[KindSlot(&k->call)], CallStall(wallUs, precise, processor, k->transport->send_us));
    }
    PutCall(k, pooled);
}

void RunCall(PoolJob *job, bool serve)
{
    ServeCall((ConnectionCall *)job, serve, true);
}

// Gives grown buffers of the free calls back.
void ShrinkFreeCalls(ServiceThread *c)
{
    LockGuard guard(c->lock);
    for (ConnectionCall *k = c->free; k != nullptr; k = k->nextFree)
        TransportShrink(k->transport);
}

bool Readable(SOCKET s, uint32_t ms)
{
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    timeval wait = {(long)(ms / 1000), (long)(ms % 1000) * 1000};
    return select((int)s + 1, &ready, nullptr, nullptr, &wait) > 0;
}

// Whether a free call other than the next one to be taken holds a grown
// buffer (the next one's receive gives its own back when idle).
bool OthersGrown(ServiceThread *c)
{
    LockGuard guard(c->lock);
    for (ConnectionCall *k = c->free != nullptr ? c->free->nextFree : nullptr; k != nullptr; k = k->nextFree)
        if (k->transport->capacity > k->transport->base)
            return true;
    return false;
}

// Waits for the next call: true when bytes of it are at hand, or when the
// receive may wait for them itself (no call in flight, no other buffer to
// give back: as a connection served in turn, one wait a call).  While calls
// are in flight the connection is busy, not idle; once none is, it waits at
// most idle_ms (0: without limit) and gives grown buffers back after
// SHRINK_AFTER_MS.
bool AwaitCall(ServiceThread *c, const ReadAhead *ahead, uint32_t idle_ms)
{
    const SOCKET s = c->socket;
    bool shrunk = false;
    for (;;) {
        if (TransportsStopped())
            return false;
        if (ahead->start < ahead->end)
            return true;
        if (c->inflight.load() > 0) {
            if (Readable(s, 20))
                return true;
            continue;
        }
        if (!shrunk && !OthersGrown(c))
            return true;
        const DWORD waited = GetTickCount() - c->waitingSince.load();
        if (idle_ms != 0 && waited >= idle_ms)
            return false;
        if (idle_ms == 0 && shrunk)
            return true;  // the receive itself blocks; a shutdown ends it
        uint32_t wait = idle_ms == 0 ? INFINITE : idle_ms - waited;
        if (!shrunk)
            wait = waited >= SHRINK_AFTER_MS ? 0 : (SHRINK_AFTER_MS - waited < wait ? SHRINK_AFTER_MS - waited : wait);
        if (Readable(s, wait))
            return true;
        if (!shrunk && GetTickCount() - c->waitingSince.load() >= SHRINK_AFTER_MS) {
            ShrinkFreeCalls(c);
            shrunk = true;
        }
    }
}

// Reads, decodes and serves the calls of one connection one after another.
void ServeInTurn(ServiceThread *self, ReadAhead *ahead)
{
    RpcTransport *t = self->transport;
    RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    const uint32_t idle = Milliseconds(TcpIdleTime);
    const uint32_t record = Milliseconds(TcpRecordTime);
    // The first wait counts from the admission (set when enlisted), however
    // late the thread itself starts; each later one from the reply before it.
    while (call != nullptr && !TransportsStopped()) {
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
}

// Whether the read-ahead holds the whole of the next record (of one
// fragment): its call is served without a wait.
bool RecordAtHand(const ReadAhead *ahead)
{
    const uint32_t have = ahead->end - ahead->start;
    if (have < 4)
        return false;
    const uint32_t word = XdrLoad32(ahead->data + ahead->start);
    return (word & RECORD_LAST_FRAGMENT) != 0 && (word & ~RECORD_LAST_FRAGMENT) <= have - 4;
}

// Reads, decodes and serves the calls of one connection side by side
// (TcpParallel), while the connection has fewer than PoolCallsPerConnection
// calls with the workers: a call of a kind that of late stood still for
// STALLED_CALL_US or more (a namespace change waiting for its flush) goes to
// an idle worker when another call is in flight or at hand, so that its wait
// overlaps theirs and their flushes are shared (a lone call would only pay
// the switches); with TcpParallel 2, so does a call of a kind that took
// LONG_CALL_US or more while fewer calls than processors run in all.  Every
// other call is served here, as a hand-over costs two thread switches (and
// when every processor is busy, more calls at once only share them).  The
// replies of the calls served here wait in the batch while the next call is
// at hand and of a kind that of late took under LONG_CALL_US, and leave
// together before anything can wait (at most REPLY_BATCH_REPLIES of them;
// without memory for the batch each leaves at once).  A call of a kind that
// took under LONG_CALL_US of processor time of late may leave its flush to
// the batch (ReplyAfter), made before the batch leaves, so that the calls
// sent together share it; a kind whose last call did so stays here however
// its flushes stood still.  Each call takes a reference to the connection.
void ServeSideBySide(ServiceThread *self, ReadAhead *ahead)
{
    ReplyBatch *batch = (ReplyBatch *)calloc(1, sizeof(ReplyBatch));
    const auto holding = [batch] { return batch != nullptr && (batch->used != 0 || batch->settle != nullptr); };
    const uint32_t idle = Milliseconds(TcpIdleTime);
    const uint32_t record = Milliseconds(TcpRecordTime);
    const int most = PoolCallsPerConnection();
    const int processors = PoolProcessorCount();
    const bool longCalls = TcpParallel >= 2;
    // The first wait counts from the admission (set when enlisted), however
    // late the thread itself starts; each later one from the last reply.
    while (!TransportsStopped()) {
        // Replies held back count as calls in flight: the connection is
        // not waiting until they left.
        // A failed settle closed the connection.
        if (holding() && (!RecordAtHand(ahead) || batch->replies >= REPLY_BATCH_REPLIES) &&
            !SendReplyBatch(self->socket, &self->sendLock, batch))
            break;
        if (!holding())
            self->state.store(WAITING);
        ConnectionCall *k = AwaitCall(self, ahead, idle) ? TakeCall(self) : nullptr;
        if (k == nullptr)
            break;
        self->refs.fetch_add(1);
        RpcTransport *t = k->transport;
        // Until its first byte the call is not in flight: a connection that
        // waits for one with none in flight may be closed to make room.
        bool received = ReceiveRecordTimed(t, idle, record, NoteFirstByte, self, ahead);
        self->inflight.fetch_add(1);
        self->state.store(SERVING);
        if (!received || !DecodeCall(t, &k->call)) {
            PutCall(k, false);
            break;
        }
        const uint32_t kind = KindSlot(&k->call);
        // A wait overlaps only what comes with it: another call in flight
        // or the next one at hand.
        const bool company = self->inflight.load() > 1 || ahead->start < ahead->end;
        // A kind that costs the processor little and left its flush to the
        // batch last time stays here: its flush is shared there.
        const bool mayWait = batch != nullptr && self->worked[kind].load(std::memory_order_relaxed) < LONG_CALL_US;
        const bool hand_over =
            self->pooled.load() < most && !(mayWait && self->settles[kind]) &&
            ((company && self->stalled[kind].load(std::memory_order_relaxed) >= STALLED_CALL_US) ||
             (longCalls && CallsRunning.load() < processors &&
              self->took[kind].load(std::memory_order_relaxed) >= LONG_CALL_US));
        if (hand_over) {
            self->pooled.fetch_add(1);
            if (PoolTrySubmit(&k->job))
                continue;
            self->pooled.fetch_sub(1);  // no worker was idle
        }
        // A call that may take long lets the replies before it go first.
        if (holding() && self->took[kind].load(std::memory_order_relaxed) >= LONG_CALL_US &&
            !SendReplyBatch(self->socket, &self->sendLock, batch)) {
            PutCall(k, false);
            break;
        }
        // The flush of a call that costs the processor little waits for the
        // calls at hand and is shared with theirs; a long one's is made at
        // once (and its kind, seen to stall, goes to the workers when others
        // come with it).
        TransportHoldReplies(t, batch, mayWait);
        const uint32_t settling = batch != nullptr ? batch->settling : 0;
        ServeCall(k, true, false);
        TransportHoldReplies(t, nullptr, false);
        self->settles[kind] = batch != nullptr && batch->settling != settling;
    }
    if (holding())
        SendReplyBatch(self->socket, &self->sendLock, batch);
    free(batch);
}

DWORD WINAPI ConnectionThread(LPVOID parameter)
{
    ServiceThread *self = (ServiceThread *)parameter;
    ReadAhead *ahead = (ReadAhead *)calloc(1, sizeof(ReadAhead));
    if (ahead != nullptr && TcpParallel != 0 && self->serve == nullptr && PoolStart())
        ServeSideBySide(self, ahead);
    else if (ahead != nullptr)
        ServeInTurn(self, ahead);
    free(ahead);
    Release(self);
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
    connection->send_lock = nullptr;
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
    // A reply leaves at once, whole: held back until the client acknowledges
    // the last one (as a small segment is by default), it would wait for the
    // client's delayed acknowledgement while the client waits for it.
    const BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, (int)sizeof(noDelay));
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
    while ((ThreadCount.load() > 0 || PoolThreadCount() > 0) && GetTickCount() - start < milliseconds) {
        PoolWake();
        {
            LockGuard guard(ThreadListLock);
            for (ServiceThread *e = ThreadList; e != nullptr; e = e->next) {
                if (e->udp) {
                    // One datagram reaches one worker; every listed worker
                    // adds one, so each gets its own.
                    SendWakeDatagram(waker, e->socket);
                } else {
                    shutdown(e->socket, SD_BOTH);
                }
            }
        }
        Sleep(20);
    }
    CloseSocket(waker);
}
