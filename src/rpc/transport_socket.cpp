// Transport handles and the sockets of the services.
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "rpc/transport.h"

RpcTransport *NewTransport(SOCKET socket, uint16_t protocol, uint16_t port, uint32_t capacity)
{
    // Handle, record-mark slot and buffer in one allocation; the slot lets a
    // TCP reply go out as mark + first fragment in a single send.
    size_t size = sizeof(RpcTransport) + 4 + (size_t)capacity;
    RpcTransport *t = (RpcTransport *)calloc(1, size);
    if (t == nullptr) {
        LogLine(2, "nfsd: out of memory\n");
        return nullptr;
    }
    t->next = nullptr;
    t->socket = socket;
    t->port = port;
    t->protocol = protocol;
    t->peer_length = (int)sizeof(t->peer);
    t->capacity = capacity;
    t->limit = capacity;
    t->base = capacity;
    t->record_mark = (uint8_t *)(t + 1);
    t->buffer = t->record_mark + 4;
    return t;
}

// The handle's own mark slot; any other is a grown buffer's.
static bool Grown(const RpcTransport *t)
{
    return t->record_mark != nullptr && t->record_mark != (const uint8_t *)(t + 1);
}

void FreeTransport(RpcTransport *transport)
{
    if (transport != nullptr && Grown(transport))
        free(transport->record_mark);
    free(transport);
}

bool TransportReserve(RpcTransport *transport, uint32_t size, uint32_t keep, RpcCall *call)
{
    RpcTransport *t = transport;
    if (size <= t->capacity)
        return true;
    if (size > t->limit)
        return false;
    uint8_t *grown = (uint8_t *)malloc((size_t)size + 4);
    if (grown == nullptr) {
        LogLine(2, "nfsd: out of memory\n");
        return false;
    }
    memcpy(grown + 4, t->buffer, keep < t->capacity ? keep : t->capacity);
    if (call != nullptr && call->args != nullptr)
        call->args = grown + 4 + (call->args - t->buffer);
    if (Grown(t))
        free(t->record_mark);
    t->record_mark = grown;
    t->buffer = grown + 4;
    t->capacity = size;
    return true;
}

void TransportShrink(RpcTransport *transport)
{
    if (!Grown(transport))
        return;
    free(transport->record_mark);
    transport->record_mark = (uint8_t *)(transport + 1);
    transport->buffer = transport->record_mark + 4;
    transport->capacity = transport->base;
    transport->length = 0;
}

static bool BindTo(SOCKET s, uint32_t address, uint16_t port)
{
    sockaddr_in local;
    memset(&local, 0, sizeof(local));
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    return bind(s, (const sockaddr *)&local, (int)sizeof(local)) == 0;
}

SOCKET CloseSocket(SOCKET socket)
{
    if (socket != INVALID_SOCKET) {
        closesocket(socket);
    }
    return INVALID_SOCKET;
}

SOCKET OpenTcpListener(uint32_t address, uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    if (!BindTo(s, address, port) || listen(s, SOMAXCONN) != 0) {
        return CloseSocket(s);
    }
    return s;
}

static SOCKET PrepareUdpSocket(SOCKET s, uint32_t address, uint16_t port)
{
    if (s == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    int on = 1;
    if (!BindTo(s, address, port) ||
        setsockopt(s, SOL_SOCKET, SO_BROADCAST, (const char *)&on, (int)sizeof(on)) != 0) {
        return CloseSocket(s);
    }
    return s;
}

SOCKET OpenUdpSocket(uint32_t address, uint16_t port)
{
    return PrepareUdpSocket(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP), address, port);
}

SOCKET OpenOverlappedUdpSocket(uint32_t address, uint16_t port)
{
    SOCKET s = WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    return PrepareUdpSocket(s, address, port);
}

static SOCKET OpenServiceSocket(uint32_t protocol, uint16_t port)
{
    const bool tcp = protocol == RPC_PROTO_TCP;
    SOCKET socket = tcp ? OpenTcpListener(0, port) : OpenUdpSocket(0, port);
    if (socket == INVALID_SOCKET) {
        Sleep(1000);
        socket = tcp ? OpenTcpListener(0, port) : OpenUdpSocket(0, port);
    }
    return socket;
}

int OpenServiceTransport(const char *service, uint32_t protocol, uint16_t *port, uint32_t capacity,
                         RpcTransport **transport)
{
    const char *kind = protocol == RPC_PROTO_TCP ? "tcp" : "udp";
    SOCKET socket = OpenServiceSocket(protocol, *port);
    if (socket == INVALID_SOCKET) {
        LogLine(1, "%s: cannot bind %s port %u\n", service, kind, (unsigned)*port);
        return 1;
    }
    if (*port == 0)
        *port = SocketLocalPort(socket);
    *transport = NewTransport(socket, (uint16_t)protocol, *port, capacity);
    if (*transport == nullptr) {
        CloseSocket(socket);
        LogLine(2, "%s: cannot create %s handle\n", service, kind);
        return 2;
    }
    AddToServerLoop(*transport);
    return 0;
}

uint16_t SocketLocalPort(SOCKET socket)
{
    sockaddr_in local;
    memset(&local, 0, sizeof(local));
    int size = (int)sizeof(local);
    if (getsockname(socket, (sockaddr *)&local, &size) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

uint32_t RaiseSocketBuffer(SOCKET socket, int option, uint32_t desired, const char *failure_format)
{
    int current = 0;
    int size = (int)sizeof(current);
    if (getsockopt(socket, SOL_SOCKET, option, (char *)&current, &size) != 0) {
        return desired;
    }
    while (desired > 0 && desired > (uint32_t)current) {
        int value = (int)desired;
        if (setsockopt(socket, SOL_SOCKET, option, (const char *)&value, (int)sizeof(value)) == 0) {
            break;
        }
        if (failure_format != nullptr) {
            LogLine(2, failure_format, desired);
        }
        desired /= 2;
    }
    return desired;
}
