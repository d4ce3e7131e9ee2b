// Start and stop of nlmd: its sockets in the server loop, its registrations
// as program 100021, its delivery thread.
#include "nlm/nlm_service.h"

#include "log/log.h"
#include "nlm/nlm_delivery.h"
#include "nlm/nlm_procs.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

uint16_t ServicePort = 0;
uint16_t Ports[2];  // UDP, TCP

// One transport: socket, handle in the server loop, registrations.  Returns
// 0 or the failing step: 1 bind, 2 handle, 3 version 4, 4 version 3 (the
// caller adds 4 for TCP).
int StartTransport(uint32_t protocol, uint16_t *port)
{
    RpcTransport *transport;
    int failed = OpenServiceTransport("nlmd", protocol, port, NLM_BUFFER_SIZE, &transport);
    if (failed != 0)
        return failed;
    Ports[protocol == RPC_PROTO_TCP] = *port;
    ServicePort = *port;
    if (ServerSettings.Version3 && !RegisterProgram(transport, NLM_PROG, 4, NlmDispatch, protocol)) {
        LogLine(2, "nlmd: cannot register version 4\n");
        return 3;
    }
    if (ServerSettings.Version2) {
        if (!RegisterProgram(transport, NLM_PROG, 3, NlmDispatch, protocol)) {
            LogLine(2, "nlmd: cannot register version 3\n");
            return 4;
        }
        if (!RegisterProgram(transport, NLM_PROG, 1, NlmDispatch, protocol))
            LogLine(2, "nlmd: cannot register version 1\n");
    }
    return 0;
}

}  // namespace

int NlmStart(uint16_t port)
{
    ServicePort = 0;
    Ports[0] = Ports[1] = 0;
    if (!ServerSettings.NLM)
        return NLM_START_OK;
    NlmProcsReset();
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
    if (!NlmDeliveryStart(Ports[0], Ports[1])) {
        LogLine(2, "nlmd: cannot start the callback thread\n");
        return NLM_START_DELIVERY;
    }
    if (LogLevel >= 1) {
        LogStartup(1, "%s nlmd   started on %u\n", LogTimestamp(), port);
        if (!NlmStatusMonitor)
            LogStartup(1, "%s nlmd   locks do not survive a restart: clients that held locks must take them again\n",
                       LogTimestamp());
        FlushLog();
    }
    return NLM_START_OK;
}

void NlmStop(void)
{
    for (uint32_t version : {4u, 3u, 1u}) {
        UnregisterProgram(NLM_PROG, version, RPC_PROTO_UDP);
        UnregisterProgram(NLM_PROG, version, RPC_PROTO_TCP);
    }
    NlmDeliveryStop();
}

uint16_t NlmServicePort(void)
{
    return ServicePort;
}
