// NULL-call round trips per second through the RPC transport and message
// layer, client and server in one process on loopback:
//   rpc_null_bench udp THREADS [CLIENTS] [SECONDS]   UDP, THREADS workers
//                                                     (1: the server loop)
//   rpc_null_bench tcp [CLIENTS] [SECONDS]            TCP, one connection
//                                                     per client
//   rpc_null_bench external udp|tcp IP PORT PROG VERS [CLIENTS] [SECONDS]
//                                                     NULL calls to a server
//                                                     that runs elsewhere
// Each client thread makes one call at a time and waits for its reply.
// Bounded: at most SECONDS (default 3) and 5,000,000 calls per client.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"
#include "support/rpc_test_client.h"

namespace {

const uint32_t kBenchProg = 0x20000100u;
const int kMaxCallsPerClient = 5000000;

void NullDispatch(RpcTransport *transport, RpcCall *call)
{
    if (call->proc == 0)
        ReplySuccess(transport, call, XdrPutNothing, nullptr);
    else
        ReplyAccepted(transport, call, PROC_UNAVAIL);
}

struct Client {
    bool tcp;
    sockaddr_in server;
    uint32_t prog, vers;
    int seconds;
    long calls;
    long failures;
    uint32_t xidBase;
};

DWORD WINAPI ClientThread(LPVOID parameter)
{
    Client *c = static_cast<Client *>(parameter);
    std::string call = NullAuthCall(c->xidBase, c->prog, c->vers, 0);
    std::string framed = c->tcp ? AsRecord(call) : call;
    size_t xidAt = c->tcp ? 4 : 0;
    SOCKET s = socket(AF_INET, c->tcp ? SOCK_STREAM : SOCK_DGRAM, c->tcp ? IPPROTO_TCP : IPPROTO_UDP);
    DWORD timeout = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
    if (c->tcp) {
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char *)&on, sizeof on);
    }
    if (connect(s, (const sockaddr *)&c->server, sizeof c->server) != 0) {
        c->failures++;
        closesocket(s);
        return 0;
    }
    char reply[512];
    DWORD start = GetTickCount();
    for (int i = 0; i < kMaxCallsPerClient; i++) {
        if ((i & 63) == 0 && GetTickCount() - start >= (DWORD)c->seconds * 1000u)
            break;
        uint32_t xid = htonl(c->xidBase + (uint32_t)i);
        memcpy(&framed[xidAt], &xid, 4);
        if (send(s, framed.data(), (int)framed.size(), 0) != (int)framed.size()) {
            c->failures++;
            break;
        }
        int n;
        if (c->tcp) {
            // Mark and a 24-byte accepted reply.
            int have = 0;
            n = 0;
            while (have < 28 && (n = recv(s, reply + have, 28 - have, 0)) > 0)
                have += n;
            n = have;
            if (n == 28 && memcmp(reply + 4, &xid, 4) == 0)
                c->calls++;
            else {
                c->failures++;
                break;
            }
        } else {
            n = recv(s, reply, (int)sizeof reply, 0);
            if (n >= 24 && memcmp(reply, &xid, 4) == 0)
                c->calls++;
            else
                c->failures++;
        }
    }
    closesocket(s);
    return 0;
}

double Measure(bool tcp, const sockaddr_in &server, uint32_t prog, uint32_t vers, int clients, int seconds,
               long *failures)
{
    Client c[16];
    HANDLE threads[16];
    DWORD start = GetTickCount();
    for (int i = 0; i < clients; i++) {
        c[i] = {tcp, server, prog, vers, seconds, 0, 0, 0x10000000u * (uint32_t)(i + 1)};
        threads[i] = CreateThread(nullptr, 0, ClientThread, &c[i], 0, nullptr);
    }
    long total = 0;
    *failures = 0;
    for (int i = 0; i < clients; i++) {
        WaitForSingleObject(threads[i], INFINITE);
        CloseHandle(threads[i]);
        total += c[i].calls;
        *failures += c[i].failures;
    }
    DWORD elapsed = GetTickCount() - start;
    return elapsed > 0 ? (double)total * 1000.0 / (double)elapsed : 0.0;
}

