// Start and stop of mountd: its sockets in the server loop and its
// registrations as program 100005.
#include "mount/mount_service.h"

#include "log/log.h"
#include "mount/mount_table.h"
#include "mount/mounttab_file.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

uint16_t ServicePort = 0;

// Binds a socket of the service; a port still held by a process that just
// ended is often free a moment later, so one more try follows after a second.
SOCKET BindServiceSocket(bool tcp, uint16_t port)
{
    SOCKET socket = tcp ? OpenTcpListener(0, port) : OpenUdpSocket(0, port);
    if (socket == INVALID_SOCKET) {
        Sleep(1000);
        socket = tcp ? OpenTcpListener(0, port) : OpenUdpSocket(0, port);
    }
    return socket;
}

// One transport of the service: socket, handle in the server loop, and the
// registrations.  Returns 0 or the failing step: 1 bind, 2 handle,
// 3 version 3, 4 version 2 (the caller adds 4 for TCP).
int StartTransport(uint32_t protocol, uint16_t *port)
{
    const bool tcp = protocol == RPC_PROTO_TCP;
    SOCKET socket = BindServiceSocket(tcp, *port);
    if (socket == INVALID_SOCKET) {
        LogLine(2, tcp ? "mountd: cannot bind tcp socket\n" : "mountd: cannot bind udp socket\n");
        return 1;
    }
    // With port 0 the system chose one; the second transport takes the same.
    if (*port == 0)
        *port = SocketLocalPort(socket);
    RpcTransport *transport = NewTransport(socket, static_cast<uint16_t>(protocol), *port, MOUNT_BUFFER_SIZE);
    if (transport == nullptr) {
        CloseSocket(socket);
        LogLine(2, tcp ? "mountd: cannot create tcp handle\n" : "mountd: cannot create udp handle\n");
        return 2;
    }
    AddToServerLoop(transport);
    ServicePort = *port;
    if (ServerSettings.Version3 && !RegisterProgram(transport, MOUNT_PROG, 3, MountDispatch, protocol)) {
        LogLine(2, "mountd: cannot register version 3\n");
        return 3;
    }
    if (!RegisterProgram(transport, MOUNT_PROG, 2, MountDispatch, protocol)) {
        LogLine(2, "mountd: cannot register version 2\n");
        return 4;
    }
    if (ServerSettings.Version2 && !RegisterProgram(transport, MOUNT_PROG, 1, MountDispatch, protocol))
        LogLine(2, "mountd: warning, cannot register version 1\n");
    return 0;
}

}  // namespace

int MountStart(uint16_t port)
{
    MountTableInit();
    ServicePort = 0;
    if (ServerSettings.Mount) {
        if (ServerSettings.UDP) {
            int failed = StartTransport(RPC_PROTO_UDP, &port);
            if (failed != 0)
                return failed;
        }
        if (ServerSettings.TCP) {
            int failed = StartTransport(RPC_PROTO_TCP, &port);
            if (failed != 0)
                return failed + 4;
        }
    }
    if (!ServerSettings.InodeReset)
        MountTabLoad();
    LogEvent(1, "mountd started on %u\n", port);
    if (!ServerSettings.Mount && !ServerSettings.WebNFS)
        LogEvent(1, "mountd disabled but NO webnfs access defined\n");
    // Start lines reach the file at once, not when the buffer fills.
    FlushLog();
    return MOUNT_START_OK;
}

void MountStop()
{
    for (uint32_t version = 3; version >= 1; version--) {
        UnregisterProgram(MOUNT_PROG, version, RPC_PROTO_UDP);
        UnregisterProgram(MOUNT_PROG, version, RPC_PROTO_TCP);
    }
}

uint16_t MountServicePort()
{
    return ServicePort;
}
