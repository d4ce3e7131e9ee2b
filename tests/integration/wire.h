// Helpers of the on-the-wire tests: the server listens in the test's own
// namespace, the port mapper on 111, the mount service on 1058, NFS on 2049.
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

// One NFS call to the address's port 2049 over UDP (sent again when lost)
// or TCP; the parsed reply (not valid when none came).
RpcReplyView NfsCall(const std::string &call, bool tcp = false, const char *address = "127.0.0.1");
// A call of program 100003 with an AUTH_UNIX credential (uid 1000).
std::string UnixCall(uint32_t vers, uint32_t proc, const std::string &args);
// MNT of path (version 1 or 3) to the address's port 1058: the handle's
// bytes, "" on failure.
std::string MountHandle(const std::string &path, uint32_t vers, const char *address = "127.0.0.1", bool tcp = false);
// LOOKUP3 of name in the folder of handle dir: the handle's bytes, or "".
std::string Lookup(const std::string &dir, const std::string &name, bool tcp = false);

// The driver's modes, each returning the process exit code (0: passed).
// The bounded storm of the port mapper: random, truncated and corrupted
// calls over UDP and TCP for at most `seconds` and `count` messages;
// afterwards the server must still serve.
int RunStorm(int seconds, int count, unsigned seed);
// The connection flood: `idle` connections that never call and `tricklers`
// that send one byte a second; a new client must be answered within
// `burstLimit` ms while the server takes the burst (0: not judged), and
// within a second once it has and after `holdSeconds` of the flood.
int RunFlood(int idle, int tricklers, int holdSeconds, int burstLimit);
// A UDP port that never answers (a silent port mapper), for `seconds`.
int RunSilentUdp(uint16_t port, int seconds);
// Handles that outlive their mount records and the server: "save" mounts
// /data twice, unmounts it, checks the handles still serve and prints them;
// "check ROOT FILE" checks them on a restarted server (TCP and UDP).
int RunKeptHandles(int argc, char **argv);
// Windows only (acceptance_win32.cpp): "--window ..." drives the control
// window of a running nfsd.exe; "advfirewall firewall ..." is a stand-in for
// netsh that keeps firewall rules in a file.
int RunWindowRemote(int argc, char **argv);
int RunFirewallStandIn(int argc, char **argv);
