// Record marking, independent of the socket layer.
#include "rpc/record_marking.h"

#include <cstring>

#include "rpc/transport.h"
#include "rpc/xdr.h"

// Reads exactly `size` bytes; stream sockets may hand out any piece of them.
static bool ReadExactly(RecordSource *source, uint8_t *out, uint32_t size, bool wait)
{
    while (size > 0) {
        if (wait && source->await != nullptr && !source->await(source)) {
            return false;
        }
        int chunk = size > 0x40000000u ? 0x40000000 : (int)size;
        int got = source->read(source, out, chunk);
        if (got < 1 || got > chunk) {
            return false;
        }
        out += got;
        size -= (uint32_t)got;
    }
    return true;
}

// Room for a fragment behind `used` bytes, when the buffer may grow that
// far: the fragment's bytes then arrive straight in their place.  A record of
// several fragments doubles the buffer at least, so that few copies are made.
static bool Grow(RpcTransport *transport, uint32_t used, uint32_t fragment)
{
    const uint32_t limit = transport->limit;
    if (used > limit || fragment > limit - used) {
        return false;
    }
    uint32_t size = used + fragment;
    if (used > 0 && transport->capacity < limit / 2 && size < transport->capacity * 2) {
        size = transport->capacity * 2;
    }
    return TransportReserve(transport, size, used, nullptr);
}

bool AssembleRecord(RpcTransport *transport, RecordSource *source)
{
    uint32_t used = 0;
    bool first = true;
    for (;;) {
        uint8_t mark_bytes[4];
        if (!ReadExactly(source, mark_bytes, 4, !first)) {
            return false;
        }
        first = false;
        const uint32_t mark = XdrLoad32(mark_bytes);
        const uint32_t fragment = mark & ~RECORD_LAST_FRAGMENT;
        if (fragment > transport->capacity - used && !Grow(transport, used, fragment)) {
            return false;
        }
        if (!ReadExactly(source, transport->buffer + used, fragment, true)) {
            return false;
        }
        used += fragment;
        if ((mark & RECORD_LAST_FRAGMENT) != 0) {
            transport->length = (int32_t)used;
            return true;
        }
    }
}

int SendRecord(RpcTransport *transport, RecordSink *sink)
{
    uint32_t remaining = transport->length > 0 ? (uint32_t)transport->length : 0;
    const uint32_t piece = transport->capacity > 4 ? transport->capacity - 4 : (remaining > 0 ? remaining : 1);
    uint8_t *fragment = transport->buffer;
    int result;
    for (;;) {
        const uint32_t size = remaining < piece ? remaining : piece;
        const bool last = size == remaining;
        uint8_t *mark = fragment - 4;  // the record-mark slot for the first fragment
        uint8_t saved[4];
        memcpy(saved, mark, 4);
        XdrStore32(mark, size | (last ? RECORD_LAST_FRAGMENT : 0));
        result = sink->write(sink, mark, (int)(size + 4));
        memcpy(mark, saved, 4);
        if (last) {
            return result;
        }
        if (result < 1) {
            return 0;
        }
        fragment += size;
        remaining -= size;
    }
}
