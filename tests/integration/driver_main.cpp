// The client side of the integration tests, run inside the namespace of the
// server under test: a mode of wire.h (see the usage below) or, without one,
// the gtest wire tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "wire.h"

int main(int argc, char **argv)
{
    if (!RpcTestStartup())
        return 2;
    auto arg = [&](int i, int fallback) { return argc > i ? atoi(argv[i]) : fallback; };
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "--storm")
        return RunStorm(arg(2, 20), arg(3, 20000), static_cast<unsigned>(arg(4, 1)));
    if (mode == "--flood")
        return RunFlood(arg(2, 1000), arg(3, 100), arg(4, 8), arg(5, 1000));
    if (mode == "--kept-handles")
        return RunKeptHandles(argc, argv);
    if (mode == "--silent-udp")
        return RunSilentUdp(static_cast<uint16_t>(arg(2, 111)), arg(3, 20));
#ifdef _WIN32
    if (mode == "--window")
        return RunWindowRemote(argc, argv);
    if (mode == "advfirewall")
        return RunFirewallStandIn(argc, argv);
#endif
    if (!mode.empty() && mode.rfind("--gtest", 0) != 0) {
        fprintf(stderr, "usage: integration_driver --storm SECONDS COUNT SEED | --flood IDLE TRICKLERS "
                        "HOLD [BURST-MS] | --silent-udp PORT SECONDS | --kept-handles ... | --window ... | [gtest options]\n");
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