DWORD WINAPI ServerThread(LPVOID)
{
    ServerLoop();
    return 0;
}

int Usage()
{
    fprintf(stderr, "usage: rpc_null_bench udp THREADS [CLIENTS] [SECONDS]\n"
                    "       rpc_null_bench tcp [CLIENTS] [SECONDS]\n"
                    "       rpc_null_bench external udp|tcp IP PORT PROG VERS [CLIENTS] [SECONDS]\n");
    return 2;
}

int Clamp(int v, int low, int high) { return v < low ? low : (v > high ? high : v); }

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || !RpcTestStartup())
        return Usage();
    std::string mode = argv[1];
    long failures = 0;
    double rate;
    if (mode == "external") {
        if (argc < 7)
            return Usage();
        bool tcp = strcmp(argv[2], "tcp") == 0;
        sockaddr_in server = RpcTestAddress((uint16_t)atoi(argv[4]), argv[3]);
        int clients = Clamp(argc > 7 ? atoi(argv[7]) : 1, 1, 16);
        int seconds = Clamp(argc > 8 ? atoi(argv[8]) : 3, 1, 60);
        rate = Measure(tcp, server, (uint32_t)strtoul(argv[5], nullptr, 0), (uint32_t)strtoul(argv[6], nullptr, 0),
                       clients, seconds, &failures);
        printf("external %s %s:%s clients=%d: %.0f calls/s (%ld failures)\n", argv[2], argv[3], argv[4], clients,
               rate, failures);
        return failures == 0 ? 0 : 1;
    }
    bool tcp = mode == "tcp";
    if (!tcp && (mode != "udp" || argc < 3))
        return Usage();
    int threads = tcp ? 0 : Clamp(atoi(argv[2]), 1, 16);
    int next = tcp ? 2 : 3;
    int clients = Clamp(argc > next ? atoi(argv[next]) : 1, 1, 16);
    int seconds = Clamp(argc > next + 1 ? atoi(argv[next + 1]) : 3, 1, 60);

    // The server: the transport of the services with a program that has
    // only a NULL procedure; no port mapper, no log.
    PortMapperRegistration = 0;
    ResetTransports();
    RpcTransport *handle;
    if (tcp) {
        SOCKET listener = OpenTcpListener(htonl(INADDR_LOOPBACK), 0);
        handle = listener != INVALID_SOCKET ? NewTransport(listener, RPC_PROTO_TCP, SocketLocalPort(listener), 8704)
                                            : nullptr;
        if (handle == nullptr)
            return 1;
        AddToServerLoop(handle);
    } else {
        SOCKET s = OpenOverlappedUdpSocket(htonl(INADDR_LOOPBACK), 0);
        handle = s != INVALID_SOCKET ? NewTransport(s, RPC_PROTO_UDP, SocketLocalPort(s), 8704) : nullptr;
        if (handle == nullptr)
            return 1;
        RaiseSocketBuffer(s, SO_RCVBUF, 8704u * (uint32_t)threads, nullptr);
    }
    uint16_t port = handle->port;
    if (!RegisterProgram(handle, kBenchProg, 1, NullDispatch, tcp ? RPC_PROTO_TCP : RPC_PROTO_UDP))
        return 1;
    if (!tcp && !StartUdpWorkers(threads, handle))
        AddToServerLoop(handle);
    HANDLE server = CreateThread(nullptr, 0, ServerThread, nullptr, 0, nullptr);

    rate = Measure(tcp, RpcTestAddress(port), kBenchProg, 1, clients, seconds, &failures);
    if (tcp)
        printf("tcp clients=%d: %.0f calls/s (%ld failures)\n", clients, rate, failures);
    else
        printf("udp Threads=%d clients=%d: %.0f calls/s (%ld failures)\n", threads, clients, rate, failures);
    fflush(stdout);
    StopTransports();
    WaitForSingleObject(server, 10000);
    CloseHandle(server);
    return failures == 0 ? 0 : 1;
}
