// The ordered start and stop of the services and their start results.
#include <cstdlib>
#include <cstring>
#include <thread>

#include "fs/inode_table.h"
#include "mount/mount_service.h"
#include "nfs/nfs_service.h"
#include "mount_fixture.h"
#include "rpc/port_mapper.h"
#include "rpc/transport.h"
#include "server/services.h"
#include "settings/settings.h"
#include "support/rpc_test_client.h"

namespace {

class ServicesTest : public MountTest {
protected:
    void SetUp() override
    {
        MountTest::SetUp();
        RpcTestStartup();
        // The services open the inode table themselves.
        CloseInodeTable();
        ASSERT_TRUE(WriteString("nfsd", "InodePath", dir.Win("services-inodes.nfs").c_str()));
        ServerSettings.PortMapper = 0;
        ServerSettings.MountPort = 0;
        ServerSettings.Threads = 1;
        RPCTIMEOUT = 1;
        ServiceStatus = SERVICES_RUNNING;
    }
    void TearDown() override
    {
        if (loop.joinable()) {
            ServicesStop();
            loop.join();
        }
        RPCTIMEOUT = 2;
        MountTest::TearDown();
        // MountTest's own table was closed by the services.
    }

    std::thread loop;
};

}  // namespace

TEST_F(ServicesTest, StopWithoutStartIsHarmless)
{
    ServicesStop();
    EXPECT_EQ(ServiceStatus, SERVICES_STOPPED);
    ServicesStop();
    EXPECT_EQ(ServiceStatus, SERVICES_STOPPED);
}

TEST_F(ServicesTest, MountServiceFailureIsReportedAsThree)
{
    LoadExports("@\\data\n");
    SOCKET busy = OpenUdpSocket(0, 0);
    ASSERT_NE(busy, INVALID_SOCKET);
    ServerSettings.MountPort = SocketLocalPort(busy);
    EXPECT_EQ(ServicesStart(), SERVICES_MOUNT_FAILED);
    EXPECT_EQ(ServiceStatus, SERVICES_MOUNT_FAILED);
    CloseSocket(busy);
    ServicesStop();
    EXPECT_EQ(ServiceStatus, SERVICES_STOPPED);
}

// Needs port 111 for itself: runs only where the test owns the network
// namespace (the "mount_netns" ctest entry sets KORVANE_PRIVATE_NETNS).
TEST_F(ServicesTest, PortMapperFailureIsFourUnlessTheMountServiceFailsToo)
{
    if (getenv("KORVANE_PRIVATE_NETNS") == nullptr)
        GTEST_SKIP() << "needs a network namespace of its own";
    SOCKET held = OpenUdpSocket(0, 111);
    ASSERT_NE(held, INVALID_SOCKET);
    LoadExports("@\\data\n");
    ServerSettings.PortMapper = 1;
    EXPECT_EQ(ServicesStart(), SERVICES_PORTMAPPER_FAILED);
    ServicesStop();

    SOCKET busy = OpenUdpSocket(0, 0);
    ASSERT_NE(busy, INVALID_SOCKET);
    ServerSettings.MountPort = SocketLocalPort(busy);
    ServiceStatus = SERVICES_RUNNING;
    EXPECT_EQ(ServicesStart(), SERVICES_MOUNT_FAILED);
    ServicesStop();
    CloseSocket(busy);
    CloseSocket(held);
}
