// Conformance of the Winsock subset: the same expectations hold for Winsock
// (under Wine) and for our POSIX layer.  Loopback only, ephemeral ports.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>

#include "platform/win32.h"
#include "support/name_service.h"
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

// A connected pair: client and the accepted server side, which accept
// told the client's address (the size of the address as well).
bool Connected(SOCKET *client, SOCKET *server, sockaddr_in *peer = nullptr)
{
    SOCKET l = Listener();
    if (l == INVALID_SOCKET)
        return false;
    *client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = Loopback(LocalPort(l));
    bool ok = connect(*client, (sockaddr *)&a, sizeof a) == 0;
    sockaddr_in from;
    int fromlen = sizeof from;
    *server = ok ? accept(l, (sockaddr *)&from, &fromlen) : INVALID_SOCKET;
    closesocket(l);
    if (peer != nullptr)
        *peer = from;
    return ok && *server != INVALID_SOCKET && fromlen == (int)sizeof from;
}

int SendTo(SOCKET from, SOCKET to, const char *data, int length)
{
    sockaddr_in a = Loopback(LocalPort(to));
    return sendto(from, data, length, 0, (sockaddr *)&a, sizeof a);
}

// A thread that blocks in one receive and records its outcome.
struct BlockedReceive {
    SOCKET s;
    int result;
    int error;
    HANDLE done;
};

DWORD WINAPI ReceiveOnce(LPVOID parameter)
{
    BlockedReceive *b = static_cast<BlockedReceive *>(parameter);
    char buf[64];
    b->result = recv(b->s, buf, sizeof buf, 0);
    b->error = b->result == SOCKET_ERROR ? WSAGetLastError() : 0;
    SetEvent(b->done);
    return 0;
}

DWORD WINAPI SelectOnce(LPVOID parameter)
{
    BlockedReceive *b = static_cast<BlockedReceive *>(parameter);
    fd_set r;
    FD_ZERO(&r);
    FD_SET(b->s, &r);
    b->result = select(0, &r, nullptr, nullptr, nullptr);
    b->error = b->result == SOCKET_ERROR ? WSAGetLastError() : 0;
    SetEvent(b->done);
    return 0;
}

HANDLE StartBlocked(BlockedReceive *b, LPTHREAD_START_ROUTINE body, SOCKET s)
{
    b->s = s;
    b->result = -99;
    b->error = 0;
    b->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE t = CreateThread(nullptr, 0, body, b, 0, nullptr);
    // Give the thread time to block; the outcome must not come before that.
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(b->done, 200));
    return t;
}

void FinishBlocked(BlockedReceive *b, HANDLE t)
{
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
    CloseHandle(b->done);
}

} // namespace

TEST(SocketsStartup, SocketBeforeStartupFailsWithNotInitialised)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(INVALID_SOCKET, s);
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
}

