// The Winsock subset of the POSIX build (see win32_socket.h for the Windows
// behaviour that is kept).
#include "platform/posix/win32_base.h"
#include "platform/posix/win32_socket.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <vector>

namespace {

std::atomic<int> startupCount{0};

// What Windows remembers about a socket and the host does not.  Indexed by
// descriptor; descriptors beyond the table work without these extras.
enum : uint32_t {
    STATE_OPEN = 1u,
    STATE_REUSEADDR = 2u,     // SO_REUSEADDR as Windows reads it back
    STATE_EXCLUSIVE = 4u,     // SO_EXCLUSIVEADDRUSE
    STATE_RECV_SHUT = 8u,     // shutdown(SD_RECEIVE) was called
    STATE_SEND_SHUT = 16u,    // shutdown(SD_SEND) was called
    STATE_CONNECTING = 32u,   // a non-blocking connect is under way
    STATE_ABORTIVE = 64u,     // SO_LINGER on with time 0: close resets
};
struct SocketState {
    // Changes when the socket is closed, so that a thread that waited in a
    // receive or accept can tell that it was woken by closesocket.
    std::atomic<uint32_t> generation;
    std::atomic<uint32_t> flags;
    std::atomic<int32_t> rcvbuf;        // value set with SO_RCVBUF, 0: none
    std::atomic<int32_t> sndbuf;        // value set with SO_SNDBUF, 0: none
    std::atomic<int32_t> pendingError;  // WSA error of a failed connect for SO_ERROR
    // Threads inside a call that may wait on the socket.  closesocket lets
    // them leave before the descriptor is released, so that none of them
    // touches the number once it may belong to a new socket.
    std::atomic<int32_t> users;
};
constexpr SOCKET kTrackedSockets = 65536;
SocketState socketStates[kTrackedSockets];

SocketState *StateOf(SOCKET s) { return s < kTrackedSockets ? &socketStates[s] : nullptr; }

int FdOf(SOCKET s) { return s <= static_cast<SOCKET>(INT_MAX) ? static_cast<int>(s) : -1; }

int Fail(int error)
{
    SetLastError(static_cast<DWORD>(error));
    return SOCKET_ERROR;
}

int FailErrno(int err) { return Fail(WsaErrorFromErrno(err)); }

bool IsNonBlocking(int fd)
{
    int fl = fcntl(fd, F_GETFL);
    return fl >= 0 && (fl & O_NONBLOCK) != 0;
}

int SocketType(int fd)
{
    int type = 0;
    socklen_t len = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return 0;
    return type;
}

bool IsSocketDescriptor(int fd)
{
    struct stat sb;
    return fd >= 0 && fstat(fd, &sb) == 0 && S_ISSOCK(sb.st_mode);
}

void InitState(SOCKET s)
{
    SocketState *st = StateOf(s);
    if (st == nullptr)
        return;
    st->rcvbuf = 0;
    st->sndbuf = 0;
    st->pendingError = 0;
    st->flags = STATE_OPEN;
}

uint32_t FlagsOf(SOCKET s)
{
    SocketState *st = StateOf(s);
    return st != nullptr ? st->flags.load() : 0u;
}

void SetFlag(SOCKET s, uint32_t flag, bool on)
{
    SocketState *st = StateOf(s);
    if (st == nullptr)
        return;
    if (on)
        st->flags |= flag;
    else
        st->flags &= ~flag;
}

uint32_t GenerationOf(SOCKET s)
{
    SocketState *st = StateOf(s);
    return st != nullptr ? st->generation.load() : 0u;
}

bool ClosedSince(SOCKET s, uint32_t generation) { return GenerationOf(s) != generation; }

// Marks the calling thread as inside a call on the socket for its lifetime.
struct InUse {
    explicit InUse(SOCKET s) : state(StateOf(s))
    {
        if (state != nullptr)
            state->users++;
    }
    ~InUse()
    {
        if (state != nullptr)
            state->users--;
    }
    InUse(const InUse &) = delete;
    InUse &operator=(const InUse &) = delete;
    SocketState *state;
};

// A blocking call that ran into SO_RCVTIMEO/SO_SNDTIMEO reports EAGAIN on
// POSIX and WSAETIMEDOUT on Windows.
int FailWouldBlock(int fd) { return Fail(IsNonBlocking(fd) ? WSAEWOULDBLOCK : WSAETIMEDOUT); }

int CheckAddressLength(const struct sockaddr *addr, const int *length)
{
    if (addr != nullptr && (length == nullptr || *length < static_cast<int>(sizeof(struct sockaddr))))
        return 0;
    return 1;
}

// One receive of up to `count` buffers.  0 with *received set, or
// SOCKET_ERROR with the WSA error set.
int ReceiveCore(SOCKET s, struct iovec *iov, int count, int flags, struct sockaddr *from, int *fromlen,
                DWORD *received)
{
    *received = 0;
    int fd = FdOf(s);
    if (!CheckAddressLength(from, fromlen))
        return Fail(WSAEFAULT);
    if (FlagsOf(s) & STATE_RECV_SHUT)
        return Fail(WSAESHUTDOWN);
    InUse inside(s);
    uint32_t generation = GenerationOf(s);
    for (;;) {
        struct msghdr m;
        memset(&m, 0, sizeof m);
        m.msg_name = from;
        m.msg_namelen = from != nullptr ? static_cast<socklen_t>(*fromlen) : 0;
        m.msg_iov = iov;
        m.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = recvmsg(fd, &m, flags);
        if (n >= 0) {
            if (ClosedSince(s, generation))
                return Fail(WSAEINTR);
            if (n == 0 && (FlagsOf(s) & STATE_RECV_SHUT))
                return Fail(WSAESHUTDOWN);
            if (from != nullptr)
                *fromlen = static_cast<int>(m.msg_namelen);
            *received = static_cast<DWORD>(n);
            // Windows never truncates a datagram silently.
            if (m.msg_flags & MSG_TRUNC)
                return Fail(WSAEMSGSIZE);
            return 0;
        }
        int err = errno;
        if (ClosedSince(s, generation))
            return Fail(WSAEINTR);
        if (err == EINTR)
            continue;
        if (err == EAGAIN || err == EWOULDBLOCK)
            return FailWouldBlock(fd);
        return FailErrno(err);
    }
}

int SendCore(SOCKET s, struct iovec *iov, int count, int flags, const struct sockaddr *to, int tolen, DWORD *sent)
{
    *sent = 0;
    int fd = FdOf(s);
    if (to != nullptr && tolen < static_cast<int>(sizeof(struct sockaddr)))
        return Fail(WSAEFAULT);
    if (FlagsOf(s) & STATE_SEND_SHUT)
        return Fail(WSAESHUTDOWN);
    InUse inside(s);
    for (;;) {
        struct msghdr m;
        memset(&m, 0, sizeof m);
        m.msg_name = const_cast<struct sockaddr *>(to);
        m.msg_namelen = to != nullptr ? static_cast<socklen_t>(tolen) : 0;
        m.msg_iov = iov;
        m.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = sendmsg(fd, &m, flags | MSG_NOSIGNAL);
        if (n >= 0) {
            *sent = static_cast<DWORD>(n);
            return 0;
        }
        int err = errno;
        if (err == EINTR)
            continue;
        if (err == EAGAIN || err == EWOULDBLOCK)
            return FailWouldBlock(fd);
        if (err == EPIPE)
            return Fail((FlagsOf(s) & STATE_SEND_SHUT) ? WSAESHUTDOWN : WSAECONNRESET);
        return FailErrno(err);
    }
}

struct HostLookup {
    struct hostent entry;
    std::vector<char> buffer;
};
thread_local HostLookup hostLookup;

int WsaErrorFromHerrno(int herr)
{
    switch (herr) {
    case HOST_NOT_FOUND: return WSAHOST_NOT_FOUND;
    case TRY_AGAIN: return WSATRY_AGAIN;
    case NO_DATA: return WSANO_DATA;
    default: return WSANO_RECOVERY;
    }
}

bool StartedUp()
{
    if (startupCount.load() > 0)
        return true;
    SetLastError(WSANOTINITIALISED);
    return false;
}

} // namespace

