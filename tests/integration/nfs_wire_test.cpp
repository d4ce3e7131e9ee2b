// The NFS service of the running server on the wire (nfs_test.sh sets up
// the exports: "/data" with hello.txt, "/priv" for 127.0.0.5 alone, and
// gives the namespace the address 127.0.0.5).  Raw calls for what real
// clients never send: malformed arguments, the largest verifier, other
// programs and versions on the NFS port, handles of other clients, the
// verifiers of exclusive creates that only differ where clients rarely do.
#include <gtest/gtest.h>

#include "nfs_wire.h"

namespace {

const uint32_t GETATTR3 = 1, LOOKUP3 = 3, WRITE3 = 7, CREATE3 = 8, REMOVE3 = 12, FSINFO3 = 19, PATHCONF3 = 20,
               GETATTR2 = 1, STATFS2 = 17;

std::string Words(std::initializer_list<uint32_t> words)
{
    std::string out;
    for (uint32_t w : words)
        PutWord(out, w);
    return out;
}

uint32_t Status(const RpcReplyView &reply)
{
    EXPECT_TRUE(reply.valid);
    EXPECT_EQ(reply.accept_stat, 0u);
    return reply.results.size() >= 4 ? WordAt(reply.results, 0) : 0xFFFFFFFFu;
}

}  // namespace

TEST(NfsWire, NullAndTheAnswersThatLetClientsFallBack)
{
    for (bool tcp : {false, true}) {
        for (uint32_t vers : {2u, 3u}) {
            RpcReplyView r = NfsCall(NullAuthCall(NextXid(), 100003, vers, 0), tcp);
            EXPECT_TRUE(r.valid && r.accept_stat == 0 && r.results.empty()) << vers << (tcp ? " tcp" : " udp");
        }
        // The ACL side protocol is not offered: the client falls back to
        // mode bits.
        RpcReplyView acl = NfsCall(NullAuthCall(NextXid(), 100227, 3, 1, Words({0, 0})), tcp);
        ASSERT_TRUE(acl.valid);
        EXPECT_EQ(acl.accept_stat, 1u);  // PROG_UNAVAIL
        RpcReplyView v4 = NfsCall(NullAuthCall(NextXid(), 100003, 4, 0), tcp);
        ASSERT_TRUE(v4.valid);
        EXPECT_EQ(v4.accept_stat, 2u);  // PROG_MISMATCH
        EXPECT_EQ(v4.low, 2u);
        EXPECT_EQ(v4.high, 3u);
        RpcReplyView proc = NfsCall(NullAuthCall(NextXid(), 100003, 3, 22), tcp);
        ASSERT_TRUE(proc.valid);
        EXPECT_EQ(proc.accept_stat, 3u);  // PROC_UNAVAIL
    }
}

// Calls sent together, as a client with several in flight sends them, one
// of them in small fragments: each gets its own answer, in order.
TEST(NfsWire, CallsSentTogetherAreAnsweredInOrder)
{
    const std::string root = MountHandle("/data", 3);
    RpcTcpClient client;
    ASSERT_TRUE(client.Connect(RpcTestAddress(2049, "127.0.0.1")));
    std::string stream;
    std::vector<std::string> calls;
    for (int i = 0; i < 24; i++) {
        calls.push_back(i % 3 == 0 ? NullAuthCall(NextXid(), 100003, 3, 0) : UnixCall(3, GETATTR3, Fh3Bytes(root)));
        stream += AsRecord(calls.back(), i == 7 ? 16 : 0);
    }
    ASSERT_TRUE(client.SendRaw(stream));
    for (int i = 0; i < 24; i++) {
        std::string reply;
        ASSERT_TRUE(client.ReceiveRecord(&reply, 5000)) << i;
        RpcReplyView view = ParseReply(reply);
        ASSERT_TRUE(view.valid) << i;
        EXPECT_EQ(WordAt(reply, 0), WordAt(calls[i], 0)) << i;
        if (i % 3 != 0) {
            EXPECT_EQ(Status(view), 0u) << i;
        }
    }
}

