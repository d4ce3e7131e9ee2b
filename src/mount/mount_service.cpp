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

// One transport of the service: socket, handle in the server loop, and the
// registrations.  Returns 0 or the failing step: 1 bind, 2 handle,
// 3 version 3, 4 version 2 (the caller adds 4 for TCP).
int StartTransport(uint32_t protocol, uint16_t *port)
{
    RpcTransport *transport;
    int failed = OpenServiceTransport("mountd", protocol, port, MOUNT_BUFFER_SIZE, &transport);
    if (failed != 0)
        return failed;
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

