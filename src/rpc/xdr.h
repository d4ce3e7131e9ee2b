// XDR primitives: every integer is a 32-bit word in network byte order; a
// counted opaque or string is a length word, the bytes and zero padding to a
// multiple of 4.  Writers take an output position and return the number of
// bytes written; none of them checks bounds, the caller provides room.
// Readers work on the arguments of a decoded call (RpcCall::args, arg_pos,
// arg_length) and never read past arg_length.
#pragma once

#include <cstdint>

struct RpcCall;

// An encoder writes one result record at `out` and returns its byte count.
// Every reply operation that carries a result takes one.
typedef uint32_t (*XdrEncoder)(uint8_t *out, const void *result);

// Raw word access at any (possibly unaligned) position.
uint32_t XdrLoad32(const uint8_t *in);
void XdrStore32(uint8_t *out, uint32_t value);
// Padded length of an opaque of `length` bytes (a multiple of 4).
inline uint32_t XdrPadded(uint32_t length) { return (length + 3u) & ~3u; }

// Packs one item per format letter, one argument per letter:
//   q  uint32_t in host order -> one word
//   w  16-bit value in host order (passed as int/unsigned) -> one word
//   O  const void * to a counted opaque whose length word is in network order
//      (as kept from a received message) -> length word, bytes, padding
//   o  const void * to a counted opaque whose length word is in host order
//      -> length in network order, bytes, padding
//   Q  uint32_t already in network order -> stored unchanged
//   W  16-bit value -> widened to 32 bits, stored without byte swapping
// Any other character is skipped and takes no argument.  Returns the bytes
// written.
uint32_t XdrPack(uint8_t *out, const char *format, ...);

// The encoder of every procedure without results: writes nothing, returns 0.
uint32_t XdrPutNothing(uint8_t *out, const void *result);
// One word from *(const uint32_t *)value; returns 4.  Usable as the encoder
// of a boolean, a port or an NFS version 2 status.
uint32_t XdrPutU32(uint8_t *out, const void *value);
// The bytes (not copied when out == data) and zero padding; returns the
// padded length.
uint32_t XdrPutFixedOpaque(uint8_t *out, const void *data, uint32_t length);
// Length word, bytes (not copied when data == out + 4, i.e. the data already
// lies behind the length word), zero padding; returns 4 + padded length.
uint32_t XdrPutOpaque(uint8_t *out, const void *data, uint32_t length);
// Convenience writers for encoders: one word / one 64-bit hyper (high word
// first); return 4 / 8.
uint32_t XdrPutWord(uint8_t *out, uint32_t value);
uint32_t XdrPutHyper(uint8_t *out, uint64_t value);

// Reads a string at arg_pos.  Succeeds when its length L is less than `max`
// and the L bytes lie inside the arguments: copies them to `out`, appends a
// NUL, moves arg_pos past the length word and the padded bytes, returns L + 1.
// Otherwise stores an empty string, leaves arg_pos alone and returns 0.
// `out` must hold `max` bytes.
uint32_t XdrGetString(RpcCall *call, char *out, uint32_t max);

// Argument readers for the services.  Each returns true and advances arg_pos
// when the item lies completely inside the arguments, else returns false and
// leaves arg_pos alone.
bool XdrGetU32(RpcCall *call, uint32_t *value);
bool XdrGetU64(RpcCall *call, uint64_t *value);
// Counted opaque of at most `max` bytes, copied to `out`; *length gets its
// length.
bool XdrGetOpaque(RpcCall *call, uint8_t *out, uint32_t max, uint32_t *length);
// Counted opaque of at most `max` bytes left in place: *data points into the
// arguments.
bool XdrGetOpaqueRef(RpcCall *call, const uint8_t **data, uint32_t max, uint32_t *length);
// Fixed opaque of `length` bytes (plus padding), copied to `out`.
bool XdrGetFixedOpaque(RpcCall *call, uint8_t *out, uint32_t length);
// Argument bytes not yet read (0 when arg_pos has moved past the end).
uint32_t XdrArgsLeft(const RpcCall *call);
