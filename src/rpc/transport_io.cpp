// Sending and receiving RPC messages on the sockets of transport handles.
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/ranked_lock.h"
#include "rpc/record_marking.h"
#include "rpc/reply_cache.h"
#include "rpc/transport.h"
#include "rpc/xdr.h"

namespace {

struct SocketSink {
    RecordSink sink;
    SOCKET socket;
};

// One fragment with its mark; a stream send may take only part of it.
int SocketSinkWrite(RecordSink *self, const uint8_t *data, int size)
{
    SOCKET s = ((SocketSink *)self)->socket;
    int sent = 0;
    while (sent < size) {
        int n = send(s, (const char *)data + sent, size - sent, 0);
        if (n == SOCKET_ERROR) {
            return SOCKET_ERROR;
        }
        if (n == 0) {
            return sent;
        }
        sent += n;
    }
    return sent;
}

struct SocketSource {
    RecordSource source;
    SOCKET socket;
    fd_set *read_set;
    const timeval *timeout;
};

int SocketSourceRead(RecordSource *self, uint8_t *out, int size)
{
    return recv(((SocketSource *)self)->socket, (char *)out, size, 0);
}

// The client side bounds every wait for more of a record.
bool SocketSourceAwait(RecordSource *self)
{
    SocketSource *src = (SocketSource *)self;
    FD_ZERO(src->read_set);
    FD_SET(src->socket, src->read_set);
    timeval wait = *src->timeout;
    return select((int)src->socket + 1, src->read_set, nullptr, nullptr, &wait) > 0;
}

// The server side: a read takes what was read ahead; otherwise it waits,
// bounded by the connection's limits, for the socket to become readable.
struct TimedSource {
    RecordSource source;
    RpcTransport *transport;
    SOCKET socket;
    uint32_t idle_ms;
    uint32_t record_ms;
    bool started;
    DWORD deadline;
    void (*on_first_byte)(void *context);
    void *context;
    ReadAhead *ahead;  // may be null
};

// Waits up to `ms` milliseconds (0: without limit) for the socket.
bool AwaitReadable(SOCKET s, uint32_t ms)
{
    if (ms == 0) {
        return true;  // the read itself blocks; a shutdown ends it
    }
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    timeval wait = {(long)(ms / 1000), (long)(ms % 1000) * 1000};
    return select((int)s + 1, &ready, nullptr, nullptr, &wait) > 0;
}

void NoteStarted(TimedSource *src)
{
    if (src->started) {
        return;
    }
    src->started = true;
    src->deadline = GetTickCount() + src->record_ms;
    if (src->on_first_byte != nullptr) {
        src->on_first_byte(src->context);
    }
}

int TimedSourceRead(RecordSource *self, uint8_t *out, int size)
{
    TimedSource *src = (TimedSource *)self;
    ReadAhead *ahead = src->ahead;
    if (ahead != nullptr && ahead->start < ahead->end) {
        uint32_t have = ahead->end - ahead->start;
        uint32_t take = have < (uint32_t)size ? have : (uint32_t)size;
        memcpy(out, ahead->data + ahead->start, take);
        ahead->start += take;
        NoteStarted(src);
        return (int)take;
    }
    uint32_t wait = src->idle_ms;
    if (!src->started && src->transport->capacity > src->transport->base) {
        // Idle with a grown buffer: it goes back unless a call comes soon.
        const uint32_t first = wait != 0 && wait < SHRINK_AFTER_MS ? wait : SHRINK_AFTER_MS;
        if (!AwaitReadable(src->socket, first)) {
            TransportShrink(src->transport);
            if (wait == first) {
                return -1;
            }
            wait = wait == 0 ? 0 : wait - first;
        }
    }
    if (src->started && src->record_ms != 0) {
        DWORD left = src->deadline - GetTickCount();
        if ((int32_t)left <= 0) {
            return -1;
        }
        wait = left;
    } else if (src->started) {
        wait = 0;
    }
    if (!AwaitReadable(src->socket, wait)) {
        return -1;
    }
    int got;
    if (ahead != nullptr && (uint32_t)size < READ_AHEAD_SIZE) {
        // A short read fills the read-ahead and takes its share from it.
        ahead->start = ahead->end = 0;
        got = recv(src->socket, (char *)ahead->data, (int)READ_AHEAD_SIZE, 0);
        if (got > 0) {
            ahead->end = (uint32_t)got;
            got = got < size ? got : size;
            memcpy(out, ahead->data, (size_t)got);
            ahead->start = (uint32_t)got;
        }
    } else {
        got = recv(src->socket, (char *)out, size, 0);
    }
    if (got > 0) {
        NoteStarted(src);
    }
    return got;
}

// The batch of the calls this thread serves (TransportHoldReplies).
thread_local ReplyBatch *ThreadBatch = nullptr;

}  // namespace

