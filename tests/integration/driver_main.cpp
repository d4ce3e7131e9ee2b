// The client side of the integration tests, run inside the namespace of the
// server under test:
//   integration_driver [gtest options]              the on-the-wire tests
//   integration_driver --storm SECONDS COUNT SEED   the bounded storm
//   integration_driver --nfs-storm SECONDS COUNT SEED   the same on NFS
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "nfs_wire.h"

int main(int argc, char **argv)
{
    if (!RpcTestStartup())
        return 2;
    if (argc >= 2 && (strcmp(argv[1], "--storm") == 0 || strcmp(argv[1], "--nfs-storm") == 0)) {
        int seconds = argc > 2 ? atoi(argv[2]) : 20;
        int count = argc > 3 ? atoi(argv[3]) : 20000;
        unsigned seed = argc > 4 ? (unsigned)strtoul(argv[4], nullptr, 10) : 1u;
        return strcmp(argv[1], "--storm") == 0 ? RunStorm(seconds, count, seed) : RunNfsStorm(seconds, count, seed);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
