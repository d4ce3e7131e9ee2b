// Every kind of reply.
#include "rpc/rpc_message.h"
#include "rpc/transport.h"

uint32_t ReplySuccessHeaderLength(const RpcCall *call)
{
    return 24 + XdrPadded(call->verf_length);
}

bool ReplySuccess(RpcTransport *transport, RpcCall *call, XdrEncoder encoder, const void *result)
{
    uint8_t *out = transport->buffer;
    uint32_t n = XdrPack(out, "qqqqOq", transport->xid, RPC_REPLY, MSG_ACCEPTED, call->verf_flavor, call->verf,
                         RPC_SUCCESS);
    n += encoder(out + n, result);
    transport->length = (int32_t)n;
    return TransportSend(transport) > 0;
}

int ReplyAccepted(RpcTransport *transport, RpcCall *call, uint32_t accept_stat)
{
    transport->length = (int32_t)XdrPack(transport->buffer, "qqqqOq", transport->xid, RPC_REPLY, MSG_ACCEPTED,
                                         call->verf_flavor, call->verf, accept_stat);
    return TransportSend(transport);
}

int ReplyProgMismatch(RpcTransport *transport, RpcCall *call, uint32_t low, uint32_t high)
{
    transport->length = (int32_t)XdrPack(transport->buffer, "qqqqOqqq", transport->xid, RPC_REPLY, MSG_ACCEPTED,
                                         call->verf_flavor, call->verf, PROG_MISMATCH, low, high);
    return TransportSend(transport);
}

int ReplyRpcMismatch(RpcTransport *transport, RpcCall *call, uint32_t low, uint32_t high)
{
    (void)call;
    transport->length =
        (int32_t)XdrPack(transport->buffer, "qqqqqq", transport->xid, RPC_REPLY, MSG_DENIED, RPC_MISMATCH, low, high);
    return TransportSend(transport);
}

int ReplyAuthError(RpcTransport *transport, RpcCall *call, uint32_t auth_stat)
{
    (void)call;
    transport->length =
        (int32_t)XdrPack(transport->buffer, "qqqqq", transport->xid, RPC_REPLY, MSG_DENIED, AUTH_ERROR, auth_stat);
    return TransportSend(transport);
}