TEST_F(Sockets, UdpRoundTripReportsSenderAndLength)
{
    SOCKET a = BoundUdp(), b = BoundUdp();
    ASSERT_NE(INVALID_SOCKET, a);
    ASSERT_NE(INVALID_SOCKET, b);
    ASSERT_EQ(5, SendTo(a, b, "hello", 5));
    char buf[64];
    sockaddr_in from;
    int fromlen = sizeof from;
    ASSERT_EQ(5, recvfrom(b, buf, sizeof buf, 0, (sockaddr *)&from, &fromlen));
    EXPECT_EQ(0, memcmp(buf, "hello", 5));
    EXPECT_EQ((int)sizeof(sockaddr_in), fromlen);
    EXPECT_EQ(AF_INET, from.sin_family);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), from.sin_addr.s_addr);
    EXPECT_EQ(LocalPort(a), ntohs(from.sin_port));
    // The answer goes back to the address the datagram came from.  With an
    // overlapped record the receive completes now or later, and the
    // overlapped result reports the datagram and its sender either way.
    ASSERT_EQ(3, sendto(b, "abc", 3, 0, (sockaddr *)&from, fromlen));
    WSABUF wb = {sizeof buf, buf};
    DWORD received = 0, flags = 0;
    WSAOVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    ov.hEvent = WSACreateEvent();
    ASSERT_NE(WSA_INVALID_EVENT, ov.hEvent);
    fromlen = sizeof from;
    int r = WSARecvFrom(a, &wb, 1, &received, &flags, (sockaddr *)&from, &fromlen, &ov, nullptr);
    ASSERT_TRUE(r == 0 || WSAGetLastError() == WSA_IO_PENDING) << WSAGetLastError();
    DWORD transferred = 0;
    ASSERT_TRUE(WSAGetOverlappedResult(a, &ov, &transferred, TRUE, &flags));
    WSACloseEvent(ov.hEvent);
    EXPECT_EQ(3u, transferred);
    EXPECT_EQ(0, memcmp(buf, "abc", 3));
    EXPECT_EQ(LocalPort(b), ntohs(from.sin_port));
    // An empty datagram is a datagram.
    ASSERT_EQ(0, SendTo(a, b, "", 0));
    EXPECT_EQ(0, recv(b, buf, sizeof buf, 0));
    closesocket(a);
    closesocket(b);
}

TEST_F(Sockets, TcpRoundTripAndPeerShutdownWakesBlockedReceive)
{
    SOCKET c, d;
    sockaddr_in peer;
    ASSERT_TRUE(Connected(&c, &d, &peer));
    EXPECT_EQ(LocalPort(c), ntohs(peer.sin_port));

    char got[8];
    ASSERT_EQ(2, send(c, "ok", 2, 0));
    ASSERT_EQ(2, recv(d, got, sizeof got, 0));

    // The peer's shutdown of its sending side ends a receive that waits.
    BlockedReceive b;
    HANDLE t = StartBlocked(&b, ReceiveOnce, d);
    ASSERT_EQ(0, shutdown(c, SD_SEND));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(b.done, 5000));
    EXPECT_EQ(0, b.result);
    FinishBlocked(&b, t);
    // The other direction still works.
    ASSERT_EQ(3, send(d, "end", 3, 0));
    ASSERT_EQ(3, recv(c, got, sizeof got, 0));
    closesocket(c);
    closesocket(d);
}

TEST_F(Sockets, DatagramLargerThanTheBufferFailsWithMsgSize)
{
    SOCKET a = BoundUdp(), b = BoundUdp();
    char data[100];
    for (int i = 0; i < 100; i++)
        data[i] = (char)('A' + i % 26);
    ASSERT_EQ(100, SendTo(a, b, data, 100));
    ASSERT_EQ(2, SendTo(a, b, "hi", 2));
    ASSERT_EQ(100, SendTo(a, b, data, 100));
    char buf[10];
    memset(buf, 0, sizeof buf);
    sockaddr_in from;
    int fromlen = sizeof from;
    EXPECT_WSA_FAILS(recvfrom(b, buf, sizeof buf, 0, (sockaddr *)&from, &fromlen), WSAEMSGSIZE);
    // The buffer holds the first bytes, the datagram is gone.
    EXPECT_EQ(0, memcmp(buf, data, sizeof buf));
    EXPECT_EQ(LocalPort(a), ntohs(from.sin_port));
    EXPECT_EQ(2, recv(b, buf, sizeof buf, 0));
    // The same through WSARecvFrom without an overlapped record.
    WSABUF wb = {sizeof buf, buf};
    DWORD received = 0, flags = 0;
    fromlen = sizeof from;
    EXPECT_WSA_FAILS(WSARecvFrom(b, &wb, 1, &received, &flags, (sockaddr *)&from, &fromlen, nullptr, nullptr),
                     WSAEMSGSIZE);
    closesocket(a);
    closesocket(b);
}

