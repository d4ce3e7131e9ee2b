// The server loop: one select over every listed service socket (UDP sockets
// served inline, TCP listeners handing each connection to its own thread),
// the keep-awake switch, and the stop and reset of the transports.
#include <atomic>
#include <cstring>

#include "log/log.h"
#include "platform/ranked_lock.h"
#include "rpc/transport.h"
#include "rpc/transport_threads.h"
#include "settings/settings.h"

EXECUTION_STATE(WINAPI *TransportSetExecutionState)(EXECUTION_STATE flags) = SetThreadExecutionState;

namespace {

// Process-wide transport state.  The flags and counters are only ever read
// or written whole; a lost update of the idle counter only shifts the
// keep-awake switch.
std::atomic<int> StopFlag{0};
std::atomic<int32_t> IdleCount{0};
std::atomic<int> AwakeFlag{0};
std::atomic<int> LoopsRunning{0};

// The handle list and the master read set.  Handles are pushed at the head
// and their links never change while listed, so the loop walks the list
// outside the lock.
RankedLock LoopLock(LOCK_RANK_LEAF, "server loop handles");
RpcTransport *HandleList = nullptr;
fd_set MasterSet;
int MasterCount = 0;
SOCKET MasterMax = 0;

void ClearMasterSet()
{
    FD_ZERO(&MasterSet);
    MasterCount = 0;
    MasterMax = 0;
}

struct MasterSetInit {
    MasterSetInit() { ClearMasterSet(); }
} master_set_init;

int WaitSeconds()
{
    return RPCTIMEOUT > 0 ? RPCTIMEOUT : 1;
}

// Without any socket to wait on (Windows refuses an empty select), the pass
// sleeps through its wait time, watching the stop flag.
void IdleWait()
{
    for (int slept = 0; slept < WaitSeconds() * 1000 && StopFlag.load() == 0; slept += 50) {
        Sleep(50);
    }
}

// Makes a loop that sits in select wake up: an empty datagram to a listed UDP
// socket, or a connection to a listed TCP listener.
void NudgeServerLoop()
{
    SOCKET udp = INVALID_SOCKET;
    SOCKET tcp = INVALID_SOCKET;
    {
        LockGuard guard(LoopLock);
        for (RpcTransport *h = HandleList; h != nullptr; h = h->next) {
            if (h->socket == INVALID_SOCKET || !FD_ISSET(h->socket, &MasterSet)) {
                continue;
            }
            if (h->protocol == RPC_PROTO_UDP && udp == INVALID_SOCKET) {
                udp = h->socket;
            } else if (h->protocol == RPC_PROTO_TCP && tcp == INVALID_SOCKET) {
                tcp = h->socket;
            }
        }
    }
    if (udp != INVALID_SOCKET) {
        SOCKET from = OpenUdpSocket(0, 0);
        SendWakeDatagram(from, udp);
        CloseSocket(from);
    } else if (tcp != INVALID_SOCKET) {
        sockaddr_in target;
        memset(&target, 0, sizeof(target));
        int size = (int)sizeof(target);
        if (getsockname(tcp, (sockaddr *)&target, &size) == 0) {
            if (target.sin_addr.s_addr == htonl(INADDR_ANY)) {
                target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            }
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (s != INVALID_SOCKET) {
                connect(s, (const sockaddr *)&target, (int)sizeof(target));
                CloseSocket(s);
            }
        }
    }
}

}  // namespace

bool TransportsStopped(void)
{
    return StopFlag.load(std::memory_order_acquire) != 0;
}

void TransportNoteRequest(void)
{
    // Every worker calls this for every request: write the shared counter
    // only when it is not 0 already, so that busy workers do not keep taking
    // its cache line from each other.
    if (IdleCount.load(std::memory_order_relaxed) != 0) {
        IdleCount.store(0, std::memory_order_relaxed);
    }
}

void TransportNoteIdleWait(void)
{
    IdleCount.fetch_add(1, std::memory_order_relaxed);
}

