// Socket helpers of the transport and the failure paths of outgoing calls.
#include <gtest/gtest.h>

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

// A connection's buffer grows for a record larger than it, up to its limit,
// and is given back once the connection has been idle for a while.
TEST(TransportSocketTest, GrownBufferIsGivenBackWhenIdle)
{
    RpcTestInit();
    SOCKET listener = OpenTcpListener(htonl(INADDR_LOOPBACK), 0);
    SOCKET client = ConnectTcp(SocketLocalPort(listener));
    RpcTransport *t = NewTransport(accept(listener, nullptr, nullptr), RPC_PROTO_TCP, 0, 64);
    t->limit = 4096;
    const Bytes record = Fill(3000);
    ASSERT_TRUE(SendAll(client, Marked(Fill(1000))));
    ASSERT_TRUE(SendAll(client, Marked(record)));
    ASSERT_TRUE(ReceiveRecordTimed(t, 5000, 5000, nullptr, nullptr));
    ASSERT_TRUE(ReceiveRecordTimed(t, 5000, 5000, nullptr, nullptr));
    EXPECT_EQ(Bytes(t->buffer, t->buffer + t->length), record);
    EXPECT_GE(t->capacity, 3000u);
    EXPECT_FALSE(ReceiveRecordTimed(t, SHRINK_AFTER_MS + 100, 0, nullptr, nullptr));
    EXPECT_EQ(t->capacity, 64u);
    CloseSocket(t->socket);
    FreeTransport(t);
    CloseSocket(client);
    CloseSocket(listener);
}

// A call nobody answers gives 0 after the wait: PortMapperTest
// StopFreesThePortAndClientCallsThenFail.  A reply with another xid is not
// taken for the answer.
TEST(ClientCallTest, AReplyWithAnotherXidIsNotTheAnswer)
{
    RpcTestInit();
    RPCTIMEOUT = 1;
    SOCKET silent = LoopbackUdp();
    RpcTransport *c = NewTransport(INVALID_SOCKET, 17, 0, 1500);
    ASSERT_TRUE(ClientOpen(c, 17, SocketLocalPort(silent)));
    EXPECT_EQ(ntohl(c->peer.sin_addr.s_addr), 0x7F000001u);
    ClientBuildCall(c, 100000, 2, 0, nullptr, nullptr);
    EXPECT_EQ(TransportSend(c), 40);
    Bytes call = ReceiveFrom(silent, 1000);
    ASSERT_EQ(call.size(), 40u);
    sockaddr_in from;
    memset(&from, 0, sizeof(from));
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