namespace {
struct SharedWorker {
    SOCKET s;
    std::set<int> seen;     // read by the test only after the thread ended
    std::atomic<int> taken{0};
    int failures;
};

DWORD WINAPI ReceiveUntilClosed(LPVOID parameter)
{
    SharedWorker *w = static_cast<SharedWorker *>(parameter);
    for (;;) {
        char buf[16];
        WSABUF wb = {sizeof buf, buf};
        DWORD received = 0, flags = 0;
        sockaddr_in from;
        int fromlen = sizeof from;
        if (WSARecvFrom(w->s, &wb, 1, &received, &flags, (sockaddr *)&from, &fromlen, nullptr, nullptr) != 0) {
            w->failures++;
            return 0;
        }
        if (received == 4) {
            int id;
            memcpy(&id, buf, 4);
            w->seen.insert(id);
            w->taken++;
        }
    }
}
} // namespace

TEST_F(Sockets, DatagramsOfASharedSocketGoToExactlyOneReceiver)
{
    SOCKET a = BoundUdp();
    SOCKET shared = WSASocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_SOCKET, shared);
    sockaddr_in any = Loopback(0);
    ASSERT_EQ(0, bind(shared, (sockaddr *)&any, sizeof any));
    SharedWorker workers[4];
    HANDLE threads[4];
    for (int i = 0; i < 4; i++) {
        workers[i].s = shared;
        workers[i].failures = 0;
        threads[i] = CreateThread(nullptr, 0, ReceiveUntilClosed, &workers[i], 0, nullptr);
    }
    Sleep(100);
    const int total = 200;
    for (int id = 0; id < total; id++) {
        ASSERT_EQ(4, SendTo(a, shared, (const char *)&id, 4));
        if (id % 20 == 19)
            Sleep(5);
    }
    // Wait until every datagram has been taken (bounded).
    for (int round = 0; round < 100; round++) {
        size_t n = 0;
        for (int i = 0; i < 4; i++)
            n += (size_t)workers[i].taken.load();
        if (n >= (size_t)total)
            break;
        Sleep(20);
    }
    // Closing the socket ends every receive that waits on it.
    ASSERT_EQ(0, closesocket(shared));
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(threads[i], 5000));
        CloseHandle(threads[i]);
    }
    std::set<int> all;
    size_t sum = 0;
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(1, workers[i].failures);
        sum += workers[i].seen.size();
        all.insert(workers[i].seen.begin(), workers[i].seen.end());
    }
    EXPECT_EQ((size_t)total, all.size());
    EXPECT_EQ((size_t)total, sum) << "a datagram reached two receivers";
    closesocket(a);
}

TEST_F(Sockets, SelectWaitsForTheTimeoutAndReportsOnlyReadySockets)
{
    SOCKET a = BoundUdp(), b = BoundUdp(), c = BoundUdp(), d = BoundUdp();
    fd_set r;
    FD_ZERO(&r);
    FD_SET(b, &r);
    FD_SET(c, &r);
    FD_SET(d, &r);
    timeval tv = {0, 300000};
    DWORD start = GetTickCount();
    EXPECT_EQ(0, select(0, &r, nullptr, nullptr, &tv));
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(0u, r.fd_count);

    ASSERT_EQ(1, SendTo(a, c, "x", 1));
    ASSERT_EQ(1, SendTo(a, d, "y", 1));
    Sleep(50);
    // Windows sets are a count and an array of sockets in the order added,
    // each socket once, at most 64 of them.
    EXPECT_EQ(64, FD_SETSIZE);
    FD_ZERO(&r);
    FD_SET(b, &r);
    FD_SET(c, &r);
    FD_SET(d, &r);
    FD_SET(c, &r);
    ASSERT_EQ(3u, r.fd_count);
    fd_set w;
    FD_ZERO(&w);
    FD_SET(c, &w);
    tv.tv_sec = 2;
    tv.tv_usec = 0;
    // c is counted in both sets.
    EXPECT_EQ(3, select(0, &r, &w, nullptr, &tv));
    ASSERT_EQ(2u, r.fd_count);
    EXPECT_EQ(c, r.fd_array[0]);
    EXPECT_EQ(d, r.fd_array[1]);
    EXPECT_FALSE(FD_ISSET(b, &r));
    EXPECT_TRUE(FD_ISSET(c, &w));

    // A zero timeout polls.
    FD_ZERO(&r);
    FD_SET(b, &r);
    tv.tv_sec = 0;
    EXPECT_EQ(0, select(0, &r, nullptr, nullptr, &tv));

    // A pending connection makes a listener readable.
    SOCKET l = Listener();
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in la = Loopback(LocalPort(l));
    ASSERT_EQ(0, connect(client, (sockaddr *)&la, sizeof la));
    FD_ZERO(&r);
    FD_SET(b, &r);
    FD_SET(l, &r);
    tv.tv_sec = 2;
    EXPECT_EQ(1, select(0, &r, nullptr, nullptr, &tv));
    EXPECT_TRUE(FD_ISSET(l, &r));

    // A socket that is not open.
    SOCKET gone = BoundUdp();
    closesocket(gone);
    FD_ZERO(&r);
    FD_SET(b, &r);
    FD_SET(gone, &r);
    EXPECT_WSA_FAILS(select(0, &r, nullptr, nullptr, &tv), WSAENOTSOCK);
    for (SOCKET s : {a, b, c, d, l, client})
        closesocket(s);
}

