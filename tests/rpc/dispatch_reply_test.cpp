// The program table: its registration rules, and registrations while other
// threads dispatch.  (The replies' layout: RpcWire CallTable on the running
// server.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "rpc_test_util.h"

namespace {

const uint32_t TestProg = 0x20000100;

// Answers proc 0 with nothing, proc 1 with one word (arg + 1).
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
