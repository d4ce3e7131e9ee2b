// The client side of the message layer: the replies it takes apart, also
// short or refusing ones (the XDR readers: the fuzz targets and the NfsWire
// tables on the running server).
#include <gtest/gtest.h>

#include <cstring>

#include "rpc_test_util.h"

namespace {

TEST(ClientTest, CheckReplyCodes)
{
    RpcTransport *t = NewTransport(INVALID_SOCKET, 17, 0, 256);
    t->xid = 99;
    auto check = [&](const Bytes &b) {
        memcpy(t->buffer, b.data(), b.size());
        t->length = (int32_t)b.size();
        return ClientCheckReply(t);
    };
    Bytes ok = Xdr().U32(99).U32(1).U32(0).U32(0).U32(0).U32(0).U32(1).b;
    EXPECT_EQ(check(ok), 28);
    EXPECT_EQ(check(Bytes(ok.begin(), ok.begin() + 24)), 24);
    EXPECT_EQ(check(Bytes(ok.begin(), ok.begin() + 19)), -10);
    EXPECT_EQ(check(Bytes(ok.begin(), ok.begin() + 20)), -10);
    EXPECT_EQ(check(Xdr().U32(98).U32(1).U32(0).U32(0).U32(0).U32(0).b), -1);
    EXPECT_EQ(check(Xdr().U32(99).U32(0).U32(0).U32(0).U32(0).U32(0).b), -2);
    EXPECT_EQ(check(Xdr().U32(99).U32(1).U32(1).U32(0).U32(2).U32(2).b), -3);
    EXPECT_EQ(check(Xdr().U32(99).U32(1).U32(1).U32(1).U32(1).b), -4);
    EXPECT_EQ(check(Xdr().U32(99).U32(1).U32(0).U32(0).U32(0).U32(2).U32(2).U32(2).b), -6);
    EXPECT_EQ(check(Xdr().U32(99).U32(1).U32(0).U32(0).U32(0).U32(1).b), -7);
    EXPECT_EQ(check(Xdr().U32(99).U32(1).U32(0).U32(0).U32(0).U32(3).b), -8);
    EXPECT_EQ(check(Xdr().U32(99).U32(1).U32(0).U32(0).U32(0).U32(4).b), -9);
    EXPECT_EQ(check(Xdr().U32(99).U32(1).U32(0).U32(0).U32(0).U32(5).b), -9);
    FreeTransport(t);
}

}  // namespace
