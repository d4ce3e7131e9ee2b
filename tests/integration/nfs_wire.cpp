#include "nfs_wire.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    RpcCallParts parts;
    parts.xid = NextXid();
    parts.prog = 100003;
    parts.vers = vers;
    parts.proc = proc;
    parts.cred_flavor = 1;
    parts.cred_body = AuthUnixBody(0, "wire", 1000, 1000, {1000});
    return BuildCall(parts) + args;
}

std::string MountHandle(const std::string &path, uint32_t vers, const char *address)
{
    std::string args;
    PutOpaque(args, path);
    RpcUdpClient client(address);
    std::string reply;
    if (!client.Call(RpcTestAddress(1058, address), NullAuthCall(NextXid(), 100005, vers, 1, args), &reply, 5000))
        return "";
    RpcReplyView r = ParseReply(reply);
    if (!r.valid || r.accept_stat != 0 || r.results.size() < 8 || WordAt(r.results, 0) != 0)
        return "";
    if (vers < 3)
        return r.results.substr(4, 32);
    uint32_t length = WordAt(r.results, 4);
    return length <= r.results.size() - 8 ? r.results.substr(8, length) : "";
}

namespace {

const uint32_t kGetattr3 = 1, kLookup3 = 3, kRead3 = 6;

bool Unmount(const std::string &path)
{
    std::string args;
    PutOpaque(args, path);
    RpcUdpClient client("127.0.0.1");
    std::string reply;
    return client.Call(RpcTestAddress(1058, "127.0.0.1"), NullAuthCall(NextXid(), 100005, 3, 3, args), &reply, 5000);
}

// NFS3 status of a call, ~0u without a reply; *results gets the results.
uint32_t Nfs3Status(uint32_t proc, const std::string &args, bool tcp, std::string *results = nullptr)
{
    RpcReplyView reply = NfsCall(UnixCall(3, proc, args), tcp);
    if (!reply.valid || reply.accept_stat != 0 || reply.results.size() < 4)
        return ~0u;
    if (results != nullptr)
        *results = reply.results;
    return WordAt(reply.results, 0);
}

// The root and kept.txt serve: GETATTR of both, READ of the file.
bool HandlesServe(const std::string &root, const std::string &file)
{
    for (bool tcp : {true, false}) {
        std::string read;
        if (Nfs3Status(kGetattr3, Fh3Bytes(root), tcp) != 0 ||
            Nfs3Status(kRead3, Fh3Bytes(file) + std::string(8, '\0') + std::string("\0\0\0\x40", 4), tcp,
                       &read) != 0 ||
            read.find("kept across restarts") == std::string::npos) {
            fprintf(stderr, "the handles do not serve over %s\n", tcp ? "TCP" : "UDP");
            return false;
        }
    }
    return true;
}

std::string Hex(const std::string &bytes)
{
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

std::string Bytes(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

} // namespace

int RunKeptHandles(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[2], "save") == 0) {
        // One host mounting the export twice (two mount points share one
        // record); the unmount of one must not stale the other.
        const std::string root = MountHandle("/data", 3);
        if (root.empty() || MountHandle("/data", 3) != root || !Unmount("/data")) {
            fprintf(stderr, "cannot mount and unmount /data\n");
            return 1;
        }
        std::string found;
        const uint32_t status = Nfs3Status(kLookup3, Fh3Bytes(root) + Name3("kept.txt"), true, &found);
        if (status != 0 || found.size() < 8) {
            fprintf(stderr, "LOOKUP of kept.txt after the unmount: %d\n", static_cast<int>(status));
            return 1;
        }
        const std::string file = found.substr(8, WordAt(found, 4));
        if (!HandlesServe(root, file))
            return 1;
        printf("kept %s %s\n", Hex(root).c_str(), Hex(file).c_str());
        return 0;
    }
    if (argc >= 5 && strcmp(argv[2], "check") == 0)
        return HandlesServe(Bytes(argv[3]), Bytes(argv[4])) ? 0 : 1;
    fprintf(stderr, "usage: --kept-handles save | check ROOT FILE\n");
    return 2;
}

std::string Fh3Bytes(const std::string &handle)
{
    std::string out;
    PutOpaque(out, handle);
    return out;
}

std::string Name3(const std::string &name)
{
    std::string out;
    PutOpaque(out, name);
    return out;
}
