#include "rpc_test_util.h"

#include "support/rpc_test_client.h"

#include <cstring>

#include "settings/settings.h"

Xdr &Xdr::U32(uint32_t v)
{
    b.push_back((uint8_t)(v >> 24));
    b.push_back((uint8_t)(v >> 16));
    b.push_back((uint8_t)(v >> 8));
    b.push_back((uint8_t)v);
    return *this;
}

Xdr &Xdr::Raw(const void *data, size_t n)
{
    if (n > 0) {
        const uint8_t *p = (const uint8_t *)data;
        b.insert(b.end(), p, p + n);
    }
    return *this;
}

Bytes Fill(size_t n, uint8_t first)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++) {
        b[i] = (uint8_t)(first + i * 7);
    }
    return b;
}

uint32_t WordAt(const Bytes &b, size_t index)
{
    if (b.size() < index * 4 + 4) {
        return 0xDEADBEEF;
    }
    return XdrLoad32(b.data() + index * 4);
}

namespace {

Bytes AsBytes(const std::string &s) { return Bytes(s.begin(), s.end()); }
std::string AsString(const Bytes &b) { return std::string(b.begin(), b.end()); }

} // namespace

Bytes MakeCall(const CallParts &s)
{
    RpcCallParts parts;
    parts.xid = s.xid;
    parts.msg_type = s.msg_type;
    parts.rpcvers = s.rpcvers;
    parts.prog = s.prog;
    parts.vers = s.vers;
    parts.proc = s.proc;
    parts.cred_flavor = s.cred_flavor;
    parts.cred_body = AsString(s.cred);
    parts.verf_flavor = s.verf_flavor;
    parts.verf_body = AsString(s.verf);
    Bytes call = AsBytes(BuildCall(parts));
    call.insert(call.end(), s.args.begin(), s.args.end());
    return call;
}

void RpcTestInit()
{
    RpcTestStartup();
    PortMapperRegistration = 0;
}

SOCKET LoopbackUdp()
{
    return OpenUdpSocket(htonl(INADDR_LOOPBACK), 0);
}

Wire::Wire(uint32_t capacity)
{
    // Fixtures make their wires before their SetUp runs, and threads make
    // their own: Winsock is started here too.
    RpcTestStartup();
    SOCKET server = LoopbackUdp();
    client = LoopbackUdp();
    t = NewTransport(server, RPC_PROTO_UDP, SocketLocalPort(server), capacity);
}

Wire::~Wire()
{
    CloseSocket(t->socket);
    FreeTransport(t);
    CloseSocket(client);
}

void Wire::Load(const Bytes &message)
{
    memcpy(t->buffer, message.data(), message.size());
    t->length = (int32_t)message.size();
    memset(&t->peer, 0, sizeof(t->peer));
    t->peer.sin_family = AF_INET;
    t->peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    t->peer.sin_port = htons(SocketLocalPort(client));
    t->peer_length = (int)sizeof(t->peer);
}

bool Wire::Decode(const Bytes &message)
{
    Load(message);
    return DecodeCall(t, &call);
}

void Wire::Serve(const Bytes &message)
{
    if (Decode(message)) {
        DispatchCall(t, &call);
    }
}

Bytes Wire::Reply(int ms)
{
    return ReceiveFrom(client, ms);
}

void SendTo(SOCKET from, uint16_t port, const Bytes &message)
{
    sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(from, (const char *)message.data(), (int)message.size(), 0, (const sockaddr *)&to, (int)sizeof(to));
}

static bool Readable(SOCKET s, int ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait = {ms / 1000, (ms % 1000) * 1000};
    return select((int)s + 1, &set, nullptr, nullptr, &wait) > 0;
}

Bytes ReceiveFrom(SOCKET s, int ms)
{
    if (!Readable(s, ms)) {
        return Bytes();
    }
    Bytes b(70000);
    int n = recv(s, (char *)b.data(), (int)b.size(), 0);
    b.resize(n > 0 ? (size_t)n : 0);
    return b;
}

SOCKET ConnectTcp(uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s != INVALID_SOCKET && connect(s, (const sockaddr *)&to, (int)sizeof(to)) != 0) {
        s = CloseSocket(s);
    }
    return s;
}

bool SendAll(SOCKET s, const Bytes &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(s, (const char *)bytes.data() + sent, (int)(bytes.size() - sent), 0);
        if (n <= 0) {
            return false;
        }
        sent += (size_t)n;
    }
    return true;
}

bool ClosedByPeer(SOCKET s, int ms)
{
    char discard[512];
    while (Readable(s, ms)) {
        if (recv(s, discard, (int)sizeof discard, 0) <= 0)
            return true;
    }
    return false;
}

Bytes Marked(const Bytes &message)
{
    Xdr x;
    x.U32(0x80000000u | (uint32_t)message.size()).Raw(message.data(), message.size());
    return x.b;
}
