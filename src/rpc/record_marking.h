// RPC record marking over TCP (RFC 5531, section 11), apart from sockets so
// that it can be driven from memory: a record is a sequence of fragments,
// each behind a 4-byte mark whose low 31 bits give the fragment length and
// whose top bit marks the last fragment.
#pragma once

#include <cstdint>

struct RpcTransport;

#define RECORD_LAST_FRAGMENT 0x80000000u

// Where the bytes of a record come from.  `read` behaves as recv: the number
// of bytes read (1 to size), 0 at the end of the stream, below 0 on error.
// `await` (may be null) runs before each read after the first mark; false
// fails the record (the client side bounds its waits with it).
struct RecordSource {
    int (*read)(RecordSource *self, uint8_t *out, int size);
    bool (*await)(RecordSource *self);
};

// Reads one record into transport->buffer, which grows up to the handle's
// limit for it.  A fragment longer than the room left within that limit
// (minus what came before) fails the record, as does a short or broken read.  True with transport->length set.
bool AssembleRecord(RpcTransport *transport, RecordSource *source);

// Where the fragments of a record go.  `write` sends `size` bytes (mark and
// fragment together) and returns the count sent, or below 1 on failure.
struct RecordSink {
    int (*write)(RecordSink *self, const uint8_t *data, int size);
};

// Sends transport->length bytes of the buffer as fragments of capacity - 4
// bytes, only the last shorter and only its mark with the top bit.  Each mark
// is written into the 4 bytes before its fragment (the record-mark slot, then
// the tail of the previous fragment), which are restored after the send.
// Returns the last write's result, or 0 when a fragment before the last could
// not be sent.
int SendRecord(RpcTransport *transport, RecordSink *sink);
