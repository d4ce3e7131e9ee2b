#include "pmap_fixture.h"

#include "platform/win32.h"
#include "rpc/port_mapper_internal.h"
#include "settings/settings.h"

namespace {

// A port free for both UDP and TCP on 127.0.0.1 at this moment.
uint16_t FreePort()
{
    for (int attempt = 0; attempt < 20; attempt++) {
        SOCKET u = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a = RpcTestAddress(0, "0.0.0.0");
        bind(u, (sockaddr *)&a, sizeof a);
        int len = sizeof a;
        getsockname(u, (sockaddr *)&a, &len);
        SOCKET t = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        bool available = bind(t, (sockaddr *)&a, sizeof a) == 0;
        closesocket(u);
        closesocket(t);
        if (available)
            return ntohs(a.sin_port);
    }
    return 0;
}

} // namespace

void PortMapperTest::SetUp()
{
    ASSERT_TRUE(RpcTestStartup());
    RPCTIMEOUT = 1;
    PortMapperRegistration = 1;
    PmapResetTable();
    port_ = FreePort();
    ASSERT_NE(0, port_);
    PmapPort = port_;
    ASSERT_EQ(0, PortMapperStart(1));
    ASSERT_TRUE(PortMapperRunning());
    server_ = RpcTestAddress(port_);
}

void PortMapperTest::TearDown()
{
    PortMapperStop();
    EXPECT_FALSE(PortMapperRunning());
    PmapResetTable();
    PmapPort = PMAP_PORT;
    RPCTIMEOUT = 2;
}

std::string PortMapperTest::Udp(const std::string &call, RpcUdpClient *client, int timeout_ms)
{
    RpcUdpClient own;
    RpcUdpClient *c = client != nullptr ? client : &own;
    std::string reply;
    if (!c->Call(server_, call, &reply, timeout_ms))
        return "";
    return reply;
}

std::string PortMapperTest::Tcp(const std::string &call, int timeout_ms)
{
    RpcTcpClient c;
    std::string reply;
    if (!c.Connect(server_) || !c.Call(call, &reply, timeout_ms))
        return "";
    return reply;
}

uint32_t PortMapperTest::Mapping(uint32_t proc, uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port,
                                 RpcUdpClient *client)
{
    std::string call = NullAuthCall(++xid_, 100000, 2, proc, PmapMappingArgs(prog, vers, prot, port));
    return PmapWordAnswer(Udp(call, client));
}

std::vector<PmapEntry> PortMapperTest::Dump(bool over_tcp)
{
    std::string call = NullAuthCall(++xid_, 100000, 2, 4);
    bool ok = false;
    std::vector<PmapEntry> list = PmapParseDump(over_tcp ? Tcp(call) : Udp(call), &ok);
    EXPECT_TRUE(ok) << "a successful reply; entries behind 1, the list ends with one 0 word";
    return list;
}
