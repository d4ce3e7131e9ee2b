// The NFS and mount services of the running server on the wire (nfs_test.sh
// sets up the exports: "/data" with hello.txt, "/ro" read-only and public
// with kept.txt and docs, "/priv" for 127.0.0.5 alone, and gives the namespace the
// address 127.0.0.5).  One table of calls and replies per service, beside
// the libnfs client, for what real clients never send: malformed or cut
// arguments, the largest verifier, other programs and versions, handles of
// other clients, verifiers of exclusive creates that only differ where
// clients rarely do.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "wire.h"

namespace {

const uint32_t GETATTR3 = 1, SETATTR3 = 2, LOOKUP3 = 3, ACCESS3 = 4, READ3 = 6, WRITE3 = 7, CREATE3 = 8, MKDIR3 = 9,
               SYMLINK3 = 10, MKNOD3 = 11, REMOVE3 = 12, RMDIR3 = 13, RENAME3 = 14, READLINK3 = 5, COMMIT3 = 21, LINK3 = 15, READDIR3 = 16, READDIRPLUS3 = 17,
               FSSTAT3 = 18, FSINFO3 = 19, PATHCONF3 = 20, GETATTR2 = 1, SETATTR2 = 2, LOOKUP2 = 4, READ2 = 6,
               WRITE2 = 8, CREATE2 = 9, REMOVE2 = 10, RENAME2 = 11, MKDIR2 = 14, RMDIR2 = 15, READLINK2 = 5, LINK2 = 12, SYMLINK2 = 13, READDIR2 = 16, STATFS2 = 17;

uint32_t Status(const RpcReplyView &reply)
{
    EXPECT_TRUE(reply.valid);
    EXPECT_EQ(reply.accept_stat, 0u);
    return reply.results.size() >= 4 ? WordAt(reply.results, 0) : 0xFFFFFFFFu;
}

}  // namespace

// Calls sent together, as clients with several in flight send them, one of
// them in small fragments and some twice: four clients at once, each call
// gets its own answer in any order (the long listings from the workers),
// also while the others close connections with their calls in flight.
TEST(NfsWire, CallsSentTogetherAreEachAnswered)
{
    const std::string root = MountHandle("/data", 3), many = MountHandle("/many", 3);
    // Rounds that lost or spoilt a reply, by client (gtest's checks stay on
    // this thread: they are not thread-safe in every build).
    int spoilt[4] = {};
    auto client = [&root, &many, &spoilt](int k) {
        for (int round = 0; round < 6; round++) {
            std::map<uint32_t, uint32_t> sent;  // procedure by xid
            std::string stream;
            for (int i = 0; i < 24; i++) {
                const uint32_t proc = (i + round) % 3 == 0 ? 0 : (i + round) % 3 == 1 ? GETATTR3 : READDIRPLUS3;
                const std::string args = proc == READDIRPLUS3 ? CountedOpaque(many) + Words({0, 0, 0, 0, 4096, 8192})
                                                              : CountedOpaque(root);
                std::string call = proc == 0 ? NullAuthCall(NextXid(), 100003, 3, 0) : UnixCall(3, proc, args);
                sent[WordAt(call, 0)] = proc;
                stream += AsRecord(call, i == 7 ? 16 : 0) + (i % 4 == 1 ? AsRecord(call) : "");
            }
            RpcTcpClient tcp;
            if (!tcp.Connect(RpcTestAddress(2049, "127.0.0.1")) || !tcp.SendRaw(stream)) {
                spoilt[k]++;
                continue;
            }
            if (k > 0 && round % 3 == 2)
                continue;  // closed with its calls in flight
            std::map<uint32_t, uint32_t> waiting = sent;
            std::string reply;
            while (!waiting.empty() && tcp.ReceiveRecord(&reply, 5000)) {
                RpcReplyView view = ParseReply(reply);
                const bool whole = view.valid && sent.count(view.xid) == 1 && view.accept_stat == 0 &&
                                   (sent[view.xid] == 0 || (view.results.size() >= 4 && WordAt(view.results, 0) == 0));
                if (!whole)
                    break;
                waiting.erase(view.xid);
            }
            spoilt[k] += waiting.empty() ? 0 : 1;
        }
    };
    std::vector<std::thread> clients;
    for (int k = 0; k < 4; k++)
        clients.emplace_back(client, k);
    for (std::thread &c : clients)
        c.join();
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(spoilt[k], 0) << "client " << k;
}