// ------------------------------------------------------------------ errors
int WSAGetLastError(void) { return static_cast<int>(GetLastError()); }
void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

int WsaErrorFromErrno(int err)
{
    switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: case ENOTSOCK: return WSAENOTSOCK;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

// ---------------------------------------------------------- start and end
int WSAStartup(WORD versionRequested, LPWSADATA data)
{
    if (data == nullptr)
        return WSAEFAULT;
    if (LOBYTE(versionRequested) < 1)
        return WSAVERNOTSUPPORTED;
    memset(data, 0, sizeof *data);
    WORD highest = MAKEWORD(2, 2);
    bool above = LOBYTE(versionRequested) > 2 || (LOBYTE(versionRequested) == 2 && HIBYTE(versionRequested) >= 2);
    data->wVersion = above ? highest : versionRequested;
    data->wHighVersion = highest;
    snprintf(data->szDescription, sizeof data->szDescription, "%s", "WinSock 2.0");
    snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "%s", "Running");
    startupCount++;
    return 0;
}

int WSACleanup(void)
{
    int count = startupCount.load();
    while (count > 0) {
        if (startupCount.compare_exchange_weak(count, count - 1))
            return 0;
    }
    return Fail(WSANOTINITIALISED);
}

// ---------------------------------------------------------------- sockets
SOCKET WsaSocket(int af, int type, int protocol)
{
    if (!StartedUp())
        return INVALID_SOCKET;
    int fd = (::socket)(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno(errno);
        return INVALID_SOCKET;
    }
    if (type == SOCK_STREAM) {
        // Windows binds a port again while old connections of it wait in
        // TIME_WAIT; a port that another socket listens on stays refused.
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    SOCKET s = static_cast<SOCKET>(fd);
    InitState(s);
    return s;
}

SOCKET WSASocketA(int af, int type, int protocol, LPWSAPROTOCOL_INFOA info, GROUP group, DWORD flags)
{
    if (info != nullptr) {
        Fail(WSAEINVAL);
        return INVALID_SOCKET;
    }
    return WsaSocket(af, type, protocol);
}

int bind(SOCKET s, const struct sockaddr *name, int namelen)
{
    if (name == nullptr || namelen < static_cast<int>(sizeof(struct sockaddr)))
        return Fail(WSAEFAULT);
    if (::bind(FdOf(s), name, static_cast<socklen_t>(namelen)) != 0)
        return FailErrno(errno);
    return 0;
}

int listen(SOCKET s, int backlog)
{
    int fd = FdOf(s);
    // Windows refuses to listen on a socket that was never bound.
    struct sockaddr_storage local;
    socklen_t len = sizeof local;
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&local), &len) == 0 && local.ss_family == AF_INET &&
        reinterpret_cast<struct sockaddr_in *>(&local)->sin_port == 0)
        return Fail(WSAEINVAL);
    if (::listen(fd, backlog) != 0)
        return FailErrno(errno);
    return 0;
}

