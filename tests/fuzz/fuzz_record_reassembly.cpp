// TCP record reassembly fed from a byte stream (the first two bytes choose
// the buffer capacity and the size of the pieces read): every record accepted
// fits the buffer's limit and, sent again as fragments, reassembles alike.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "rpc/record_marking.h"
#include "rpc/transport.h"

namespace {

struct Stream {
    RecordSource source;
    const uint8_t *data;
    size_t size;
    size_t at;
    int piece;
};

int StreamRead(RecordSource *self, uint8_t *out, int size)
{
    Stream *s = (Stream *)self;
    size_t n = std::min({s->size - s->at, (size_t)size, (size_t)s->piece});
    memcpy(out, s->data + s->at, n);
    s->at += n;
    return (int)n;
}

struct Collect {
    RecordSink sink;
    uint8_t *data;
    size_t size;
    size_t limit;
};

int CollectWrite(RecordSink *self, const uint8_t *p, int size)
{
    Collect *c = (Collect *)self;
    if (c->size + (size_t)size > c->limit)
        abort();
    memcpy(c->data + c->size, p, (size_t)size);
    c->size += (size_t)size;
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t capacity = 1 + data[0] * 8u;  // 1 .. 2041
    const int piece = 1 + data[1] % 64;
    RpcTransport *t = NewTransport(INVALID_SOCKET, 6, 0, capacity);
    t->limit = capacity * 3;  // the buffer grows for longer records
    Stream stream = {{StreamRead, nullptr}, data + 2, size - 2, 0, piece};
    for (int records = 0; records < 64; records++) {
        size_t before = stream.at;
        if (!AssembleRecord(t, &stream.source))
            break;
        if (t->length < 0 || (uint32_t)t->length > t->limit || stream.at <= before)
            abort();
        // Send it back out with a small fragment size and read it again.
        RpcTransport *out = NewTransport(INVALID_SOCKET, 6, 0, t->limit);
        memcpy(out->buffer, t->buffer, (size_t)t->length);
        out->length = t->length;
        out->capacity = 4 + piece;  // fragments of `piece` bytes
        size_t limit = (size_t)t->length + 4 * ((size_t)t->length / (size_t)piece + 2);
        Collect collect = {{CollectWrite}, (uint8_t *)malloc(limit), 0, limit};
        SendRecord(out, &collect.sink);
        RpcTransport *again = NewTransport(INVALID_SOCKET, 6, 0, capacity);
        again->limit = t->limit;
        Stream replay = {{StreamRead, nullptr}, collect.data, collect.size, 0, 3};
        if (!AssembleRecord(again, &replay.source) || again->length != t->length ||
            memcmp(again->buffer, t->buffer, (size_t)t->length) != 0 || replay.at != collect.size)
            abort();
        free(collect.data);
        FreeTransport(out);
        FreeTransport(again);
    }
    FreeTransport(t);
    return 0;
}
