// The port mapper as its tests see it on the wire: its arguments, its
// replies taken apart strictly, and a UDP service CALLIT can forward to.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32.h"

struct PmapEntry {
    uint32_t prog, vers, prot, port;
    bool operator==(const PmapEntry &o) const
    {
        return prog == o.prog && vers == o.vers && prot == o.prot && port == o.port;
    }
};

// The four argument words of SET, UNSET and GETPORT.
std::string PmapMappingArgs(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port);
// CALLIT's arguments: prog, vers, proc, then the argument bytes as a counted
// opaque; `length` >= 0 states another length than the bytes have.
std::string PmapCallitArgs(uint32_t prog, uint32_t vers, uint32_t proc, const std::string &args,
                           int32_t length = -1);
// The answer of a SET, UNSET or GETPORT reply: its one result word, or
// 0xFFFFFFFF when the reply is not a successful reply of exactly one word.
uint32_t PmapWordAnswer(const std::string &reply);
// The entries of a DUMP reply, parsed strictly: a successful reply, each
// entry preceded by 1, the list ended by one 0 and nothing after it.  *ok
// tells whether the reply was all that.
std::vector<PmapEntry> PmapParseDump(const std::string &reply, bool *ok);

// A UDP service on 127.0.0.1: while `answer` is true, answers every call of
// at least 4 bytes with SUCCESS and results(call); counts the calls and keeps
// the last.  Its thread ends with the object.
class FakeUdpService {
public:
    typedef std::string (*ResultsFunction)(const std::string &call);
    explicit FakeUdpService(ResultsFunction results);
    ~FakeUdpService();
    FakeUdpService(const FakeUdpService &) = delete;
    FakeUdpService &operator=(const FakeUdpService &) = delete;

    bool ok() const { return thread_ != nullptr; }
    uint16_t port() const { return port_; }
    int calls() const { return calls_.load(); }
    std::string last();

    std::atomic<bool> answer{true};

private:
    static DWORD WINAPI Run(LPVOID self);
    ResultsFunction results_;
    SOCKET socket_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    HANDLE thread_ = nullptr;
    std::atomic<int> calls_{0};
    std::mutex lock_;
    std::string last_;
};
