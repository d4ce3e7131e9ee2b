// A running port mapper on a free loopback port for one test, and the raw
// calls the tests send to it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pmap_test_calls.h"
#include "support/rpc_test_client.h"

class PortMapperTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Calls over UDP (from `client`, by default 127.0.0.1) or TCP; the reply,
    // or an empty string when none came.
    std::string Udp(const std::string &call, RpcUdpClient *client = nullptr, int timeout_ms = 2000);
    std::string Tcp(const std::string &call, int timeout_ms = 2000);
    // SET/UNSET/GETPORT with the four argument words; the one-word answer,
    // or 0xFFFFFFFF when the reply is not a successful one-word reply.
    uint32_t Mapping(uint32_t proc, uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port,
                     RpcUdpClient *client = nullptr);
    // The DUMP list, parsed strictly: each entry is preceded by 1, the list
    // ends with 0 and nothing follows.
    std::vector<PmapEntry> Dump(bool over_tcp = false);

    uint16_t port_ = 0;
    sockaddr_in server_;
    uint32_t xid_ = 0x1000;
};
