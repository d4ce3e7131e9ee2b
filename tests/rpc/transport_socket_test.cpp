// Socket helpers of the transport and the failure paths of outgoing calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "rpc_test_util.h"
#include "settings/settings.h"

namespace {

TEST(TransportSocketTest, RaiseSocketBufferGrowsAndNeverShrinks)
{
    RpcTestInit();
    SOCKET s = OpenUdpSocket(htonl(INADDR_LOOPBACK), 0);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(RaiseSocketBuffer(s, SO_RCVBUF, 200000, "test rcvbuf=%u failed\n"), 200000u);
    int value = 0;
    int size = (int)sizeof(value);
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, (char *)&value, &size), 0);
    EXPECT_GE(value, 200000);
    // Below the current size nothing is set and the value comes back as is.
    EXPECT_EQ(RaiseSocketBuffer(s, SO_RCVBUF, 1000, nullptr), 1000u);
    ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, (char *)&value, &size), 0);
    EXPECT_GE(value, 200000);
    EXPECT_EQ(RaiseSocketBuffer(s, SO_SNDBUF, 100000, nullptr), 100000u);
    CloseSocket(s);
    // A socket that is not open: the option cannot be read, left alone.
    EXPECT_EQ(RaiseSocketBuffer(s, SO_SNDBUF, 5000, nullptr), 5000u);
}

TEST(ClientCallTest, NoAnswerWithinTheWaitGivesZero)
{
    RpcTestInit();
    RPCTIMEOUT = 1;
    SOCKET silent = LoopbackUdp();
    RpcTransport *c = NewTransport(INVALID_SOCKET, 17, 0, 1500);
    ASSERT_TRUE(ClientOpen(c, 17, SocketLocalPort(silent)));
    EXPECT_EQ(ntohl(c->peer.sin_addr.s_addr), 0x7F000001u);
    ClientBuildCall(c, 100000, 2, 0, nullptr, nullptr);
    EXPECT_EQ(TransportSend(c), 40);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(ClientAwaitReply(c), 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 3.0);
    EXPECT_EQ(c->socket, INVALID_SOCKET);
    // The call did reach the silent socket.
    EXPECT_EQ(ReceiveFrom(silent, 1000).size(), 40u);

    // A reply with another xid is not taken for the answer.
    ASSERT_TRUE(ClientOpen(c, 17, SocketLocalPort(silent)));
    ClientBuildCall(c, 100000, 2, 0, nullptr, nullptr);
    TransportSend(c);
    Bytes call = ReceiveFrom(silent, 1000);
    ASSERT_EQ(call.size(), 40u);
    sockaddr_in from;
    memset(&from, 0, sizeof(from));
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = (int)sizeof(from);
    getsockname(c->socket, (sockaddr *)&from, &size);
    Bytes reply = Xdr().U32(WordAt(call, 0) + 1).U32(1).U32(0).U32(0).U32(0).U32(0).b;
    SendTo(silent, ntohs(from.sin_port), reply);
    EXPECT_EQ(ClientAwaitReply(c), -1);

    FreeTransport(c);
    CloseSocket(silent);
    RPCTIMEOUT = 2;
}

TEST(ClientCallTest, TcpToAPortWithoutListenerFailsToOpen)
{
    RpcTestInit();
    SOCKET l = OpenTcpListener(htonl(INADDR_LOOPBACK), 0);
    uint16_t port = SocketLocalPort(l);
    CloseSocket(l);
    RpcTransport *c = NewTransport(INVALID_SOCKET, 6, 0, 1500);
    EXPECT_FALSE(ClientOpen(c, 6, port));
    EXPECT_EQ(c->socket, INVALID_SOCKET);
    ClientBuildCall(c, 100000, 2, 0, nullptr, nullptr);
    EXPECT_EQ(ClientCall(c, 6, port), 0);
    EXPECT_EQ(c->socket, INVALID_SOCKET);
    FreeTransport(c);
}

}  // namespace
