// A raw-packet RPC client for tests (see rpc_test_client.h).
#include "support/rpc_test_client.h"

#include <cstring>

namespace {

// Milliseconds left of a wait that began at `start`.
int Left(DWORD start, int timeout_ms)
{
    DWORD spent = GetTickCount() - start;
    return spent >= (DWORD)timeout_ms ? 0 : timeout_ms - (int)spent;
}

bool WaitReadable(SOCKET s, int timeout_ms)
{
    fd_set r;
    FD_ZERO(&r);
    FD_SET(s, &r);
    timeval tv;
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    return select(0, &r, nullptr, nullptr, &tv) > 0;
}

} // namespace

void PutWord(std::string &out, uint32_t value)
{
    uint32_t n = htonl(value);
    out.append((const char *)&n, 4);
}

void PutOpaque(std::string &out, const std::string &bytes)
{
    PutWord(out, (uint32_t)bytes.size());
    out += bytes;
    out.append((4 - bytes.size() % 4) % 4, '\0');
}

std::string Words(std::initializer_list<uint32_t> words)
{
    std::string out;
    for (uint32_t w : words)
        PutWord(out, w);
    return out;
}

std::string CountedOpaque(const std::string &bytes)
{
    std::string out;
    PutOpaque(out, bytes);
    return out;
}

std::string BuildCall(const RpcCallParts &p)
{
    return Words({p.xid, p.msg_type, p.rpcvers, p.prog, p.vers, p.proc, p.cred_flavor}) + CountedOpaque(p.cred_body) +
           Words({p.verf_flavor}) + CountedOpaque(p.verf_body);
}

std::string NullAuthCall(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc, const std::string &args)
{
    return Words({xid, 0, 2, prog, vers, proc, 0, 0, 0, 0}) + args;
}

std::string AuthUnixBody(uint32_t stamp, const std::string &machine, uint32_t uid, uint32_t gid,
                         const std::vector<uint32_t> &gids)
{
    std::string out = Words({stamp}) + CountedOpaque(machine) + Words({uid, gid, (uint32_t)gids.size()});
    for (uint32_t g : gids)
        PutWord(out, g);
    return out;
}

std::string RecordMark(uint32_t length, bool last)
{
    return Words({(last ? 0x80000000u : 0u) | (length & 0x7FFFFFFFu)});
}

std::string AsRecord(const std::string &message, size_t fragment)
{
    if (fragment == 0 || fragment >= message.size())
        return RecordMark((uint32_t)message.size(), true) + message;
    std::string out;
    for (size_t pos = 0; pos < message.size(); pos += fragment) {
        size_t n = message.size() - pos < fragment ? message.size() - pos : fragment;
        out += RecordMark((uint32_t)n, pos + n == message.size()) + message.substr(pos, n);
    }
    return out;
}

uint32_t WordAt(const std::string &bytes, size_t offset)
{
    if (offset + 4 > bytes.size())
        return 0xDEADBEEFu;
    uint32_t n;
    memcpy(&n, bytes.data() + offset, 4);
    return ntohl(n);
}

RpcReplyView ParseReply(const std::string &bytes)
{
    RpcReplyView r;
    r.xid = WordAt(bytes, 0);
    r.msg_type = WordAt(bytes, 4);
    r.reply_stat = WordAt(bytes, 8);
    if (r.reply_stat == 1) {  // denied: RPC_MISMATCH with its versions, or AUTH_ERROR
        r.valid = bytes.size() >= 16;
        r.low = WordAt(bytes, 16);
        r.high = WordAt(bytes, 20);
        return r;
    }
    r.verf_flavor = WordAt(bytes, 12);
    uint32_t verf_length = WordAt(bytes, 16);
    size_t pos = 20 + ((verf_length + 3u) & ~3u);
    if (bytes.size() < 24 || verf_length > 400 || pos + 4 > bytes.size())
        return r;
    r.verf_body = bytes.substr(20, verf_length);
    r.accept_stat = WordAt(bytes, pos);
    r.low = WordAt(bytes, pos + 4);  // PROG_MISMATCH
    r.high = WordAt(bytes, pos + 8);
    if (r.accept_stat == 0)
        r.results = bytes.substr(pos + 4);
    r.valid = true;
    return r;
}

bool RpcTestStartup()
{
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

sockaddr_in RpcTestAddress(uint16_t port, const char *ip)
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(ip);
    return a;
}

uint16_t RpcTestFreePort()
{
    for (int attempt = 0; attempt < 20; attempt++) {
        SOCKET u = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a = RpcTestAddress(0, "0.0.0.0");
        bind(u, (sockaddr *)&a, sizeof a);
        int len = sizeof a;
        getsockname(u, (sockaddr *)&a, &len);
        SOCKET t = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        bool available = bind(t, (sockaddr *)&a, sizeof a) == 0;
        closesocket(u);
        closesocket(t);
        if (available)
            return ntohs(a.sin_port);
    }
    return 0;
}

