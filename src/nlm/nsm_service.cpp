// Start, stop and procedures of statd.
#include "nlm/nsm_service.h"

#include <cstring>

#include "log/log.h"
#include "nlm/nlm_service.h"
#include "nlm/nsm_clients.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "rpc/xdr.h"
#include "settings/settings.h"

namespace {

bool Started = false;

uint32_t PutStatRes(uint8_t *out, const void *result)
{
    const uint32_t *words = static_cast<const uint32_t *>(result);
    return XdrPack(out, "qq", words[0], words[1]);
}

void Notified(RpcTransport *transport, RpcCall *call)
{
    char name[SM_MAXSTRLEN + 1];
    uint32_t state;
    if (XdrGetString(call, name, sizeof name) == 0 || !XdrGetU32(call, &state)) {
        LogLine(2, "statd: cannot decode arguments of procedure %u\n", call->proc);
        ReplyAccepted(transport, call, GARBAGE_ARGS);
        return;
    }
    ReplySuccess(transport, call, XdrPutNothing, nullptr);
    const uint8_t *a = reinterpret_cast<const uint8_t *>(&transport->peer.sin_addr.s_addr);
    LogEvent(1, "statd: %s (%u.%u.%u.%u) restarted: its locks are released\n", name, a[0], a[1], a[2], a[3]);
    NlmReleaseClient(transport->peer.sin_addr.s_addr, name);
}

}  // namespace

void NsmDispatch(RpcTransport *transport, RpcCall *call)
{
    char name[SM_MAXSTRLEN + 1];
    uint32_t result[2] = {1, NsmState()};  // stat_fail, our state
    switch (call->proc) {
    case SM_NULL:
    case SM_SIMU_CRASH:
        ReplySuccess(transport, call, XdrPutNothing, nullptr);
        return;
    case SM_STAT:
    case SM_MON:
        // Only this process's lock manager monitors clients.
        if (XdrGetString(call, name, sizeof name) == 0) {
            ReplyAccepted(transport, call, GARBAGE_ARGS);
            return;
        }
        ReplySuccess(transport, call, PutStatRes, result);
        return;
    case SM_UNMON:
    case SM_UNMON_ALL:
        ReplySuccess(transport, call, XdrPutU32, &result[1]);
        return;
    case SM_NOTIFY:
        Notified(transport, call);
        return;
    default:
        ReplyAccepted(transport, call, PROC_UNAVAIL);
        return;
    }
}

int NsmStart(void)
{
    if (!ServerSettings.NLM || !NlmStatusMonitor)
        return NSM_START_OK;
    const uint32_t clients = NsmClientsLoad();
    if (clients > 0)
        NlmBeginGrace(NlmGraceSeconds > 0 ? static_cast<uint32_t>(NlmGraceSeconds) * 1000u : 0u);
    Started = true;
    uint16_t port = 0;
    uint16_t udpPort = 0;
    for (uint32_t protocol : {RPC_PROTO_UDP, RPC_PROTO_TCP}) {
        if (!(protocol == RPC_PROTO_UDP ? ServerSettings.UDP : ServerSettings.TCP))
            continue;
        RpcTransport *transport;
        const int result = protocol == RPC_PROTO_UDP ? NSM_START_UDP : NSM_START_TCP;
        if (OpenServiceTransport("statd", protocol, &port, 2048, &transport) != 0)
            return result;
        if (!RegisterProgram(transport, SM_PROG, SM_VERS, NsmDispatch, protocol)) {
            LogLine(2, "statd: cannot register\n");
            return result;
        }
        if (protocol == RPC_PROTO_UDP)
            udpPort = port;
    }
    if (!NsmNotifierStart(udpPort)) {
        LogLine(2, "statd: cannot start the notifier thread\n");
        return NSM_START_NOTIFIER;
    }
    if (LogLevel >= 1) {
        LogStartup(1, "%s statd  started on %u, state %u\n", LogTimestamp(), port, NsmState());
        if (clients > 0)
            LogStartup(1, "%s statd  clients told to reclaim their locks: %u; grace period %d s\n", LogTimestamp(),
                       clients, NlmGraceSeconds);
        FlushLog();
    }
    return NSM_START_OK;
}

void NsmStop(void)
{
    if (!Started)
        return;
    UnregisterProgram(SM_PROG, SM_VERS, RPC_PROTO_UDP);
    UnregisterProgram(SM_PROG, SM_VERS, RPC_PROTO_TCP);
    NsmNotifierStop();
    NsmClientsStop();
    Started = false;
}

