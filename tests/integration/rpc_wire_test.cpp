// The message layer and the port mapper of the running server on the wire
// (server_test.sh, port 111): one row per call with the exact reply words
// expected after the xid, or silence; then the port mapper's table rules as a
// sequence of client actions.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "wire.h"

namespace {

RpcCallParts Parts(uint32_t vers, uint32_t proc, uint32_t credFlavor = 0, const std::string &cred = "",
                   uint32_t verfFlavor = 0, const std::string &verf = "", uint32_t prog = 100000)
{
    return RpcCallParts{1, 0, 2, prog, vers, proc, credFlavor, cred, verfFlavor, verf};
}

// A NULL call of NFS version 3 with this credential.
RpcCallParts Nfs(uint32_t credFlavor, const std::string &cred = "")
{
    return Parts(3, 0, credFlavor, cred, 0, "", 100003);
}

// The reply to one call, "" when none came in time.
std::string Send(const std::string &call, bool tcp, uint16_t port, int timeoutMs)
{
    std::string reply;
    if (tcp) {
        RpcTcpClient client;
        return client.Connect(RpcTestAddress(port)) && client.Call(call, &reply, timeoutMs) ? reply : "";
    }
    RpcUdpClient client;
    return client.Call(RpcTestAddress(port), call, &reply, timeoutMs) ? reply : "";
}

std::string Call(RpcCallParts parts, const std::string &args = "")
{
    parts.xid = NextXid();
    return BuildCall(parts) + args;
}

const uint32_t SET = 1, UNSET = 2, GETPORT = 3;

}  // namespace

