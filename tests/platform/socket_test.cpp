// Conformance of the Winsock subset where the transport tests cannot look
// (tests/rpc drives the sockets of every service): a close waking the
// receives and selects that wait, the lock manager's refused call-back
// connect, and look-ups of localhost.  The same expectations hold for Winsock
// (under Wine) and for our POSIX layer.  Loopback only, ephemeral ports.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

class Sockets : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        EXPECT_EQ(MAKEWORD(2, 2), data.wVersion);
    }
    void TearDown() override { WSACleanup(); }
};

#define EXPECT_WSA_FAILS(call, error)                                                                                  \
    do {                                                                                                               \
        EXPECT_EQ(SOCKET_ERROR, call);                                                                                 \
        EXPECT_EQ(error, WSAGetLastError());                                                                           \
    } while (0)

sockaddr_in Loopback(u_short port)
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

u_short LocalPort(SOCKET s)
{
    sockaddr_in a;
    int len = sizeof a;
    if (getsockname(s, (sockaddr *)&a, &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

SOCKET BoundUdp()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = Loopback(0);
    if (s == INVALID_SOCKET || bind(s, (sockaddr *)&a, sizeof a) != 0)
        return INVALID_SOCKET;
    return s;
}

SOCKET Listener()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = Loopback(0);
    if (s == INVALID_SOCKET || bind(s, (sockaddr *)&a, sizeof a) != 0 || listen(s, 5) != 0)
        return INVALID_SOCKET;
    return s;
}

// A thread that blocks in one receive (or one select) and records its
// outcome; the outcome must not come before the thread had time to block.
struct Blocked {
    SOCKET s;
    bool waitInSelect;
    int result = -99, error = 0;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;
    Blocked(SOCKET socket, bool inSelect) : s(socket), waitInSelect(inSelect)
    {
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(done, 200));
    }
    ~Blocked()
    {
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
        CloseHandle(done);
    }
    static DWORD WINAPI Run(LPVOID parameter)
    {
        Blocked *b = static_cast<Blocked *>(parameter);
        char buf[64];
        fd_set r;
        FD_ZERO(&r);
        FD_SET(b->s, &r);
        b->result = b->waitInSelect ? select(0, &r, nullptr, nullptr, nullptr) : recv(b->s, buf, sizeof buf, 0);
        b->error = b->result == SOCKET_ERROR ? WSAGetLastError() : 0;
        SetEvent(b->done);
        return 0;
    }
};

} // namespace

// A refused non-blocking connect (the lock manager's call-back) shows in the
// exception set only and leaves its error in SO_ERROR.
TEST_F(Sockets, RefusedNonBlockingConnectInTheExceptionSet)
{
    u_long on = 1;
    SOCKET l = Listener();
    u_short port = LocalPort(l);
    closesocket(l);
    SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(0, ioctlsocket(c, FIONBIO, &on));
    sockaddr_in a = Loopback(port);
    EXPECT_WSA_FAILS(connect(c, (sockaddr *)&a, sizeof a), WSAEWOULDBLOCK);
    timeval tv = {2, 0};
    fd_set w, e;
    FD_ZERO(&w);
    FD_ZERO(&e);
    FD_SET(c, &w);
    FD_SET(c, &e);
    EXPECT_EQ(1, select(0, nullptr, &w, &e, &tv));
    EXPECT_EQ(0u, w.fd_count);
    EXPECT_EQ(1u, e.fd_count);
    int error = 0, len = sizeof error;
    ASSERT_EQ(0, getsockopt(c, SOL_SOCKET, SO_ERROR, (char *)&error, &len));
    EXPECT_EQ(WSAECONNREFUSED, error);
    closesocket(c);
}

TEST_F(Sockets, ClosingASocketWakesAReceiveAndASelectThatWaitOnIt)
{
    // Windows fails the receive with WSAEINTR; Wine 8 reports WSAEINVAL.
    const int expected = RunningUnderWine() ? WSAEINVAL : WSAEINTR;
    SOCKET l = Listener(), c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = Loopback(LocalPort(l));
    ASSERT_EQ(0, connect(c, (sockaddr *)&a, sizeof a));
    SOCKET d = accept(l, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, d);
    for (SOCKET s : {BoundUdp(), d}) {
        Blocked b(s, false);
        ASSERT_EQ(0, closesocket(s));
        EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(b.done, 5000));
        EXPECT_EQ(SOCKET_ERROR, b.result);
        EXPECT_EQ(expected, b.error);
    }
    closesocket(c);
    // A select without time limit returns once the socket is closed.
    Blocked b(l, true);
    ASSERT_EQ(0, closesocket(l));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(b.done, 5000));
    EXPECT_NE(0, b.result);
}

// The exports' client names and the mount list's host names.
TEST_F(Sockets, LocalhostLookups)
{
    // Asked first through the system's own resolver, not the layer under test.
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    if (getaddrinfo("localhost", nullptr, &hints, &found) != 0)
        GTEST_SKIP() << "this system does not resolve \"localhost\" (no /etc/hosts entry): host-name look-ups untested";
    freeaddrinfo(found);
    hostent *h = gethostbyname("localhost");
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(4, h->h_length);
    uint32_t address;
    memcpy(&address, h->h_addr_list[0], 4);
    const uint32_t loop = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(loop, address);
    EXPECT_NE(nullptr, gethostbyaddr((const char *)&loop, 4, AF_INET));
}
