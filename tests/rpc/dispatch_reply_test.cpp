// The program table: registrations while other threads dispatch.  (The
// replies' layout: RpcWire CallTable on the running server.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "rpc_test_util.h"

namespace {

const uint32_t TestProg = 0x20000100;

// Answers with its argument word + 1.
void TestDispatch(RpcTransport *t, RpcCall *call)
{
    uint32_t arg = 0;
    if (!XdrGetU32(call, &arg)) {
        ReplyAccepted(t, call, GARBAGE_ARGS);
        return;
    }
    arg++;
    ReplySuccess(t, call, XdrPutU32, &arg);
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
        const std::string call = NullAuthCall(7, prog, 1, 1, Words({1}));
        for (int i = 0; i < 2000 && !done; i++) {
            w.Serve(call);
            if (WordAt(w.Reply(1000), 24) != 2u)
                wrong++;
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
