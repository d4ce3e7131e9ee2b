// Replies and the reply cache of non-idempotent procedures.
#include <atomic>
#include <cstring>

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

// The slot's state is the only guard: -1 gives one thread the slot for
// writing or resending.  A resend waits briefly for a writer that holds the
// slot, since that writer may be storing the very reply being asked for.
bool ReplyCacheCheck(RpcTransport *transport, RpcCall *call, ReplyCacheSlot *slot, XdrEncoder encoder,
                     const void *result)
{
    std::atomic_ref<int16_t> state(slot->state);
    for (int tries = 0;; tries++) {
        int16_t expected = 1;
        if (state.compare_exchange_strong(expected, (int16_t)-1, std::memory_order_acquire)) {
            break;
        }
        if (expected != -1 || tries >= 200) {
            return false;  // empty, or held too long by another thread
        }
        Sleep(tries < 100 ? 0 : 1);
    }
    if (slot->xid != transport->xid || slot->client_addr != transport->peer.sin_addr.s_addr ||
        slot->client_port != transport->peer.sin_port) {
        state.store(1, std::memory_order_release);
        return false;
    }
    ReplySuccess(transport, call, encoder, result);
    state.store(1, std::memory_order_release);
    return true;
}

void ReplyCacheStore(RpcTransport *transport, ReplyCacheSlot *slot, void *store, const void *result, uint32_t size)
{
    std::atomic_ref<int16_t> state(slot->state);
    int16_t current = state.load(std::memory_order_relaxed);
    if (current < 0 || !state.compare_exchange_strong(current, (int16_t)-1, std::memory_order_acquire)) {
        return;
    }
    slot->xid = transport->xid;
    slot->client_addr = transport->peer.sin_addr.s_addr;
    slot->client_port = transport->peer.sin_port;
    if (store != result) {
        memmove(store, result, size);
    }
    state.store(1, std::memory_order_release);
}
