// The Winsock subset of the POSIX build: the Windows socket API with Windows
// semantics and WSA error numbers, over the host's BSD sockets.
//
// A SOCKET is the descriptor number as an unsigned pointer-sized value, so
// INVALID_SOCKET is ~0 as on Windows.  The address types (sockaddr,
// sockaddr_in, in_addr, hostent, timeval) and the constants are the host's
// own; the functions are C++ overloads taking SOCKET, so a call with a SOCKET
// reaches this layer and never the C library.  Some names cannot be
// overloaded and are macros: socket(), select(), gethostname(),
// gethostbyname() and gethostbyaddr() (thread-local results as on Windows),
// and fd_set, which is the Windows layout (a count and an array of 64
// sockets) in place of the host's bit set.
// The host headers are included first so that these macros never touch them;
// the macros take any arguments, so a member function of the same name is
// renamed alike where it is declared and where it is called.
//
// Windows behaviour kept here:
// - socket() fails with WSANOTINITIALISED before WSAStartup.
// - Errors are WSA numbers in the thread's last error (WSAGetLastError is
//   GetLastError, as on Windows).
// - A datagram larger than the receive buffer fails with WSAEMSGSIZE; the
//   buffer holds its first bytes and the datagram is consumed.
// - SO_RCVTIMEO and SO_SNDTIMEO take a DWORD of milliseconds; a timed-out
//   receive fails with WSAETIMEDOUT.  SO_RCVBUF/SO_SNDBUF read back the value
//   that was set.  SO_ERROR reads a WSA number.  SO_REUSEADDR lets another
//   socket share the address; without it a stream socket may still be bound
//   while old connections of its port linger in TIME_WAIT.
// - closesocket() from another thread wakes a receive, accept or select that
//   waits on the socket: the receive and accept fail with WSAEINTR, select
//   returns the socket as readable.
// - shutdown(SD_RECEIVE) makes later receives fail with WSAESHUTDOWN, and
//   sends after shutdown(SD_SEND) fail the same way; shutdown of a listening
//   socket fails with WSAENOTCONN.
// - An accepted socket inherits non-blocking mode from its listener; a
//   non-blocking connect fails with WSAEWOULDBLOCK and a refused one shows in
//   select's exception set, not the write set.
// - Sends never raise SIGPIPE.
// - select() ignores its first argument, fails with WSAEINVAL when no socket
//   is given, with WSAENOTSOCK for a socket that is not open, and rewrites
//   each set to hold only the ready sockets.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/posix/win32_types.h"

typedef uintptr_t SOCKET;
#define INVALID_SOCKET (~(SOCKET)0)
#define SOCKET_ERROR (-1)

typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;
typedef struct in_addr IN_ADDR, *PIN_ADDR, *LPIN_ADDR;
typedef struct hostent HOSTENT, *PHOSTENT, *LPHOSTENT;
typedef struct timeval TIMEVAL, *PTIMEVAL, *LPTIMEVAL;

#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2

// Options that exist only on Windows.
#define SO_EXCLUSIVEADDRUSE ((int)(~SO_REUSEADDR))
#define SO_DONTLINGER ((int)(~SO_LINGER))

