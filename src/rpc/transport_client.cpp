// The socket side of the server's own outgoing calls to 127.0.0.1: each call
// opens a fresh socket, and ClientAwaitReply closes it.
#include <cstring>

#include "rpc/transport.h"
#include "settings/settings.h"

bool ClientOpen(RpcTransport *transport, uint16_t protocol, uint16_t port)
{
    memset(&transport->peer, 0, sizeof(transport->peer));
    transport->peer.sin_family = AF_INET;
    transport->peer.sin_port = htons(port);
    transport->peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    transport->peer_length = (int)sizeof(transport->peer);
    transport->protocol = protocol;
    if (protocol == RPC_PROTO_UDP) {
        // Connected, so that a port where nothing listens reports itself at
        // once (the reply wait ends with the error) instead of after the
        // whole time-out: a start without a port mapper fails promptly.
        SOCKET s = OpenUdpSocket(0, 0);
        if (s != INVALID_SOCKET &&
            connect(s, (const sockaddr *)&transport->peer, (int)sizeof(transport->peer)) != 0) {
            s = CloseSocket(s);
        }
        transport->socket = s;
        return s != INVALID_SOCKET;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET &&
        connect(s, (const sockaddr *)&transport->peer, (int)sizeof(transport->peer)) != 0) {
        s = CloseSocket(s);
    }
    transport->socket = s;
    return s != INVALID_SOCKET;
}

int ClientAwaitReply(RpcTransport *transport)
{
    const long seconds = RPCTIMEOUT > 0 ? RPCTIMEOUT : 1;
    int result = 0;
    for (int waits = 0; waits < 20; waits++) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(transport->socket, &ready);
        timeval wait = {seconds, 0};
        int n = select((int)transport->socket + 1, &ready, nullptr, nullptr, &wait);
        if (n < 0) {
            continue;
        }
        if (n > 0) {
            bool received;
            if (transport->protocol == RPC_PROTO_UDP) {
                received = ReceiveDatagram(transport);
            } else {
                timeval between = {seconds, 0};
                received = ReceiveRecord(transport, &ready, &between);
            }
            result = received ? ClientCheckReply(transport) : 0;
        }
        break;
    }
    transport->socket = CloseSocket(transport->socket);
    return result;
}

int ClientCall(RpcTransport *transport, uint16_t protocol, uint16_t port)
{
    if (!ClientOpen(transport, protocol, port)) {
        return 0;
    }
    if (TransportSend(transport) <= 0) {
        transport->socket = CloseSocket(transport->socket);
        return 0;
    }
    return ClientAwaitReply(transport);
}
