// The client side of the message layer: calls the server makes itself
// (port mapper registration, lock manager callbacks, queries of the
// preferences pages) and the check of their replies.
#include <atomic>
#include <cstring>
#include <ctime>

#include "rpc/rpc_message.h"
#include "rpc/transport.h"

static std::atomic<uint32_t> ClientXid{0};

uint32_t ClientNextXid(void)
{
    if (ClientXid.load(std::memory_order_relaxed) == 0) {
        uint32_t expected = 0;
        ClientXid.compare_exchange_strong(expected, (uint32_t)(time(nullptr) % 65536), std::memory_order_relaxed);
    }
    return ClientXid.fetch_add(1, std::memory_order_relaxed);
}

uint32_t ClientBuildCall(RpcTransport *transport, uint32_t prog, uint32_t vers, uint32_t proc, const void *cred,
                         const void *verf)
{
    static const uint32_t empty = 0;
    uint32_t xid = ClientNextXid();
    transport->xid = xid;
    uint32_t n = XdrPack(transport->buffer, "qqqqqqqoqo", xid, RPC_CALL, RPC_VERSION, prog, vers, proc, AUTH_NULL,
                         cred != nullptr ? cred : &empty, AUTH_NULL, verf != nullptr ? verf : &empty);
    transport->length = (int32_t)n;
    return n;
}

int ClientCheckReply(RpcTransport *transport)
{
    const int32_t length = transport->length;
    uint8_t *b = transport->buffer;
    if (length < 20) {
        return -10;
    }
    if (XdrLoad32(b) != transport->xid) {
        return -1;
    }
    if (XdrLoad32(b + 4) != RPC_REPLY) {
        return -2;
    }
    if (XdrLoad32(b + 8) != MSG_ACCEPTED) {
        return XdrLoad32(b + 12) == RPC_MISMATCH ? -3 : -4;
    }
    // The verifier (flavor, length, at most 400 bytes padded to a word),
    // then the accept status; a reply that ends before it carries none.
    const uint32_t verifierLength = XdrLoad32(b + 16);
    if (verifierLength > 400) {
        return -10;
    }
    const int32_t status = 20 + static_cast<int32_t>((verifierLength + 3) & ~3u);
    if (length < status + 4) {
        return -10;
    }
    switch (XdrLoad32(b + status)) {
    case RPC_SUCCESS:
        // The results begin at byte 24, as after an empty verifier.
        if (status != 20) {
            memmove(b + 24, b + status + 4, static_cast<size_t>(length - status - 4));
            transport->length = length - (status - 20);
        }
        return transport->length;
    case PROG_MISMATCH:
        return -6;
    case PROG_UNAVAIL:
        return -7;
    case PROC_UNAVAIL:
        return -8;
    default:
        return -9;
    }
}
