// NfsStart and NfsStop on loopback sockets: what listens, what is
// registered, how the start fails, and what calls to other programs get.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "log/log.h"
#include "nfs/nfs_dispatch.h"
#include "nfs/nfs_service.h"
#include "nfs_fixture.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

class NfsStartTest : public NfsTest {
protected:
    void SetUp() override
    {
        NfsTest::SetUp();
        RPCTIMEOUT = 1;
        ServerSettings.Threads = 1;
        ServerSettings.SO_Rcvbuf = 65536;
        ServerSettings.SO_Tcpbuf = 65536;
        ResetTransports();
    }
    void TearDown() override
    {
        NfsStop();
        StopTransports();
        if (loop.joinable())
            loop.join();
        RPCTIMEOUT = 2;
        NfsTest::TearDown();
    }
    void Serve() { loop = std::thread(ServerLoop); }

    RpcReplyView Udp(uint32_t prog, uint32_t vers, uint32_t proc, uint16_t port)
    {
        RpcUdpClient client;
        std::string reply;
        if (!client.Call(RpcTestAddress(port), NullAuthCall(++xid, prog, vers, proc), &reply, 3000))
            return RpcReplyView();
        return ParseReply(reply);
    }
    RpcReplyView Tcp(uint32_t prog, uint32_t vers, uint32_t proc, uint16_t port)
    {
        RpcTcpClient client;
        std::string reply;
        if (!client.Connect(RpcTestAddress(port)) ||
            !client.Call(NullAuthCall(++xid, prog, vers, proc), &reply, 3000))
            return RpcReplyView();
        return ParseReply(reply);
    }
    static bool Registered(uint32_t vers)
    {
        for (RpcProgram *p = ProgramTableHead(); p != nullptr; p = ProgramTableNext(p))
            if (p->prog == NFS_PROG && p->vers == vers)
                return true;
        return false;
    }

    std::thread loop;
};

}  // namespace

// Both versions on both transports; other programs on the NFS port get the
// answers that let a client fall back: PROG_UNAVAIL for the ACL protocol,
// PROG_MISMATCH 2..3 for version 4.
TEST_F(NfsStartTest, ServesBothVersionsOverUdpAndTcp)
{
    ServerSettings.UDP = ServerSettings.TCP = 1;
    ASSERT_EQ(NfsStart(0), NFS_START_OK);
    const uint16_t port = NfsPort;
    ASSERT_NE(port, 0);
    EXPECT_TRUE(Registered(2));
    EXPECT_TRUE(Registered(3));
    Serve();
    for (uint32_t vers : {2u, 3u}) {
        RpcReplyView udp = Udp(NFS_PROG, vers, 0, port), tcp = Tcp(NFS_PROG, vers, 0, port);
        EXPECT_TRUE(udp.valid && udp.accept_stat == 0 && udp.results.empty()) << vers;
        EXPECT_TRUE(tcp.valid && tcp.accept_stat == 0 && tcp.results.empty()) << vers;
    }
    RpcReplyView acl = Udp(NFSACL_PROG, 3, 1, port);
    ASSERT_TRUE(acl.valid);
    EXPECT_EQ(acl.accept_stat, (uint32_t)PROG_UNAVAIL);
    RpcReplyView v4 = Tcp(NFS_PROG, 4, 0, port);
    ASSERT_TRUE(v4.valid);
    EXPECT_EQ(v4.accept_stat, (uint32_t)PROG_MISMATCH);
    EXPECT_EQ(v4.low, 2u);
    EXPECT_EQ(v4.high, 3u);

    // The stop withdraws both versions: the port answers PROG_UNAVAIL.
    NfsStop();
    EXPECT_FALSE(Registered(2) || Registered(3));
    EXPECT_EQ(Udp(NFS_PROG, 3, 0, port).accept_stat, (uint32_t)PROG_UNAVAIL);
}

TEST_F(NfsStartTest, WorkersServeTheUdpSocket)
{
    ServerSettings.UDP = 1;
    ServerSettings.TCP = 0;
    ServerSettings.Threads = 4;
    const int before = TransportThreadCount();
    ASSERT_EQ(NfsStart(0), NFS_START_OK);
    EXPECT_EQ(TransportThreadCount(), before + 4);
    // No server loop runs: the workers answer.
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(Udp(NFS_PROG, 3, 0, NfsPort).accept_stat, 0u);
}

TEST_F(NfsStartTest, SettingsThatLeaveNothingOrNoProgram)
{
    // No transport: the start succeeds and nothing listens.
    ServerSettings.UDP = ServerSettings.TCP = 0;
    EXPECT_EQ(NfsStart(0), NFS_START_OK);
    EXPECT_FALSE(Registered(2) || Registered(3));

    // No version: the sockets exist, calls find no program.
    ServerSettings.UDP = 1;
    ServerSettings.Version2 = ServerSettings.Version3 = 0;
    ASSERT_EQ(NfsStart(0), NFS_START_OK);
    EXPECT_FALSE(Registered(2) || Registered(3));
    Serve();
    RpcReplyView reply = Udp(NFS_PROG, 3, 0, NfsPort);
    ASSERT_TRUE(reply.valid);
    EXPECT_EQ(reply.accept_stat, (uint32_t)PROG_UNAVAIL);
}

TEST_F(NfsStartTest, BusyPortsFailWithTheirCodes)
{
    SOCKET udp = OpenUdpSocket(0, 0);
    ASSERT_NE(udp, INVALID_SOCKET);
    ServerSettings.UDP = 1;
    ServerSettings.TCP = 1;
    EXPECT_EQ(NfsStart(SocketLocalPort(udp)), NFS_START_UDP_SOCKET);
    CloseSocket(udp);

    SOCKET tcp = OpenTcpListener(0, 0);
    ASSERT_NE(tcp, INVALID_SOCKET);
    ServerSettings.UDP = 0;
    EXPECT_EQ(NfsStart(SocketLocalPort(tcp)), NFS_START_TCP_SOCKET);
    CloseSocket(tcp);
    EXPECT_NE(LogText().find("nfsd: cannot create nfs socket\n"), std::string::npos);
}

// The write verifier stays the same within the process (a restart gives
// another: it is the time of the first start).
TEST_F(NfsStartTest, WriteVerifierIsFixedForTheProcess)
{
    uint8_t first[8];
    memcpy(first, NfsWriteVerifier(), 8);
    ServerSettings.UDP = ServerSettings.TCP = 0;
    ASSERT_EQ(NfsStart(0), NFS_START_OK);
    EXPECT_EQ(memcmp(first, NfsWriteVerifier(), 8), 0);
    EXPECT_NE(memcmp(first, "\0\0\0\0\0\0\0\0", 8), 0);
}
