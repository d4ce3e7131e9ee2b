// The ONC RPC version 2 message layer shared by every service: decoding of
// calls and credentials, the program table and call routing, every kind of
// reply, and the small client side with which the server calls RPC services
// itself (the cache of replies to retransmissions: rpc/reply_cache.h).
//
// Server order of operations: the transport receives a message, calls
// DecodeCall and, when that returns true, DispatchCall.  The program's
// dispatch function decodes its arguments from call->args at call->arg_pos
// (see rpc/xdr.h) and ends with exactly one reply operation, or none where its
// protocol asks for silence.  Replies are built in the transport's buffer over
// the received call.
#pragma once

#include <cstdint>

#include "rpc/xdr.h"

struct RpcTransport;

// RPC constants (RFC 5531).
enum : uint32_t {
    RPC_CALL = 0,
    RPC_REPLY = 1,
    RPC_VERSION = 2,
    MSG_ACCEPTED = 0,
    MSG_DENIED = 1,
    // accept_stat
    RPC_SUCCESS = 0,
    PROG_UNAVAIL = 1,
    PROG_MISMATCH = 2,
    PROC_UNAVAIL = 3,
    GARBAGE_ARGS = 4,
    SYSTEM_ERR = 5,
    // reject_stat
    RPC_MISMATCH = 0,
    AUTH_ERROR = 1,
    // auth_stat
    AUTH_OK = 0,
    AUTH_BADCRED = 1,
    AUTH_REJECTEDCRED = 2,
    AUTH_BADVERF = 3,
    // auth flavors
    AUTH_NULL = 0,
    AUTH_UNIX = 1,
    AUTH_SHORT = 2,
};

// Largest credential or verifier body accepted.
#define RPC_MAX_AUTH_BYTES 400u
#define AUTH_UNIX_MAX_NAME 255u
#define AUTH_UNIX_MAX_GROUPS 32u

// The decoded AUTH_UNIX credential; filled only when cred_flavor is 1.  The
// file system backend takes a pointer to it as the caller's identity.  It
// points into itself: do not copy it by value and keep the pointers.
struct AuthUnix {
    uint32_t stamp;
    char *machinename;  // -> name
    uint32_t uid;
    uint32_t gid;
    uint32_t gid_count;  // 0 to 32
    uint32_t *gids;      // -> gid_list
    char name[AUTH_UNIX_MAX_NAME + 1];
    uint32_t gid_list[AUTH_UNIX_MAX_GROUPS];
};

// One decoded call.  Each worker owns one and reuses it for every call.
struct RpcCall {
    uint32_t msg_type;
    uint32_t rpcvers;
    uint32_t prog;
    uint32_t vers;
    uint32_t proc;
    uint32_t cred_flavor;
    uint32_t cred_length;                     // host order, at most 400
    uint8_t cred[4 + RPC_MAX_AUTH_BYTES];     // length word as received, body
    uint32_t verf_flavor;
    uint32_t verf_length;                     // host order, at most 400
    uint8_t verf[4 + RPC_MAX_AUTH_BYTES];     // length word as received, body
    AuthUnix auth;
    uint32_t arg_pos;     // read position in the arguments, in 32-bit words
    uint32_t arg_length;  // argument bytes: message length minus the header
    uint8_t *args;        // first argument byte, inside the transport's buffer
};

// A program's dispatch function.
typedef void (*RpcDispatchFunction)(RpcTransport *transport, RpcCall *call);

// One entry of the program table (newest first, one per program and version,
// shared by UDP and TCP).
struct RpcProgram {
    RpcProgram *next;
    uint32_t prog;
    uint32_t vers;
    RpcDispatchFunction dispatch;
};

// --- Server side ------------------------------------------------------------