// Removes sent together, as a client removing a tree sends them, share the
// flush of their folder: each is answered, once its name is gone.
TEST(NfsWire, RemovesSentTogetherAreEachAnswered)
{
    const std::string root = MountHandle("/data", 3);
    NfsCall(UnixCall(3, MKDIR3, CountedOpaque(root) + CountedOpaque("together") + Words({0, 0, 0, 0, 0, 0})));
    const std::string folder = Lookup(root, "together"), dir = CountedOpaque(folder);
    std::string stream;
    std::map<uint32_t, std::string> waiting;  // name by xid
    for (int i = 0; i < 12; i++) {
        const std::string name = "r" + std::to_string(i);
        ASSERT_EQ(Status(NfsCall(UnixCall(3, CREATE3, dir + CountedOpaque(name) + Words({0, 0, 0, 0, 0, 0, 0})))), 0u);
        const std::string call = UnixCall(3, REMOVE3, dir + CountedOpaque(name));
        waiting[WordAt(call, 0)] = name;
        stream += AsRecord(call);
    }
    RpcTcpClient tcp;
    ASSERT_TRUE(tcp.Connect(RpcTestAddress(2049, "127.0.0.1")) && tcp.SendRaw(stream));
    std::string reply;
    while (!waiting.empty() && tcp.ReceiveRecord(&reply, 5000)) {
        RpcReplyView view = ParseReply(reply);
        ASSERT_EQ(waiting.count(view.xid), 1u);
        EXPECT_EQ(Status(view), 0u) << waiting[view.xid];
        EXPECT_EQ(Lookup(folder, waiting[view.xid]), "");
        waiting.erase(view.xid);
    }
    EXPECT_TRUE(waiting.empty());
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
        return NfsCall(UnixCall(3, CREATE3, CountedOpaque(root) + CountedOpaque("excl-" + std::to_string(name)) + Words({2}) +
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

// One row per call: version, procedure, caller (0: AUTH_UNIX of 1000 from
// 127.0.0.1, 1: the same from 127.0.0.5, 2: AUTH_NULL, 3 to 6 below), arguments, and the
// reply expected: accept status, NFS status, results length and words at
// byte offsets (-1 and ~0u: not checked).  Each row goes over UDP and TCP
// (FSINFO tells each its own sizes).
TEST(NfsWire, CallTable)
{
    const std::string root = MountHandle("/data", 3), root2 = MountHandle("/data", 1), ro = MountHandle("/ro", 3),
                      ro2 = MountHandle("/ro", 1), priv = MountHandle("/priv", 3, "127.0.0.5");
    ASSERT_TRUE(root.size() == 20 && root2.size() == 32 && ro.size() == 20 && priv.size() == 20);
    const std::string fh = CountedOpaque(root), fhRo = CountedOpaque(ro), fhPriv = CountedOpaque(priv);
    const std::string hello = CountedOpaque(Lookup(root, "hello.txt")), kept = CountedOpaque(Lookup(ro, "kept.txt"));
    std::string stale = root, none;
    stale[4] ^= 0x5A;
    const std::string unchecked = Words({0, 0, 0, 0, 0, 0, 0}), fhMany = CountedOpaque(MountHandle("/many", 3)),
                      sub = CountedOpaque(Lookup(root, "sub"));
    NfsCall(UnixCall(3, CREATE3, fh + CountedOpaque("times") + unchecked));
    const std::string times = CountedOpaque(Lookup(root, "times"));
    // Callers 3 to 6: a member of the owner's group (1000) through a
    // supplementary group, another user, root, the owner; their rows need a
    // volume that keeps Unix attributes (not Wine's).
    auto as = [](int caller, uint32_t vers, uint32_t proc) {
        const uint32_t id = caller == 3 ? 2000 : caller == 4 ? 3000 : caller == 5 ? 0 : 1000;
        return BuildCall({NextXid(), 0, 2, 100003, vers, proc, 1,
                          AuthUnixBody(0, "wire", id, id, {id, caller == 3 ? 1000u : id}), 0, ""});
    };
    // A file (CREATE3) or folder (MKDIR3) of this mode: its fh3, and whether
    // it shows that mode and owner 1000.
    auto make = [&](int caller, uint32_t proc, const std::string &in, const char *name, uint32_t mode) {
        const std::string made = NfsCall(as(caller, 3, proc) + in + CountedOpaque(name) +
                                         (proc == CREATE3 ? Words({0}) : "") + Words({1, mode, 0, 0, 0, 0, 0})).results;
        return std::make_pair(CountedOpaque(made.substr(12, 20)),
                              made.size() > 52 && WordAt(made, 40) == mode && WordAt(made, 48) == 1000u);
    };
    const auto f = make(6, CREATE3, fh, "f", 0640), s = make(6, CREATE3, fh, "s", 04777),
               t = make(6, MKDIR3, fh, "t", 01777), closed = make(6, MKDIR3, fh, "closed", 0755);
    make(3, CREATE3, t.first, "x", 0644);
    const std::string read = f.first + Words({0, 0, 16}), write = Words({0, 0, 1, 2, 1, 0x41000000}),
                      owners = Words({0, 1, 3000, 0, 0, 0, 0}), sattr = Words({0, 0, 0, 0, 0});
    struct Row {
        const char *what;
        uint32_t vers, proc;
        int caller;
        std::string args;
        uint32_t accept, status;
        int size;
        std::vector<std::pair<int, uint32_t>> words;
        int only = 0;  // 1: UDP only, 2: TCP only
    };
    const Row rows[] = {
        {"NULL 3", 3, 0, 0, none, 0, ~0u, 0, {}},
        {"NULL 2", 2, 0, 0, none, 0, ~0u, 0, {}},
        {"GETATTR of the root", 3, GETATTR3, 0, fh, 0, 0, 88, {{4, 2}, {16, 1000}}},
        {"LOOKUP of a file", 3, LOOKUP3, 0, fh + CountedOpaque("hello.txt"), 0, 0, 204, {{4, 20}, {28, 1}, {32, 1}, {56, 29}, {116, 1}}},
        {"LOOKUP of a missing name", 3, LOOKUP3, 0, fh + CountedOpaque("missing"), 0, 2, 92, {}},
        {"LOOKUP of a name with a NUL", 3, LOOKUP3, 0, fh + CountedOpaque(std::string("hello.txt\0x", 11)), 0, 2, 92, {}},
        {"LOOKUP of .", 3, LOOKUP3, 0, fh + CountedOpaque("."), 0, 0, -1, {{4, 20}, {32, 2}}},
        {"LOOKUP of .. below the top", 3, LOOKUP3, 0, sub + CountedOpaque(".."), 0, 0, -1, {{4, 20}, {32, 2}}},
        {"LOOKUP of .. at the top", 3, LOOKUP3, 0, fh + CountedOpaque(".."), 0, 70, -1, {}},
        {"LOOKUP of a device name", 3, LOOKUP3, 0, fh + CountedOpaque("aux"), 0, 13, -1, {}},
        {"LOOKUP of a device name with extensions", 3, LOOKUP3, 0, fh + CountedOpaque("COM1.tar.gz"), 0, 13, -1, {}},
        {"LOOKUP of a device name with a blank", 3, LOOKUP3, 0, fh + CountedOpaque("con .x"), 0, 13, -1, {}},
        {"LOOKUP of a name like a device's", 3, LOOKUP3, 0, fh + CountedOpaque("com10"), 0, 2, -1, {}},
        {"LOOKUP of 511 bytes", 3, LOOKUP3, 0, fh + CountedOpaque(std::string(511, 'n')), 0, ~0u, -1, {}},
        {"LOOKUP through the public handle", 3, LOOKUP3, 0, Words({0}) + CountedOpaque("docs"), 0, 0, -1, {{4, 20}, {32, 2}}},
        // Paths of no export through the public handle: refused.
        {"LOOKUP of a server's share through the public handle", 3, LOOKUP3, 0, Words({0}) + CountedOpaque("//server/share/./x"), 0, 13, -1, {}},
        {"LOOKUP of a drive through the public handle", 3, LOOKUP3, 0, Words({0}) + CountedOpaque("/q/x"), 0, 13, -1, {}},
        {"v2 LOOKUP through the public handle", 2, LOOKUP2, 0, std::string(32, '\0') + CountedOpaque("docs"), 0, 0, 104, {{36, 2}}},
        {"GETATTR of a stale handle", 3, GETATTR3, 0, CountedOpaque(stale), 0, 70, 4, {}},
        {"v2 GETATTR of a stale handle", 2, GETATTR2, 0, std::string(root2).replace(4, 1, 1, root2[4] ^ 0x5A), 0, 70, -1, {}},
        {"AUTH_NULL is nobody", 3, GETATTR3, 2, fh, 0, 0, 88, {{16, 0}, {20, 0}}},
        {"SETATTR of both times to the server's", 3, SETATTR3, 0, hello + Words({0, 0, 0, 0, 1, 1, 0}), 0, 0, -1, {}},
        {"SETATTR guarded by another change time", 3, SETATTR3, 0, hello + Words({0, 0, 0, 0, 0, 0, 1, 1, 0}), 0, 10002, 36, {{4, 1}}},
        {"ACCESS of the root", 3, ACCESS3, 0, fh + Words({0x3F}), 0, 0, 96, {{92, 0x3F}}},
        {"ACCESS of a file", 3, ACCESS3, 0, hello + Words({0x3F}), 0, 0, 96, {{92, 0x1F}}},
        {"ACCESS of a read-only root", 3, ACCESS3, 0, fhRo + Words({0x3F}), 0, 0, 96, {{92, 0x23}}},
        {"ACCESS of a read-only file", 3, ACCESS3, 0, kept + Words({0x3F}), 0, 0, 96, {{92, 0x3}}},
        {"ACCESS grants only what was asked", 3, ACCESS3, 0, fh + Words({0x4}), 0, 0, 96, {{92, 0x4}}},
        {"FSSTAT", 3, FSSTAT3, 0, fh, 0, 0, 144, {}},
        {"FSINFO", 3, FSINFO3, 0, fh, 0, 0, 140, {{92, 8192}, {96, 8192}, {100, 4096}, {104, 8192}, {108, 8192}, {112, 4096}, {116, 6400}, {128, 0}, {132, 100}, {136, 0x1B}}, 1},
        {"FSINFO over TCP", 3, FSINFO3, 0, fh, 0, 0, 140, {{92, 1u << 20}, {104, 1u << 20}, {116, 65536}}, 2},
        {"PATHCONF", 3, PATHCONF3, 0, fh, 0, 0, 116, {{92, 31}, {100, 1}, {104, 0}, {108, 1}, {112, 1}}},
        {"CREATE of an empty name", 3, CREATE3, 0, fh + CountedOpaque("") + unchecked, 0, 22, -1, {}},
        {"CREATE of .", 3, CREATE3, 0, fh + CountedOpaque(".") + unchecked, 0, 22, -1, {}},
        {"CREATE of ..", 3, CREATE3, 0, fh + CountedOpaque("..") + unchecked, 0, 22, -1, {}},
        {"CREATE of a name with a slash", 3, CREATE3, 0, fh + CountedOpaque("a/b") + unchecked, 0, 22, -1, {}},
        // Sized at its making, and made again over the second transport: the size asked.
        {"CREATE with a size", 3, CREATE3, 0, fh + CountedOpaque("sized") + Words({0, 0, 0, 0, 1, 0, 5, 0, 0}), 0, 0, -1, {{60, 5}}},
        {"CREATE guarded of a name taken", 3, CREATE3, 0, fh + CountedOpaque("hello.txt") + Words({1}) + unchecked.substr(4), 0, 17, -1, {}},
        {"CREATE unchecked of a folder's name", 3, CREATE3, 0, fh + CountedOpaque("sub") + unchecked, 0, 21, -1, {}},
        // A name of invalid UTF-8 never reaches the file named with U+FFFD.
        {"CREATE of a name with U+FFFD", 3, CREATE3, 0, fh + CountedOpaque("u\xEF\xBF\xBD") + unchecked, 0, 0, -1, {}},
        {"LOOKUP of invalid UTF-8", 3, LOOKUP3, 0, fh + CountedOpaque("u\xFF"), 0, 2, -1, {}},
        {"REMOVE of invalid UTF-8", 3, REMOVE3, 0, fh + CountedOpaque("u\xFF"), 0, 2, -1, {}},
        {"RENAME of invalid UTF-8", 3, RENAME3, 0, fh + CountedOpaque("u\xFF") + fh + CountedOpaque("v"), 0, 2, -1, {}},
        {"CREATE of invalid UTF-8", 3, CREATE3, 0, fh + CountedOpaque("u\xFF") + Words({1, 0, 0, 0, 0, 0, 0}), 0, 2, -1, {}},
        {"LOOKUP of the name with U+FFFD", 3, LOOKUP3, 0, fh + CountedOpaque("u\xEF\xBF\xBD"), 0, 0, -1, {}},
        {"MKNOD of a regular file", 3, MKNOD3, 0, fh + CountedOpaque("r") + Words({1}), 0, 10007, -1, {}},
        {"MKNOD of a fifo", 3, MKNOD3, 0, fh + CountedOpaque("fifo") + Words({7, 1, 0640, 0, 0, 0, 0, 0}), 0, 0, -1, {{36, 7}, {40, 0640}}, 1},
        {"MKNOD of a socket", 3, MKNOD3, 0, fh + CountedOpaque("sock") + Words({6, 1, 0640, 0, 0, 0, 0, 0}), 0, 0, -1, {{36, 6}, {40, 0640}}, 1},
        {"v2 LOOKUP of a fifo", 2, LOOKUP2, 0, root2 + CountedOpaque("fifo"), 0, 0, 104, {{36, 4}, {40, 010640}, {64, ~0u}}},
        {"v2 LOOKUP of a socket", 2, LOOKUP2, 0, root2 + CountedOpaque("sock"), 0, 0, 104, {{36, 6}, {40, 0140640}, {64, 0}}},
        {"v2 CREATE of a socket", 2, CREATE2, 0, root2 + CountedOpaque("s2") + Words({0140600, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u}), 0, 0, -1, {{36, 6}, {40, 0140600}}, 1},
        {"SETATTR of times to the 100 ns", 3, SETATTR3, 0, times + Words({0, 0, 0, 0, 2, 1600000000, 123456789, 2, 1700000000, 987654321, 0}), 0, 0, -1, {{96, 1600000000}, {100, 123456700}, {104, 1700000000}, {108, 987654300}}},
        {"v2 tells microseconds", 2, LOOKUP2, 0, root2 + CountedOpaque("times"), 0, 0, 104, {{80, 1600000000}, {84, 123456}, {88, 1700000000}, {92, 987654}}},
        {"SETATTR of a mode keeps the write time", 3, SETATTR3, 0, times + Words({1, 0444, 0, 0, 0, 0, 0, 0}), 0, 0, -1, {{40, 0444}, {104, 1700000000}, {108, 987654300}}},
        {"RENAME of a file onto a folder", 3, RENAME3, 0, fh + CountedOpaque("hello.txt") + fh + CountedOpaque("sub"), 0, 21, -1, {}},
        {"RENAME of a folder onto a file", 3, RENAME3, 0, fh + CountedOpaque("sub") + fh + CountedOpaque("hello.txt"), 0, 20, -1, {}},
        {"RENAME onto ..", 3, RENAME3, 0, fh + CountedOpaque("hello.txt") + fh + CountedOpaque(".."), 0, 22, -1, {}},
        {"RENAME of .", 3, RENAME3, 0, fh + CountedOpaque(".") + fh + CountedOpaque("z"), 0, 22, -1, {}},
        {"RENAME onto its own name", 3, RENAME3, 0, fh + CountedOpaque("hello.txt") + fh + CountedOpaque("hello.txt"), 0, 0, -1, {}},
        {"RENAME of a folder below itself", 3, RENAME3, 0, fh + CountedOpaque("sub") + sub + CountedOpaque("loop"), 0, 22, -1, {}},
        {"RENAME to another export", 3, RENAME3, 0, fh + CountedOpaque("hello.txt") + fhMany + CountedOpaque("x"), 0, 18, -1, {}},
        {"READDIR with room for no entry", 3, READDIR3, 0, fh + Words({0, 0, 0, 0, 100}), 0, 10005, -1, {}},
        {"READDIR with another listing's cookie", 3, READDIR3, 0, fhRo + Words({0, 4 << 6, 0, 0, 4096}), 0, 0, 108, {{100, 0}, {104, 1}}},
        {"the owner reads 0640", 3, READ3, 6, read, 0, 0, -1, {}},  // and caches the file
        {"another may not read 0640", 3, READ3, 4, read, 0, 13, -1, {}},
        {"the group reads 0640", 3, READ3, 3, read, 0, 0, -1, {}},
        {"the group may not write 0640", 3, WRITE3, 3, f.first + write, 0, 13, -1, {}},
        {"another may not ACCESS 0640", 3, ACCESS3, 4, f.first + Words({0x3F}), 0, 0, 96, {{92, 0}}},
        {"the group ACCESS of 0640 reads", 3, ACCESS3, 3, f.first + Words({0x3F}), 0, 0, 96, {{92, 0x3}}},
        {"another's chmod", 3, SETATTR3, 4, f.first + Words({1, 0777}) + sattr + Words({0}), 0, 1, -1, {}},
        {"another's time of his choice", 3, SETATTR3, 4, f.first + Words({0, 0, 0, 0, 0, 2, 1, 0, 0}), 0, 1, -1, {}},
        {"another's chown", 3, SETATTR3, 4, f.first + owners + Words({0}), 0, 1, -1, {}},
        {"the owner gives the file away", 3, SETATTR3, 6, f.first + owners + Words({0}), 0, 1, -1, {}},
        {"the owner's chgrp to a group he is not in", 3, SETATTR3, 6, f.first + Words({0, 0, 1, 300, 0, 0, 0, 0}), 0, 1, -1, {}},
        {"root writes 0640 of another", 3, WRITE3, 5, f.first + write, 0, 0, -1, {}},
        {"root's chown", 3, SETATTR3, 5, f.first + Words({0, 1, 1234, 1, 5678, 0, 0, 0, 0}), 0, 0, -1, {{48, 1234}, {52, 5678}}},
        {"another's write drops set-user-id", 3, WRITE3, 4, s.first + write, 0, 0, -1, {{40, 0777}}},
        {"another may not remove from a sticky folder", 3, REMOVE3, 4, t.first + CountedOpaque("x"), 0, 1, -1, {}},
        {"the entry's owner removes from a sticky folder", 3, REMOVE3, 3, t.first + CountedOpaque("x"), 0, 0, -1, {}, 1},
        {"another may not create in 0755", 3, CREATE3, 4, closed.first + CountedOpaque("n") + unchecked, 0, 13, -1, {}},
        {"v2 GETATTR", 2, GETATTR2, 0, root2, 0, 0, 72, {{4, 2}}},
        {"v2 LOOKUP", 2, LOOKUP2, 0, root2 + CountedOpaque("hello.txt"), 0, 0, 104, {{36, 1}, {56, 29}}},
        {"v2 STATFS", 2, STATFS2, 0, root2, 0, 0, 24, {{4, 8192}}},
        // The export must admit the caller, whoever mounted it.
        {"GETATTR of another client's export", 3, GETATTR3, 1, fhPriv, 0, 0, 88, {}},
        {"GETATTR refused", 3, GETATTR3, 0, fhPriv, 0, 13, 4, {}},
        {"ACCESS refused", 3, ACCESS3, 0, fhPriv + Words({0x3F}), 0, 13, 8, {}},
        {"FSSTAT refused", 3, FSSTAT3, 0, fhPriv, 0, 13, 8, {}},
        {"FSINFO refused", 3, FSINFO3, 0, fhPriv, 0, 13, 8, {}},
        {"PATHCONF refused", 3, PATHCONF3, 0, fhPriv, 0, 13, 8, {}},
        {"LOOKUP refused", 3, LOOKUP3, 0, fhPriv + CountedOpaque("x"), 0, 13, 8, {}},
        {"REMOVE refused", 3, REMOVE3, 0, fhPriv + CountedOpaque("x"), 0, 13, 12, {}},
        // Arguments that do not decode: GARBAGE_ARGS.
        {"fh3 cut short", 3, GETATTR3, 0, Words({20}) + root.substr(0, 12), 4, ~0u, -1, {}},
        {"fh3 of ~0 bytes", 3, GETATTR3, 0, Words({0xFFFFFFFFu}), 4, ~0u, -1, {}},
        {"fh3 of 32 bytes", 3, GETATTR3, 0, Words({32}) + root + std::string(12, '\0'), 4, ~0u, -1, {}},
        {"fh3 of 24 bytes", 3, GETATTR3, 0, Words({24}) + root + std::string(4, '\0'), 4, ~0u, -1, {}},
        {"name past the bytes", 3, LOOKUP3, 0, fh + Words({0x7FFFFFFFu}) + "abcd", 4, ~0u, -1, {}},
        {"name of 512 bytes", 3, LOOKUP3, 0, fh + CountedOpaque(std::string(512, 'n')), 4, ~0u, -1, {}},
        {"name of 600 bytes, none sent", 3, LOOKUP3, 0, fh + Words({600}), 4, ~0u, -1, {}},
        {"ACCESS without its mask", 3, ACCESS3, 0, fh, 4, ~0u, -1, {}},
        {"FSSTAT without a handle", 3, FSSTAT3, 0, none, 4, ~0u, -1, {}},
        {"link text of 2047 bytes", 3, SYMLINK3, 0, fhRo + CountedOpaque("l") + Words({0, 0, 0, 0, 0, 0}) + CountedOpaque(std::string(2047, 't')), 0, 30, -1, {}},
        {"link text of 2048 bytes", 3, SYMLINK3, 0, fhRo + CountedOpaque("l") + Words({0, 0, 0, 0, 0, 0}) + CountedOpaque(std::string(2048, 't')), 4, ~0u, -1, {}},
        {"WRITE data longer than its count", 3, WRITE3, 0, kept + Words({0, 0, 4, 0, 8, 0, 0}), 4, ~0u, -1, {}},
        {"WRITE data shorter than its count", 3, WRITE3, 0, kept + Words({0, 0, 8, 0, 4, 0, 0}), 4, ~0u, -1, {}},
        {"WRITE stability 3", 3, WRITE3, 0, kept + Words({0, 0, 4, 3, 4}) + "abcd", 4, ~0u, -1, {}},
        {"WRITE count past the bytes", 3, WRITE3, 0, kept + Words({0, 0, 0xFFFFFFF0u, 0, 0xFFFFFFF0u}), 4, ~0u, -1, {}},
        {"CREATE mode 3", 3, CREATE3, 0, fhRo + CountedOpaque("c") + Words({3, 0, 0}), 4, ~0u, -1, {}},
        {"MKDIR with a time set in mode 3", 3, MKDIR3, 0, fhRo + CountedOpaque("d") + Words({0, 0, 0, 0, 3, 0}), 4, ~0u, -1, {}},
        {"MKNOD of a regular file carries nothing", 3, MKNOD3, 0, fhRo + CountedOpaque("m") + Words({1}), 0, 30, -1, {}},
        {"v2 GETATTR of an fh3", 2, GETATTR2, 0, fh, 4, ~0u, -1, {}},
        {"v2 LOOKUP without a name", 2, LOOKUP2, 0, root2, 4, ~0u, -1, {}},
        {"v2 STATFS of 31 bytes", 2, STATFS2, 0, std::string(31, '\0'), 4, ~0u, -1, {}},
        {"v2 READ of ReadSize + 1", 2, READ2, 0, ro2 + Words({0, 8193, 0}), 4, ~0u, -1, {}},
        {"v2 WRITE of WriteSize + 1", 2, WRITE2, 0, ro2 + Words({0, 0, 0, 8193}) + std::string(8196, 'w'), 4, ~0u, -1, {}},
        // Procedures not offered: PROC_UNAVAIL.
        {"v3 procedure 22", 3, 22, 0, fh, 3, ~0u, -1, {}},
        {"v2 ROOT", 2, 3, 0, none, 3, ~0u, -1, {}},
        {"v2 WRITECACHE", 2, 7, 0, none, 3, ~0u, -1, {}},
        {"v2 procedure 18", 2, 18, 0, none, 3, ~0u, -1, {}},
        {"v2 procedure ~0", 2, 0xFFFFFFFFu, 0, none, 3, ~0u, -1, {}},
    };
    for (const Row &row : rows) {
        for (bool tcp : {false, true}) {
            if (row.only == (tcp ? 1 : 2) || (row.caller >= 3 && !f.second))
                continue;
            std::string call = row.caller == 2   ? NullAuthCall(NextXid(), 100003, row.vers, row.proc)
                               : row.caller >= 3 ? as(row.caller, row.vers, row.proc)
                                                 : UnixCall(row.vers, row.proc, "");
            RpcReplyView r = NfsCall(call + row.args, tcp, row.caller == 1 ? "127.0.0.5" : "127.0.0.1");
            const std::string what = std::string(row.what) + (tcp ? " tcp" : " udp");
            ASSERT_TRUE(r.valid) << what;
            EXPECT_EQ(r.accept_stat, row.accept) << what;
            if (row.status != ~0u) {
                EXPECT_EQ(r.results.size() >= 4 ? WordAt(r.results, 0) : ~0u, row.status) << what;
            }
            if (row.size >= 0) {
                EXPECT_EQ(r.results.size(), (size_t)row.size) << what;
            }
            for (const auto &word : row.words)
                EXPECT_EQ(r.results.size() >= (size_t)word.first + 4 ? WordAt(r.results, word.first) : ~0u,
                          word.second) << what << " at " << word.first;
        }
    }
}

// Every procedure's full arguments decode (on the read-only export, which
// refuses the change), and each of them cut short is GARBAGE_ARGS: no length
// is trusted beyond the bytes received.
TEST(NfsWire, EveryArgumentCutShortIsGarbage)
{
    const std::string fh = CountedOpaque(MountHandle("/ro", 3)), fh2 = MountHandle("/ro", 1);
    ASSERT_EQ(fh2.size(), 32u);
    const std::string dirop = fh + CountedOpaque("file"), dirop2 = fh2 + CountedOpaque("file"), hyper = Words({1, 0}),
                      verf = "verifier", sattr = Words({1, 0644, 1, 0, 1, 0, 1, 0, 0, 2, 1, 2, 2, 3, 4}),
                      sattr2 = Words({0644, 1, 2, 3, 4, 5, 6, 7});
    struct Row {
        uint32_t vers, proc;
        std::string args;
    };
    const Row rows[] = {
        {3, GETATTR3, fh}, {3, SETATTR3, fh + sattr + Words({1, 30, 40})}, {3, LOOKUP3, dirop},
        {3, ACCESS3, fh + Words({0x3F})}, {3, READ3, fh + hyper + Words({4096})},
        {3, WRITE3, fh + hyper + Words({8, 2, 8}) + "abcdefgh"}, {3, CREATE3, dirop + Words({1}) + sattr},
        {3, CREATE3, dirop + Words({2}) + verf}, {3, MKDIR3, dirop + sattr},
        {3, SYMLINK3, dirop + sattr + CountedOpaque("../tgt/x")}, {3, MKNOD3, dirop + Words({4}) + sattr + Words({1, 3})},
        {3, MKNOD3, dirop + Words({7}) + sattr}, {3, RENAME3, dirop + dirop}, {3, LINK3, fh + dirop},
        {3, READLINK3, fh}, {3, REMOVE3, dirop}, {3, RMDIR3, dirop}, {3, COMMIT3, fh + hyper + Words({0})},
        {3, READDIR3, fh + hyper + verf + Words({4096})}, {3, READDIRPLUS3, fh + hyper + verf + Words({1024, 8192})},
        {2, GETATTR2, fh2}, {2, SETATTR2, fh2 + sattr2}, {2, LOOKUP2, dirop2}, {2, READ2, fh2 + Words({0, 8192, 0})},
        {2, WRITE2, fh2 + Words({0, 0, 0, 4}) + "abcd"}, {2, CREATE2, dirop2 + sattr2}, {2, RENAME2, dirop2 + dirop2},
        {2, LINK2, fh2 + dirop2}, {2, SYMLINK2, dirop2 + CountedOpaque("link") + sattr2}, {2, READDIR2, fh2 + Words({0, 4096})},
        {2, READLINK2, fh2}, {2, REMOVE2, dirop2}, {2, MKDIR2, dirop2 + sattr2}, {2, RMDIR2, dirop2}, {2, STATFS2, fh2},
    };
    RpcTcpClient client;
    ASSERT_TRUE(client.Connect(RpcTestAddress(2049, "127.0.0.1")));
    auto accept = [&](const Row &row, size_t length) {
        std::string reply;
        if (!client.Call(UnixCall(row.vers, row.proc, row.args.substr(0, length)), &reply, 5000))
            return ~0u;
        RpcReplyView r = ParseReply(reply);
        return r.valid ? r.accept_stat : ~0u;
    };
    for (const Row &row : rows) {
        EXPECT_EQ(accept(row, row.args.size()), 0u) << row.vers << "/" << row.proc;
        for (size_t length = 0; length < row.args.size(); length++)
            ASSERT_EQ(accept(row, length), 4u) << row.vers << "/" << row.proc << " cut to " << length;
    }
}

// The mount service (port 1058): one row per call, with the accept status
// and the MNT status or the reply's length expected.
TEST(NfsWire, MountTable)
{
    auto path = CountedOpaque;
    struct Row {
        const char *what;
        uint32_t vers, proc;
        std::string args;
        uint32_t accept, status;  // status ~0u: an empty result
    };
    const Row rows[] = {
        {"NULL", 3, 0, "", 0, ~0u},
        {"MNT of a file", 1, 1, path("/data/hello.txt"), 0, 2},
        {"MNT of a missing folder", 3, 1, path("/data/gone"), 0, 2},
        {"MNT without a path", 3, 1, "", 4, ~0u},
        {"MNT of a path past the bytes", 3, 1, Words({5000}) + "abcd", 4, ~0u},
        {"UMNT without a path", 1, 3, "", 4, ~0u},
        {"UMNT of a path not exported", 1, 3, path("/nowhere"), 0, ~0u},
        {"EXPORTALL", 3, 6, "", 3, ~0u},
        {"procedure 99", 2, 99, "", 3, ~0u},
    };
    for (const Row &row : rows) {
        RpcUdpClient client;
        std::string reply;
        ASSERT_TRUE(client.Call(RpcTestAddress(1058), NullAuthCall(NextXid(), 100005, row.vers, row.proc, row.args),
                                &reply, 5000))
            << row.what;
        RpcReplyView r = ParseReply(reply);
        EXPECT_EQ(r.accept_stat, row.accept) << row.what;
        if (row.accept == 0) {
            EXPECT_EQ(r.results, row.status == ~0u ? std::string() : Words({row.status})) << row.what;
        }
    }
    RpcTcpClient tcp;
    std::string reply;
    ASSERT_TRUE(tcp.Connect(RpcTestAddress(1058)) && tcp.Call(NullAuthCall(NextXid(), 100005, 4, 0), &reply, 5000));
    RpcReplyView v4 = ParseReply(reply);
    EXPECT_TRUE(v4.accept_stat == 2 && v4.low == 1 && v4.high == 3);
}

// A retransmission gets its own first reply, byte for byte, whatever other
// clients sent in between; run again, a GUARDED CREATE would find its file
// and a REMOVE would miss it.  Over UDP from two clients, and on one TCP
// connection.
TEST(NfsWire, ARetransmissionGetsItsOwnFirstReply)
{
    const std::string root = CountedOpaque(MountHandle("/data", 3));
    auto call = [&](uint32_t proc, const char *name, const std::string &more) {
        return BuildCall({NextXid(), 0, 2, 100003, 3, proc, 1, AuthUnixBody(0, "wire", 0, 0, {}), 0, ""}) + root +
               CountedOpaque(name) + more;
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
        UnixCall(3, WRITE3, CountedOpaque(root) + Words({0, 0, 1u << 20, 2, 1u << 20}) + std::string(1u << 20, 'w'));
    std::string reply;
    ASSERT_TRUE(big.Call(write, &reply, 5000, 1u << 18));
    EXPECT_NE(Status(ParseReply(reply)), 0u);
    ASSERT_TRUE(big.SendRaw(Words({0x80000000u | (2u << 20)}) + std::string(4096, 'x')));
    EXPECT_FALSE(big.ReceiveRecord(&reply, 5000));
    ASSERT_TRUE(held.Call(UnixCall(3, GETATTR3, CountedOpaque(root)), &reply, 5000));
    EXPECT_EQ(Status(ParseReply(reply)), 0u);
}
