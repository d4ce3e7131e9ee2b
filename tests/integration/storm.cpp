// The bounded storm: random, truncated and corrupted datagrams and TCP
// records against the running server's port mapper, whose transport every
// service shares (the NFS procedures are fuzzed by fuzz_nfs2/3_args).  During
// it and afterwards the port mapper must still answer NULL and DUMP.
#include <cstdio>
#include <string>
#include <vector>

#include "wire.h"

namespace {

struct Random {
    uint64_t state;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return (uint32_t)(state >> 11);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
    std::string Bytes(size_t n)
    {
        std::string s(n, '\0');
        for (char &c : s)
            c = (char)Next();
        return s;
    }
};

// A message truncated, with a flipped byte, with a word overwritten, or
// whole.
std::string Mutate(Random &r, std::string message)
{
    switch (r.Below(4)) {
    case 0: return message.substr(0, r.Below((uint32_t)message.size() + 1));
    case 1:
        if (!message.empty())
            message[r.Below((uint32_t)message.size())] ^= (char)(1 + r.Below(255));
        return message;
    case 2:
        if (message.size() >= 4)
            message.replace(r.Below((uint32_t)message.size() / 4) * 4, 4, Words({r.Below(2) ? r.Next() : ~0u}));
        return message;
    default: return message;
    }
}

// A plausible port mapper call: its program or another one, versions 1 to
// 4, procedures it has (never SET, which would fill the table, nor CALLIT,
// whose forwarding waits for answers) and some it does not, with random
// credentials and arguments.
std::string PmapCall(Random &r)
{
    static const uint32_t procs[] = {0, 2, 3, 4, 6, 7, 100, 0xFFFFFFFFu};
    RpcCallParts parts;
    parts.xid = r.Next();
    parts.prog = r.Below(4) == 0 ? r.Next() : 100000;
    parts.vers = 1 + r.Below(4);
    parts.proc = procs[r.Below(8)];
    parts.cred_flavor = r.Below(4);
    if (parts.cred_flavor == 1 && r.Below(2) == 0)
        parts.cred_body = AuthUnixBody(r.Next(), r.Bytes(r.Below(300)), r.Next(), r.Next(),
                                       std::vector<uint32_t>(r.Below(40)));
    else
        parts.cred_body = r.Bytes(r.Below(3) == 0 ? r.Below(420) : r.Below(20));
    parts.verf_flavor = r.Below(3);
    parts.verf_body = r.Bytes(r.Below(3) == 0 ? r.Below(420) : 0);
    std::string call = BuildCall(parts);
    switch (r.Below(4)) {
    case 0: return call + PmapMappingArgs(r.Next(), r.Next(), r.Below(2) ? 17 : 6, r.Next());
    case 1: return call + r.Bytes(r.Below(64));
    default: return call;
    }
}

std::string Datagram(Random &r)
{
    switch (r.Below(5)) {
    case 0: return r.Bytes(r.Below(3) == 0 ? r.Below(9000) : r.Below(64));
    case 1: return PmapCall(r);
    default: return Mutate(r, PmapCall(r));
    }
}

// Bytes for one TCP connection: records that are whole, fragmented, cut
// short, overlong, or not records at all.
std::string Stream(Random &r)
{
    std::string out;
    for (int i = 0, records = 1 + (int)r.Below(4); i < records; i++) {
        std::string message = r.Below(3) == 0 ? Mutate(r, PmapCall(r)) : PmapCall(r);
        switch (r.Below(6)) {
        case 0: out += AsRecord(message, 1 + r.Below(64)); break;
        case 1: out += RecordMark((uint32_t)message.size() + r.Below(100), true) + message; break;
        case 2: out += RecordMark(r.Next(), r.Below(2) == 0) + message; break;
        case 3: out += r.Bytes(r.Below(32)); break;
        default: out += AsRecord(message); break;
        }
    }
    return out.substr(0, r.Below(4) == 0 ? r.Below((uint32_t)out.size() + 1) : out.size());
}

bool PortMapperServes()
{
    bool ok = false;
    std::vector<PmapEntry> list = NullCallsAnswer() ? DumpCall(false, &ok) : std::vector<PmapEntry>();
    return ok && list.size() >= 2 && list[0] == (PmapEntry{100000, 2, 6, 111}) &&
           list[1] == (PmapEntry{100000, 2, 17, 111});
}

}  // namespace

int RunStorm(int seconds, int count, unsigned seed)
{
    Random r = {0x9E3779B97F4A7C15ull ^ seed};
    RpcUdpClient udp;
    const sockaddr_in server = ServerAddress();
    DWORD start = GetTickCount();
    int datagrams = 0, streams = 0, checks = 0, failures = 0;
    for (int i = 0; i < count && GetTickCount() - start < (DWORD)seconds * 1000u; i++) {
        if (r.Below(16) == 0) {
            // From an address of its own, so that the server's bound on
            // connections per address does not meet the checks.  The
            // connection closes with or without a reply read.
            RpcTcpClient tcp;
            if (tcp.Connect(server, "127.0.0.4") && tcp.SendRaw(Stream(r)))
                streams++;
        } else {
            udp.Send(server, Datagram(r));
            datagrams++;
        }
        if (i % 64 == 63)
            udp.Drain();
        if (i % 2000 == 1999) {
            checks++;
            if (!PortMapperServes()) {
                failures++;
                fprintf(stderr, "storm: not served after %d messages\n", i + 1);
            }
        }
    }
    udp.Drain();
    bool served = PortMapperServes();
    printf("storm: %d datagrams, %d TCP connections in %lu ms (seed %u); %d checks during it, %d failed; "
           "afterwards %s\n",
           datagrams, streams, (unsigned long)(GetTickCount() - start), seed, checks,
           failures, served ? "served" : "NOT SERVED");
    return served && failures == 0 ? 0 : 1;
}
