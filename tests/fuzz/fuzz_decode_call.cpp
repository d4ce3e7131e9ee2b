// DecodeCall and CheckCredential on arbitrary messages: nothing may be read
// or written outside the message, the call record or the reply, and what is
// accepted must be consistent with the message.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "rpc/rpc_message.h"
#include "rpc/transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    size = size > 65536 ? 65536 : size;
    // A buffer of exactly the message's size, so the sanitizer catches any
    // read past the message.  No socket: a refusal's reply fails its send
    // quietly.
    RpcTransport *t = NewTransport(INVALID_SOCKET, 17, 0, (uint32_t)size);
    memcpy(t->buffer, data, size);
    t->length = (int32_t)size;
    if (DecodeCall(t, call)) {
        size_t header = (size_t)(call->args - t->buffer);
        if (size < 40 || call->cred_length > 400 || call->verf_length > 400 || header < 40 || header > size ||
            header + call->arg_length != size || header % 4 != 0)
            abort();
        uint32_t stat = CheckCredential(t, call);
        if (stat > 2 || (stat == 0 && call->cred_flavor == 1 &&
                         (call->auth.gid_count > 32 || strlen(call->auth.name) > 255 ||
                          call->auth.machinename != call->auth.name)))
            abort();
        // Read every argument word the way the services do.
        uint32_t word;
        char name[64];
        XdrGetString(call, name, sizeof(name));
        while (XdrGetU32(call, &word)) {
        }
    }
    FreeTransport(t);
    return 0;
}
