// Helpers of the RPC tests, on top of the raw client of tests/support: a
// "wire" of a UDP transport and a client socket that lets a test hand a
// message to the message layer as if it had been received and read back
// exactly what was sent, and raw TCP sockets that watch for a close.
#pragma once

#include <cstdint>
#include <string>

#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "support/rpc_test_client.h"

// Starts Winsock (idempotent) and turns port mapper registration off, so
// RegisterProgram works without a port mapper.
void RpcTestInit();

// A UDP transport on 127.0.0.1 and the client to which its replies go.
class Wire {
public:
    explicit Wire(uint32_t capacity = 8704);
    ~Wire();
    Wire(const Wire &) = delete;
    Wire &operator=(const Wire &) = delete;

    // Fixtures make their wires before their SetUp runs, and threads make
    // their own: Winsock is started before the client socket is made.
    bool started = RpcTestStartup();
    RpcTransport *t = nullptr;
    RpcUdpClient client;
    RpcCall call{};

    // The message as if just received from `client`, then DecodeCall.
    bool Decode(const std::string &message);
    // Decode, and DispatchCall when it succeeded.
    void Serve(const std::string &message);
    // The next datagram that arrived at `client`, or "" after `ms`.
    std::string Reply(int ms = 1000);
    // What the transport's buffer holds (a reply just written).
    std::string Sent() const;
};

// Connected TCP socket to 127.0.0.1:port; INVALID_SOCKET on failure.
SOCKET ConnectTcp(uint16_t port);
bool SendAll(SOCKET s, const std::string &bytes);
// True when the peer closed the stream within ms (what it sent discarded).
bool ClosedByPeer(SOCKET s, int ms);