TEST_F(Sockets, ErrorNumbersForClosedAndBusy)
{
    // A socket that does not exist (any more).
    SOCKET gone = BoundUdp();
    ASSERT_EQ(0, closesocket(gone));
    char buf[4];
    EXPECT_WSA_FAILS(recv(gone, buf, sizeof buf, 0), WSAENOTSOCK);
    EXPECT_WSA_FAILS(closesocket(gone), WSAENOTSOCK);
    EXPECT_WSA_FAILS(closesocket(INVALID_SOCKET), WSAENOTSOCK);

    // Addresses in use: a bound datagram port, a listening stream port.
    SOCKET u = BoundUdp();
    SOCKET u2 = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = Loopback(LocalPort(u));
    EXPECT_WSA_FAILS(bind(u2, (sockaddr *)&a, sizeof a), WSAEADDRINUSE);
    SOCKET l = Listener();
    SOCKET t2 = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    a = Loopback(LocalPort(l));
    EXPECT_WSA_FAILS(bind(t2, (sockaddr *)&a, sizeof a), WSAEADDRINUSE);
    for (SOCKET s : {u, u2, l, t2})
        closesocket(s);
}

TEST_F(Sockets, StreamPortCanBeBoundAgainWhileOldConnectionsLinger)
{
    SOCKET c, d;
    ASSERT_TRUE(Connected(&c, &d));
    sockaddr_in a = Loopback(LocalPort(d)); // the listener's port
    // The server side closes first and so keeps the port in TIME_WAIT.
    closesocket(d);
    Sleep(50);
    closesocket(c);
    SOCKET again = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(0, bind(again, (sockaddr *)&a, sizeof a)) << WSAGetLastError();
    EXPECT_EQ(0, listen(again, 5));
    closesocket(again);
}

