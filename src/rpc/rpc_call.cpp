// Decoding of RPC calls and their credentials, and routing to the programs.
#include <cstring>

#include "rpc/rpc_message.h"
#include "rpc/transport.h"

bool DecodeCall(RpcTransport *transport, RpcCall *call)
{
    if (transport->length < 32 || (uint32_t)transport->length > transport->capacity) {
        return false;
    }
    const uint32_t length = (uint32_t)transport->length;
    const uint8_t *b = transport->buffer;

    transport->xid = XdrLoad32(b);
    call->msg_type = XdrLoad32(b + 4);
    call->rpcvers = XdrLoad32(b + 8);
    if (call->msg_type != RPC_CALL) {
        return false;
    }
    if (call->rpcvers != RPC_VERSION) {
        ReplyRpcMismatch(transport, call, RPC_VERSION, RPC_VERSION);
        return false;
    }
    call->prog = XdrLoad32(b + 12);
    call->vers = XdrLoad32(b + 16);
    call->proc = XdrLoad32(b + 20);
    call->cred_flavor = XdrLoad32(b + 24);
    call->cred_length = XdrLoad32(b + 28);
    if (call->cred_length > RPC_MAX_AUTH_BYTES) {
        ReplyAuthError(transport, call, AUTH_BADCRED);
        return false;
    }
    // The verifier's flavor and length words must lie inside the message;
    // this also covers a credential body that runs past its end.
    const uint32_t verf_at = 32 + XdrPadded(call->cred_length);
    if (verf_at + 8 > length) {
        return false;
    }
    memcpy(call->cred, b + 28, 4 + call->cred_length);

    call->verf_flavor = XdrLoad32(b + verf_at);
    call->verf_length = XdrLoad32(b + verf_at + 4);
    if (call->verf_length > RPC_MAX_AUTH_BYTES) {
        ReplyAuthError(transport, call, AUTH_BADVERF);
        return false;
    }
    const uint32_t args_at = verf_at + 8 + XdrPadded(call->verf_length);
    if (args_at > length) {
        return false;
    }
    memcpy(call->verf, b + verf_at + 4, 4 + call->verf_length);

    call->arg_pos = 0;
    call->args = transport->buffer + args_at;
    call->arg_length = length - args_at;
    return true;
}

// The AUTH_UNIX body (RFC 5531 authsys_parms).  Every field is checked
// against the stated body length before it is read.
static uint32_t DecodeAuthUnix(RpcCall *call)
{
    const uint8_t *body = call->cred + 4;
    const uint32_t size = call->cred_length;
    AuthUnix *auth = &call->auth;

    auth->machinename = auth->name;
    auth->gids = auth->gid_list;
    auth->name[0] = '\0';
    auth->gid_count = 0;
    if (size < 8) {
        return AUTH_BADCRED;
    }
    auth->stamp = XdrLoad32(body);
    const uint32_t name_length = XdrLoad32(body + 4);
    if (name_length > AUTH_UNIX_MAX_NAME) {
        return AUTH_BADCRED;
    }
    uint32_t at = 8 + XdrPadded(name_length);
    if (at + 12 > size) {
        return AUTH_BADCRED;
    }
    memcpy(auth->name, body + 8, name_length);
    auth->name[name_length] = '\0';
    auth->uid = XdrLoad32(body + at);
    auth->gid = XdrLoad32(body + at + 4);
    const uint32_t count = XdrLoad32(body + at + 8);
    if (count > AUTH_UNIX_MAX_GROUPS) {
        return AUTH_BADCRED;
    }
    at += 12;
    if (at + 4 * count > size) {
        return AUTH_BADCRED;
    }
    for (uint32_t i = 0; i < count; i++) {
        auth->gid_list[i] = XdrLoad32(body + at + 4 * i);
    }
    auth->gid_count = count;
    return AUTH_OK;
}

uint32_t CheckCredential(RpcTransport *transport, RpcCall *call)
{
    (void)transport;
    switch (call->cred_flavor) {
    case AUTH_NULL:
        return AUTH_OK;
    case AUTH_UNIX:
        return DecodeAuthUnix(call);
    default:
        return AUTH_REJECTEDCRED;
    }
}

void DispatchCall(RpcTransport *transport, RpcCall *call)
{
    uint32_t stat = CheckCredential(transport, call);
    if (stat != AUTH_OK) {
        ReplyAuthError(transport, call, stat);
        return;
    }
    bool seen = false;
    uint32_t low = 0xFFFFFFFFu;
    uint32_t high = 0;
    for (RpcProgram *p = ProgramTableHead(); p != nullptr; p = ProgramTableNext(p)) {
        if (p->prog != call->prog) {
            continue;
        }
        if (p->vers == call->vers) {
            p->dispatch(transport, call);
            return;
        }
        seen = true;
        if (p->vers < low) {
            low = p->vers;
        }
        if (p->vers > high) {
            high = p->vers;
        }
    }
    if (seen) {
        ReplyProgMismatch(transport, call, low, high);
    } else {
        ReplyAccepted(transport, call, PROG_UNAVAIL);
    }
}