SOCKET accept(SOCKET s, struct sockaddr *addr, int *addrlen)
{
    int fd = FdOf(s);
    if (!CheckAddressLength(addr, addrlen)) {
        Fail(WSAEFAULT);
        return INVALID_SOCKET;
    }
    InUse inside(s);
    uint32_t generation = GenerationOf(s);
    for (;;) {
        socklen_t len = addr != nullptr ? static_cast<socklen_t>(*addrlen) : 0;
        int client = accept4(fd, addr, addr != nullptr ? &len : nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            if (IsNonBlocking(fd)) {
                int fl = fcntl(client, F_GETFL);
                fcntl(client, F_SETFL, fl | O_NONBLOCK);
            }
            if (addr != nullptr)
                *addrlen = static_cast<int>(len);
            SOCKET c = static_cast<SOCKET>(client);
            InitState(c);
            return c;
        }
        int err = errno;
        if (ClosedSince(s, generation)) {
            Fail(WSAEINTR);
            return INVALID_SOCKET;
        }
        if (err == EINTR || err == ECONNABORTED)
            continue;
        if (err == EAGAIN || err == EWOULDBLOCK)
            Fail(WSAEWOULDBLOCK);
        else
            FailErrno(err);
        return INVALID_SOCKET;
    }
}

int connect(SOCKET s, const struct sockaddr *name, int namelen)
{
    int fd = FdOf(s);
    if (name == nullptr || namelen < static_cast<int>(sizeof(struct sockaddr)))
        return Fail(WSAEFAULT);
    InUse inside(s);
    if (::connect(fd, name, static_cast<socklen_t>(namelen)) == 0) {
        SetFlag(s, STATE_CONNECTING, false);
        return 0;
    }
    int err = errno;
    if (err == EINPROGRESS && IsNonBlocking(fd)) {
        SocketState *st = StateOf(s);
        if (st != nullptr)
            st->pendingError = 0;
        SetFlag(s, STATE_CONNECTING, true);
        return Fail(WSAEWOULDBLOCK);
    }
    if (err == EINTR || err == EINPROGRESS) {
        // A blocking connect cut short by a signal goes on in the kernel:
        // wait for its outcome as Windows would have.
        struct pollfd p = {fd, POLLOUT, 0};
        while (poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        int soerr = 0;
        socklen_t len = sizeof soerr;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
        return soerr == 0 ? 0 : FailErrno(soerr);
    }
    return FailErrno(err);
}

int send(SOCKET s, const char *buf, int len, int flags)
{
    if (len < 0)
        return Fail(WSAEFAULT);
    struct iovec iov = {const_cast<char *>(buf), static_cast<size_t>(len)};
    DWORD sent = 0;
    if (SendCore(s, &iov, 1, flags, nullptr, 0, &sent) != 0)
        return SOCKET_ERROR;
    return static_cast<int>(sent);
}

int sendto(SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to, int tolen)
{
    if (len < 0)
        return Fail(WSAEFAULT);
    struct iovec iov = {const_cast<char *>(buf), static_cast<size_t>(len)};
    DWORD sent = 0;
    if (SendCore(s, &iov, 1, flags, to, tolen, &sent) != 0)
        return SOCKET_ERROR;
    return static_cast<int>(sent);
}

int recv(SOCKET s, char *buf, int len, int flags)
{
    if (len < 0)
        return Fail(WSAEFAULT);
    struct iovec iov = {buf, static_cast<size_t>(len)};
    DWORD received = 0;
    if (ReceiveCore(s, &iov, 1, flags, nullptr, nullptr, &received) != 0)
        return SOCKET_ERROR;
    return static_cast<int>(received);
}

int recvfrom(SOCKET s, char *buf, int len, int flags, struct sockaddr *from, int *fromlen)
{
    if (len < 0)
        return Fail(WSAEFAULT);
    struct iovec iov = {buf, static_cast<size_t>(len)};
    DWORD received = 0;
    if (ReceiveCore(s, &iov, 1, flags, from, fromlen, &received) != 0)
        return SOCKET_ERROR;
    return static_cast<int>(received);
}

int closesocket(SOCKET s)
{
    int fd = FdOf(s);
    if (!IsSocketDescriptor(fd))
        return Fail(WSAENOTSOCK);
    uint32_t flags = FlagsOf(s);
    SocketState *st = StateOf(s);
    if (st != nullptr) {
        st->generation++;
        st->flags = 0;
    }
    // Closing a descriptor does not wake other threads that wait on it; a
    // shutdown does.  An abortive close must not send a FIN first.
    if (!(flags & STATE_ABORTIVE) || (st != nullptr && st->users.load() > 0))
        (::shutdown)(fd, SHUT_RDWR);
    // Woken, they leave at once; the wait is bounded all the same.
    for (int waited = 0; st != nullptr && st->users.load() > 0 && waited < 2000; waited++)
        Sleep(1);
    if (close(fd) != 0)
        return FailErrno(errno);
    return 0;
}

int shutdown(SOCKET s, int how)
{
    int fd = FdOf(s);
    if (how < SD_RECEIVE || how > SD_BOTH)
        return Fail(WSAEINVAL);
    int listening = 0;
    socklen_t len = sizeof listening;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) != 0)
        return FailErrno(errno);
    if (listening)
        return Fail(WSAENOTCONN);
    if ((::shutdown)(fd, how) != 0) {
        int err = errno;
        // An unconnected datagram socket can be shut down on Windows.
        if (!(err == ENOTCONN && SocketType(fd) == SOCK_DGRAM))
            return FailErrno(err);
    }
    if (how == SD_RECEIVE || how == SD_BOTH)
        SetFlag(s, STATE_RECV_SHUT, true);
    if (how == SD_SEND || how == SD_BOTH)
        SetFlag(s, STATE_SEND_SHUT, true);
    return 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long *argp)
{
    int fd = FdOf(s);
    if (argp == nullptr)
        return Fail(WSAEFAULT);
    if (!IsSocketDescriptor(fd))
        return Fail(WSAENOTSOCK);
    if (cmd == static_cast<long>(FIONBIO)) {
        int fl = fcntl(fd, F_GETFL);
        if (fl < 0)
            return FailErrno(errno);
        fl = *argp != 0 ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK);
        if (fcntl(fd, F_SETFL, fl) != 0)
            return FailErrno(errno);
        return 0;
    }
    return Fail(WSAEINVAL);
}

int setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen)
{
    int fd = FdOf(s);
    if (optval == nullptr || optlen < 1)
        return Fail(WSAEFAULT);
    // BOOL options may come as one byte; the others need an int.
    int value = 0;
    if (optlen >= static_cast<int>(sizeof(int)))
        memcpy(&value, optval, sizeof value);
    else
        value = static_cast<unsigned char>(optval[0]);
    if (level != SOL_SOCKET) {
        if (level == IPPROTO_TCP && optname == TCP_NODELAY) {
            int on = value != 0;
            return ::setsockopt(fd, level, optname, &on, sizeof on) == 0 ? 0 : FailErrno(errno);
        }
        return ::setsockopt(fd, level, optname, static_cast<const void *>(optval), static_cast<socklen_t>(optlen)) == 0
                   ? 0
                   : FailErrno(errno);
    }
    bool needInt = optname == SO_RCVBUF || optname == SO_SNDBUF || optname == SO_RCVTIMEO || optname == SO_SNDTIMEO ||
                   optname == SO_LINGER;
    if (needInt && optlen < static_cast<int>(sizeof(int)))
        return Fail(WSAEFAULT);
    if (!IsSocketDescriptor(fd))
        return Fail(WSAENOTSOCK);
    switch (optname) {
    case SO_REUSEADDR: {
        int on = value != 0;
        // Sharing an address needs both the host's options; a stream socket
        // keeps SO_REUSEADDR for its TIME_WAIT behaviour either way.
        int reuse = on || SocketType(fd) == SOCK_STREAM;
        if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)
            return FailErrno(errno);
        SetFlag(s, STATE_REUSEADDR, on != 0);
        return 0;
    }
    case SO_EXCLUSIVEADDRUSE:
        SetFlag(s, STATE_EXCLUSIVE, value != 0);
        return 0;
    case SO_RCVBUF:
    case SO_SNDBUF: {
        if (value < 0)
            return Fail(WSAEINVAL);
        // Windows grants large buffers; with the privilege to do so the
        // host's limit is passed over as well.
        int force = optname == SO_RCVBUF ? SO_RCVBUFFORCE : SO_SNDBUFFORCE;
        if (::setsockopt(fd, SOL_SOCKET, force, &value, sizeof value) != 0 &&
            ::setsockopt(fd, SOL_SOCKET, optname, &value, sizeof value) != 0)
            return FailErrno(errno);
        SocketState *st = StateOf(s);
        if (st != nullptr)
            (optname == SO_RCVBUF ? st->rcvbuf : st->sndbuf) = value;
        return 0;
    }
    case SO_RCVTIMEO:
    case SO_SNDTIMEO: {
        DWORD ms = static_cast<DWORD>(value);
        struct timeval tv;
        tv.tv_sec = static_cast<time_t>(ms / 1000u);
        tv.tv_usec = static_cast<suseconds_t>((ms % 1000u) * 1000u);
        return ::setsockopt(fd, SOL_SOCKET, optname, &tv, sizeof tv) == 0 ? 0 : FailErrno(errno);
    }
    case SO_LINGER: {
        // Windows: struct linger of two u_short.
        unsigned short pair[2];
        memcpy(pair, optval, sizeof pair);
        struct linger l;
        l.l_onoff = pair[0] != 0;
        l.l_linger = pair[1];
        if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
            return FailErrno(errno);
        SetFlag(s, STATE_ABORTIVE, l.l_onoff && l.l_linger == 0);
        return 0;
    }
    case SO_DONTLINGER: {
        struct linger l;
        l.l_onoff = value == 0;
        l.l_linger = 0;
        if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
            return FailErrno(errno);
        SetFlag(s, STATE_ABORTIVE, l.l_onoff != 0);
        return 0;
    }
    case SO_BROADCAST:
    case SO_KEEPALIVE:
    case SO_DONTROUTE:
    case SO_OOBINLINE:
    case SO_DEBUG: {
        int on = value != 0;
        return ::setsockopt(fd, SOL_SOCKET, optname, &on, sizeof on) == 0 ? 0 : FailErrno(errno);
    }
    default:
        return Fail(WSAENOPROTOOPT);
    }
}

