// Helpers of the on-the-wire tests: the server under test listens on
// 127.0.0.1 port 111 inside the test's own network namespace.
#pragma once

#include <string>
#include <vector>

#include "support/pmap_test_calls.h"
#include "support/rpc_test_client.h"

sockaddr_in ServerAddress();
uint32_t NextXid();
// One call over UDP (from `client` when given) or TCP; the reply or "".
std::string UdpCall(const std::string &call, int timeout_ms = 3000, RpcUdpClient *client = nullptr);
std::string TcpCall(const std::string &call, int timeout_ms = 3000);
// SET (1), UNSET (2) or GETPORT (3): the one-word answer, 0xFFFFFFFF when
// the reply is not a successful one-word reply.
uint32_t MapCall(uint32_t proc, uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port,
                 RpcUdpClient *client = nullptr);
// DUMP, strictly parsed; `ok` false when the reply is malformed.
std::vector<PmapEntry> DumpCall(bool tcp, bool *ok);
// NULL of the port mapper answers over UDP and over TCP.
bool NullCallsAnswer();

// The bounded storm: random and truncated datagrams and TCP records for at
// most `seconds` and `count` messages; returns the process exit code.
int RunStorm(int seconds, int count, unsigned seed);
// The connection flood: `idle` connections that never call and `tricklers`
// that send one byte a second; a new client must be answered within
// `burstLimit` ms while the server takes the burst (0: not judged), and
// within a second once it has and after `holdSeconds` of the flood.
// Returns the exit code.
int RunFlood(int idle, int tricklers, int holdSeconds, int burstLimit);
// A UDP port that takes calls and never answers (a silent port mapper), for
// `seconds`.
int RunSilentUdp(uint16_t port, int seconds);
