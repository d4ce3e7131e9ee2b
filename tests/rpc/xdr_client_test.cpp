// The XDR packer and readers, and the client side of the message layer.
#include <gtest/gtest.h>

#include <cstring>

#include "rpc_test_util.h"

namespace {

Bytes Out(const uint8_t *p, uint32_t n)
{
    return Bytes(p, p + n);
}

TEST(XdrPackTest, EveryLetter)
{
    uint8_t out[64];
    memset(out, 0xCC, sizeof(out));
    uint32_t network_opaque[3];
    uint8_t *no = (uint8_t *)network_opaque;
    XdrStore32(no, 5);
    memcpy(no + 4, "abcde", 5);
    uint32_t host_opaque[2];
    host_opaque[0] = 3;
    memcpy(&host_opaque[1], "xyz", 3);
    uint32_t n = XdrPack(out, "q w-O o Q W", 0x01020304u, 0xABCD, (const void *)no, (const void *)host_opaque,
                         0x11223344u, 0x5566);
    uint32_t raw_q = 0x11223344u;
    uint32_t raw_w = 0x5566;
    Bytes expected = Xdr().U32(0x01020304).U32(0xABCD).U32(5).Raw("abcde", 5).Padding(3).U32(3).Raw("xyz", 3).Padding(1)
                         .Raw(&raw_q, 4)
                         .Raw(&raw_w, 4)
                         .b;
    EXPECT_EQ(Out(out, n), expected);
    EXPECT_EQ(out[n], 0xCC);  // nothing beyond
}

TEST(XdrPutTest, OpaquesPadAndSkipCopiesInPlace)
{
    // Data already behind the length word.
    uint8_t out[32];
    memset(out, 0xCC, sizeof(out));
    memcpy(out + 4, "abc", 3);
    EXPECT_EQ(XdrPutOpaque(out, out + 4, 3), 8u);
    EXPECT_EQ(Out(out, 8), Xdr().Opaque(Bytes{'a', 'b', 'c'}).b);
    EXPECT_EQ(XdrPutFixedOpaque(out, "ab", 2), 4u);
    EXPECT_EQ(Out(out, 4), (Bytes{'a', 'b', 0, 0}));
    memcpy(out, "wxyz12", 6);
    EXPECT_EQ(XdrPutFixedOpaque(out, out, 6), 8u);
    EXPECT_EQ(Out(out, 8), (Bytes{'w', 'x', 'y', 'z', '1', '2', 0, 0}));
    EXPECT_EQ(XdrPutHyper(out, 0x0102030405060708ull), 8u);
    EXPECT_EQ(Out(out, 8), Xdr().U32(0x01020304).U32(0x05060708).b);
}

class XdrGetTest : public ::testing::Test {
protected:
    RpcCall call{};
    Bytes args;
    void Args(const Bytes &b)
    {
        args = b;
        call.args = args.data();
        call.arg_length = (uint32_t)args.size();
        call.arg_pos = 0;
    }
};

TEST_F(XdrGetTest, StringsWithinTheirLimit)
{
    Args(Xdr().Opaque(Bytes{'n', 'a', 'm', 'e', '1'}).U32(42).b);
    char out[16];
    EXPECT_EQ(XdrGetString(&call, out, 6), 6u);
    EXPECT_STREQ(out, "name1");
    EXPECT_EQ(call.arg_pos, 3u);
    uint32_t v;
    EXPECT_TRUE(XdrGetU32(&call, &v));
    EXPECT_EQ(v, 42u);

    // L must be less than max.
    Args(Xdr().Opaque(Bytes{'n', 'a', 'm', 'e', '1'}).b);
    EXPECT_EQ(XdrGetString(&call, out, 5), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(call.arg_pos, 0u);

    // Bytes missing, and padding missing at the very end: a short argument.
    Args(Xdr().U32(9).Raw("abcd", 4).b);
    EXPECT_EQ(XdrGetString(&call, out, 16), 0u);
    Args(Xdr().U32(5).Raw("abcde", 5).b);
    EXPECT_EQ(XdrGetString(&call, out, 16), 0u);
    EXPECT_EQ(call.arg_pos, 0u);
    Args(Xdr().U32(0xFFFFFFFFu).b);
    EXPECT_EQ(XdrGetString(&call, out, 16), 0u);
}

TEST_F(XdrGetTest, OpaquesAndWordsStayInsideTheArguments)
{
    Args(Xdr().Opaque(Fill(20)).U32(1).U32(2).b);
    uint8_t out[32];
    uint32_t length = 0;
    EXPECT_FALSE(XdrGetOpaque(&call, out, 19, &length));
    EXPECT_TRUE(XdrGetOpaque(&call, out, 32, &length));
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(Bytes(out, out + 20), Fill(20));
    uint64_t h;
    EXPECT_TRUE(XdrGetU64(&call, &h));
    EXPECT_EQ(h, 0x100000002ull);
    EXPECT_FALSE(XdrGetU64(&call, &h));

    Args(Xdr().U32(0xFFFFFFFDu).U32(0).b);  // length whose padding wraps
    const uint8_t *ref;
    EXPECT_FALSE(XdrGetOpaqueRef(&call, &ref, 0xFFFFFFFFu, &length));
    Args(Xdr().U32(5).Raw("abcde", 5).b);  // padding missing
    EXPECT_FALSE(XdrGetOpaque(&call, out, 32, &length));
    Args(Fill(6));
    EXPECT_FALSE(XdrGetFixedOpaque(&call, out, 6));
    Args(Fill(8));
    EXPECT_TRUE(XdrGetFixedOpaque(&call, out, 6));
    EXPECT_EQ(call.arg_pos, 2u);
}

// --- Client side ------------------------------------------------------------

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
