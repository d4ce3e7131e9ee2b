// A raw-packet RPC client for tests, independent of the server's RPC code:
// any call bytes, sent over UDP or TCP, replies taken apart word by word.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32.h"

// --- Building bytes -------------------------------------------------------------

// XDR writers appending to a byte string.
void PutWord(std::string &out, uint32_t value);
void PutOpaque(std::string &out, const std::string &bytes);  // length, bytes, padding
// The words, each as PutWord writes it; a counted opaque (a name, an fh3).
std::string Words(std::initializer_list<uint32_t> words);
std::string CountedOpaque(const std::string &bytes);

// A call header: xid, CALL, rpcvers, prog, vers, proc, credential and
// verifier (flavor and body).  Arguments are appended by the caller.
struct RpcCallParts {
    uint32_t xid = 1, msg_type = 0, rpcvers = 2, prog = 0, vers = 0, proc = 0, cred_flavor = 0;
    std::string cred_body;
    uint32_t verf_flavor = 0;
    std::string verf_body;
};
std::string BuildCall(const RpcCallParts &parts);
// The shortcut for most tests: AUTH_NULL call header plus argument bytes.
std::string NullAuthCall(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc, const std::string &args = "");
// An AUTH_UNIX credential body.
std::string AuthUnixBody(uint32_t stamp, const std::string &machine, uint32_t uid, uint32_t gid,
                         const std::vector<uint32_t> &gids);
// A record mark (length, last-fragment bit).
std::string RecordMark(uint32_t length, bool last);
// The message as one TCP record, or cut into fragments of at most
// `fragment` bytes.
std::string AsRecord(const std::string &message, size_t fragment = 0);

// --- Reading replies --------------------------------------------------------------

uint32_t WordAt(const std::string &bytes, size_t offset);

struct RpcReplyView {
    bool valid = false;  // at least xid, REPLY and the reply status were present
    uint32_t xid = 0, msg_type = 0, reply_stat = 0;  // reply_stat 0 accepted, 1 denied
    uint32_t verf_flavor = 0;                        // accepted: the verifier, accept_stat
    std::string verf_body;
    uint32_t accept_stat = 0;
    uint32_t low = 0, high = 0;  // PROG_MISMATCH / RPC_MISMATCH (0xDEADBEEF: absent)
    std::string results;         // bytes after accept_stat SUCCESS
};
RpcReplyView ParseReply(const std::string &bytes);

// --- Moving bytes -------------------------------------------------------------------

// WSAStartup once per process (idempotent).
bool RpcTestStartup();
// An IPv4 loopback address and port (host order).
sockaddr_in RpcTestAddress(uint16_t port, const char *ip = "127.0.0.1");
// A port free for both UDP and TCP on every address at this moment; 0 when
// none was found.
uint16_t RpcTestFreePort();

// Reads away the datagrams waiting on a socket (replies a test sent to
// itself), without waiting for more.
void DrainSocket(SOCKET s);

// A UDP client socket, bound to `local_ip` (any port).
class RpcUdpClient {
public:
    explicit RpcUdpClient(const char *local_ip = "127.0.0.1");
    ~RpcUdpClient();
    RpcUdpClient(const RpcUdpClient &) = delete;
    RpcUdpClient &operator=(const RpcUdpClient &) = delete;
    bool ok() const { return socket_ != INVALID_SOCKET; }
    bool Send(const sockaddr_in &to, const std::string &bytes);
    // Waits up to `timeout_ms` for one datagram; false when none came.
    bool Receive(std::string *bytes, int timeout_ms, sockaddr_in *from = nullptr);
    // Send and wait for a reply whose xid matches the call's (others, such as
    // late replies of earlier calls, are skipped).
    bool Call(const sockaddr_in &to, const std::string &call, std::string *reply, int timeout_ms);
    // Drops whatever datagrams wait.
    void Drain();
    SOCKET handle() const { return socket_; }  // (for getsockname)

private:
    SOCKET socket_;
};

// A TCP connection.
class RpcTcpClient {
public:
    RpcTcpClient();
    ~RpcTcpClient();
    RpcTcpClient(const RpcTcpClient &) = delete;
    RpcTcpClient &operator=(const RpcTcpClient &) = delete;
    // From local_ip when given (and available), else from 127.0.0.1.
    bool Connect(const sockaddr_in &to, const char *local_ip = nullptr);
    bool SendRaw(const std::string &bytes);
    // One record (all fragments) into *message; false on time-out, close or
    // error.
    bool ReceiveRecord(std::string *message, int timeout_ms);
    bool Call(const std::string &call, std::string *reply, int timeout_ms, size_t fragment = 0);
    void Close();

private:
    bool ReceiveExactly(char *out, int length, int timeout_ms);
    SOCKET socket_;
};