void TransportHoldReplies(RpcTransport *transport, ReplyBatch *batch, bool mayWait)
{
    transport->batch = batch;
    ThreadBatch = mayWait ? batch : nullptr;
}

void **ReplyAfter(bool (*settle)(void *state))
{
    ReplyBatch *batch = ThreadBatch;
    if (batch == nullptr || (batch->settle != nullptr && batch->settle != settle))
        return nullptr;
    batch->settle = settle;
    batch->settling++;
    return &batch->settleState;
}

int TransportSend(RpcTransport *transport)
{
    transport->reply_held = false;
    if (transport->protocol == RPC_PROTO_UDP) {
        int result = SOCKET_ERROR;
        for (int attempt = 0; attempt < 3; attempt++) {
            if (attempt > 0) {
                Sleep(0);
            }
            result = sendto(transport->socket, (const char *)transport->buffer, transport->length, 0,
                            (const sockaddr *)&transport->peer, (int)sizeof(transport->peer));
            if (result != SOCKET_ERROR) {
                break;
            }
        }
        return result;
    }
    ReplyBatch *batch = transport->batch;
    if (batch != nullptr && transport->length > 0) {
        const uint32_t length = (uint32_t)transport->length;
        if (length <= transport->capacity - 4 && length + 4 <= REPLY_BATCH_SIZE - batch->used) {
            XdrStore32(batch->data + batch->used, length | RECORD_LAST_FRAGMENT);
            memcpy(batch->data + batch->used + 4, transport->buffer, length);
            batch->used += length + 4;
            batch->replies++;
            transport->send_us = 0;
            transport->reply_held = true;
            return (int)length + 4;
        }
        // Earlier replies leave first, and what this one waits for is done.
        // A failed settle keeps this reply too (the connection is closed).
        if (!SendReplyBatch(transport->socket, transport->send_lock, batch))
            return SOCKET_ERROR;
    }
    SocketSink sink = {{SocketSinkWrite}, transport->socket};
    if (transport->send_lock == nullptr)
        return SendRecord(transport, &sink.sink);
    // A connection served side by side: how long the reply waited for its
    // turn and for the socket tells its call's stall from its sending.
    const auto start = std::chrono::steady_clock::now();
    int sent;
    {
        LockGuard guard(*transport->send_lock);
        sent = SendRecord(transport, &sink.sink);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    transport->send_us = (uint32_t)std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    return sent;
}

bool SendReplyBatch(SOCKET socket, RankedLock *send_lock, ReplyBatch *batch)
{
    bool settled = true;
    if (batch->settle != nullptr) {
        bool (*settle)(void *) = batch->settle;
        void *state = batch->settleState;
        batch->settle = nullptr;
        batch->settleState = nullptr;
        settled = settle(state);
    }
    ReplyCacheSettle(batch->rememberedEntry, batch->rememberedGeneration, batch->remembered, settled);
    batch->remembered = 0;
    if (!settled) {
        batch->used = 0;
        batch->replies = 0;
        shutdown(socket, SD_BOTH);
        return false;
    }
    if (batch->used == 0)
        return true;
    SocketSink sink = {{SocketSinkWrite}, socket};
    std::unique_lock<RankedLock> hold;
    if (send_lock != nullptr)
        hold = std::unique_lock<RankedLock>(*send_lock);
    const int sent = SocketSinkWrite(&sink.sink, batch->data, (int)batch->used);
    const bool whole = sent == (int)batch->used;
    batch->used = 0;
    batch->replies = 0;
    return whole;
}

bool ReceiveDatagram(RpcTransport *transport)
{
    transport->peer_length = (int)sizeof(transport->peer);
    transport->length = recvfrom(transport->socket, (char *)transport->buffer, (int)transport->capacity, 0,
                                 (sockaddr *)&transport->peer, &transport->peer_length);
    return transport->length > 0;
}

bool ReceiveRecord(RpcTransport *transport, fd_set *read_set, const timeval *timeout)
{
    bool bounded = read_set != nullptr && timeout != nullptr;
    SocketSource source = {{SocketSourceRead, bounded ? SocketSourceAwait : nullptr},
                           transport->socket,
                           read_set,
                           timeout};
    return AssembleRecord(transport, &source.source);
}

bool ReceiveRecordTimed(RpcTransport *transport, uint32_t idle_ms, uint32_t record_ms,
                        void (*on_first_byte)(void *context), void *context, ReadAhead *ahead)
{
    TimedSource source = {{TimedSourceRead, nullptr}, transport, transport->socket, idle_ms, record_ms, false, 0,
                          on_first_byte, context, ahead};
    return AssembleRecord(transport, &source.source);
}
