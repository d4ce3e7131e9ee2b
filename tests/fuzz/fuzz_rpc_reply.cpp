// ClientCheckReply on arbitrary replies of a peer (a client's lock manager,
// a status monitor, a port mapper): nothing may be read outside the reply,
// and a reply taken as a success must be one.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "rpc/rpc_message.h"
#include "rpc/transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size = size > 65536 ? 65536 : size;
    // A buffer of exactly the reply's size, so the sanitizer catches any read
    // past it.  The seeds answer the call 0x4b4e4653.
    RpcTransport *t = NewTransport(INVALID_SOCKET, 17, 0, (uint32_t)size);
    memcpy(t->buffer, data, size);
    t->length = (int32_t)size;
    t->xid = 0x4b4e4653u;
    const int result = ClientCheckReply(t);
    // A success is an accepted reply to the call whose status, after a
    // verifier of at most 400 bytes, says so; its results start at byte 24.
    const uint32_t verifier = size >= 20 ? (XdrLoad32(data + 16) + 3) & ~3u : 0;
    const size_t status = 20 + verifier;
    const bool success = size >= 24 && XdrLoad32(data) == 0x4b4e4653u && XdrLoad32(data + 4) == RPC_REPLY &&
                         XdrLoad32(data + 8) == MSG_ACCEPTED && XdrLoad32(data + 16) <= 400 &&
                         size >= status + 4 && XdrLoad32(data + status) == RPC_SUCCESS;
    if ((result > 0) != success || result == 0 || result < -10)
        abort();
    if (success && ((size_t)result != size - verifier ||
                    memcmp(t->buffer + 24, data + status + 4, size - status - 4) != 0))
        abort();
    FreeTransport(t);
    return 0;
}
