// The real transport on 127.0.0.1: the server loop with UDP sockets and TCP
// listeners, the bounds of TCP connections, the sockets a read set can hold,
// and a stop that ends every thread promptly.  (Calls, fragments, UDP workers
// and oversized datagrams: the running server's wire tests and storms.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
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

class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RpcTestInit();
        RPCTIMEOUT = 1;
        ResetTransports();
        SOCKET u = OpenUdpSocket(htonl(INADDR_LOOPBACK), 0);
        ASSERT_NE(u, INVALID_SOCKET);
        udp = NewTransport(u, 17, SocketLocalPort(u), 8192);
        SOCKET l = OpenTcpListener(htonl(INADDR_LOOPBACK), 0);
        ASSERT_NE(l, INVALID_SOCKET);
        tcp = NewTransport(l, 6, SocketLocalPort(l), 0);
        tcp->capacity = 1024;
        tcp_port = tcp->port;
        AddToServerLoop(udp);
        AddToServerLoop(tcp);
        ASSERT_TRUE(RegisterProgram(udp, EchoProg, 1, EchoDispatch, 17));
        ASSERT_TRUE(RegisterProgram(tcp, EchoProg, 1, EchoDispatch, 6));
    }
    void StartLoop()
    {
        server = std::thread(ServerLoop);
    }
    void TearDown() override
    {
        auto begin = std::chrono::steady_clock::now();
        StopTransports();
        if (server.joinable()) {
            server.join();
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_LT(seconds, 3.0) << "stop took too long";
        EXPECT_EQ(TransportThreadCount(), 0);
        UnregisterProgram(EchoProg, 1, 17);
        UnregisterProgram(EchoProg, 1, 6);
        RPCTIMEOUT = 2;
    }

    // A call through the client side (ClientCall); returns its result and
    // leaves the reply in `reply`.
    int Call(uint16_t protocol, uint16_t port, uint32_t proc, const std::string &args = "",
             std::string *reply = nullptr, uint32_t capacity = 8192)
    {
        RpcTransport *c = NewTransport(INVALID_SOCKET, protocol, 0, capacity);
        uint32_t n = ClientBuildCall(c, EchoProg, 1, proc, nullptr, nullptr);
        if (!args.empty()) {
            memcpy(c->buffer + n, args.data(), args.size());
        }
        c->length = (int32_t)(n + args.size());
        int result = ClientCall(c, protocol, port);
        if (reply != nullptr) {
            *reply = result > 0 ? std::string(reinterpret_cast<char *>(c->buffer), result) : "";
        }
        EXPECT_EQ(c->socket, INVALID_SOCKET);  // the call's socket is closed
        FreeTransport(c);
        return result;
    }

    RpcTransport *udp = nullptr;
    RpcTransport *tcp = nullptr;
    uint16_t tcp_port = 0;
    std::thread server;
};

TEST_F(LoopbackTest, StopEndsIdleConnectionsAndTheLoopPromptly)
{
    StartLoop();
    SOCKET a = ConnectTcp(tcp_port);
    SOCKET b = ConnectTcp(tcp_port);
    // Wait for both connection threads to be there (blocked in a receive).
    for (int i = 0; i < 200 && TransportThreadCount() < 2; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(TransportThreadCount(), 2);
    // TearDown stops and checks that every thread ended within 3 s.
    CloseSocket(a);
    CloseSocket(b);
}

namespace {

// The connection limits, set before the server loop starts and restored
// after it stopped (the threads read them without a lock, as settings are).
class BoundedLoopbackTest : public LoopbackTest {
protected:
    void SetUp() override
    {
        saved[0] = TcpIdleTime;
        saved[1] = TcpRecordTime;
        saved[2] = TcpConnectionsMax;
        saved[3] = TcpConnectionsPerAddress;
        LoopbackTest::SetUp();
    }
    void TearDown() override
    {
        LoopbackTest::TearDown();
        Limit(saved[0], saved[1], saved[2], saved[3]);
    }
    static void Limit(int32_t idle, int32_t record, int32_t max, int32_t perAddress)
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
    int32_t saved[4] = {};
};

}  // namespace

// Connections are bounded per address: room is made by closing the one that
// waited longest for a call, and when all are inside a call a new one is
// refused.  A call's record is bounded in time.  No idle limit here, so each
// close seen can only come from the bound under test; the waits are generous
// for a loaded machine.
TEST_F(BoundedLoopbackTest, ConnectionsAreBoundedPerAddressAndRecordsInTime)
{
    Limit(0, 2, 0, 2);
    StartLoop();
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
    EXPECT_EQ(Call(6, tcp_port, 0), 24);
    for (SOCKET s : {a, b, c, d})
        CloseSocket(s);
}

// The idle limit ends a connection that never calls.
TEST_F(BoundedLoopbackTest, AConnectionThatNeverCallsIsClosedWhenIdle)
{
    Limit(1, 0, 0, 0);
    StartLoop();
    SOCKET e = ConnectTcp(tcp_port);
    EXPECT_TRUE(ClosedByPeer(e, 5000));
    CloseSocket(e);
}

// In all, the connection that waited longest makes room for a new client.
TEST_F(BoundedLoopbackTest, ConnectionsAreBoundedInAll)
{
    Limit(0, 0, 1, 0);
    StartLoop();
    SOCKET f = ConnectTcp(tcp_port);
    ASSERT_EQ(WaitForConnections(1), 1);
    EXPECT_EQ(Call(6, tcp_port, 0), 24);
    EXPECT_TRUE(ClosedByPeer(f, 5000));
    CloseSocket(f);
}

TEST(ServerLoopSetTest, SixtyFifthSocketIsListedButNeverSelected)
{
    RpcTestInit();
    RPCTIMEOUT = 1;
    ResetTransports();
    std::vector<uint16_t> ports;
    for (int i = 0; i < 65; i++) {
        SOCKET s = OpenUdpSocket(htonl(INADDR_LOOPBACK), 0);
        ASSERT_NE(s, INVALID_SOCKET);
        RpcTransport *t = NewTransport(s, 17, SocketLocalPort(s), 512);
        ports.push_back(t->port);
        AddToServerLoop(t);
    }
    RpcTransport *announce = NewTransport(INVALID_SOCKET, 17, 0, 0);
    ASSERT_TRUE(RegisterProgram(announce, EchoProg, 2, EchoDispatch, 17));
    FreeTransport(announce);
    std::thread server(ServerLoop);
    RpcUdpClient c;
    std::string reply;
    for (int i : {0, 63, 64}) {
        c.Send(RpcTestAddress(ports[i]), NullAuthCall(i, EchoProg, 2, 0));
        EXPECT_EQ(c.Receive(&reply, i == 64 ? 1500 : 3000), i != 64) << i;
    }
    StopTransports();  // also closes and frees the 65th
    server.join();
    UnregisterProgram(EchoProg, 2, 17);
    RPCTIMEOUT = 2;
}

}  // namespace
