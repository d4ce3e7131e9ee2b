#include "wire.h"

#include <cstdlib>

sockaddr_in ServerAddress()
{
    const char *port = getenv("KORVANE_PMAP_PORT");
    return RpcTestAddress(port != nullptr ? (uint16_t)atoi(port) : 111);
}

uint32_t NextXid()
{
    static uint32_t xid = 0x51000000u + (GetTickCount() & 0xFFFFu) * 16;
    return ++xid;
}

std::string UdpCall(const std::string &call, int timeout_ms, RpcUdpClient *client)
{
    RpcUdpClient own;
    RpcUdpClient *c = client != nullptr ? client : &own;
    std::string reply;
    return c->Call(ServerAddress(), call, &reply, timeout_ms) ? reply : "";
}

std::string TcpCall(const std::string &call, int timeout_ms)
{
    RpcTcpClient c;
    std::string reply;
    return c.Connect(ServerAddress()) && c.Call(call, &reply, timeout_ms) ? reply : "";
}

uint32_t MapCall(uint32_t proc, uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port, RpcUdpClient *client)
{
    std::string call = NullAuthCall(NextXid(), 100000, 2, proc, PmapMappingArgs(prog, vers, prot, port));
    return PmapWordAnswer(UdpCall(call, 3000, client));
}

std::vector<PmapEntry> DumpCall(bool tcp, bool *ok)
{
    std::string call = NullAuthCall(NextXid(), 100000, 2, 4);
    return PmapParseDump(tcp ? TcpCall(call) : UdpCall(call), ok);
}

bool NullCallsAnswer()
{
    for (bool tcp : {false, true}) {
        uint32_t xid = NextXid();
        std::string call = NullAuthCall(xid, 100000, 2, 0);
        // Over UDP a call may be lost in a flood of datagrams: sent again
        // after a second, as RPC clients do.
        std::string reply = tcp ? TcpCall(call) : UdpCall(call, 1000);
        for (int again = 0; !tcp && reply.empty() && again < 2; again++)
            reply = UdpCall(call, 1000);
        RpcReplyView r = ParseReply(reply);
        if (!r.valid || r.xid != xid || r.reply_stat != 0 || r.accept_stat != 0 || !r.results.empty())
            return false;
    }
    return true;
}