TEST(RpcWire, CallTable)
{
    std::vector<uint32_t> gids32, gids33(33, 7);
    for (uint32_t i = 0; i < 32; i++)
        gids32.push_back(1000 + i);
    const std::string atLimit1 = AuthUnixBody(0x55, std::string(251, 'n'), 501, 20, gids32),
                      atLimit2 = AuthUnixBody(0x56, std::string(255, 'm'), 502, 21,
                                              std::vector<uint32_t>(gids32.begin(), gids32.end() - 1)),
                      host = AuthUnixBody(1, "host", 0, 0, {1, 2}), odd = "\x40\x41\x42\x43\x44";
    const std::string empty = Call(Parts(2, 0)), cred100 = Call(Parts(2, 0, 0, std::string(100, 'c'))),
                      verf30 = Call(Parts(2, 0, 0, "", 0, std::string(30, 'v')));
    RpcCallParts reply = Parts(2, 0);
    reply.msg_type = 1;
    RpcCallParts rpc3 = Parts(2, 0);
    rpc3.rpcvers = 3;
    std::string extra = PmapMappingArgs(100003, 3, 17, 0) + Words({0});
    const std::string accepted = Words({1, 0, 0, 0});
    struct Row {
        const char *what;
        std::string call;
        std::string reply;  // the words after the xid; "" for silence
        int only = 0;       // 1: UDP only, 2: TCP only
        bool nfs = false;   // to the NFS port (the port mapper takes any credential)
    };
    const Row rows[] = {
        {"NULL", empty, accepted + Words({0})},
        {"RPC version 3", Call(rpc3), Words({1, 1, 0, 2, 2})},
        {"a verifier of 400 bytes comes back", Call(Parts(2, 0, 0, std::string(400, 'c'), 0, std::string(400, 'v'))),
         Words({1, 0}) + Words({0}) + CountedOpaque(std::string(400, 'v')) + Words({0})},
        {"an odd verifier comes back padded", Call(Parts(2, 0, 0, "", 7, odd)),
         Words({1, 0, 7}) + CountedOpaque(odd) + Words({0})},
        {"and with PROC_UNAVAIL", Call(Parts(2, 6, 0, "", 7, odd)), Words({1, 0, 7}) + CountedOpaque(odd) + Words({3})},
        {"and with PROG_MISMATCH", Call(Parts(9, 0, 0, "", 7, odd)),
         Words({1, 0, 7}) + CountedOpaque(odd) + Words({2, 2, 2})},
        {"a credential of 401 bytes", Call(Parts(2, 0, 0, std::string(401, 'c'))), Words({1, 1, 1, 1})},
        {"a verifier of 401 bytes", Call(Parts(2, 0, 0, "", 0, std::string(401, 'v'))), Words({1, 1, 1, 3})},
        // On the NFS port: the ACL side protocol is not offered (clients fall
        // back to mode bits), version 4 is a mismatch with 2..3.
        {"the ACL protocol", Call(Parts(3, 0, 0, "", 0, "", 100227)), accepted + Words({1}), 0, true},
        {"NFS version 4", Call(Parts(4, 0, 0, "", 0, "", 100003)), accepted + Words({2, 2, 3}), 0, true},
        {"AUTH_DES", Call(Nfs(3)), Words({1, 1, 1, 2}), 0, true},
        {"AUTH_SHORT", Call(Nfs(2, std::string(8, 's'))), Words({1, 1, 1, 2}), 0, true},
        {"flavor 6", Call(Nfs(6, std::string(16, 's'))), Words({1, 1, 1, 2}), 0, true},
        {"flavor 0x80000001", Call(Nfs(0x80000001u)), Words({1, 1, 1, 2}), 0, true},
        {"AUTH_UNIX of 251 + 32 groups", Call(Nfs(1, atLimit1)), accepted + Words({0}), 0, true},
        {"AUTH_UNIX of 255 + 31 groups", Call(Nfs(1, atLimit2)), accepted + Words({0}), 0, true},
        {"AUTH_UNIX longer than its fields", Call(Nfs(1, host + std::string(12, '\xEE'))),
         accepted + Words({0}), 0, true},
        {"AUTH_UNIX with a name of 256", Call(Nfs(1, AuthUnixBody(1, std::string(256, 'm'), 0, 0, {}))),
         Words({1, 1, 1, 1}), 0, true},
        {"AUTH_UNIX with 33 groups", Call(Nfs(1, AuthUnixBody(1, "h", 0, 0, gids33))), Words({1, 1, 1, 1}),
         0, true},
        {"AUTH_UNIX shorter than its fields", Call(Nfs(1, host.substr(0, host.size() - 4))),
         Words({1, 1, 1, 1}), 0, true},
        {"AUTH_UNIX of 6 bytes", Call(Nfs(1, host.substr(0, 6))), Words({1, 1, 1, 1}), 0, true},
        {"AUTH_UNIX empty", Call(Nfs(1)), Words({1, 1, 1, 1}), 0, true},
        {"version 1", Call(Parts(1, 0)), accepted + Words({2, 2, 2})},
        {"version 3", Call(Parts(3, 0)), accepted + Words({2, 2, 2})},
        {"version 4", Call(Parts(4, 0)), accepted + Words({2, 2, 2})},
        {"procedure 6", Call(Parts(2, 6)), accepted + Words({3})},
        {"CALLIT over TCP", Call(Parts(2, 5), PmapMappingArgs(100000, 2, 0, 0)), accepted + Words({3}), 2},
        {"CALLIT forwards a NULL call", Call(Parts(2, 5), PmapCallitArgs(100003, 3, 0, "hello")), accepted + Words({0, 2049, 0}), 1},
        // CALLIT is silent for another procedure, a program not registered,
        // the port mapper itself, a length past the bytes, too few bytes.
        {"CALLIT of procedure 1", Call(Parts(2, 5), PmapCallitArgs(100003, 3, 1, "")), "", 1},
        {"CALLIT of no program", Call(Parts(2, 5), PmapCallitArgs(0x20000009u, 1, 0, "")), "", 1},
        {"CALLIT of the port mapper", Call(Parts(2, 5), PmapCallitArgs(100000, 2, 0, "")), "", 1},
        {"CALLIT past its bytes", Call(Parts(2, 5), PmapCallitArgs(100003, 3, 0, "abcd", 9)), "", 1},
        {"CALLIT of 12 bytes", Call(Parts(2, 5), PmapCallitArgs(100003, 3, 0, "").substr(0, 12)), "", 1},
        {"GETPORT of 20 bytes", Call(Parts(2, GETPORT), extra), accepted + Words({4})},
        {"SET of 12 bytes", Call(Parts(2, SET), PmapMappingArgs(1, 2, 3, 4).substr(0, 12)), accepted + Words({4})},
        {"DUMP of 4 bytes", Call(Parts(2, 4), Words({0})), accepted + Words({4})},
        {"another program on the port is the port mapper",
         NullAuthCall(NextXid(), 100003, 2, GETPORT, PmapMappingArgs(100000, 2, 17, 0)), accepted + Words({0, 111})},
        // Cut short, a stated length past the end, a reply: dropped.
        {"31 bytes", empty.substr(0, 31), "", 1},
        {"32 bytes: the verifier is missing", empty.substr(0, 32), "", 1},
        {"39 bytes", empty.substr(0, 39), "", 1},
        {"inside the credential", cred100.substr(0, 80), "", 1},
        {"without the verifier's words", cred100.substr(0, 136), "", 1},
        {"inside the verifier", verf30.substr(0, 60), "", 1},
        {"the verifier's padding missing", verf30.substr(0, 70), "", 1},
        {"a credential of 396 stated, none sent", Words({9, 0, 2, 100000, 2, 0, 0, 396, 0, 0}), "", 1},
        {"a reply", Call(reply), "", 1},
    };
    for (const Row &row : rows) {
        for (bool tcp : {false, true}) {
            if (row.only == (tcp ? 1 : 2))
                continue;
            std::string got = Send(row.call, tcp, row.nfs ? 2049 : 111, row.reply.empty() ? 300 : 3000);
            EXPECT_EQ(got.size() >= 4 ? got.substr(4) : got, row.reply) << row.what << (tcp ? " tcp" : " udp");
        }
    }
    // Over TCP a refused call is answered and ends its connection.
    RpcTcpClient client;
    ASSERT_TRUE(client.Connect(ServerAddress()));
    std::string got;
    ASSERT_TRUE(client.Call(Call(rpc3), &got, 3000));
    EXPECT_EQ(got.substr(4), Words({1, 1, 0, 2, 2}));
    EXPECT_FALSE(client.Call(Call(Parts(2, 0)), &got, 1000)) << "the connection still serves";
}