int getsockopt(SOCKET s, int level, int optname, char *optval, int *optlen)
{
    int fd = FdOf(s);
    if (optval == nullptr || optlen == nullptr || *optlen < static_cast<int>(sizeof(int)))
        return Fail(WSAEFAULT);
    if (level != SOL_SOCKET) {
        socklen_t len = static_cast<socklen_t>(*optlen);
        if (::getsockopt(fd, level, optname, optval, &len) != 0)
            return FailErrno(errno);
        *optlen = static_cast<int>(len);
        return 0;
    }
    if (!IsSocketDescriptor(fd))
        return Fail(WSAENOTSOCK);
    int value = 0;
    socklen_t len = sizeof value;
    switch (optname) {
    case SO_REUSEADDR:
        value = (FlagsOf(s) & STATE_REUSEADDR) ? 1 : 0;
        break;
    case SO_EXCLUSIVEADDRUSE:
        value = (FlagsOf(s) & STATE_EXCLUSIVE) ? 1 : 0;
        break;
    case SO_RCVBUF:
    case SO_SNDBUF: {
        SocketState *st = StateOf(s);
        value = st != nullptr ? (optname == SO_RCVBUF ? st->rcvbuf.load() : st->sndbuf.load()) : 0;
        if (value == 0 && ::getsockopt(fd, SOL_SOCKET, optname, &value, &len) != 0)
            return FailErrno(errno);
        break;
    }
    case SO_RCVTIMEO:
    case SO_SNDTIMEO: {
        struct timeval tv;
        socklen_t tlen = sizeof tv;
        if (::getsockopt(fd, SOL_SOCKET, optname, &tv, &tlen) != 0)
            return FailErrno(errno);
        value = static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
        break;
    }
    case SO_ERROR: {
        SocketState *st = StateOf(s);
        int pending = st != nullptr ? st->pendingError.exchange(0) : 0;
        if (pending != 0) {
            value = pending;
            break;
        }
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &len) != 0)
            return FailErrno(errno);
        value = WsaErrorFromErrno(value);
        break;
    }
    case SO_LINGER:
    case SO_DONTLINGER: {
        struct linger l;
        socklen_t llen = sizeof l;
        if (::getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &llen) != 0)
            return FailErrno(errno);
        if (optname == SO_DONTLINGER) {
            value = l.l_onoff == 0;
            break;
        }
        unsigned short pair[2] = {static_cast<unsigned short>(l.l_onoff != 0),
                                  static_cast<unsigned short>(l.l_linger)};
        memcpy(optval, pair, sizeof pair);
        *optlen = sizeof pair;
        return 0;
    }
    case SO_TYPE:
    case SO_ACCEPTCONN:
    case SO_BROADCAST:
    case SO_KEEPALIVE:
    case SO_DONTROUTE:
    case SO_OOBINLINE:
    case SO_DEBUG:
        if (::getsockopt(fd, SOL_SOCKET, optname, &value, &len) != 0)
            return FailErrno(errno);
        break;
    default:
        return Fail(WSAENOPROTOOPT);
    }
    memcpy(optval, &value, sizeof value);
    *optlen = sizeof value;
    return 0;
}

