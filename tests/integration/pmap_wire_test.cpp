// The port mapper of the running server, on the wire: its table rules and
// answers as a client sees them.  Every test leaves the table as it found it
// (the port-0 rule is covered by the unit tests, since such an entry stays).
// Program numbers are private ones, so that the server's own services and
// their registrations are never touched.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "wire.h"

namespace {
const uint32_t SET = 1, UNSET = 2, GETPORT = 3;
const PmapEntry OwnTcp = {100000, 2, 6, 111}, OwnUdp = {100000, 2, 17, 111};
} // namespace

TEST(PmapWire, DumpBeginsWithTheOwnEntriesOverBothTransports)
{
    for (bool tcp : {false, true}) {
        bool ok = false;
        std::vector<PmapEntry> list = DumpCall(tcp, &ok);
        ASSERT_TRUE(ok);
        ASSERT_GE(list.size(), 2u);
        EXPECT_EQ(OwnTcp, list[0]);
        EXPECT_EQ(OwnUdp, list[1]);
    }
    EXPECT_TRUE(NullCallsAnswer());
}

TEST(PmapWire, SetUnsetAndGetPortRules)
{
    EXPECT_EQ(1u, MapCall(SET, 0x24200003u, 3, 17, 2049));
    EXPECT_EQ(1u, MapCall(SET, 0x24200003u, 3, 17, 2049));
    EXPECT_EQ(0u, MapCall(SET, 0x24200003u, 3, 17, 2050));
    EXPECT_EQ(0u, MapCall(SET, 0x24200003u, 2, 17, 1023));
    EXPECT_EQ(2049u, MapCall(GETPORT, 0x24200003u, 3, 17, 0));
    EXPECT_EQ(0u, MapCall(GETPORT, 0x24200003u, 3, 6, 0));
    // Another version of the same program and protocol serves.
    EXPECT_EQ(2049u, MapCall(GETPORT, 0x24200003u, 2, 17, 0));
    EXPECT_EQ(1u, MapCall(UNSET, 0x24200003u, 3, 6, 0));
    EXPECT_EQ(0u, MapCall(UNSET, 0x24200003u, 3, 17, 0));
    EXPECT_EQ(0u, MapCall(GETPORT, 0x24200003u, 3, 17, 0));
    EXPECT_EQ(0u, MapCall(UNSET, 100000, 2, 17, 0));
    EXPECT_EQ(111u, MapCall(GETPORT, 100000, 2, 17, 0));
}

TEST(PmapWire, GetPortOfAMissingVersionAnswersWithTheLastOtherOne)
{
    ASSERT_EQ(1u, MapCall(SET, 0x24200005u, 1, 17, 1058));
    ASSERT_EQ(1u, MapCall(SET, 0x24200005u, 3, 17, 1058));
    EXPECT_EQ(1058u, MapCall(GETPORT, 0x24200005u, 2, 17, 0));
    EXPECT_EQ(0u, MapCall(GETPORT, 0x24200007u, 1, 17, 0));
    EXPECT_EQ(1u, MapCall(UNSET, 0x24200005u, 1, 17, 0));
    EXPECT_EQ(1u, MapCall(UNSET, 0x24200005u, 3, 17, 0));
}

TEST(PmapWire, CallersOtherThanThisComputerCannotChangeTheTable)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine deviation: a socket bound to 127.0.0.2 sends from 127.0.0.1";
    RpcUdpClient outsider("127.0.0.2");
    ASSERT_TRUE(outsider.ok());
    EXPECT_EQ(0u, MapCall(SET, 0x24200021u, 4, 17, 4045, &outsider));
    EXPECT_EQ(0u, MapCall(GETPORT, 0x24200021u, 4, 17, 0));
    ASSERT_EQ(1u, MapCall(SET, 0x24200021u, 4, 17, 4045));
    EXPECT_EQ(0u, MapCall(UNSET, 0x24200021u, 4, 17, 0, &outsider));
    EXPECT_EQ(4045u, MapCall(GETPORT, 0x24200021u, 4, 17, 0, &outsider));
    EXPECT_EQ(1u, MapCall(UNSET, 0x24200021u, 4, 17, 0));
}

