// Routing by the program table and the byte layout of every reply, read back
// from the wire.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "rpc_test_util.h"

namespace {

const uint32_t TestProg = 0x20000100;

// Answers with the procedure's result: proc 0 empty, 1 one word (arg + 1),
// 2 PROC_UNAVAIL, 3 GARBAGE_ARGS, 4 SYSTEM_ERR, 5 an opaque of the argument's
// length, 6 no reply at all.
void TestDispatch(RpcTransport *t, RpcCall *call)
{
    uint32_t arg = 0;
    switch (call->proc) {
    case 0:
        ReplySuccess(t, call, XdrPutNothing, nullptr);
        break;
    case 1:
        if (!XdrGetU32(call, &arg)) {
            ReplyAccepted(t, call, GARBAGE_ARGS);
            return;
        }
        arg++;
        ReplySuccess(t, call, XdrPutU32, &arg);
        break;
    case 2:
        ReplyAccepted(t, call, PROC_UNAVAIL);
        break;
    case 3:
        ReplyAccepted(t, call, GARBAGE_ARGS);
        break;
    case 4:
        ReplyAccepted(t, call, SYSTEM_ERR);
        break;
    case 5: {
        XdrGetU32(call, &arg);
        static uint8_t data[256];
        for (int i = 0; i < 256; i++) {
            data[i] = (uint8_t)i;
        }
        struct R {
            uint32_t n;
        } r = {arg};
        ReplySuccess(
            t, call, [](uint8_t *out, const void *res) { return XdrPutOpaque(out, data, ((const R *)res)->n); },
            &r);
        break;
    }
    default:
        break;
    }
}

void OtherDispatch(RpcTransport *t, RpcCall *call)
{
    ReplyAccepted(t, call, SYSTEM_ERR);
}

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override { RpcTestInit(); }
    void TearDown() override
    {
        for (uint32_t v = 1; v <= 5; v++) {
            UnregisterProgram(TestProg, v, 17);
        }
    }
    Wire wire;

    Bytes Call(uint32_t vers, uint32_t proc, const Bytes &args = Bytes(), uint32_t verf_flavor = 0,
               const Bytes &verf = Bytes())
    {
        CallParts parts;
        parts.xid = 0x01020304;
        parts.prog = TestProg;
        parts.vers = vers;
        parts.proc = proc;
        parts.args = args;
        parts.verf_flavor = verf_flavor;
        parts.verf = verf;
        wire.Serve(MakeCall(parts));
        return wire.Reply(500);
    }
    static Bytes Accepted(uint32_t stat) { return Xdr().U32(0x01020304).U32(1).U32(0).U32(0).U32(0).U32(stat).b; }
};

TEST_F(DispatchTest, AcceptedStatusReplies)
{
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 3, TestDispatch, 17));
    EXPECT_EQ(Call(3, 2), Accepted(3));  // PROC_UNAVAIL
    EXPECT_EQ(Call(3, 3), Accepted(4));  // GARBAGE_ARGS
    EXPECT_EQ(Call(3, 1), Accepted(4));  // arguments missing
    EXPECT_EQ(Call(3, 4), Accepted(5));  // SYSTEM_ERR
    EXPECT_TRUE(Call(3, 6).empty());     // silence where the protocol asks for it
}

TEST_F(DispatchTest, UnknownVersionGetsTheRegisteredRange)
{
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 2, TestDispatch, 17));
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 3, TestDispatch, 6));
    Bytes r = Call(4, 0);
    EXPECT_EQ(r, Xdr().U32(0x01020304).U32(1).U32(0).U32(0).U32(0).U32(2).U32(2).U32(3).b);
    r = Call(1, 0);
    EXPECT_EQ(WordAt(r, 6), 2u);
    EXPECT_EQ(WordAt(r, 7), 3u);
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 5, TestDispatch, 17));
    r = Call(4, 0);
    EXPECT_EQ(WordAt(r, 6), 2u);
    EXPECT_EQ(WordAt(r, 7), 5u);
}

