#include "wire.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

sockaddr_in ServerAddress()
{
    const char *port = getenv("KORVANE_PMAP_PORT");
    return RpcTestAddress(port != nullptr ? (uint16_t)atoi(port) : 111);
}

uint32_t NextXid()
{
    static std::atomic<uint32_t> xid{0x51000000u + (GetTickCount() & 0xFFFFu) * 16};
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

RpcReplyView NfsCall(const std::string &call, bool tcp, const char *address)
{
    std::string reply;
    const sockaddr_in to = RpcTestAddress(2049, address);
    if (tcp) {
        RpcTcpClient client;
        if (!client.Connect(to) || !client.Call(call, &reply, 5000))
            return RpcReplyView();
    } else {
        // Sent again every half second, as RPC clients do: a datagram may be
        // dropped while the server's socket is full.
        RpcUdpClient client(address);
        bool answered = false;
        for (int attempt = 0; attempt < 10 && !answered; attempt++)
            answered = client.Call(to, call, &reply, 500);
        if (!answered)
            return RpcReplyView();
    }
    return ParseReply(reply);
}

std::string UnixCall(uint32_t vers, uint32_t proc, const std::string &args)
{
    return BuildCall({NextXid(), 0, 2, 100003, vers, proc, 1, AuthUnixBody(0, "wire", 1000, 1000, {1000}), 0, ""}) +
           args;
}

namespace {

// The counted handle at the start of results of status 0, or "".
std::string CountedHandle(const RpcReplyView &r)
{
    if (!r.valid || r.accept_stat != 0 || r.results.size() < 8 || WordAt(r.results, 0) != 0)
        return "";
    uint32_t length = WordAt(r.results, 4);
    return length <= r.results.size() - 8 ? r.results.substr(8, length) : "";
}

} // namespace

std::string MountHandle(const std::string &path, uint32_t vers, const char *address, bool tcp)
{
    const std::string call = NullAuthCall(NextXid(), 100005, vers, 1, CountedOpaque(path));
    const sockaddr_in to = RpcTestAddress(1058, address);
    std::string reply;
    RpcUdpClient udp(address);
    RpcTcpClient connection;
    if (tcp ? !connection.Connect(to) || !connection.Call(call, &reply, 5000) : !udp.Call(to, call, &reply, 5000))
        return "";
    RpcReplyView r = ParseReply(reply);
    if (vers < 3)
        return r.valid && r.results.size() >= 36 && WordAt(r.results, 0) == 0 ? r.results.substr(4, 32) : "";
    return CountedHandle(r);
}

std::string Lookup(const std::string &dir, const std::string &name, bool tcp)
{
    return CountedHandle(NfsCall(UnixCall(3, 3, CountedOpaque(dir) + CountedOpaque(name)), tcp));
}

namespace {

// The root and kept.txt serve: GETATTR of both, READ of the file.
bool HandlesServe(const std::string &root, const std::string &file)
{
    for (bool tcp : {true, false}) {
        RpcReplyView attr = NfsCall(UnixCall(3, 1, CountedOpaque(root)), tcp);
        RpcReplyView read = NfsCall(UnixCall(3, 6, CountedOpaque(file) + Words({0, 0, 64})), tcp);
        if (!attr.valid || WordAt(attr.results, 0) != 0 || !read.valid || WordAt(read.results, 0) != 0 ||
            read.results.find("kept across restarts") == std::string::npos) {
            fprintf(stderr, "the handles do not serve over %s\n", tcp ? "TCP" : "UDP");
            return false;
        }
    }
    return true;
}

} // namespace

int RunKeptHandles(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[2], "save") == 0) {
        // One host mounting the export twice (two mount points share one
        // record); the unmount of one must not stale the other.
        const std::string root = MountHandle("/data", 3);
        RpcUdpClient client;
        std::string reply;
        if (root.empty() || MountHandle("/data", 3) != root ||
            !client.Call(RpcTestAddress(1058), NullAuthCall(NextXid(), 100005, 3, 3, CountedOpaque("/data")), &reply,
                         5000)) {
            fprintf(stderr, "cannot mount and unmount /data\n");
            return 1;
        }
        const std::string file = Lookup(root, "kept.txt", true);
        if (file.empty() || !HandlesServe(root, file)) {
            fprintf(stderr, "kept.txt is not found or served after the unmount\n");
            return 1;
        }
        printf("kept");
        for (const std::string &handle : {root, file}) {
            printf(" ");
            for (unsigned char c : handle)
                printf("%02x", c);
        }
        printf("\n");
        return 0;
    }
    if (argc < 5 || strcmp(argv[2], "check") != 0) {
        fprintf(stderr, "usage: --kept-handles save | check ROOT FILE\n");
        return 2;
    }
    std::string handles[2];
    for (int h = 0; h < 2; h++)
        for (size_t i = 0; argv[3 + h][i] != '\0' && argv[3 + h][i + 1] != '\0'; i += 2)
            handles[h] += static_cast<char>(strtoul(std::string(argv[3 + h] + i, 2).c_str(), nullptr, 16));
    return HandlesServe(handles[0], handles[1]) ? 0 : 1;
}