// --- Errors ------------------------------------------------------------------
#define WSABASEERR 10000
#define WSAEINTR 10004L
#define WSAEBADF 10009L
#define WSAEACCES 10013L
#define WSAEFAULT 10014L
#define WSAEINVAL 10022L
#define WSAEMFILE 10024L
#define WSAEWOULDBLOCK 10035L
#define WSAEINPROGRESS 10036L
#define WSAEALREADY 10037L
#define WSAENOTSOCK 10038L
#define WSAEDESTADDRREQ 10039L
#define WSAEMSGSIZE 10040L
#define WSAEPROTOTYPE 10041L
#define WSAENOPROTOOPT 10042L
#define WSAEPROTONOSUPPORT 10043L
#define WSAESOCKTNOSUPPORT 10044L
#define WSAEOPNOTSUPP 10045L
#define WSAEPFNOSUPPORT 10046L
#define WSAEAFNOSUPPORT 10047L
#define WSAEADDRINUSE 10048L
#define WSAEADDRNOTAVAIL 10049L
#define WSAENETDOWN 10050L
#define WSAENETUNREACH 10051L
#define WSAENETRESET 10052L
#define WSAECONNABORTED 10053L
#define WSAECONNRESET 10054L
#define WSAENOBUFS 10055L
#define WSAEISCONN 10056L
#define WSAENOTCONN 10057L
#define WSAESHUTDOWN 10058L
#define WSAETOOMANYREFS 10059L
#define WSAETIMEDOUT 10060L
#define WSAECONNREFUSED 10061L
#define WSAELOOP 10062L
#define WSAENAMETOOLONG 10063L
#define WSAEHOSTDOWN 10064L
#define WSAEHOSTUNREACH 10065L
#define WSAENOTEMPTY 10066L
#define WSAEPROCLIM 10067L
#define WSAEUSERS 10068L
#define WSAEDQUOT 10069L
#define WSAESTALE 10070L
#define WSAEREMOTE 10071L
#define WSASYSNOTREADY 10091L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSAEDISCON 10101L
#define WSAHOST_NOT_FOUND 11001L
#define WSATRY_AGAIN 11002L
#define WSANO_RECOVERY 11003L
#define WSANO_DATA 11004L
#define WSA_IO_PENDING ERROR_IO_PENDING
#define WSA_IO_INCOMPLETE 996L
#define WSA_INVALID_HANDLE ERROR_INVALID_HANDLE
#define WSA_INVALID_PARAMETER ERROR_INVALID_PARAMETER
#define WSA_OPERATION_ABORTED 995L

int WSAGetLastError(void);
void WSASetLastError(int error);
// The WSA error number for a POSIX errno value of a socket call.
int WsaErrorFromErrno(int err);

// --- Start and end -------------------------------------------------------------
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup(void);

// --- Sockets ---------------------------------------------------------------------
SOCKET WsaSocket(int af, int type, int protocol);
#define socket(...) WsaSocket(__VA_ARGS__)

int bind(SOCKET s, const struct sockaddr *name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, struct sockaddr *addr, int *addrlen);
int connect(SOCKET s, const struct sockaddr *name, int namelen);
int send(SOCKET s, const char *buf, int len, int flags);
int recv(SOCKET s, char *buf, int len, int flags);
int sendto(SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to, int tolen);
int recvfrom(SOCKET s, char *buf, int len, int flags, struct sockaddr *from, int *fromlen);
// A length given as size_t (sizeof) is an int on Windows; these forwarders
// take it so that the C library's recv(int, void *, size_t, int) never
// becomes the better match for a SOCKET.
template <typename B, typename L>
inline int send(SOCKET s, const B *buf, L len, int flags)
{
    return send(s, reinterpret_cast<const char *>(buf), static_cast<int>(len), flags);
}
template <typename B, typename L>
inline int recv(SOCKET s, B *buf, L len, int flags)
{
    return recv(s, reinterpret_cast<char *>(buf), static_cast<int>(len), flags);
}
template <typename B, typename L, typename T>
inline int sendto(SOCKET s, const B *buf, L len, int flags, const struct sockaddr *to, T tolen)
{
    return sendto(s, reinterpret_cast<const char *>(buf), static_cast<int>(len), flags, to, static_cast<int>(tolen));
}
template <typename B, typename L>
inline int recvfrom(SOCKET s, B *buf, L len, int flags, struct sockaddr *from, int *fromlen)
{
    return recvfrom(s, reinterpret_cast<char *>(buf), static_cast<int>(len), flags, from, fromlen);
}
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int ioctlsocket(SOCKET s, long cmd, u_long *argp);
int setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char *optval, int *optlen);
int getsockname(SOCKET s, struct sockaddr *name, int *namelen);
int getpeername(SOCKET s, struct sockaddr *name, int *namelen);
int WsaGetHostName(char *name, int namelen);
#define gethostname(...) WsaGetHostName(__VA_ARGS__)

// Host look-ups with the result in storage of the calling thread, valid until
// its next look-up, as on Windows.  Failure: null with WSAHOST_NOT_FOUND,
// WSATRY_AGAIN, WSANO_RECOVERY or WSANO_DATA.
struct hostent *WsaGetHostByName(const char *name);
struct hostent *WsaGetHostByAddr(const char *addr, int len, int type);
#define gethostbyname(...) WsaGetHostByName(__VA_ARGS__)
#define gethostbyaddr(...) WsaGetHostByAddr(__VA_ARGS__)

