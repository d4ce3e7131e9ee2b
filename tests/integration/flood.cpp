// The connection flood: idle connections and one-byte-a-second tricklers
// against the port mapper's TCP listener; a new client is answered within a
// second once the burst is taken, and the connections are held open for the
// server's limits to close them.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "wire.h"

namespace {

using Clock = std::chrono::steady_clock;

// A NULL call of the port mapper from 127.0.0.1: milliseconds to the
// answer, or -1 when none came within `limit` milliseconds.
long TimedNull(bool tcp, int limit = 3000)
{
    auto start = Clock::now();
    uint32_t xid = NextXid();
    std::string call = NullAuthCall(xid, 100000, 2, 0);
    RpcReplyView r = ParseReply(tcp ? TcpCall(call, limit) : UdpCall(call, limit));
    if (!r.valid || r.xid != xid || r.accept_stat != 0)
        return -1;
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// `count` connections from `addresses` loopback addresses of their own
// from 127.0.<net>.1 on (127.0.0.1 where those cannot be had).
void Connect(std::vector<std::unique_ptr<RpcTcpClient>> &into, int count, int net, int addresses)
{
    for (int i = 0; i < count; i++) {
        auto c = std::make_unique<RpcTcpClient>();
        const std::string from = "127.0." + std::to_string(net) + "." + std::to_string(1 + i % addresses);
        if (c->Connect(ServerAddress(), from.c_str()))
            into.push_back(std::move(c));
    }
}

}  // namespace

int RunFlood(int idle, int tricklers, int holdSeconds, int burstLimit)
{
#ifndef _WIN32
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
    std::vector<std::unique_ptr<RpcTcpClient>> open, trickle;
    Connect(open, idle, 1, 100);
    Connect(trickle, tricklers, 2, 10);
    // The first byte of a record mark for a record that never completes.
    for (auto &c : trickle)
        c->SendRaw("\x80");
    printf("flood: %zu idle connections open (%zu refused at once), %zu tricklers\nflooded\n", open.size(),
           (size_t)idle - open.size(), trickle.size());
    fflush(stdout);

    // A new client while the server still takes the burst, and once it has.
    long first = TimedNull(true, burstLimit > 0 ? burstLimit : 15000);
    // Without a limit for the burst (under Wine, far slower at accepting,
    // and where the flood may not get loopback addresses of its own, so that
    // its tricklers hold this client's address until their record time runs
    // out), try again each second until the server has taken the burst.
    for (int tries = 0; burstLimit == 0 && first < 0 && tries < 30; tries++) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        first = TimedNull(true, 15000);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long tcp = TimedNull(true);
    long udp = TimedNull(false);
    printf("flood: a new client answered over TCP in %ld ms during the burst, then over TCP in %ld ms and over UDP "
           "in %ld ms\n",
           first, tcp, udp);
    fflush(stdout);

    // Keep trickling, one byte a second each, while the limits act.
    auto until = Clock::now() + std::chrono::seconds(holdSeconds);
    while (Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        for (auto &c : trickle)
            c->SendRaw(std::string(1, '\0'));
    }
    long after = TimedNull(true);
    printf("flood: after the hold a new client answered over TCP in %ld ms\n", after);
    bool ok = (burstLimit == 0 || first >= 0) && tcp >= 0 && tcp < 1000 && udp >= 0 && udp < 1000 && after >= 0 &&
              after < 1000;
    printf("%s\n", ok ? "flood passed" : "flood FAILED");
    return ok ? 0 : 1;
}

int RunSilentUdp(uint16_t port, int seconds)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (s == INVALID_SOCKET || bind(s, (const sockaddr *)&local, (int)sizeof(local)) != 0)
        return 1;
    printf("listening\n");
    fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    closesocket(s);
    return 0;
}