// The port mapper's table rules, as a sequence of calls from this address
// (local) and, natively, from 127.0.0.2 (server_test.sh adds it; not local).
TEST(RpcWire, PortMapperTable)
{
    RpcUdpClient outsider("127.0.0.2");
    struct Row {
        uint32_t proc, prog, vers, prot, port;
        bool outside;
        uint32_t answer;
    };
    const Row rows[] = {
        {SET, 300003, 3, 17, 2049, false, 1},  // the first port is kept
        {SET, 300003, 3, 17, 2049, false, 1},
        {SET, 300003, 3, 17, 2050, false, 0},
        {GETPORT, 300003, 3, 17, 0, false, 2049},
        {SET, 300021, 4, 17, 1023, false, 0},  // privileged ports refused
        {SET, 300021, 4, 17, 1024, false, 0},
        {SET, 300021, 4, 17, 1025, false, 1},
        {SET, 300000, 1, 6, 0, false, 1},  // port 0 is kept and cannot be removed
        {UNSET, 300000, 1, 6, 0, false, 0},
        {SET, 300005, 3, 17, 1058, false, 1},
        {SET, 300005, 3, 6, 1058, false, 1},
        {SET, 300005, 1, 17, 1058, false, 1},
        {GETPORT, 300005, 2, 17, 0, false, 1058},  // the last other version
        {SET, 300005, 4, 17, 1070, false, 1},
        {GETPORT, 300005, 2, 17, 0, false, 1070},
        {GETPORT, 300005, 1, 17, 0, false, 1058},
        {GETPORT, 300005, 2, 6, 0, false, 1058},
        {GETPORT, 300099, 1, 17, 0, false, 0},
        {UNSET, 300005, 3, 6, 9999, false, 1},  // one entry per call, any protocol and port
        {GETPORT, 300005, 3, 6, 0, false, 1058},
        {UNSET, 300005, 3, 17, 0, false, 1},
        {UNSET, 300005, 3, 17, 0, false, 0},
        {GETPORT, 300005, 3, 17, 0, false, 1070},
        {UNSET, 100000, 2, 17, 0, false, 0},  // the port mapper's own entries stay
        {GETPORT, 100000, 2, 6, 0, false, 111},
        {SET, 300007, 1, 17, 2049, true, 0},  // callers that are not local only read
        {SET, 300007, 1, 17, 2049, false, 1},
        {UNSET, 300007, 1, 17, 0, true, 0},
        {GETPORT, 300007, 1, 17, 0, true, 2049},
    };
    const bool wine = RunningUnderWine();
    int i = 0;
    for (const Row &row : rows) {
        i++;
        if (row.outside && wine)
            continue;  // Wine sends from 127.0.0.1 whatever the socket is bound to
        EXPECT_EQ(MapCall(row.proc, row.prog, row.vers, row.prot, row.port, row.outside ? &outsider : nullptr),
                  row.answer)
            << "row " << i;
    }
    // DUMP lists at most 26 entries, over both transports; GETPORT finds the
    // rest.
    for (uint32_t n = 0; n < 28; n++)
        ASSERT_EQ(MapCall(SET, 400000 + n, 1, 17, 2000 + n), 1u);
    for (bool tcp : {false, true}) {
        bool ok = false;
        std::vector<PmapEntry> list = DumpCall(tcp, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(list.size(), 26u);
        EXPECT_EQ((PmapEntry{100000, 2, 6, 111}), list[0]);
    }
    EXPECT_EQ(MapCall(GETPORT, 400027, 1, 17, 0), 2027u);
    for (uint32_t n = 0; n < 28; n++)
        MapCall(UNSET, 400000 + n, 1, 17, 0);
}