void KeepAwakeStep(void)
{
    if (IdleCount.load(std::memory_order_relaxed) < RPCIDLE) {
        if (AwakeFlag.load(std::memory_order_relaxed) == 0) {
            TransportSetExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
            AwakeFlag.store(1, std::memory_order_relaxed);
        }
    } else if (AwakeFlag.load(std::memory_order_relaxed) != 0) {
        TransportSetExecutionState(ES_CONTINUOUS);
        AwakeFlag.store(0, std::memory_order_relaxed);
    }
}

void AddToServerLoop(RpcTransport *transport)
{
    LockGuard guard(LoopLock);
    SOCKET s = transport->socket;
    if (s != INVALID_SOCKET && !FD_ISSET(s, &MasterSet) && MasterCount < SERVER_LOOP_MAX_SOCKETS) {
        FD_SET(s, &MasterSet);
        MasterCount++;
        if (MasterCount == 1 || s > MasterMax) {
            MasterMax = s;
        }
    }
    transport->next = HandleList;
    HandleList = transport;
}

void ServerLoop(void)
{
    if (TransportsStopped()) {
        return;
    }
    LoopsRunning.fetch_add(1);
    RpcCall *call = (RpcCall *)calloc(1, sizeof(RpcCall));
    while (call != nullptr) {
        KeepAwakeStep();

        fd_set ready;
        int count;
        SOCKET highest;
        RpcTransport *head;
        {
            LockGuard guard(LoopLock);
            ready = MasterSet;
            count = MasterCount;
            highest = MasterMax;
            head = HandleList;
        }
        int result = 0;
        if (count == 0) {
            IdleWait();
        } else {
            timeval wait = {WaitSeconds(), 0};
            result = select((int)highest + 1, &ready, nullptr, nullptr, &wait);
        }
        if (result == 0) {
            TransportNoteIdleWait();
        } else if (result < 0) {
            int error = WSAGetLastError();
            if (error != WSAEINTR && error != WSAEWOULDBLOCK) {
                LogLine(2, "nfsd: fatal read error %d\n", error);
                break;
            }
        } else {
            for (RpcTransport *h = head; h != nullptr; h = h->next) {
                if (TransportsStopped()) {
                    break;
                }
                if (h->socket == INVALID_SOCKET || !FD_ISSET(h->socket, &ready)) {
                    continue;
                }
                if (h->protocol == RPC_PROTO_UDP) {
                    if (ReceiveDatagram(h) && DecodeCall(h, call)) {
                        TransportNoteRequest();
                        DispatchCall(h, call);
                    }
                } else {
                    RpcTransport *connection = AcceptConnection(h);
                    if (connection != nullptr) {
                        StartConnectionThread(connection, nullptr);
                    }
                }
            }
        }
        if (TransportsStopped()) {
            break;
        }
    }
    free(call);
    LoopsRunning.fetch_sub(1);
}

void StopTransports(void)
{
    StopFlag.store(1, std::memory_order_release);

    // Let a running loop leave before its sockets close and its handles are
    // freed under it; it leaves at its next wake-up, which the nudge brings
    // forward.
    DWORD start = GetTickCount();
    const DWORD limit = (DWORD)(WaitSeconds() + 1) * 1000;
    while (LoopsRunning.load() > 0 && GetTickCount() - start < limit) {
        NudgeServerLoop();
        Sleep(20);
    }
    const bool loop_gone = LoopsRunning.load() == 0;

    RpcTransport *list;
    {
        LockGuard guard(LoopLock);
        list = HandleList;
        HandleList = nullptr;
        ClearMasterSet();
    }
    while (list != nullptr) {
        RpcTransport *next = list->next;
        if (loop_gone) {
            list->socket = CloseSocket(list->socket);
            FreeTransport(list);
        } else {
            // A loop stuck in a request still holds these handles: the
            // sockets are only shut down and the handles left to the process
            // end.
            shutdown(list->socket, SD_BOTH);
        }
        list = next;
    }

    StopServiceThreads(5000);
}

void ResetTransports(void)
{
    LockGuard guard(LoopLock);
    StopFlag.store(0, std::memory_order_release);
    HandleList = nullptr;
    ClearMasterSet();
}
