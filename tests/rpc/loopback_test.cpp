// The real transport on 127.0.0.1: the bound of TCP connections per address
// and of a call's record.  (The rest: the running server's wire tests,
// storms and connection flood in server_test.sh.)
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "rpc_test_util.h"
#include "settings/settings.h"

namespace {

const uint32_t EchoProg = 0x20000200;

// proc 0: an empty reply.
void EchoDispatch(RpcTransport *t, RpcCall *call)
{
    if (call->proc == 0)
        ReplySuccess(t, call, XdrPutNothing, nullptr);
    else
        ReplyAccepted(t, call, PROC_UNAVAIL);
}

// One TCP listener in the server loop, with the connection limits set before
// the loop starts and restored after it stopped (the threads read them
// without a lock, as settings are).
class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RpcTestInit();
        ResetTransports();
        SOCKET l = OpenTcpListener(htonl(INADDR_LOOPBACK), 0);
        ASSERT_NE(l, INVALID_SOCKET);
        RpcTransport *tcp = NewTransport(l, 6, SocketLocalPort(l), 1024);
        tcp_port = tcp->port;
        AddToServerLoop(tcp);
        ASSERT_TRUE(RegisterProgram(tcp, EchoProg, 1, EchoDispatch, 6));
    }
    void TearDown() override
    {
        StopTransports();
        if (server.joinable())
            server.join();
        EXPECT_EQ(TransportThreadCount(), 0);
        UnregisterProgram(EchoProg, 1, 6);
        Limit(saved[0], saved[1], saved[2], saved[3]);
    }
    void Limit(int32_t idle, int32_t record, int32_t max, int32_t perAddress)
    {
        TcpIdleTime = idle;
        TcpRecordTime = record;
        TcpConnectionsMax = max;
        TcpConnectionsPerAddress = perAddress;
    }
    static int WaitForConnections(int count)
    {
        for (int i = 0; i < 300 && TransportConnectionCount() != count; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return TransportConnectionCount();
    }
    int32_t saved[4] = {TcpIdleTime, TcpRecordTime, TcpConnectionsMax, TcpConnectionsPerAddress};
    uint16_t tcp_port = 0;
    std::thread server;
};

// Connections are bounded per address: room is made by closing the one that
// waited longest for a call, and when all are inside a call a new one is
// refused.  A call's record is bounded in time.  No idle limit here, so each
// close seen can only come from the bound under test; the waits are generous
// for a loaded machine.
TEST_F(LoopbackTest, ConnectionsAreBoundedPerAddressAndRecordsInTime)
{
    Limit(0, 2, 0, 2);
    server = std::thread(ServerLoop);
    SOCKET a = ConnectTcp(tcp_port);
    ASSERT_EQ(WaitForConnections(1), 1);
    SOCKET b = ConnectTcp(tcp_port);
    ASSERT_EQ(WaitForConnections(2), 2);
    // A third from the address closes the one waiting longest (a).
    SOCKET c = ConnectTcp(tcp_port);
    EXPECT_TRUE(ClosedByPeer(a, 5000));
    EXPECT_EQ(WaitForConnections(2), 2);
    // Both others inside a call (one byte of a record mark): a fourth is
    // refused.  The pause lets their threads see the byte, well inside the
    // record limit.
    ASSERT_TRUE(SendAll(b, "\x80"));
    ASSERT_TRUE(SendAll(c, "\x80"));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    SOCKET d = ConnectTcp(tcp_port);
    EXPECT_TRUE(ClosedByPeer(d, 5000));
    // The record limit ends both trickled calls; then a client is served.
    EXPECT_TRUE(ClosedByPeer(b, 5000));
    EXPECT_TRUE(ClosedByPeer(c, 5000));
    EXPECT_EQ(WaitForConnections(0), 0);
    RpcTcpClient client;
    std::string reply;
    EXPECT_TRUE(client.Connect(RpcTestAddress(tcp_port)) && client.Call(NullAuthCall(5, EchoProg, 1, 0), &reply, 5000));
    for (SOCKET s : {a, b, c, d})
        CloseSocket(s);
}

}  // namespace
