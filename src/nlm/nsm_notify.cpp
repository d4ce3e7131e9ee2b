// The notifier of statd: after a start, tells each client of the previous
// runs that this server restarted (SM_NOTIFY with our name and new state),
// through the client's port mapper and status monitor over UDP, trying each
// client again with doubling pauses for at most NSM_NOTIFY_TIME_MS.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/log.h"
#include "nlm/nlm_worker.h"
#include "nlm/nsm_clients.h"
#include "nlm/nsm_service.h"
#include "platform/win32.h"
#include "rpc/port_mapper.h"
#include "rpc/port_mapper_internal.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "rpc/xdr.h"

namespace {

NlmWorker Notifier;
uint16_t OwnPort = 0;

struct Target {
    uint32_t address;
    uint32_t due;
    uint32_t pause;
};

// Sends the call built in the transport to address:port over UDP and waits
// for the reply: its length, or 0 / a negative code.
int RoundTrip(RpcTransport *t, uint32_t address, uint16_t port)
{
    memset(&t->peer, 0, sizeof t->peer);
    t->peer.sin_family = AF_INET;
    t->peer.sin_port = htons(port);
    t->peer.sin_addr.s_addr = address;
    t->peer_length = static_cast<int>(sizeof t->peer);
    t->socket = OpenUdpSocket(0, 0);
    if (t->socket == INVALID_SOCKET)
        return 0;
    if (TransportSend(t) <= 0) {
        t->socket = CloseSocket(t->socket);
        return 0;
    }
    return ClientAwaitReply(t);
}

// One try: the client's status monitor from its port mapper, then SM_NOTIFY.
bool Tell(RpcTransport *t, uint32_t address, const char *name, uint32_t state)
{
    uint32_t n = ClientBuildCall(t, PMAP_PROG, PMAP_VERS, PMAPPROC_GETPORT, nullptr, nullptr);
    n += XdrPack(t->buffer + n, "qqqq", SM_PROG, SM_VERS, RPC_PROTO_UDP, 0u);
    t->length = static_cast<int32_t>(n);
    if (RoundTrip(t, address, PmapPort) != 28)
        return false;
    const uint32_t port = XdrLoad32(t->buffer + 24);
    // Our own registration answers for this computer: never tell ourselves.
    if (port == 0 || port > 65535 || (port == OwnPort && IsLocalAddress(address)))
        return false;
    n = ClientBuildCall(t, SM_PROG, SM_VERS, SM_NOTIFY, nullptr, nullptr);
    n += XdrPutOpaque(t->buffer + n, name, static_cast<uint32_t>(strlen(name)));
    n += XdrPutWord(t->buffer + n, state);
    t->length = static_cast<int32_t>(n);
    return RoundTrip(t, address, static_cast<uint16_t>(port)) >= 24;
}

const char *Dotted(uint32_t address, char *out, size_t size)
{
    const uint8_t *a = reinterpret_cast<const uint8_t *>(&address);
    snprintf(out, size, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return out;
}

DWORD WINAPI NotifierThread(LPVOID)
{
    char name[256];
    if (gethostname(name, sizeof name) != 0)
        snprintf(name, sizeof name, "localhost");
    name[sizeof name - 1] = '\0';
    const uint32_t state = NsmState();
    const uint32_t start = GetTickCount();
    std::vector<Target> targets;
    {
        std::vector<uint32_t> addresses(NSM_MAX_CLIENTS);
        uint32_t n = NsmClientsToNotify(addresses.data(), NSM_MAX_CLIENTS);
        for (uint32_t i = 0; i < n; i++)
            targets.push_back(Target{addresses[i], start, NSM_RETRY_FIRST_MS});
    }
    RpcTransport *t = NewTransport(INVALID_SOCKET, RPC_PROTO_UDP, 0, 2048);
    while (t != nullptr && !targets.empty() && !Notifier.stopping.load()) {
        const uint32_t now = GetTickCount();
        uint32_t wait = NSM_RETRY_MAX_MS;
        for (size_t i = 0; i < targets.size() && !Notifier.stopping.load();) {
            Target &target = targets[i];
            const int32_t left = static_cast<int32_t>(target.due - now);
            if (left > 0) {
                wait = left < static_cast<int32_t>(wait) ? static_cast<uint32_t>(left) : wait;
                i++;
                continue;
            }
            char dotted[16];
            const bool told = Tell(t, target.address, name, state);
            if (told || GetTickCount() - start >= NSM_NOTIFY_TIME_MS) {
                if (told)
                    LogEvent(2, "statd: told %s of the restart\n", Dotted(target.address, dotted, sizeof dotted));
                else
                    LogEvent(1, "statd: %s did not answer the notice of the restart\n",
                             Dotted(target.address, dotted, sizeof dotted));
                NsmNotified(target.address);
                targets[i] = targets.back();
                targets.pop_back();
                continue;
            }
            target.due = GetTickCount() + target.pause;
            target.pause = target.pause * 2 < NSM_RETRY_MAX_MS ? target.pause * 2 : NSM_RETRY_MAX_MS;
            wait = 0;
            i++;
        }
        if (wait > 0)
            WaitForSingleObject(Notifier.wake, wait);
    }
    if (t != nullptr)
        FreeTransport(t);
    return 0;
}

}  // namespace

bool NsmNotifierStart(uint16_t ownUdpPort)
{
    OwnPort = ownUdpPort;
    return NlmWorkerStart(Notifier, NotifierThread);
}

void NsmNotifierStop(void) { NlmWorkerStop(Notifier); }
