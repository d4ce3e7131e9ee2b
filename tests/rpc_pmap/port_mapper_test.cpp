// The port mapper in this process: CALLIT to a silent service, start and
// stop, concurrent changes.  (The rest: RpcWire on the running server, and
// rpcinfo -p in server_test.sh and mount_test.sh.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32.h"
#include "rpc/port_mapper_internal.h"
#include "settings/settings.h"
#include "support/pmap_test_calls.h"
#include "support/rpc_test_client.h"

namespace {

const uint32_t SET = 1, GETPORT = 3;

// A running port mapper on a free loopback port for each test, and the raw
// calls the tests send to it.
class PortMapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RpcTestStartup());
        RPCTIMEOUT = 1;
        PortMapperRegistration = 1;
        PmapResetTable();
        port_ = RpcTestFreePort();
        ASSERT_NE(0, port_);
        PmapPort = port_;
        ASSERT_EQ(0, PortMapperStart(1));
        ASSERT_TRUE(PortMapperRunning());
        server_ = RpcTestAddress(port_);
    }
    void TearDown() override
    {
        PortMapperStop();
        EXPECT_FALSE(PortMapperRunning());
        PmapResetTable();
        PmapPort = PMAP_PORT;
        RPCTIMEOUT = 2;
    }

    // A call over UDP (from `client`, by default 127.0.0.1); the reply, or ""
    // when none came.
    std::string Udp(const std::string &call, RpcUdpClient *client = nullptr, int timeout_ms = 2000)
    {
        RpcUdpClient own;
        std::string reply;
        return (client != nullptr ? client : &own)->Call(server_, call, &reply, timeout_ms) ? reply : "";
    }
    // SET/UNSET/GETPORT with the four argument words; the one-word answer.
    uint32_t Mapping(uint32_t proc, uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port)
    {
        return PmapWordAnswer(Udp(NullAuthCall(++xid_, 100000, 2, proc, PmapMappingArgs(prog, vers, prot, port))));
    }
    // The number of DUMP entries, the list parsed strictly.
    size_t Dumped()
    {
        bool ok = false;
        std::vector<PmapEntry> list = PmapParseDump(Udp(NullAuthCall(++xid_, 100000, 2, 4)), &ok);
        EXPECT_TRUE(ok) << "a successful reply; entries behind 1, the list ends with one 0 word";
        return list.size();
    }

    uint16_t port_ = 0;
    sockaddr_in server_;
    uint32_t xid_ = 0x1000;
};

} // namespace

// A service that does not answer: its caller meets silence, and every other
// caller is served meanwhile, not after the reply time-out; a TCP-only
// program is not forwarded to.  (Forwarding and the silent refusals:
// RpcWire CallTable on the running server.)
TEST_F(PortMapperTest, CallitWaitsForNoSilentService)
{
    FakeUdpService fake([](const std::string &) { return std::string(); });
    ASSERT_TRUE(fake.ok());
    fake.answer = false;
    ASSERT_EQ(1u, Mapping(SET, 0x20000001u, 1, 17, fake.port()));
    ASSERT_EQ(1u, Mapping(SET, 0x20000002u, 1, 6, fake.port()));
    EXPECT_EQ("", Udp(NullAuthCall(41, 100000, 2, 5, PmapCallitArgs(0x20000002u, 1, 0, "")), nullptr, 300));
    EXPECT_EQ(0, fake.calls());
    RpcUdpClient caller;
    std::string silent = "not yet";
    std::thread forward(
        [&] { silent = Udp(NullAuthCall(42, 100000, 2, 5, PmapCallitArgs(0x20000001u, 1, 0, "")), &caller, 300); });
    Sleep(50);
    DWORD before = GetTickCount();
    EXPECT_EQ(port_, Mapping(GETPORT, 100000, 2, 17, 0));
    EXPECT_LT(GetTickCount() - before, 500u);
    forward.join();
    EXPECT_EQ("", silent);
    EXPECT_EQ(1, fake.calls());
}

std::vector<PmapEntry> Rows;
void Row(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port) { Rows.push_back({prog, vers, prot, port}); }

// The services' own calls, as they register with a port mapper of another
// process: SET (a taken port refused), UNSET and DUMP over UDP and TCP.
TEST_F(PortMapperTest, ClientCallsRegisterWithdrawAndDump)
{
    EXPECT_EQ(1u, PortMapperSet(100005, 3, 17, 1058));
    EXPECT_EQ(1u, PortMapperSet(100005, 3, 6, 1058));
    EXPECT_EQ(0u, PortMapperSet(100005, 3, 17, 1059));
    ASSERT_EQ(1, PortMapperDump(1, Row));
    const std::vector<PmapEntry> expected = {
        {100000, 2, 6, port_}, {100000, 2, 17, port_}, {100005, 3, 17, 1058}, {100005, 3, 6, 1058}};
    EXPECT_EQ(expected, Rows);
    EXPECT_EQ(1u, PortMapperUnset(100005, 3, 6));
    Rows.clear();
    ASSERT_EQ(1, PortMapperDump(0, Row));
    // One UNSET takes the first entry of the version, whatever the protocol.
    EXPECT_EQ((std::vector<PmapEntry>{expected[0], expected[1], expected[3]}), Rows);
}

TEST_F(PortMapperTest, StopFreesThePortAndClientCallsThenFail)
{
    // The thread is woken, not left to the fallback that closes its sockets
    // after waiting for it (at least three seconds).
    DWORD started = GetTickCount();
    PortMapperStop();
    EXPECT_LT(GetTickCount() - started, 2500u);
    EXPECT_FALSE(PortMapperRunning());
    // No answer: 0 after the time-out.
    EXPECT_EQ(0u, PortMapperSet(100003, 3, 17, 2049));
    EXPECT_EQ(0, PortMapperDump(1, [](uint32_t, uint32_t, uint32_t, uint32_t) {}));
    // The ports are free again at once, and the table is as it was.  (A
    // start on a port taken fails: a second server in server_test.sh.)
    ASSERT_EQ(0, PortMapperStart(1));
    EXPECT_EQ(2u, Dumped());
}

// Four clients each SET and UNSET a program of their own, over UDP and TCP.
TEST_F(PortMapperTest, ConcurrentChangesOverUdpAndTcpKeepTheTableWhole)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (uint32_t prog = 0x30000000u; prog < 0x30000004u; prog++) {
        threads.emplace_back([&, prog] {
            RpcUdpClient udp;
            for (uint32_t i = 0; i < 60; i++) {
                std::string call = NullAuthCall((prog << 8) + i, 100000, 2, i % 2 == 0 ? 1 : 2,
                                                PmapMappingArgs(prog, 1, 17, 5000 + (prog & 0xFF)));
                std::string reply;
                RpcTcpClient tcp;
                bool ok = i % 3 == 0 ? tcp.Connect(server_) && tcp.Call(call, &reply, 3000)
                                     : udp.Call(server_, call, &reply, 3000);
                if (!ok || PmapWordAnswer(reply) != 1)
                    failures++;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    // Every SET was followed by its UNSET.
    EXPECT_EQ(2u, Dumped());
}
