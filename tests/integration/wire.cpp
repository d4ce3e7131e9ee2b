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

std::string MapArgs(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port)
{
    std::string a;
    PutWord(a, prog);
    PutWord(a, vers);
    PutWord(a, prot);
    PutWord(a, port);
    return a;
}

uint32_t MapCall(uint32_t proc, uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port, RpcUdpClient *client)
{
    RpcReplyView r = ParseReply(UdpCall(NullAuthCall(NextXid(), 100000, 2, proc, MapArgs(prog, vers, prot, port)),
                                        3000, client));
    if (!r.valid || r.reply_stat != 0 || r.accept_stat != 0 || r.results.size() != 4)
        return 0xFFFFFFFFu;
    return WordAt(r.results, 0);
}

std::vector<WireEntry> DumpCall(bool tcp, bool *ok)
{
    std::string call = NullAuthCall(NextXid(), 100000, 2, 4);
    RpcReplyView r = ParseReply(tcp ? TcpCall(call) : UdpCall(call));
    std::vector<WireEntry> list;
    *ok = r.valid && r.reply_stat == 0 && r.accept_stat == 0;
    size_t pos = 0;
    while (*ok && pos + 4 <= r.results.size() && WordAt(r.results, pos) == 1) {
        if (pos + 20 > r.results.size()) {
            *ok = false;
            break;
        }
        list.push_back({WordAt(r.results, pos + 4), WordAt(r.results, pos + 8), WordAt(r.results, pos + 12),
                        WordAt(r.results, pos + 16)});
        pos += 20;
    }
    if (*ok && (pos + 4 != r.results.size() || WordAt(r.results, pos) != 0))
        *ok = false;
    return list;
}

bool NullCallsAnswer()
{
    for (bool tcp : {false, true}) {
        uint32_t xid = NextXid();
        std::string call = NullAuthCall(xid, 100000, 2, 0);
        RpcReplyView r = ParseReply(tcp ? TcpCall(call) : UdpCall(call));
        if (!r.valid || r.xid != xid || r.reply_stat != 0 || r.accept_stat != 0 || !r.results.empty())
            return false;
    }
    return true;
}