TEST_F(DispatchTest, AcceptedRepliesEchoTheCallsVerifier)
{
    // A SUCCESS reply echoes a 12-byte verifier on the wire of the port
    // mapper (PortMapperTest MalformedArgumentsVersionsAndProcedures); here a
    // padded body, and the refusals that carry a verifier.
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 3, TestDispatch, 17));
    Bytes odd = Fill(5, 0x40);
    Bytes r = Call(3, 2, Bytes(), 7, odd);
    EXPECT_EQ(r, Xdr().U32(0x01020304).U32(1).U32(0).U32(7).Opaque(odd).U32(3).b);
    r = Call(9, 0, Bytes(), 7, odd);
    EXPECT_EQ(r, Xdr().U32(0x01020304).U32(1).U32(0).U32(7).Opaque(odd).U32(2).U32(3).U32(3).b);
    EXPECT_EQ(ReplySuccessHeaderLength(&wire.call), 24u + 8u);
}

TEST_F(DispatchTest, ResultsOfEveryLengthArePadded)
{
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 3, TestDispatch, 17));
    for (uint32_t n = 0; n <= 9; n++) {
        Bytes r = Call(3, 5, Xdr().U32(n).b);
        Bytes data;
        for (uint32_t i = 0; i < n; i++) {
            data.push_back((uint8_t)i);
        }
        EXPECT_EQ(r, Xdr().U32(0x01020304).U32(1).U32(0).U32(0).U32(0).U32(0).Opaque(data).b) << n;
    }
}

TEST_F(DispatchTest, RegistrationRulesAndWithdrawal)
{
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 3, TestDispatch, 17));
    // The second protocol of a service finds its entry again.
    EXPECT_TRUE(RegisterProgram(wire.t, TestProg, 3, TestDispatch, 6));
    // Another function for the same program and version is refused.
    EXPECT_FALSE(RegisterProgram(wire.t, TestProg, 3, OtherDispatch, 6));
    int entries = 0;
    for (RpcProgram *p = ProgramTableHead(); p != nullptr; p = ProgramTableNext(p)) {
        if (p->prog == TestProg) {
            entries++;
            EXPECT_EQ(p->dispatch, &TestDispatch);
        }
    }
    EXPECT_EQ(entries, 1);
    // Newest first.
    ASSERT_TRUE(RegisterProgram(wire.t, TestProg, 4, OtherDispatch, 17));
    EXPECT_EQ(ProgramTableHead()->vers, 4u);
    EXPECT_EQ(Call(4, 0), Accepted(5));

    UnregisterProgram(TestProg, 3, 17);
    Bytes r = Call(3, 0);
    EXPECT_EQ(WordAt(r, 5), 2u);  // now a mismatch: only version 4 is left
    UnregisterProgram(TestProg, 4, 17);
    EXPECT_EQ(Call(4, 0), Accepted(1));
}

// Services register and withdraw while workers of running services
// dispatch: the walkers must never see a broken or freed entry.
TEST(ProgramTableTest, RegistrationWhileOtherThreadsDispatch)
{
    RpcTestInit();
    const uint32_t prog = TestProg + 1;
    RpcTransport *announce = NewTransport(INVALID_SOCKET, 17, 0, 0);
    ASSERT_TRUE(RegisterProgram(announce, prog, 1, TestDispatch, 17));
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    auto caller = [&] {
        Wire w(512);
        CallParts parts;
        parts.prog = prog;
        parts.vers = 1;
        parts.proc = 1;
        parts.args = Xdr().U32(1).b;
        Bytes call = MakeCall(parts);
        for (int i = 0; i < 2000 && !done; i++) {
            w.Serve(call);
            Bytes r = w.Reply(1000);
            if (WordAt(r, 6) != 2u) {
                wrong++;
            }
        }
    };
    std::thread a(caller), b(caller);
    for (int round = 0; round < 300; round++) {
        for (uint32_t v = 2; v <= 5; v++) {
            RegisterProgram(announce, prog, v, TestDispatch, 17);
        }
        for (uint32_t v = 5; v >= 2; v--) {
            UnregisterProgram(prog, v, 17);
        }
    }
    done = true;
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
    UnregisterProgram(prog, 1, 17);
    FreeTransport(announce);
}

}  // namespace
