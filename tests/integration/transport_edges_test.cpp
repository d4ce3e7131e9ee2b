// Edge cases of the RPC message layer and transport as the running server
// shows them on its port mapper sockets: what gets no reply, what gets a
// refusal, and how TCP records are framed.
#include <gtest/gtest.h>

#include "wire.h"

namespace {
const int kSilence = 500;  // ms to wait for a reply that must not come
}

TEST(TransportWire, ShortAndNonCallDatagramsGetNoReply)
{
    RpcUdpClient c;
    std::string call = NullAuthCall(NextXid(), 100000, 2, 0);
    std::string reply;
    EXPECT_FALSE(c.Call(ServerAddress(), call.substr(0, 31), &reply, kSilence));
    EXPECT_FALSE(c.Call(ServerAddress(), "", &reply, kSilence));
    RpcCallParts parts;
    parts.xid = NextXid();
    parts.msg_type = 1;
    parts.prog = 100000;
    parts.vers = 2;
    EXPECT_FALSE(c.Call(ServerAddress(), BuildCall(parts), &reply, kSilence));
    // A credential whose stated length runs past the message.
    std::string past = NullAuthCall(NextXid(), 100000, 2, 0);
    past.replace(28, 4, std::string("\0\0\0\x40", 4));
    EXPECT_FALSE(c.Call(ServerAddress(), past, &reply, kSilence));
    // The 40-byte call is served.
    EXPECT_TRUE(c.Call(ServerAddress(), call, &reply, 3000));
    EXPECT_EQ(24u, reply.size());
}

TEST(TransportWire, WrongRpcVersionAndOversizedAuthAreRefused)
{
    RpcCallParts parts;
    parts.xid = NextXid();
    parts.rpcvers = 3;
    parts.prog = 100000;
    parts.vers = 2;
    RpcReplyView r = ParseReply(UdpCall(BuildCall(parts)));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(1u, r.reply_stat);
    EXPECT_EQ(0u, r.reject_stat);
    EXPECT_EQ(2u, r.low);
    EXPECT_EQ(2u, r.high);

    parts.rpcvers = 2;
    parts.xid = NextXid();
    parts.cred_flavor = 1;
    parts.cred_body = std::string(401, 'c');
    r = ParseReply(UdpCall(BuildCall(parts)));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(1u, r.reply_stat);
    EXPECT_EQ(1u, r.reject_stat);
    EXPECT_EQ(1u, r.auth_stat) << "AUTH_BADCRED";

    parts.xid = NextXid();
    parts.cred_flavor = 0;
    parts.cred_body.clear();
    parts.verf_body = std::string(401, 'v');
    r = ParseReply(UdpCall(BuildCall(parts)));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(1u, r.reject_stat);
    EXPECT_EQ(3u, r.auth_stat) << "AUTH_BADVERF";
}

TEST(TransportWire, OversizedDatagramIsDroppedAndServiceContinues)
{
    RpcUdpClient c;
    std::string reply;
    std::string big = NullAuthCall(NextXid(), 100000, 2, 0, std::string(9000, 'x'));
    EXPECT_FALSE(c.Call(ServerAddress(), big, &reply, kSilence));
    EXPECT_TRUE(c.Call(ServerAddress(), NullAuthCall(NextXid(), 100000, 2, 0), &reply, 3000));
}

TEST(TransportWire, TcpRecordsUpToTheCapacityAreServed)
{
    // 8192 bytes in one fragment: served.  8193: the connection closes
    // without a reply.
    RpcTcpClient c;
    ASSERT_TRUE(c.Connect(ServerAddress()));
    std::string header = NullAuthCall(NextXid(), 100000, 2, 0);
    std::string exact = header + std::string(8192 - header.size(), 'a');
    std::string reply;
    ASSERT_TRUE(c.Call(exact, &reply, 3000));
    EXPECT_EQ(WordAt(exact, 0), WordAt(reply, 0));
    std::string over = NullAuthCall(NextXid(), 100000, 2, 0);
    over += std::string(8193 - over.size(), 'b');
    ASSERT_TRUE(c.SendRaw(AsRecord(over)));
    EXPECT_TRUE(c.ClosedByPeer(3000));
}

TEST(TransportWire, FragmentedRecordsArriveAsOneMessage)
{
    RpcTcpClient c;
    ASSERT_TRUE(c.Connect(ServerAddress()));
    std::string call = NullAuthCall(NextXid(), 100000, 2, 0);
    call += std::string(352 - call.size(), 'z');
    std::string bytes = RecordMark(100, false) + call.substr(0, 100) + RecordMark(200, false) +
                        call.substr(100, 200) + RecordMark(52, true) + call.substr(300);
    ASSERT_TRUE(c.SendRaw(bytes));
    std::string reply;
    ASSERT_TRUE(c.ReceiveRecord(&reply, 3000));
    EXPECT_EQ(WordAt(call, 0), WordAt(reply, 0));
    // Several calls on one connection.
    for (int i = 0; i < 3; i++) {
        std::string next = NullAuthCall(NextXid(), 100000, 2, 0);
        ASSERT_TRUE(c.Call(next, &reply, 3000, 13));
        EXPECT_EQ(WordAt(next, 0), WordAt(reply, 0));
    }
}

TEST(TransportWire, RefusedTcpCallsEndTheConnection)
{
    // A message that is not a call: closed without a reply.
    RpcTcpClient c;
    ASSERT_TRUE(c.Connect(ServerAddress()));
    RpcCallParts parts;
    parts.xid = NextXid();
    parts.msg_type = 1;
    ASSERT_TRUE(c.SendRaw(AsRecord(BuildCall(parts))));
    EXPECT_TRUE(c.ClosedByPeer(3000));
    // Wrong RPC version: the refusal, then the end of the connection.
    ASSERT_TRUE(c.Connect(ServerAddress()));
    parts.msg_type = 0;
    parts.rpcvers = 3;
    std::string reply;
    ASSERT_TRUE(c.Call(BuildCall(parts), &reply, 3000));
    EXPECT_EQ(1u, ParseReply(reply).reply_stat);
    EXPECT_TRUE(c.ClosedByPeer(3000));
    // A short record mark and a half record, then the client goes away.
    ASSERT_TRUE(c.Connect(ServerAddress()));
    ASSERT_TRUE(c.SendRaw(std::string("\x80\x00", 2)));
    c.Close();
    ASSERT_TRUE(c.Connect(ServerAddress()));
    ASSERT_TRUE(c.SendRaw(RecordMark(400, true) + std::string(100, 'q')));
    c.Close();
    EXPECT_TRUE(NullCallsAnswer());
}