TEST(NfsWire, MountedFolderAnswersAsAClientExpects)
{
    const std::string root = MountHandle("/data", 3);
    ASSERT_EQ(root.size(), 20u);
    for (bool tcp : {false, true}) {
        RpcReplyView r = NfsCall(UnixCall(3, GETATTR3, Fh3Bytes(root)), tcp);
        ASSERT_EQ(Status(r), 0u);
        EXPECT_EQ(WordAt(r.results, 4), 2u);
    }
    RpcReplyView lookup = NfsCall(UnixCall(3, LOOKUP3, Fh3Bytes(root) + Name3("hello.txt")));
    ASSERT_EQ(Status(lookup), 0u);
    EXPECT_EQ(WordAt(lookup.results, 4), 20u);
    EXPECT_EQ(WordAt(lookup.results, 32), 1u);   // a regular file
    EXPECT_EQ(WordAt(lookup.results, 56), 29u);  // its size
    EXPECT_EQ(Status(NfsCall(UnixCall(3, LOOKUP3, Fh3Bytes(root) + Name3("missing")))), 2u);

    RpcReplyView fsinfo = NfsCall(UnixCall(3, FSINFO3, Fh3Bytes(root)));
    ASSERT_EQ(Status(fsinfo), 0u);
    ASSERT_EQ(fsinfo.results.size(), 140u);
    EXPECT_EQ(fsinfo.results.substr(92, 28), Words({8192, 8192, 4096, 8192, 8192, 4096, 6400}));
    RpcReplyView pathconf = NfsCall(UnixCall(3, PATHCONF3, Fh3Bytes(root)), true);
    ASSERT_EQ(Status(pathconf), 0u);
    ASSERT_EQ(pathconf.results.size(), 116u);
    EXPECT_EQ(pathconf.results.substr(100), Words({1, 0, 1, 1}));

    const std::string root2 = MountHandle("/data", 1);
    ASSERT_EQ(root2.size(), 32u);
    RpcReplyView attr2 = NfsCall(UnixCall(2, GETATTR2, root2));
    ASSERT_EQ(Status(attr2), 0u);
    EXPECT_EQ(WordAt(attr2.results, 8) & 0170000u, 0040000u);
    RpcReplyView statfs = NfsCall(UnixCall(2, STATFS2, root2), true);
    ASSERT_EQ(Status(statfs), 0u);
    EXPECT_EQ(WordAt(statfs.results, 4), 8192u);
}

// The reply carries the call's verifier back: with the largest one (400
// bytes) it still fits, over UDP and TCP.
TEST(NfsWire, TheLargestVerifierComesBack)
{
    const std::string root = MountHandle("/data", 3);
    for (bool tcp : {false, true}) {
        RpcCallParts parts;
        parts.xid = NextXid();
        parts.prog = 100003;
        parts.vers = 3;
        parts.proc = FSINFO3;
        parts.verf_flavor = 0;
        parts.verf_body = std::string(400, 'v');
        RpcReplyView r = NfsCall(BuildCall(parts) + Fh3Bytes(root), tcp);
        ASSERT_EQ(Status(r), 0u);
        EXPECT_EQ(r.verf_body, std::string(400, 'v'));
        EXPECT_EQ(r.results.size(), 140u);
    }
}

// An exclusive create keeps the whole verifier: a retry with the same one is
// the caller's own create (the same handle), every other one finds the name
// taken, also where the verifiers' halves are equal, give the same XOR, or
// differ in one bit of each half or in the top bit alone.
TEST(NfsWire, ExclusiveCreateTellsEveryVerifierApart)
{
    const std::string root = MountHandle("/data", 3);
    const std::string verifiers[] = {
        std::string("\1\2\3\4\1\2\3\4", 8), std::string(8, '\x09'),
        std::string("\x11\0\0\0\x22\0\0\0", 8), std::string("\x10\0\0\0\x23\0\0\0", 8),
        std::string("\0\0\0\x80\0\0\0\0", 8), std::string(8, '\xFF'),
    };
    auto create = [&](int name, const std::string &verifier) {
        return NfsCall(UnixCall(3, CREATE3, Fh3Bytes(root) + Name3("excl-" + std::to_string(name)) + Words({2}) +
                                                verifier));
    };
    for (int i = 0; i < 6; i++) {
        RpcReplyView made = create(i, verifiers[i]);
        ASSERT_EQ(Status(made), 0u) << i;
        for (int j = 0; j < 6; j++) {
            RpcReplyView again = create(i, verifiers[j]);
            EXPECT_EQ(Status(again), i == j ? 0u : 17u) << i << " " << j;
            if (i == j) {
                EXPECT_EQ(again.results.substr(0, 32), made.results.substr(0, 32)) << i;
            }
        }
    }
}

TEST(NfsWire, MalformedArgumentsAndForeignHandles)
{
    const std::string root = MountHandle("/data", 3);
    struct Row {
        uint32_t vers, proc;
        std::string args;
    };
    const Row garbage[] = {
        {3, GETATTR3, Words({20}) + root.substr(0, 12)},
        {3, GETATTR3, Words({0xFFFFFFFFu})},
        {3, GETATTR3, Words({32}) + root + std::string(12, '\0')},
        {3, LOOKUP3, Fh3Bytes(root) + Words({0x7FFFFFFFu}) + "abcd"},
        {3, LOOKUP3, Fh3Bytes(root) + Words({512}) + std::string(512, 'n')},
        {2, GETATTR2, std::string(31, '\0')},
    };
    for (const Row &row : garbage) {
        RpcReplyView r = NfsCall(UnixCall(row.vers, row.proc, row.args));
        ASSERT_TRUE(r.valid);
        EXPECT_EQ(r.accept_stat, 4u);  // GARBAGE_ARGS
    }

    // A handle whose mount id was altered is stale.
    std::string altered = root;
    altered[4] ^= 0x5A;
    EXPECT_EQ(Status(NfsCall(UnixCall(3, GETATTR3, Fh3Bytes(altered)))), 70u);

    // A handle of another client's export, used from here: refused.
    const std::string priv = MountHandle("/priv", 3, "127.0.0.5");
    ASSERT_EQ(priv.size(), 20u);
    EXPECT_EQ(Status(NfsCall(UnixCall(3, GETATTR3, Fh3Bytes(priv)), false, "127.0.0.5")), 0u);
    EXPECT_EQ(Status(NfsCall(UnixCall(3, GETATTR3, Fh3Bytes(priv)))), 13u);
    EXPECT_EQ(Status(NfsCall(UnixCall(3, GETATTR3, Fh3Bytes(priv)), true)), 13u);
}

