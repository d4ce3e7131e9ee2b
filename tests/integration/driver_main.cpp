// The client side of the integration tests, run inside the namespace of the
// server under test:
//   integration_driver --storm SECONDS COUNT SEED   the bounded storm
//   integration_driver --nfs-storm SECONDS COUNT SEED   the same on NFS
//   integration_driver --flood IDLE TRICKLERS HOLD [BURST-MS]
//                                                   the connection flood
//   integration_driver --silent-udp PORT SECONDS    a port that never answers
//   integration_driver --kept-handles save|check ...  handles across an
//                                                   unmount and a restart
//   integration_driver [gtest options]              the NFS wire tests
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wire.h"

int main(int argc, char **argv)
{
    if (!RpcTestStartup())
        return 2;
    if (argc >= 2 && (strcmp(argv[1], "--storm") == 0 || strcmp(argv[1], "--nfs-storm") == 0)) {
        int seconds = argc > 2 ? atoi(argv[2]) : 20;
        int count = argc > 3 ? atoi(argv[3]) : 20000;
        unsigned seed = argc > 4 ? (unsigned)strtoul(argv[4], nullptr, 10) : 1u;
        return RunStorm(strcmp(argv[1], "--nfs-storm") == 0, seconds, count, seed);
    }
    if (argc >= 2 && strcmp(argv[1], "--flood") == 0) {
        int idle = argc > 2 ? atoi(argv[2]) : 1000;
        int tricklers = argc > 3 ? atoi(argv[3]) : 100;
        int hold = argc > 4 ? atoi(argv[4]) : 8;
        int burst = argc > 5 ? atoi(argv[5]) : 1000;
        return RunFlood(idle, tricklers, hold, burst);
    }
    if (argc >= 2 && strcmp(argv[1], "--kept-handles") == 0)
        return RunKeptHandles(argc, argv);
    if (argc >= 4 && strcmp(argv[1], "--silent-udp") == 0)
        return RunSilentUdp((uint16_t)atoi(argv[2]), atoi(argv[3]));
    if (argc >= 2 && strncmp(argv[1], "--gtest", 7) != 0) {
        fprintf(stderr, "usage: integration_driver --storm|--nfs-storm SECONDS COUNT SEED | --flood IDLE TRICKLERS "
                        "HOLD [BURST-MS] | --silent-udp PORT SECONDS | [gtest options]\n");
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