// --- select over a Windows fd_set -------------------------------------------------
#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef FD_ZERO
#define FD_SETSIZE 64
typedef struct WsaFdSet {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
} WsaFdSet;
#define fd_set WsaFdSet
typedef WsaFdSet *PFD_SET, *LPFD_SET;

// FD_SET adds a socket once; a full set ignores further sockets.
inline void WsaFdSetAdd(SOCKET s, WsaFdSet *set)
{
    u_int i;
    for (i = 0; i < set->fd_count; i++) {
        if (set->fd_array[i] == s)
            return;
    }
    if (set->fd_count < FD_SETSIZE)
        set->fd_array[set->fd_count++] = s;
}
inline int WsaFdIsSet(SOCKET s, const WsaFdSet *set)
{
    for (u_int i = 0; i < set->fd_count; i++) {
        if (set->fd_array[i] == s)
            return 1;
    }
    return 0;
}
#define FD_SET(fd, set) WsaFdSetAdd((SOCKET)(fd), (set))
#define FD_ISSET(fd, set) WsaFdIsSet((SOCKET)(fd), (set))
#define FD_ZERO(set) ((void)((set)->fd_count = 0))

// Returns the number of ready sockets over all three sets (a socket in two
// sets counts twice), 0 on timeout (the sets are then empty), or SOCKET_ERROR.
// A null timeout waits without limit.
int WsaSelect(int nfds, WsaFdSet *readfds, WsaFdSet *writefds, WsaFdSet *exceptfds, const struct timeval *timeout);
// A macro, so that even a call with three null sets comes here.
#define select(...) WsaSelect(__VA_ARGS__)

// --- WSA extensions -----------------------------------------------------------
typedef HANDLE WSAEVENT;
typedef OVERLAPPED WSAOVERLAPPED, *LPWSAOVERLAPPED;
#define WSA_INVALID_EVENT ((WSAEVENT) nullptr)
#define WSA_FLAG_OVERLAPPED 0x01u
typedef struct _WSABUF {
    ULONG len;
    char *buf;
} WSABUF, *LPWSABUF;
typedef struct _WSAPROTOCOL_INFOA WSAPROTOCOL_INFOA, *LPWSAPROTOCOL_INFOA;
typedef unsigned int GROUP;
typedef void (*LPWSAOVERLAPPED_COMPLETION_ROUTINE)(DWORD error, DWORD transferred, LPWSAOVERLAPPED overlapped,
                                                   DWORD flags);

// Only a null protocol record is supported; the overlapped flag is accepted
// (receives are always served as described at WSARecvFrom).
SOCKET WSASocketA(int af, int type, int protocol, LPWSAPROTOCOL_INFOA info, GROUP group, DWORD flags);
#define WSASocket WSASocketA

// Receives one datagram (or stream bytes) into the buffers, blocking until it
// comes; the sender goes to `from`.  Each datagram of a socket shared by
// several threads goes to exactly one of them.  With an overlapped record the
// receive still completes before the call returns: the result is 0 with the
// byte count in *received and in the record (InternalHigh), the record's
// event is set, and WSAGetOverlappedResult reports the same; a failure
// returns SOCKET_ERROR with the error (never WSA_IO_PENDING).  Completion
// routines are not supported (WSAEINVAL).
int WSARecvFrom(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD received, LPDWORD flags, struct sockaddr *from,
                LPINT fromlen, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine);
int WSASendTo(SOCKET s, LPWSABUF buffers, DWORD count, LPDWORD sent, DWORD flags, const struct sockaddr *to,
              int tolen, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE routine);
BOOL WSAGetOverlappedResult(SOCKET s, LPWSAOVERLAPPED overlapped, LPDWORD transferred, BOOL wait, LPDWORD flags);

// Manual-reset events, as on Windows.
WSAEVENT WSACreateEvent(void);
BOOL WSACloseEvent(WSAEVENT event);
BOOL WSASetEvent(WSAEVENT event);
BOOL WSAResetEvent(WSAEVENT event);
