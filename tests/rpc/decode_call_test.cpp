// DecodeCall and CheckCredential against the bytes of real calls, and the
// refusals they answer with, read back from the wire.
#include <gtest/gtest.h>

#include "rpc_test_util.h"

namespace {

class DecodeCallTest : public ::testing::Test {
protected:
    void SetUp() override { RpcTestInit(); }
    Wire wire;
};

// Messages cut short, a credential or verifier whose stated length runs
// past the end, and replies: dropped without an answer.
TEST_F(DecodeCallTest, CutMessagesAndRepliesAreDroppedSilently)
{
    CallParts parts;
    Bytes empty = MakeCall(parts);  // 40 bytes: empty credential and verifier
    ASSERT_EQ(empty.size(), 40u);
    parts.cred = Fill(100);
    Bytes cred = MakeCall(parts);
    parts.cred.clear();
    parts.verf = Fill(30);
    Bytes verf = MakeCall(parts);  // 40 + 32
    const struct {
        const Bytes &call;
        size_t cut;
    } cases[] = {
        {empty, 31}, {empty, 32}, {empty, 39},  // 32: the verifier lies outside
        {cred, 80}, {cred, 32 + 100 + 4},       // inside the credential body, the verifier's words
        {verf, 60}, {verf, 70},                 // inside the verifier body, its padding missing
    };
    for (const auto &c : cases)
        EXPECT_FALSE(wire.Decode(Bytes(c.call.begin(), c.call.begin() + (long)c.cut))) << c.cut;
    ASSERT_TRUE(wire.Decode(verf));
    EXPECT_EQ(wire.call.arg_length, 0u);
    // A stated length far beyond the message (but within 400).
    EXPECT_FALSE(wire.Decode(Xdr().U32(9).U32(0).U32(2).U32(1).U32(1).U32(0).U32(0).U32(396).U32(0).U32(0).b));
    parts.msg_type = 1;
    EXPECT_FALSE(wire.Decode(MakeCall(parts)));
    EXPECT_TRUE(wire.Reply(200).empty());
}

TEST_F(DecodeCallTest, CredentialVerifierAndArgumentsAreTakenApart)
{
    CallParts parts;
    parts.cred_flavor = 1;
    parts.cred = AuthUnixBytes(7, "client", 1000, 100, {4, 5});
    parts.verf_flavor = 6;
    parts.verf = Fill(5);  // padded to 8 on the wire
    parts.args = Xdr().U32(11).U32(22).b;
    ASSERT_TRUE(wire.Decode(MakeCall(parts)));
    EXPECT_EQ(wire.call.cred_flavor, 1u);
    EXPECT_EQ(wire.call.cred_length, parts.cred.size());
    EXPECT_EQ(XdrLoad32(wire.call.cred), parts.cred.size());  // length word as received
    EXPECT_EQ(Bytes(wire.call.cred + 4, wire.call.cred + 4 + parts.cred.size()), parts.cred);
    EXPECT_EQ(wire.call.verf_flavor, 6u);
    EXPECT_EQ(wire.call.verf_length, 5u);
    EXPECT_EQ(Bytes(wire.call.verf + 4, wire.call.verf + 9), parts.verf);
    EXPECT_EQ(wire.call.arg_length, 8u);
    uint32_t a = 0, b = 0;
    EXPECT_TRUE(XdrGetU32(&wire.call, &a));
    EXPECT_TRUE(XdrGetU32(&wire.call, &b));
    EXPECT_EQ(a, 11u);
    EXPECT_EQ(b, 22u);
    EXPECT_FALSE(XdrGetU32(&wire.call, &a));
}

TEST_F(DecodeCallTest, CredentialAndVerifierBodiesUpTo400Bytes)
{
    CallParts parts;
    parts.xid = 5;
    parts.cred_flavor = 0;
    parts.cred = Fill(400);
    parts.verf = Fill(400);
    EXPECT_TRUE(wire.Decode(MakeCall(parts)));
    EXPECT_EQ(wire.call.cred_length, 400u);
    EXPECT_EQ(wire.call.verf_length, 400u);
    EXPECT_EQ(Bytes(wire.call.verf + 4, wire.call.verf + 404), parts.verf);
    EXPECT_TRUE(wire.Reply(100).empty());

    parts.cred = Fill(401);
    EXPECT_FALSE(wire.Decode(MakeCall(parts)));
    EXPECT_EQ(wire.Reply(), Xdr().U32(5).U32(1).U32(1).U32(1).U32(1).b);  // AUTH_BADCRED

    parts.cred = Fill(8);
    parts.verf = Fill(401);
    EXPECT_FALSE(wire.Decode(MakeCall(parts)));
    EXPECT_EQ(wire.Reply(), Xdr().U32(5).U32(1).U32(1).U32(1).U32(3).b);  // AUTH_BADVERF
}

// --- CheckCredential ---------------------------------------------------------

class CredentialTest : public DecodeCallTest {
protected:
    uint32_t Check(uint32_t flavor, const Bytes &body)
    {
        CallParts parts;
        parts.cred_flavor = flavor;
        parts.cred = body;
        EXPECT_TRUE(wire.Decode(MakeCall(parts)));
        return CheckCredential(wire.t, &wire.call);
    }
};

// A 255-byte name and 32 groups together would need 404 bytes, more than a
// credential may hold (refused as CredentialAndVerifierBodiesUpTo400Bytes
// shows); each limit is reached in a body of exactly 400.
TEST_F(CredentialTest, AuthUnixAtItsLimitsIsDecoded)
{
    std::string name(255, 'm');
    std::vector<uint32_t> gids;
    for (uint32_t i = 0; i < 32; i++) {
        gids.push_back(1000 + i);
    }
    Bytes body = AuthUnixBytes(0x55, std::string(251, 'n'), 501, 20, gids);
    ASSERT_EQ(body.size(), 400u);
    ASSERT_EQ(Check(1, body), 0u);
    const AuthUnix &a = wire.call.auth;
    EXPECT_EQ(a.stamp, 0x55u);
    EXPECT_EQ(std::string(a.machinename), std::string(251, 'n'));
    EXPECT_EQ(a.machinename, a.name);
    EXPECT_EQ(a.uid, 501u);
    EXPECT_EQ(a.gid, 20u);
    ASSERT_EQ(a.gid_count, 32u);
    EXPECT_EQ(a.gids, a.gid_list);
    EXPECT_EQ(a.gids[0], 1000u);
    EXPECT_EQ(a.gids[31], 1031u);

    gids.pop_back();
    body = AuthUnixBytes(0x56, name, 502, 21, gids);
    ASSERT_EQ(body.size(), 400u);
    ASSERT_EQ(Check(1, body), 0u);
    EXPECT_EQ(std::string(a.machinename), name);
    EXPECT_EQ(a.gid_count, 31u);
    EXPECT_EQ(a.gids[30], 1030u);
}

TEST_F(CredentialTest, AuthUnixBeyondItsLimitsIsBadCred)
{
    EXPECT_EQ(Check(1, AuthUnixBytes(1, std::string(256, 'm'), 0, 0, {})), 1u);
    std::vector<uint32_t> gids(33, 7);
    EXPECT_EQ(Check(1, AuthUnixBytes(1, "h", 0, 0, gids)), 1u);

    // A stated length shorter than the fields it holds.
    Bytes body = AuthUnixBytes(1, "host", 0, 0, {1, 2});
    Bytes cut(body.begin(), body.end() - 4);
    EXPECT_EQ(Check(1, cut), 1u);
    EXPECT_EQ(Check(1, Bytes(body.begin(), body.begin() + 6)), 1u);
    EXPECT_EQ(Check(1, Bytes()), 1u);
    // A longer body than its fields is accepted.
    Bytes longer = body;
    longer.insert(longer.end(), 12, 0xEE);
    EXPECT_EQ(Check(1, longer), 0u);
    EXPECT_EQ(std::string(wire.call.auth.name), "host");
    EXPECT_EQ(wire.call.auth.gid_count, 2u);
}

TEST_F(CredentialTest, OtherFlavorsAreRejected)
{
    EXPECT_EQ(Check(2, Fill(8)), 2u);
    EXPECT_EQ(Check(6, Fill(8)), 2u);
    EXPECT_EQ(Check(3, Bytes()), 2u);
    EXPECT_EQ(Check(0x80000001u, Bytes()), 2u);
}

TEST_F(CredentialTest, DispatchAnswersARefusedCredentialWithAuthError)
{
    CallParts parts;
    parts.xid = 0x0BADC0DE;
    parts.cred_flavor = 6;
    parts.cred = Fill(16);
    wire.Serve(MakeCall(parts));
    EXPECT_EQ(wire.Reply(), Xdr().U32(0x0BADC0DE).U32(1).U32(1).U32(1).U32(2).b);

    parts.cred_flavor = 1;
    parts.cred = AuthUnixBytes(1, "h", 0, 0, std::vector<uint32_t>(33, 1));
    wire.Serve(MakeCall(parts));
    EXPECT_EQ(wire.Reply(), Xdr().U32(0x0BADC0DE).U32(1).U32(1).U32(1).U32(1).b);
}

}  // namespace
