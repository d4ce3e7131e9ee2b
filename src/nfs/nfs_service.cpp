// Start and stop of the NFS service.
#include "nfs/nfs_service.h"

#include <cstring>

#include "log/log.h"
#include "nfs/nfs_dispatch.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"

volatile uint16_t NfsPort = 0;

namespace {

struct Verifier {
    uint8_t bytes[8];
};

Verifier StartTimeVerifier()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    Verifier verifier;
    XdrStore32(verifier.bytes, now.dwHighDateTime);
    XdrStore32(verifier.bytes + 4, now.dwLowDateTime);
    return verifier;
}

bool Register(RpcTransport *transport, uint32_t version, uint32_t protocol)
{
    return RegisterProgram(transport, NFS_PROG, version, version == 2 ? Nfs2Dispatch : Nfs3Dispatch, protocol);
}

int StartUdp(uint16_t *port)
{
    SOCKET socket = OpenOverlappedUdpSocket(0, *port);
    if (socket == INVALID_SOCKET) {
        LogLine(2, "nfsd: cannot create nfs socket\n");
        return NFS_START_UDP_SOCKET;
    }
    if (*port == 0)
        *port = SocketLocalPort(socket);
    uint32_t size = RaiseSocketBuffer(socket, SO_RCVBUF, ServerSettings.SO_Rcvbuf,
                                      "nfsd: set udp socket option rcvbuf=%u failed\n");
    RaiseSocketBuffer(socket, SO_SNDBUF, size, "nfsd: set udp socket option sndbuf=%u failed\n");
    RpcTransport *transport = NewTransport(socket, RPC_PROTO_UDP, *port, NfsBufferCapacity());
    if (transport == nullptr) {
        CloseSocket(socket);
        LogLine(2, "nfsd: cannot create udp handle\n");
        return NFS_START_UDP_HANDLE;
    }
    if (!StartUdpWorkers(static_cast<int>(ServerSettings.Threads), transport))
        AddToServerLoop(transport);
    if (ServerSettings.Version2 && !Register(transport, 2, RPC_PROTO_UDP)) {
        LogLine(2, "nfsd: cannot register nfs2\n");
        return NFS_START_UDP_VERSION2;
    }
    if (ServerSettings.Version3 && !Register(transport, 3, RPC_PROTO_UDP)) {
        LogLine(2, "nfsd: cannot register nfs3\n");
        return NFS_START_UDP_VERSION3;
    }
    return NFS_START_OK;
}

int StartTcp(uint16_t *port)
{
    SOCKET socket = OpenTcpListener(0, *port);
    if (socket == INVALID_SOCKET) {
        LogLine(2, "nfsd: cannot create nfs socket\n");
        return NFS_START_TCP_SOCKET;
    }
    if (*port == 0)
        *port = SocketLocalPort(socket);
    RaiseSocketBuffer(socket, SO_RCVBUF, ServerSettings.SO_Tcpbuf, "nfsd: set tcp socket option rcvbuf=%u failed\n");
    RaiseSocketBuffer(socket, SO_SNDBUF, ServerSettings.SO_Tcpbuf, "nfsd: set tcp socket option sndbuf=%u failed\n");
    // The listener needs no buffer of its own; its capacity is what every
    // accepted connection gets.
    RpcTransport *transport = NewTransport(socket, RPC_PROTO_TCP, *port, 0);
    if (transport == nullptr) {
        CloseSocket(socket);
        LogLine(2, "nfsd: cannot create tcp handle\n");
        return NFS_START_TCP_HANDLE;
    }
    transport->capacity = NfsBufferCapacity();
    transport->limit = NfsTcpBufferLimit();
    AddToServerLoop(transport);
    if (ServerSettings.Version2 && !Register(transport, 2, RPC_PROTO_TCP)) {
        LogLine(2, "nfsd: cannot register handle\n");
        return NFS_START_TCP_VERSION2;
    }
    if (ServerSettings.Version3 && !Register(transport, 3, RPC_PROTO_TCP)) {
        LogLine(2, "nfsd: cannot register handle\n");
        return NFS_START_TCP_VERSION3;
    }
    return NFS_START_OK;
}

}  // namespace

uint32_t NfsBufferCapacity(void)
{
    const uint32_t extra = 512;
    uint32_t data = ServerSettings.Datasize;
    if (data > 0xFFFFFFFFu - extra)
        data = 0xFFFFFFFFu - extra;
    return data + extra;
}

uint32_t NfsTcpBufferLimit(void)
{
    const uint32_t large = ServerSettings.TcpTransferSize + 512;
    const uint32_t capacity = NfsBufferCapacity();
    return large > capacity ? large : capacity;
}

const uint8_t *NfsWriteVerifier(void)
{
    static const Verifier verifier = StartTimeVerifier();
    return verifier.bytes;
}

int NfsStart(uint16_t port)
{
    NfsWriteVerifier();
    if (ServerSettings.UDP) {
        int result = StartUdp(&port);
        if (result != NFS_START_OK)
            return result;
    }
    if (ServerSettings.TCP) {
        int result = StartTcp(&port);
        if (result != NFS_START_OK)
            return result;
    }
    NfsPort = port;
    return NFS_START_OK;
}

void NfsStop(void)
{
    UnregisterProgram(NFS_PROG, 2, RPC_PROTO_UDP);
    UnregisterProgram(NFS_PROG, 2, RPC_PROTO_TCP);
    UnregisterProgram(NFS_PROG, 3, RPC_PROTO_UDP);
    UnregisterProgram(NFS_PROG, 3, RPC_PROTO_TCP);
}