// ----------------------------------------------------------------------- UDP
RpcUdpClient::RpcUdpClient(const char *local_ip) : socket_(INVALID_SOCKET)
{
    if (!RpcTestStartup())
        return;
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = RpcTestAddress(0, local_ip);
    if (socket_ != INVALID_SOCKET && bind(socket_, (sockaddr *)&local, sizeof local) != 0) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

RpcUdpClient::~RpcUdpClient()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

bool RpcUdpClient::Send(const sockaddr_in &to, const std::string &bytes)
{
    return sendto(socket_, bytes.data(), (int)bytes.size(), 0, (const sockaddr *)&to, sizeof to) ==
           (int)bytes.size();
}

bool RpcUdpClient::Receive(std::string *bytes, int timeout_ms, sockaddr_in *from)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (!WaitReadable(socket_, Left(start, timeout_ms)))
            return false;
        static thread_local char buf[65536];
        sockaddr_in sender;
        int len = sizeof sender;
        int n = recvfrom(socket_, buf, (int)sizeof buf, 0, (sockaddr *)&sender, &len);
        if (n >= 0) {
            bytes->assign(buf, (size_t)n);
            if (from != nullptr)
                *from = sender;
            return true;
        }
        // Windows reports an ICMP port-unreachable of an earlier send as
        // WSAECONNRESET on the next receive: not a datagram, keep waiting.
        if (WSAGetLastError() != WSAECONNRESET || Left(start, timeout_ms) == 0)
            return false;
    }
}

bool RpcUdpClient::Call(const sockaddr_in &to, const std::string &call, std::string *reply, int timeout_ms)
{
    if (!Send(to, call))
        return false;
    DWORD start = GetTickCount();
    while (Receive(reply, Left(start, timeout_ms))) {
        if (reply->size() >= 4 && WordAt(*reply, 0) == WordAt(call, 0))
            return true;
    }
    return false;
}

void DrainSocket(SOCKET s)
{
    static thread_local char buffer[65536];
    // (A Windows port-unreachable report of an earlier send is no datagram.)
    while (WaitReadable(s, 0) && (recv(s, buffer, (int)sizeof buffer, 0) > 0 || WSAGetLastError() == WSAECONNRESET)) {
    }
}

void RpcUdpClient::Drain()
{
    DrainSocket(socket_);
}

// ----------------------------------------------------------------------- TCP
RpcTcpClient::RpcTcpClient() : socket_(INVALID_SOCKET) {}

RpcTcpClient::~RpcTcpClient() { Close(); }

void RpcTcpClient::Close()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

bool RpcTcpClient::Connect(const sockaddr_in &to, const char *local_ip)
{
    Close();
    if (!RpcTestStartup())
        return false;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET)
        return false;
    if (local_ip != nullptr) {
        sockaddr_in local = RpcTestAddress(0, local_ip);
        bind(socket_, (const sockaddr *)&local, sizeof local);  // where it cannot be had: 127.0.0.1
    }
    if (connect(socket_, (const sockaddr *)&to, sizeof to) != 0) {
        Close();
        return false;
    }
    return true;
}

bool RpcTcpClient::SendRaw(const std::string &bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(socket_, bytes.data() + sent, (int)(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += (size_t)n;
    }
    return true;
}

bool RpcTcpClient::ReceiveExactly(char *out, int length, int timeout_ms)
{
    DWORD start = GetTickCount();
    int have = 0;
    while (have < length) {
        if (!WaitReadable(socket_, Left(start, timeout_ms)))
            return false;
        int n = recv(socket_, out + have, length - have, 0);
        if (n <= 0)
            return false;
        have += n;
    }
    return true;
}

bool RpcTcpClient::ReceiveRecord(std::string *message, int timeout_ms)
{
    DWORD start = GetTickCount();
    message->clear();
    for (;;) {
        char mark[4];
        if (!ReceiveExactly(mark, 4, Left(start, timeout_ms)))
            return false;
        uint32_t m = WordAt(std::string(mark, 4), 0);
        uint32_t length = m & 0x7FFFFFFFu;
        if (length > 16u * 1024 * 1024)
            return false;
        size_t at = message->size();
        message->resize(at + length);
        if (length > 0 && !ReceiveExactly(&(*message)[at], (int)length, Left(start, timeout_ms)))
            return false;
        if (m & 0x80000000u)
            return true;
    }
}

bool RpcTcpClient::Call(const std::string &call, std::string *reply, int timeout_ms, size_t fragment)
{
    return SendRaw(AsRecord(call, fragment)) && ReceiveRecord(reply, timeout_ms);
}
