#include "nfs_wire.h"

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