int getsockname(SOCKET s, struct sockaddr *name, int *namelen)
{
    if (!CheckAddressLength(name, namelen) || name == nullptr)
        return Fail(WSAEFAULT);
    socklen_t len = static_cast<socklen_t>(*namelen);
    if (::getsockname(FdOf(s), name, &len) != 0)
        return FailErrno(errno);
    // Windows has no name for a socket that was never bound.
    if (name->sa_family == AF_INET && reinterpret_cast<struct sockaddr_in *>(name)->sin_port == 0)
        return Fail(WSAEINVAL);
    *namelen = static_cast<int>(len);
    return 0;
}

int getpeername(SOCKET s, struct sockaddr *name, int *namelen)
{
    if (!CheckAddressLength(name, namelen) || name == nullptr)
        return Fail(WSAEFAULT);
    socklen_t len = static_cast<socklen_t>(*namelen);
    if (::getpeername(FdOf(s), name, &len) != 0)
        return FailErrno(errno);
    *namelen = static_cast<int>(len);
    return 0;
}

int WsaGetHostName(char *name, int namelen)
{
    if (!StartedUp())
        return SOCKET_ERROR;
    char host[256];
    if ((::gethostname)(host, sizeof host) != 0)
        return FailErrno(errno);
    host[sizeof host - 1] = '\0';
    size_t need = strlen(host) + 1;
    if (name == nullptr || namelen < 0 || need > static_cast<size_t>(namelen))
        return Fail(WSAEFAULT);
    memcpy(name, host, need);
    return 0;
}

struct hostent *WsaGetHostByName(const char *name)
{
    if (!StartedUp())
        return nullptr;
    char local[256];
    if (name == nullptr) {
        if ((::gethostname)(local, sizeof local) != 0) {
            FailErrno(errno);
            return nullptr;
        }
        local[sizeof local - 1] = '\0';
        name = local;
    }
    HostLookup &h = hostLookup;
    if (h.buffer.empty())
        h.buffer.resize(16384);
    struct hostent *result = nullptr;
    int herr = 0;
    int rc = gethostbyname_r(name, &h.entry, h.buffer.data(), h.buffer.size(), &result, &herr);
    if (rc != 0 || result == nullptr) {
        Fail(rc == ERANGE ? WSANO_RECOVERY : WsaErrorFromHerrno(herr));
        return nullptr;
    }
    return result;
}

