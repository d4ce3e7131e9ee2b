// A TCP connection's receiving buffer.
#include <gtest/gtest.h>

#include "rpc_test_util.h"

namespace {

// A connection's buffer grows for a record larger than it, up to its limit,
// and is given back once the connection has been idle for a while.
TEST(TransportSocketTest, GrownBufferIsGivenBackWhenIdle)
{
    RpcTestInit();
    SOCKET listener = OpenTcpListener(htonl(INADDR_LOOPBACK), 0);
    SOCKET client = ConnectTcp(SocketLocalPort(listener));
    RpcTransport *t = NewTransport(accept(listener, nullptr, nullptr), RPC_PROTO_TCP, 0, 64);
    t->limit = 4096;
    const std::string record(3000, 'r');
    ASSERT_TRUE(SendAll(client, AsRecord(std::string(1000, 'f'))));
    ASSERT_TRUE(SendAll(client, AsRecord(record)));
    ASSERT_TRUE(ReceiveRecordTimed(t, 5000, 5000, nullptr, nullptr));
    ASSERT_TRUE(ReceiveRecordTimed(t, 5000, 5000, nullptr, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(t->buffer), t->length), record);
    EXPECT_GE(t->capacity, 3000u);
    EXPECT_FALSE(ReceiveRecordTimed(t, SHRINK_AFTER_MS + 100, 0, nullptr, nullptr));
    EXPECT_EQ(t->capacity, 64u);
    CloseSocket(t->socket);
    FreeTransport(t);
    CloseSocket(client);
    CloseSocket(listener);
}

}  // namespace
