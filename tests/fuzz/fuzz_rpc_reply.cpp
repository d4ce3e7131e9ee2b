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
    if (result > 0 && (result != (int)size || size < 24 || XdrLoad32(data) != t->xid ||
                       XdrLoad32(data + 4) != RPC_REPLY || XdrLoad32(data + 8) != MSG_ACCEPTED ||
                       XdrLoad32(data + 20) != RPC_SUCCESS))
        abort();
    if (result == 0 || result < -10)
        abort();
    FreeTransport(t);
    return 0;
}
