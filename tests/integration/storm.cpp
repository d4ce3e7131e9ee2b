// The bounded storms: random, truncated and corrupted datagrams and TCP
// records against the running server's port mapper or NFS service, bounded
// by a count and a time.  Now and then during it, and afterwards, the server
// must still answer: NULL of the port mapper over UDP and TCP and its DUMP
// beginning with its own entries, or NULL of both NFS versions and GETATTR
// of the mounted folder.
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

struct Handles {
    std::string v3, v2;
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
std::string PmapCall(Random &r, const Handles &)
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

// A plausible NFS call of either version (never the mount service: an
// UMNTALL would take the storm's own mount), its arguments starting like
// real ones: a valid handle (or a random one), then names, words and bytes.
std::string NfsCallOf(Random &r, const Handles &h)
{
    static const uint32_t programs[] = {100003, 100003, 100003, 100003, 100003, 100227};
    RpcCallParts parts;
    parts.xid = r.Next();
    parts.prog = r.Below(32) == 0 ? 0x20000000u + r.Below(1000) : programs[r.Below(6)];
    parts.vers = r.Below(8) == 0 ? r.Below(6) : 2 + r.Below(2);
    parts.proc = r.Below(10) == 0 ? r.Next() : r.Below(24);
    parts.cred_flavor = r.Below(3) == 0 ? r.Below(4) : 1;
    if (parts.cred_flavor == 1)
        parts.cred_body = AuthUnixBody(r.Next(), "storm", r.Below(2) ? 0 : r.Next(), r.Next(), {});
    parts.verf_body = r.Below(8) == 0 ? r.Bytes(400) : "";
    std::string args;
    switch (r.Below(4)) {
    case 0: args = r.Bytes(r.Below(64)); break;
    case 1: break;
    default: args = parts.vers == 2 ? h.v2 : CountedOpaque(h.v3); break;
    }
    for (int i = 0, items = (int)r.Below(5); i < items; i++) {
        switch (r.Below(4)) {
        case 0: args += CountedOpaque(r.Below(2) ? "hello.txt" : r.Bytes(r.Below(600))); break;
        case 1: args += Words({r.Below(2) ? r.Below(16) : r.Next()}); break;
        case 2: args += r.Bytes(r.Below(40)); break;
        default: args += CountedOpaque(r.Below(2) ? h.v3 : r.Bytes(r.Below(40))); break;
        }
    }
    return BuildCall(parts) + args;
}

typedef std::string (*CallMaker)(Random &, const Handles &);

std::string Datagram(Random &r, CallMaker call, const Handles &h)
{
    switch (r.Below(5)) {
    case 0: return r.Bytes(r.Below(3) == 0 ? r.Below(9000) : r.Below(64));
    case 1: return call(r, h);
    default: return Mutate(r, call(r, h));
    }
}

// Bytes for one TCP connection: records that are whole, fragmented, cut
// short, overlong, or not records at all.
std::string Stream(Random &r, CallMaker call, const Handles &h)
{
    std::string out;
    for (int i = 0, records = 1 + (int)r.Below(4); i < records; i++) {
        std::string message = r.Below(3) == 0 ? Mutate(r, call(r, h)) : call(r, h);
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

bool PortMapperServes(const Handles &)
{
    bool ok = false;
    std::vector<PmapEntry> list = NullCallsAnswer() ? DumpCall(false, &ok) : std::vector<PmapEntry>();
    return ok && list.size() >= 2 && list[0] == (PmapEntry{100000, 2, 6, 111}) &&
           list[1] == (PmapEntry{100000, 2, 17, 111});
}

bool NfsServes(const Handles &h)
{
    for (bool tcp : {false, true}) {
        for (uint32_t vers : {2u, 3u}) {
            RpcReplyView r = NfsCall(NullAuthCall(NextXid(), 100003, vers, 0), tcp);
            if (!r.valid || r.accept_stat != 0)
                return false;
        }
        RpcReplyView attr = NfsCall(UnixCall(3, 1, CountedOpaque(h.v3)), tcp);
        if (!attr.valid || attr.accept_stat != 0 || attr.results.size() < 4 || WordAt(attr.results, 0) != 0)
            return false;
    }
    return true;
}

}  // namespace

int RunStorm(bool nfs, int seconds, int count, unsigned seed)
{
    Handles h;
    if (nfs) {
        h = {MountHandle("/data", 3), MountHandle("/data", 1)};
        if (h.v3.empty() || h.v2.empty()) {
            fprintf(stderr, "storm: the export /data cannot be mounted\n");
            return 1;
        }
    }
    const CallMaker call = nfs ? NfsCallOf : PmapCall;
    bool (*const serves)(const Handles &) = nfs ? NfsServes : PortMapperServes;
    Random r = {0x9E3779B97F4A7C15ull ^ seed};
    RpcUdpClient udp;
    const sockaddr_in server = nfs ? RpcTestAddress(2049) : ServerAddress();
    DWORD start = GetTickCount();
    int datagrams = 0, streams = 0, checks = 0, failures = 0;
    for (int i = 0; i < count && GetTickCount() - start < (DWORD)seconds * 1000u; i++) {
        if (r.Below(16) == 0) {
            // From an address of its own, so that the server's bound on
            // connections per address does not meet the checks.  The
            // connection closes with or without a reply read.
            RpcTcpClient tcp;
            if (tcp.Connect(server, "127.0.0.4") && tcp.SendRaw(Stream(r, call, h)))
                streams++;
        } else {
            udp.Send(server, Datagram(r, call, h));
            datagrams++;
        }
        if (i % 64 == 63)
            udp.Drain();
        if (i % 2000 == 1999) {
            checks++;
            if (!serves(h)) {
                failures++;
                fprintf(stderr, "storm: not served after %d messages\n", i + 1);
            }
        }
    }
    udp.Drain();
    bool served = serves(h);
    printf("%s storm: %d datagrams, %d TCP connections in %lu ms (seed %u); %d checks during it, %d failed; "
           "afterwards %s\n",
           nfs ? "nfs" : "port mapper", datagrams, streams, (unsigned long)(GetTickCount() - start), seed, checks,
           failures, served ? "served" : "NOT SERVED");
    return served && failures == 0 ? 0 : 1;
}
