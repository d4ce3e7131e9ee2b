// Helpers of the RPC tests: building messages word by word, and a "wire" of
// two loopback UDP sockets that lets a test hand a message to the message
// layer as if it had been received and read back exactly what was sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rpc/rpc_message.h"
#include "rpc/transport.h"

typedef std::vector<uint8_t> Bytes;

// Appends XDR items.
struct Xdr {
    Bytes b;
    Xdr &U32(uint32_t v);
    Xdr &Raw(const void *data, size_t n);
};

Bytes Fill(size_t n, uint8_t first = 1);
uint32_t WordAt(const Bytes &b, size_t index);

struct CallParts {
    uint32_t xid = 0x12345678;
    uint32_t msg_type = 0;
    uint32_t rpcvers = 2;
    uint32_t prog = 100003;
    uint32_t vers = 3;
    uint32_t proc = 0;
    uint32_t cred_flavor = 0;
    Bytes cred;
    uint32_t verf_flavor = 0;
    Bytes verf;
    Bytes args;
};
Bytes MakeCall(const CallParts &parts);

// Calls WSAStartup once (idempotent) and turns port mapper registration off,
// so RegisterProgram works without a port mapper.  Call it from the test's
// own thread before any socket helper below.
void RpcTestInit();

// Two UDP sockets on 127.0.0.1: `server` is the transport's socket, `client`
// the peer to which replies go.
class Wire {
public:
    explicit Wire(uint32_t capacity = 8704);
    ~Wire();
    Wire(const Wire &) = delete;
    Wire &operator=(const Wire &) = delete;

    RpcTransport *t = nullptr;
    SOCKET client = INVALID_SOCKET;
    RpcCall call{};

    // The message as if just received from `client`.
    void Load(const Bytes &message);
    // DecodeCall of a loaded message.
    bool Decode(const Bytes &message);
    // Decode, and DispatchCall when it succeeded.
    void Serve(const Bytes &message);
    // The next datagram that arrived at `client`, or empty after `ms`.
    Bytes Reply(int ms = 1000);
};

// A UDP socket on 127.0.0.1 (any port) and a sender helper for raw tests.
SOCKET LoopbackUdp();
void SendTo(SOCKET from, uint16_t port, const Bytes &message);
// Waits up to ms for a datagram on s.
Bytes ReceiveFrom(SOCKET s, int ms);
// Connected TCP socket to 127.0.0.1:port.
SOCKET ConnectTcp(uint16_t port);
// Sends all bytes on a stream socket.
bool SendAll(SOCKET s, const Bytes &bytes);
// True when the peer closed the stream within ms (what it sent discarded).
bool ClosedByPeer(SOCKET s, int ms);
// Record-marks a message as one last fragment.
Bytes Marked(const Bytes &message);
