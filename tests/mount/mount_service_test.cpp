// mountd on loopback sockets, where the running server's exports and
// settings cannot reach: a link inside an export, version settings.
// (Refusals and the replies of every procedure: NfsWire MountTable and
// integration mount_test.sh; ports in use: server_test.sh.)
#include <cstring>
#include <filesystem>
#include <thread>

#include "log/log.h"
#include "mount/mount_service.h"
#include "mount_fixture.h"
#include "rpc/transport.h"
#include "settings/settings.h"
#include "support/host_link.h"
#include "support/rpc_test_client.h"

namespace {

class MountServiceTest : public MountTest {
protected:
    void SetUp() override
    {
        MountTest::SetUp();
        RpcTestStartup();
        RPCTIMEOUT = 1;
    }
    void TearDown() override
    {
        Stop();
        RPCTIMEOUT = 2;
        MountTest::TearDown();
    }

    // Starts mountd on an ephemeral port and serves it.
    void Start()
    {
        ResetTransports();
        ASSERT_EQ(MountStart(0), 0);
        port = MountServicePort();
        ASSERT_NE(port, 0);
        loop = std::thread(ServerLoop);
    }
    void Stop()
    {
        if (!loop.joinable())
            return;
        MountStop();
        StopTransports();
        loop.join();
    }

    // One call over UDP (or TCP); the parsed reply.
    RpcReplyView Call(uint32_t vers, uint32_t proc, const std::string &args, bool tcp = false)
    {
        std::string call = NullAuthCall(++xid, MOUNT_PROG, vers, proc, args);
        std::string reply;
        if (tcp) {
            RpcTcpClient client;
            EXPECT_TRUE(client.Connect(RpcTestAddress(port)));
            EXPECT_TRUE(client.Call(call, &reply, 5000));
        } else {
            RpcUdpClient client;
            EXPECT_TRUE(client.Call(RpcTestAddress(port), call, &reply, 5000));
        }
        RpcReplyView view = ParseReply(reply);
        EXPECT_TRUE(view.valid);
        return view;
    }
    static std::string Path(const std::string &path)
    {
        std::string args;
        PutOpaque(args, path);
        return args;
    }

    uint16_t port = 0;
    uint32_t xid = 0x4d000000;
    std::thread loop;
};

}  // namespace

// A folder of an -alldirs export that is a link to a folder outside: MNT
// refuses it, and every path through it, instead of handing out the outside.
TEST_F(MountServiceTest, MountsThroughALinkAreRefused)
{
    std::filesystem::create_directories(dir.Native("outside/inner"));
    LoadExports("@\\data -alldirs\n");
    ScopedHostLink link(Win("outside"), Win("data\\escape"), true);
    if (!link.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    Start();
    for (const char *below : {"data\\escape", "data\\escape\\inner"}) {
        RpcReplyView reply = Call(3, MOUNTPROC_MNT, Path(ClientForm(Win(below))));
        ASSERT_EQ(reply.accept_stat, 0u);
        EXPECT_NE(WordAt(reply.results, 0), 0u) << below;
    }
    EXPECT_EQ(MountCount(), 0u);
    EXPECT_EQ(WordAt(Call(3, MOUNTPROC_MNT, Path(ClientForm(Win("data\\sub")))).results, 0), 0u);
}

TEST_F(MountServiceTest, VersionSettingsDecideTheRegistrations)
{
    LoadExports("@\\data\n");
    ServerSettings.Version3 = 0;
    ServerSettings.Version2 = 0;
    Start();
    // Only version 2 is registered: calls of 1 and 3 meet PROG_MISMATCH 2..2.
    RpcReplyView v3 = Call(3, MOUNTPROC_NULL, "");
    EXPECT_EQ(v3.accept_stat, 2u);
    EXPECT_EQ(v3.low, 2u);
    EXPECT_EQ(v3.high, 2u);
    EXPECT_EQ(Call(1, MOUNTPROC_NULL, "").accept_stat, 2u);
    EXPECT_EQ(Call(2, MOUNTPROC_NULL, "", true).accept_stat, 0u);
}