// A non-blocking connect: writable once connected; refused, it shows in the
// exception set only and leaves its error in SO_ERROR.
TEST_F(Sockets, NonBlockingConnectAndRefusedConnectInTheExceptionSet)
{
    u_long on = 1;
    SOCKET l = Listener();
    SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(0, ioctlsocket(c, FIONBIO, &on));
    sockaddr_in a = Loopback(LocalPort(l));
    int r = connect(c, (sockaddr *)&a, sizeof a);
    EXPECT_TRUE(r == 0 || WSAGetLastError() == WSAEWOULDBLOCK) << WSAGetLastError();
    fd_set w;
    FD_ZERO(&w);
    FD_SET(c, &w);
    timeval tv = {2, 0};
    EXPECT_EQ(1, select(0, nullptr, &w, nullptr, &tv));
    closesocket(c);
    u_short port = LocalPort(l);
    closesocket(l);

    c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(0, ioctlsocket(c, FIONBIO, &on));
    a = Loopback(port);
    EXPECT_WSA_FAILS(connect(c, (sockaddr *)&a, sizeof a), WSAEWOULDBLOCK);
    fd_set e;
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

TEST_F(Sockets, OptionsReadBackAsOnWindows)
{
    SOCKET u = BoundUdp();
    int value = 100000;
    ASSERT_EQ(0, setsockopt(u, SOL_SOCKET, SO_RCVBUF, (const char *)&value, sizeof value));
    value = 0;
    int len = sizeof value;
    ASSERT_EQ(0, getsockopt(u, SOL_SOCKET, SO_RCVBUF, (char *)&value, &len));
    EXPECT_EQ(100000, value);
    EXPECT_EQ((int)sizeof(int), len);
    value = 70000;
    ASSERT_EQ(0, setsockopt(u, SOL_SOCKET, SO_SNDBUF, (const char *)&value, sizeof value));
    ASSERT_EQ(0, getsockopt(u, SOL_SOCKET, SO_SNDBUF, (char *)&value, &len));
    EXPECT_EQ(70000, value);
    BOOL broadcast = TRUE;
    EXPECT_EQ(0, setsockopt(u, SOL_SOCKET, SO_BROADCAST, (const char *)&broadcast, sizeof broadcast));
    closesocket(u);
}

// A peer that went away: the send after its reset fails with WSAECONNRESET
// (and never kills the process).
TEST_F(Sockets, SendToAPeerThatWentAwayFailsWithConnReset)
{
    SOCKET c, d;
    ASSERT_TRUE(Connected(&c, &d));
    closesocket(c);
    char buf[8];
    Sleep(50);
    EXPECT_EQ(0, recv(d, buf, sizeof buf, 0));
    int r = send(d, "abc", 3, 0);
    if (r != SOCKET_ERROR) {
        Sleep(100);
        r = send(d, "abc", 3, 0);
    }
    EXPECT_WSA_FAILS(r, WSAECONNRESET);
    closesocket(d);
}

TEST_F(Sockets, ClosingASocketWakesAReceiveAndASelectThatWaitOnIt)
{
    // Windows fails the receive with WSAEINTR; Wine 8 reports WSAEINVAL.
    const int expected = RunningUnderWine() ? WSAEINVAL : WSAEINTR;
    SOCKET c, d;
    ASSERT_TRUE(Connected(&c, &d));
    BlockedReceive b;
    HANDLE t;
    for (SOCKET s : {BoundUdp(), d}) {
        t = StartBlocked(&b, ReceiveOnce, s);
        ASSERT_EQ(0, closesocket(s));
        EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(b.done, 5000));
        EXPECT_EQ(SOCKET_ERROR, b.result);
        EXPECT_EQ(expected, b.error);
        FinishBlocked(&b, t);
    }
    closesocket(c);

    // A select without time limit returns once the socket is closed.
    SOCKET l = Listener();
    t = StartBlocked(&b, SelectOnce, l);
    ASSERT_EQ(0, closesocket(l));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(b.done, 5000));
    EXPECT_NE(0, b.result);
    FinishBlocked(&b, t);
}

TEST_F(Sockets, HostNameAndLocalhostLookups)
{
    char name[256];
    ASSERT_EQ(0, gethostname(name, sizeof name));
    EXPECT_GT(strlen(name), 0u);
    if (!SystemResolvesName("localhost"))
        GTEST_SKIP() << "this system does not resolve \"localhost\" (no /etc/hosts entry): host-name look-ups untested";
    hostent *h = gethostbyname("localhost");
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(AF_INET, h->h_addrtype);
    EXPECT_EQ(4, h->h_length);
    ASSERT_NE(nullptr, h->h_addr_list[0]);
    uint32_t address;
    memcpy(&address, h->h_addr_list[0], 4);
    const uint32_t loop = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(loop, address);
    EXPECT_NE(nullptr, gethostbyaddr((const char *)&loop, 4, AF_INET));
}