TEST(PmapWire, DumpStopsAt26Entries)
{
    bool ok = false;
    size_t before = DumpCall(false, &ok).size();
    ASSERT_TRUE(ok);
    for (uint32_t i = 0; i < 30; i++)
        ASSERT_EQ(1u, MapCall(SET, 0x24000000u + i, 1, 17, 3000 + i));
    for (bool tcp : {false, true}) {
        std::vector<PmapEntry> list = DumpCall(tcp, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(26u, list.size());
        EXPECT_EQ(OwnTcp, list[0]);
    }
    EXPECT_EQ(3029u, MapCall(GETPORT, 0x24000000u + 29, 1, 17, 0));
    for (uint32_t i = 0; i < 30; i++)
        EXPECT_EQ(1u, MapCall(UNSET, 0x24000000u + i, 1, 17, 0));
    EXPECT_EQ(before, DumpCall(false, &ok).size());
}

TEST(PmapWire, ArgumentLengthsVersionsAndProcedures)
{
    std::string twenty = PmapMappingArgs(0x24200003u, 3, 17, 0);
    PutWord(twenty, 0);
    RpcReplyView r = ParseReply(UdpCall(NullAuthCall(NextXid(), 100000, 2, 3, twenty)));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(4u, r.accept_stat) << "GETPORT with 20 bytes: GARBAGE_ARGS";
    std::string four;
    PutWord(four, 0);
    r = ParseReply(UdpCall(NullAuthCall(NextXid(), 100000, 2, 4, four)));
    EXPECT_EQ(4u, r.accept_stat) << "DUMP with 4 bytes: GARBAGE_ARGS";
    r = ParseReply(TcpCall(NullAuthCall(NextXid(), 100000, 2, 1, four)));
    EXPECT_EQ(4u, r.accept_stat) << "SET with 4 bytes: GARBAGE_ARGS";
    for (uint32_t v : {3u, 4u}) {
        for (bool tcp : {false, true}) {
            std::string call = NullAuthCall(NextXid(), 100000, v, 0);
            r = ParseReply(tcp ? TcpCall(call) : UdpCall(call));
            ASSERT_TRUE(r.valid);
            EXPECT_EQ(0u, r.reply_stat);
            EXPECT_EQ(2u, r.accept_stat);
            EXPECT_EQ(2u, r.low);
            EXPECT_EQ(2u, r.high);
        }
    }
    r = ParseReply(UdpCall(NullAuthCall(NextXid(), 100000, 2, 6)));
    EXPECT_EQ(3u, r.accept_stat);
    r = ParseReply(TcpCall(NullAuthCall(NextXid(), 100000, 2, 5, PmapMappingArgs(100000, 2, 0, 0))));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(3u, r.accept_stat) << "CALLIT over TCP: PROC_UNAVAIL";
}

namespace {
// The results of the service CALLIT forwards to: the call's argument bytes.
std::string ArgumentsOf(const std::string &call) { return call.size() > 40 ? call.substr(40) : ""; }
} // namespace

TEST(PmapWire, CallitForwardsOnlyNullCallsOfRegisteredUdpServices)
{
    FakeUdpService echo(ArgumentsOf);
    ASSERT_TRUE(echo.ok());
    uint16_t port = echo.port();
    ASSERT_EQ(1u, MapCall(SET, 0x24100000u, 1, 17, port));

    std::string callit = NullAuthCall(NextXid(), 100000, 2, 5, PmapCallitArgs(0x24100000u, 1, 0, "abcdef"));
    RpcReplyView r = ParseReply(UdpCall(callit));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(0u, r.accept_stat);
    EXPECT_EQ(port, WordAt(r.results, 0));
    EXPECT_EQ(6u, WordAt(r.results, 4));
    EXPECT_EQ("abcdef", r.results.substr(8, 6));
    EXPECT_EQ(16u, r.results.size());
    // Procedure 1 and unregistered programs: no answer at all.
    EXPECT_EQ("", UdpCall(NullAuthCall(NextXid(), 100000, 2, 5, PmapCallitArgs(0x24100000u, 1, 1, "")), 500));
    EXPECT_EQ("", UdpCall(NullAuthCall(NextXid(), 100000, 2, 5, PmapCallitArgs(0x24100001u, 1, 0, "")), 500));
    EXPECT_EQ(1, echo.calls());
    EXPECT_EQ(1u, MapCall(UNSET, 0x24100000u, 1, 17, 0));
}
