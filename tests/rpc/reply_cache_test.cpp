// The duplicate request cache where the wire cannot reach it at will: a call
// still running, the bound on its entries, callers racing on the same calls,
// a held reply whose flush failed.
// (Retransmissions between other clients' calls: NfsWire on the server.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "rpc/reply_cache.h"
#include "rpc_test_util.h"

namespace {

std::string CallOf(uint32_t xid, uint32_t arg)
{
    return NullAuthCall(xid, 100003, 3, 0, Words({arg}));
}

// The run of a decoded call: replies with arg * 3, then finishes it.
void Answer(RpcTransport *t, RpcCall *call, uint32_t arg, const ReplyCacheTicket *ticket)
{
    const uint32_t value = arg * 3;
    ReplySuccess(t, call, XdrPutU32, &value);
    ReplyCacheFinish(t, ticket);
}

TEST(ReplyCacheTest, ARunningCallIsDroppedThenAnsweredWithItsFirstReply)
{
    RpcTestInit();
    Wire w;
    ReplyCacheTicket ticket, other;
    ASSERT_TRUE(w.Decode(CallOf(0x7100, 5)));
    ASSERT_EQ(ReplyCacheBegin(w.t, &w.call, &ticket), ReplyCacheVerdict::RUN);
    EXPECT_EQ(ReplyCacheBegin(w.t, &w.call, &other), ReplyCacheVerdict::IN_PROGRESS);
    Answer(w.t, &w.call, 5, &ticket);
    const std::string first = w.Reply();
    ASSERT_TRUE(w.Decode(CallOf(0x7100, 5)));
    EXPECT_EQ(ReplyCacheBegin(w.t, &w.call, &other), ReplyCacheVerdict::RESENT);
    EXPECT_EQ(w.Reply(), first);
    // The same xid with other arguments is another call.
    ASSERT_TRUE(w.Decode(CallOf(0x7100, 6)));
    ASSERT_EQ(ReplyCacheBegin(w.t, &w.call, &other), ReplyCacheVerdict::RUN);
    Answer(w.t, &w.call, 6, &other);
}

// The oldest reply makes room for the newest; every other one still answers.
TEST(ReplyCacheTest, HoldsTheLatestRepliesOnly)
{
    RpcTestInit();
    Wire w;
    ReplyCacheTicket ticket;
    for (uint32_t i = 0; i <= REPLY_CACHE_ENTRIES; i++) {
        ASSERT_TRUE(w.Decode(CallOf(0x10000 + i, i)));
        ASSERT_EQ(ReplyCacheBegin(w.t, &w.call, &ticket), ReplyCacheVerdict::RUN) << i;
        Answer(w.t, &w.call, i, &ticket);
    }
    for (uint32_t i = REPLY_CACHE_ENTRIES; i >= 1; i--) {
        ASSERT_TRUE(w.Decode(CallOf(0x10000 + i, i)));
        ASSERT_EQ(ReplyCacheBegin(w.t, &w.call, &ticket), ReplyCacheVerdict::RESENT) << i;
        ASSERT_EQ(WordAt(w.Sent(), 24), i * 3) << i;
    }
    ASSERT_TRUE(w.Decode(CallOf(0x10000, 0)));
    ASSERT_EQ(ReplyCacheBegin(w.t, &w.call, &ticket), ReplyCacheVerdict::RUN);
    Answer(w.t, &w.call, 0, &ticket);
}

// Callers on several threads send the same calls from one address and port
// (as UDP workers and retransmissions do): each call runs once, and every
// other arrival is dropped or gets that run's reply whole.
TEST(ReplyCacheTest, RacingArrivalsRunEachCallOnce)
{
    RpcTestInit();
    const uint32_t calls = 300;
    std::atomic<int> runs[calls] = {};
    std::atomic<int> wrong{0};
    Wire sink;  // every reply goes to its client, which nobody reads
    sink.Decode(CallOf(0, 0));
    const sockaddr_in caller = sink.t->peer;
    auto worker = [&]() {
        Wire w(512);
        ReplyCacheTicket ticket;
        for (uint32_t round = 0; round < 3; round++) {
            for (uint32_t i = 0; i < calls; i++) {
                w.Decode(CallOf(0x20000 + i, i));
                w.t->peer = caller;
                ReplyCacheVerdict verdict = ReplyCacheBegin(w.t, &w.call, &ticket);
                if (verdict == ReplyCacheVerdict::RUN) {
                    runs[i]++;
                    Answer(w.t, &w.call, i, &ticket);
                } else if (verdict == ReplyCacheVerdict::RESENT) {
                    const std::string sent = w.Sent();
                    if (WordAt(sent, 0) != 0x20000 + i || WordAt(sent, 24) != i * 3)
                        wrong++;
                }
            }
        }
    };
    std::vector<std::thread> workers(4);
    for (std::thread &t : workers)
        t = std::thread(worker);
    for (std::thread &t : workers)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    for (uint32_t i = 0; i < calls; i++)
        EXPECT_EQ(runs[i].load(), 1) << i;
}

// A reply held in a connection's batch until what it waits for is done
// (a flush) never leaves when that fails: the connection is closed with
// nothing sent, and the call, forgotten, runs again when it comes back.
TEST(ReplyCacheTest, AHeldReplyWhoseSettleFailsIsNeverSentNorRemembered)
{
    RpcTestInit();
    Wire w;
    SOCKET listener = OpenTcpListener(htonl(INADDR_LOOPBACK), 0);
    SOCKET client = ConnectTcp(SocketLocalPort(listener));
    SOCKET server = accept(listener, nullptr, nullptr);
    ReplyBatch *batch = static_cast<ReplyBatch *>(calloc(1, sizeof(ReplyBatch)));
    ASSERT_TRUE(w.Decode(CallOf(0x7300, 7)));
    const SOCKET udp = w.t->socket;
    w.t->socket = server;
    w.t->protocol = RPC_PROTO_TCP;
    TransportHoldReplies(w.t, batch, true);
    ReplyCacheTicket ticket;
    ASSERT_EQ(ReplyCacheBegin(w.t, &w.call, &ticket), ReplyCacheVerdict::RUN);
    void **state = ReplyAfter([](void *state) { return state == nullptr; });
    ASSERT_NE(state, nullptr);
    *state = batch;  // the settle fails
    Answer(w.t, &w.call, 7, &ticket);
    EXPECT_EQ(batch->replies, 1u);
    EXPECT_EQ(ReplyCacheBegin(w.t, &w.call, &ticket), ReplyCacheVerdict::IN_PROGRESS);
    EXPECT_FALSE(SendReplyBatch(server, nullptr, batch));
    char byte;
    EXPECT_EQ(recv(client, &byte, 1, 0), 0);
    TransportHoldReplies(w.t, nullptr, false);
    EXPECT_EQ(ReplyCacheBegin(w.t, &w.call, &ticket), ReplyCacheVerdict::RUN);
    Answer(w.t, &w.call, 7, &ticket);
    w.t->socket = udp;
    w.t->protocol = RPC_PROTO_UDP;
    free(batch);
    CloseSocket(server);
    CloseSocket(client);
    CloseSocket(listener);
}

}  // namespace
