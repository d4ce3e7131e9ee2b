#include "support/pmap_test_calls.h"

#include "support/rpc_test_client.h"

std::string PmapMappingArgs(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port)
{
    return Words({prog, vers, prot, port});
}

std::string PmapCallitArgs(uint32_t prog, uint32_t vers, uint32_t proc, const std::string &args, int32_t length)
{
    std::string a = Words({prog, vers, proc}) + CountedOpaque(args);
    if (length >= 0)
        a.replace(12, 4, Words({(uint32_t)length}));
    return a;
}

uint32_t PmapWordAnswer(const std::string &reply)
{
    RpcReplyView r = ParseReply(reply);
    if (!r.valid || r.reply_stat != 0 || r.accept_stat != 0 || r.results.size() != 4)
        return 0xFFFFFFFFu;
    return WordAt(r.results, 0);
}

std::vector<PmapEntry> PmapParseDump(const std::string &reply, bool *ok)
{
    RpcReplyView r = ParseReply(reply);
    std::vector<PmapEntry> list;
    *ok = r.valid && r.reply_stat == 0 && r.accept_stat == 0;
    size_t pos = 0;
    while (*ok && pos + 4 <= r.results.size() && WordAt(r.results, pos) == 1) {
        if (pos + 20 > r.results.size()) {
            *ok = false;
            break;
        }
        list.push_back({WordAt(r.results, pos + 4), WordAt(r.results, pos + 8), WordAt(r.results, pos + 12),
                        WordAt(r.results, pos + 16)});
        pos += 20;
    }
    if (*ok && (pos + 4 != r.results.size() || WordAt(r.results, pos) != 0))
        *ok = false;
    return list;
}

FakeUdpService::FakeUdpService(ResultsFunction results) : results_(results)
{
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = RpcTestAddress(0);
    int len = sizeof a;
    if (socket_ == INVALID_SOCKET || bind(socket_, (sockaddr *)&a, sizeof a) != 0 ||
        getsockname(socket_, (sockaddr *)&a, &len) != 0)
        return;
    port_ = ntohs(a.sin_port);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

FakeUdpService::~FakeUdpService()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    if (thread_ != nullptr) {
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
}

std::string FakeUdpService::last()
{
    std::lock_guard<std::mutex> guard(lock_);
    return last_;
}

DWORD WINAPI FakeUdpService::Run(LPVOID parameter)
{
    FakeUdpService *f = static_cast<FakeUdpService *>(parameter);
    for (;;) {
        char buf[9000];
        sockaddr_in from;
        int len = sizeof from;
        int n = recvfrom(f->socket_, buf, (int)sizeof buf, 0, (sockaddr *)&from, &len);
        if (n < 0)
            return 0;
        std::string call(buf, (size_t)n);
        {
            std::lock_guard<std::mutex> guard(f->lock_);
            f->last_ = call;
        }
        f->calls_++;
        if (!f->answer || n < 4)
            continue;
        // xid, REPLY, MSG_ACCEPTED, an empty AUTH_NULL verifier, SUCCESS.
        std::string reply = Words({WordAt(call, 0), 1, 0, 0, 0, 0}) + f->results_(call);
        sendto(f->socket_, reply.data(), (int)reply.size(), 0, (sockaddr *)&from, len);
    }
}
