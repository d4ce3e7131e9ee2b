// Calls to the port mapper on 127.0.0.1: the services' registrations (SET,
// UNSET) and the table query of the preferences (DUMP).
#include "platform/win32.h"
#include "rpc/port_mapper_internal.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

const uint32_t kRegisterCapacity = 1500;
const uint32_t kDumpCapacity = 8192;

uint32_t Register(uint32_t prog, uint32_t vers, uint32_t protocol, uint32_t port)
{
    if (PortMapperRegistration == 0)
        return 1;
    RpcTransport *t = NewTransport(INVALID_SOCKET, RPC_PROTO_UDP, 0, kRegisterCapacity);
    if (t == nullptr)
        return 0;
    uint32_t proc = port != 0 ? PMAPPROC_SET : PMAPPROC_UNSET;
    uint32_t length = ClientBuildCall(t, PMAP_PROG, PMAP_VERS, proc, nullptr, nullptr);
    length += XdrPack(t->buffer + length, "qqqw", prog, vers, protocol, (unsigned)(port & 0xFFFFu));
    t->length = (int32_t)length;
    uint32_t answer = 0;
    // A successful reply whose result is exactly one word.
    if (ClientCall(t, RPC_PROTO_UDP, PmapPort) == 28)
        answer = XdrLoad32(t->buffer + 24);
    FreeTransport(t);
    return answer;
}

} // namespace

uint32_t PortMapperSet(uint32_t prog, uint32_t vers, uint32_t protocol, uint32_t port)
{
    return Register(prog, vers, protocol, port);
}

uint32_t PortMapperUnset(uint32_t prog, uint32_t vers, uint32_t protocol) { return Register(prog, vers, protocol, 0); }

int PortMapperDump(int use_udp, PmapRowFunction row)
{
    RpcTransport *t = NewTransport(INVALID_SOCKET, use_udp ? RPC_PROTO_UDP : RPC_PROTO_TCP, 0, kDumpCapacity);
    if (t == nullptr)
        return 0;
    t->length = (int32_t)ClientBuildCall(t, PMAP_PROG, PMAP_VERS, PMAPPROC_DUMP, nullptr, nullptr);
    int replied = ClientCall(t, use_udp ? RPC_PROTO_UDP : RPC_PROTO_TCP, PmapPort);
    if (replied <= 0) {
        FreeTransport(t);
        return 0;
    }
    for (uint32_t pos = 24; pos + 20 <= (uint32_t)replied; pos += 20) {
        const uint8_t *e = t->buffer + pos;
        if (XdrLoad32(e) == 0)
            break;
        uint32_t prog = XdrLoad32(e + 4), vers = XdrLoad32(e + 8);
        uint32_t prot = XdrLoad32(e + 12), port = XdrLoad32(e + 16);
        if (prog == 0 && vers == 0 && (prot & 0xFFFFu) == 0 && (port & 0xFFFFu) == 0)
            break;
        if (row != nullptr)
            row(prog, vers, prot, port & 0xFFFFu);
    }
    FreeTransport(t);
    return 1;
}
