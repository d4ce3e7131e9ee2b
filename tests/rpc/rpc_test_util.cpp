#include "rpc_test_util.h"

#include <cstring>

#include "settings/settings.h"

void RpcTestInit()
{
    RpcTestStartup();
    PortMapperRegistration = 0;
}

Wire::Wire(uint32_t capacity)
{
    SOCKET server = OpenUdpSocket(htonl(INADDR_LOOPBACK), 0);
    t = NewTransport(server, RPC_PROTO_UDP, SocketLocalPort(server), capacity);
}

Wire::~Wire()
{
    CloseSocket(t->socket);
    FreeTransport(t);
}

bool Wire::Decode(const std::string &message)
{
    memcpy(t->buffer, message.data(), message.size());
    t->length = (int32_t)message.size();
    memset(&t->peer, 0, sizeof(t->peer));
    t->peer.sin_family = AF_INET;
    t->peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    t->peer.sin_port = htons(SocketLocalPort(client.handle()));
    t->peer_length = (int)sizeof(t->peer);
    return DecodeCall(t, &call);
}

void Wire::Serve(const std::string &message)
{
    if (Decode(message))
        DispatchCall(t, &call);
}

std::string Wire::Reply(int ms)
{
    std::string reply;
    return client.Receive(&reply, ms) ? reply : "";
}

std::string Wire::Sent() const
{
    return std::string(reinterpret_cast<const char *>(t->buffer), t->length);
}

SOCKET ConnectTcp(uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = RpcTestAddress(port);
    if (s != INVALID_SOCKET && connect(s, (const sockaddr *)&to, (int)sizeof(to)) != 0)
        s = CloseSocket(s);
    return s;
}

bool SendAll(SOCKET s, const std::string &bytes)
{
    for (size_t sent = 0; sent < bytes.size();) {
        int n = send(s, bytes.data() + sent, (int)(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += (size_t)n;
    }
    return true;
}

bool ClosedByPeer(SOCKET s, int ms)
{
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait = {ms / 1000, (ms % 1000) * 1000};
        if (select((int)s + 1, &set, nullptr, nullptr, &wait) <= 0)
            return false;
        char discard[512];
        if (recv(s, discard, (int)sizeof discard, 0) <= 0)
            return true;
    }
}