// A retransmission gets its own first reply, byte for byte, whatever other
// clients sent in between; run again, a GUARDED CREATE would find its file
// and a REMOVE would miss it.  Over UDP from two clients, and on one TCP
// connection.
TEST(NfsWire, ARetransmissionGetsItsOwnFirstReply)
{
    const std::string root = Fh3Bytes(MountHandle("/data", 3));
    auto call = [&](uint32_t proc, const char *name, const std::string &more) {
        RpcCallParts parts;
        parts.xid = NextXid();
        parts.prog = 100003;
        parts.vers = 3;
        parts.proc = proc;
        parts.cred_flavor = 1;
        parts.cred_body = AuthUnixBody(0, "wire", 0, 0, {});
        return BuildCall(parts) + root + Name3(name) + more;
    };
    const std::string guarded = Words({1, 0, 0, 0, 0, 0, 0});
    const sockaddr_in to = RpcTestAddress(2049);
    RpcUdpClient clients[2] = {RpcUdpClient("127.0.0.1"), RpcUdpClient("127.0.0.5")};
    auto ask = [&](int client, const std::string &message) {
        std::string reply;
        for (int attempt = 0; attempt < 10 && !clients[client].Call(to, message, &reply, 500); attempt++) {
        }
        return reply;
    };
    const std::string calls[] = {call(CREATE3, "dup-a", guarded), call(CREATE3, "dup-b", guarded),
                                 call(REMOVE3, "dup-a", ""), call(REMOVE3, "dup-b", "")};
    std::string first[4];
    for (int i = 0; i < 4; i++) {
        first[i] = ask(i % 2, calls[i]);
        ASSERT_EQ(Status(ParseReply(first[i])), 0u) << i;
        if (i % 2 == 1) {
            EXPECT_EQ(ask(0, calls[i - 1]), first[i - 1]) << i;
            EXPECT_EQ(ask(1, calls[i]), first[i]) << i;
        }
    }
    RpcTcpClient tcp;
    ASSERT_TRUE(tcp.Connect(to));
    const std::string create = call(CREATE3, "dup-t", guarded);
    std::string reply, again;
    ASSERT_TRUE(tcp.Call(create, &reply, 5000));
    ASSERT_TRUE(tcp.Call(call(CREATE3, "dup-t", guarded), &again, 5000));
    EXPECT_EQ(Status(ParseReply(again)), 17u);
    ASSERT_TRUE(tcp.Call(create, &again, 5000));
    EXPECT_EQ(again, reply);
    ASSERT_TRUE(tcp.Call(call(REMOVE3, "dup-t", ""), &again, 5000));
    EXPECT_EQ(Status(ParseReply(again)), 0u);
}

// Over TCP a call of 1 MiB of data comes in whole, here in four fragments
// (a WRITE to a folder: received, then refused by NFS); a record beyond
// TcpTransferSize closes its own connection and no other.
TEST(NfsWire, TcpTakesRecordsUpToTheTransferSize)
{
    const std::string root = MountHandle("/data", 3);
    RpcTcpClient held, big;
    ASSERT_TRUE(held.Connect(RpcTestAddress(2049, "127.0.0.1")));
    ASSERT_TRUE(big.Connect(RpcTestAddress(2049, "127.0.0.1")));
    const std::string write =
        UnixCall(3, WRITE3, Fh3Bytes(root) + Words({0, 0, 1u << 20, 2, 1u << 20}) + std::string(1u << 20, 'w'));
    std::string reply;
    ASSERT_TRUE(big.Call(write, &reply, 5000, 1u << 18));
    EXPECT_NE(Status(ParseReply(reply)), 0u);
    ASSERT_TRUE(big.SendRaw(Words({0x80000000u | (2u << 20)}) + std::string(4096, 'x')));
    EXPECT_FALSE(big.ReceiveRecord(&reply, 5000));
    ASSERT_TRUE(held.Call(UnixCall(3, GETATTR3, Fh3Bytes(root)), &reply, 5000));
    EXPECT_EQ(Status(ParseReply(reply)), 0u);
}