// Decodes the header of the message in the transport's buffer.  Returns true
// when the call is ready for dispatch.  Too short, not a call, or a
// credential/verifier that runs past the end of the message: dropped without
// reply.  RPC version other than 2: RPC_MISMATCH 2..2 is sent.  Credential or
// verifier body over 400 bytes: AUTH_BADCRED / AUTH_BADVERF is sent.  Sets
// transport->xid.
bool DecodeCall(RpcTransport *transport, RpcCall *call);
// Returns the auth_stat of the call's credential: 0 accepted (AUTH_NULL, or an
// AUTH_UNIX credential, which is decoded into call->auth), else the value for
// the AUTH_ERROR reply.
uint32_t CheckCredential(RpcTransport *transport, RpcCall *call);
// Checks the credential and runs the program's dispatch function, or answers
// AUTH_ERROR, PROG_MISMATCH (with the registered version range) or
// PROG_UNAVAIL.
void DispatchCall(RpcTransport *transport, RpcCall *call);

// Adds (prog, vers) with its dispatch function to the program table (an entry
// with the same function is reused, so the second protocol of a service finds
// it) and announces (prog, vers, protocol, transport->port) to the port
// mapper.  False when the table cannot grow, when (prog, vers) is registered
// with another function, or when the port mapper refuses or does not answer.
bool RegisterProgram(RpcTransport *transport, uint32_t prog, uint32_t vers, RpcDispatchFunction dispatch,
                     uint32_t protocol);
// Withdraws (prog, vers, protocol) from the port mapper when the port mapper
// accepted its registration, then removes the table entry for (prog, vers).  Safe while other threads dispatch: a removed
// entry stays readable (it is retired, not freed).
void UnregisterProgram(uint32_t prog, uint32_t vers, uint32_t protocol);
// Walking the program table (newest first); use these rather than ->next,
// since other threads may change the links.
RpcProgram *ProgramTableHead(void);
RpcProgram *ProgramTableNext(RpcProgram *entry);

// Reply operations.  Each builds the reply in transport->buffer, sets
// transport->length and sends it with TransportSend.  Accepted replies carry the
// call's own verifier back.
// Accepted, SUCCESS, then the encoder's bytes.  True unless the send failed.
bool ReplySuccess(RpcTransport *transport, RpcCall *call, XdrEncoder encoder, const void *result);
// Where ReplySuccess lets the encoder start: 24 + the call's padded verifier
// body.  A handler may place result data at buffer + this offset in advance
// (the encoders skip copies of data already in place).
uint32_t ReplySuccessHeaderLength(const RpcCall *call);
// Accepted with only the given accept_stat (PROG_UNAVAIL, PROC_UNAVAIL,
// GARBAGE_ARGS, SYSTEM_ERR).  These return TransportSend's result.
int ReplyAccepted(RpcTransport *transport, RpcCall *call, uint32_t accept_stat);
int ReplyProgMismatch(RpcTransport *transport, RpcCall *call, uint32_t low, uint32_t high);
int ReplyRpcMismatch(RpcTransport *transport, RpcCall *call, uint32_t low, uint32_t high);
int ReplyAuthError(RpcTransport *transport, RpcCall *call, uint32_t auth_stat);

// --- Client side ------------------------------------------------------------

// Writes a call header (AUTH_NULL flavors) into transport->buffer and returns
// its length, which also becomes transport->length; the caller appends the
// arguments and adds their length.  `cred` and `verf` point to counted opaques
// whose length word is in host order; null means empty (a 40-byte header).
// The transaction id becomes transport->xid.
uint32_t ClientBuildCall(RpcTransport *transport, uint32_t prog, uint32_t vers, uint32_t proc, const void *cred,
                         const void *verf);
// After a reply was received into transport->buffer: the message length of a
// successful reply (results begin at byte 24: those after a verifier that is
// not empty are moved there, and the length counts them from there), or
//   -10 too short, -1 other xid, -2 not a reply, -3 RPC_MISMATCH,
//   -4 AUTH_ERROR, -6 PROG_MISMATCH, -7 PROG_UNAVAIL, -8 PROC_UNAVAIL,
//   -9 any other accept status.
int ClientCheckReply(RpcTransport *transport);
// The next client transaction id (process-wide counter, seeded with the time
// in seconds modulo 65536 at its first use).
uint32_t ClientNextXid(void);