struct hostent *WsaGetHostByAddr(const char *addr, int len, int type)
{
    if (!StartedUp())
        return nullptr;
    if (addr == nullptr || len <= 0) {
        Fail(WSAEFAULT);
        return nullptr;
    }
    HostLookup &h = hostLookup;
    if (h.buffer.empty())
        h.buffer.resize(16384);
    struct hostent *result = nullptr;
    int herr = 0;
    int rc = gethostbyaddr_r(addr, static_cast<socklen_t>(len), type, &h.entry, h.buffer.data(), h.buffer.size(),
                             &result, &herr);
    if (rc != 0 || result == nullptr) {
        Fail(rc == ERANGE ? WSANO_RECOVERY : WsaErrorFromHerrno(herr));
        return nullptr;
    }
    return result;
}

// ----------------------------------------------------------------- select
int WsaSelect(int nfds, WsaFdSet *readfds, WsaFdSet *writefds, WsaFdSet *exceptfds, const struct timeval *timeout)
{
    WsaFdSet *sets[3] = {readfds, writefds, exceptfds};
    const short events[3] = {POLLIN, POLLOUT, POLLPRI};
    struct pollfd fds[3 * FD_SETSIZE];
    int count = 0;
    for (int k = 0; k < 3; k++) {
        if (sets[k] == nullptr)
            continue;
        if (sets[k]->fd_count > FD_SETSIZE)
            return Fail(WSAEINVAL);
        for (u_int i = 0; i < sets[k]->fd_count; i++) {
            int fd = FdOf(sets[k]->fd_array[i]);
            if (fd < 0)
                return Fail(WSAENOTSOCK);
            int j = 0;
            while (j < count && fds[j].fd != fd)
                j++;
            if (j == count) {
                fds[count].fd = fd;
                fds[count].events = 0;
                fds[count].revents = 0;
                count++;
            }
            fds[j].events = static_cast<short>(fds[j].events | events[k]);
        }
    }
    if (count == 0)
        return Fail(WSAEINVAL);
    if (timeout != nullptr && (timeout->tv_sec < 0 || timeout->tv_usec < 0))
        return Fail(WSAEINVAL);
    struct Users {
        struct pollfd *fds;
        int count;
        Users(struct pollfd *f, int n) : fds(f), count(n)
        {
            for (int j = 0; j < count; j++) {
                SocketState *st = StateOf(static_cast<SOCKET>(fds[j].fd));
                if (st != nullptr)
                    st->users++;
            }
        }
        ~Users()
        {
            for (int j = 0; j < count; j++) {
                SocketState *st = StateOf(static_cast<SOCKET>(fds[j].fd));
                if (st != nullptr)
                    st->users--;
            }
        }
    } inside(fds, count);

    struct timespec deadline = {0, 0};
    if (timeout != nullptr) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeout->tv_sec + timeout->tv_usec / 1000000;
        deadline.tv_nsec += static_cast<long>(timeout->tv_usec % 1000000) * 1000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec++;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    int ready;
    for (;;) {
        int wait = -1;
        if (timeout != nullptr) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            long long left = (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1000LL +
                             (deadline.tv_nsec - now.tv_nsec + 999999L) / 1000000L;
            wait = left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
        }
        ready = poll(fds, static_cast<nfds_t>(count), wait);
        if (ready >= 0)
            break;
        if (errno != EINTR)
            return FailErrno(errno);
    }
    for (int j = 0; j < count; j++) {
        if (fds[j].revents & POLLNVAL)
            return Fail(WSAENOTSOCK);
    }

    // Per socket: readable, writable, exceptional, as Windows reports them.
    bool readable[3 * FD_SETSIZE], writable[3 * FD_SETSIZE], exceptional[3 * FD_SETSIZE];
    for (int j = 0; j < count; j++) {
        short r = fds[j].revents;
        SOCKET s = static_cast<SOCKET>(fds[j].fd);
        bool failed = (r & (POLLERR | POLLHUP)) != 0;
        if (FlagsOf(s) & STATE_CONNECTING) {
            // A non-blocking connect: success shows as writable, failure
            // only in the exception set, with its error kept for SO_ERROR.
            readable[j] = (r & POLLIN) && !failed;
            writable[j] = (r & POLLOUT) && !failed;
            exceptional[j] = failed || (r & POLLPRI);
            if (failed) {
                int soerr = 0;
                socklen_t len = sizeof soerr;
                getsockopt(fds[j].fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
                SocketState *st = StateOf(s);
                if (st != nullptr)
                    st->pendingError = WsaErrorFromErrno(soerr != 0 ? soerr : ECONNREFUSED);
            }
            if (failed || (r & POLLOUT))
                SetFlag(s, STATE_CONNECTING, false);
        } else {
            readable[j] = (r & (POLLIN | POLLHUP | POLLERR | POLLRDHUP)) != 0;
            writable[j] = (r & (POLLOUT | POLLERR | POLLHUP)) != 0;
            exceptional[j] = (r & POLLPRI) != 0;
        }
    }
    int total = 0;
    for (int k = 0; k < 3; k++) {
        WsaFdSet *set = sets[k];
        if (set == nullptr)
            continue;
        u_int kept = 0;
        for (u_int i = 0; i < set->fd_count; i++) {
            int fd = FdOf(set->fd_array[i]);
            int j = 0;
            while (fds[j].fd != fd)
                j++;
            bool on = k == 0 ? readable[j] : (k == 1 ? writable[j] : exceptional[j]);
            if (on)
                set->fd_array[kept++] = set->fd_array[i];
        }
        set->fd_count = kept;
        total += static_cast<int>(kept);
    }
    return total;
}

// ---------------------------------------------------------- WSA extensions
namespace {
constexpr DWORD kMaxBuffers = 16;

bool FillIovec(LPWSABUF buffers, DWORD count, struct iovec *iov)
{
    if (buffers == nullptr || count == 0 || count > kMaxBuffers)
        return false;
    for (DWORD i = 0; i < count; i++) {
        iov[i].iov_base = buffers[i].buf;
        iov[i].iov_len = buffers[i].len;
    }
    return true;
}

void CompleteOverlapped(LPWSAOVERLAPPED overlapped, int result, DWORD transferred)
{
    if (overlapped == nullptr)
        return;
    overlapped->Internal = result == 0 ? 0 : static_cast<ULONG_PTR>(GetLastError());
    overlapped->InternalHigh = transferred;
    if (overlapped->hEvent != nullptr) {
        DWORD error = GetLastError();
        SetEvent(overlapped->hEvent);
        SetLastError(error);
    }
}
} // namespace

int WSARecvFrom(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags, struct sockaddr *from,
                LPINT fromlen, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine)
{
    struct iovec iov[kMaxBuffers];
    if (routine != nullptr)
        return Fail(WSAEINVAL);
    if (!FillIovec(buffers, count, iov))
        return Fail(WSAEFAULT);
    DWORD got = 0;
    int inFlags = flags != nullptr ? static_cast<int>(*flags) : 0;
    int result = ReceiveCore(s, iov, static_cast<int>(count), inFlags, from, fromlen, &got);
    if (received != nullptr)
        *received = got;
    if (flags != nullptr)
        *flags = 0;
    CompleteOverlapped(overlapped, result, got);
    return result;
}

int WSASendTo(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags, const struct sockaddr *to,
              int tolen, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine)
{
    struct iovec iov[kMaxBuffers];
    if (routine != nullptr)
        return Fail(WSAEINVAL);
    if (!FillIovec(buffers, count, iov))
        return Fail(WSAEFAULT);
    DWORD done = 0;
    int result = SendCore(s, iov, static_cast<int>(count), static_cast<int>(flags), to, tolen, &done);
    if (sent != nullptr)
        *sent = done;
    CompleteOverlapped(overlapped, result, done);
    return result;
}

BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED overlapped, LPDWORD transferred, BOOL wait, LPDWORD flags)
{
    if (overlapped == nullptr || transferred == nullptr) {
        Fail(WSAEFAULT);
        return FALSE;
    }
    *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (flags != nullptr)
        *flags = 0;
    if (overlapped->Internal != 0) {
        SetLastError(static_cast<DWORD>(overlapped->Internal));
        return FALSE;
    }
    return TRUE;
}

WSAEVENT WSACreateEvent(void) { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
BOOL WSACloseEvent(WSAEVENT event) { return CloseHandle(event); }
BOOL WSASetEvent(WSAEVENT event) { return SetEvent(event); }
BOOL WSAResetEvent(WSAEVENT event) { return ResetEvent(event); }
