// The bounded storm: random, truncated and corrupted datagrams and TCP
// records against the running server's port mapper, bounded by a count and a
// time; afterwards (and now and then during it) the server must still answer
// NULL calls over UDP and TCP, and its DUMP must still begin with its own
// entries.
#include <cstdio>
#include <string>
#include <vector>

#include "storm_random.h"
#include "wire.h"

namespace {

// A plausible call: the port mapper's program or another one, versions 1 to
// 4, procedures the port mapper has (never SET, which would fill the table,
// nor CALLIT, whose forwarding waits for answers) and some it does not, with
// random credentials and arguments.
std::string PlausibleCall(Random &r)
{
    static const uint32_t procs[] = {0, 2, 3, 4, 6, 7, 100, 0xFFFFFFFFu};
    RpcCallParts parts;
    parts.xid = r.Next();
    parts.prog = r.Below(4) == 0 ? r.Next() : 100000;
    parts.vers = 1 + r.Below(4);
    parts.proc = procs[r.Below(8)];
    parts.cred_flavor = r.Below(4);
    if (parts.cred_flavor == 1 && r.Below(2) == 0) {
        std::vector<uint32_t> gids(r.Below(40));
        parts.cred_body = AuthUnixBody(r.Next(), r.Bytes(r.Below(300)), r.Next(), r.Next(), gids);
    } else {
        parts.cred_body = r.Bytes(r.Below(3) == 0 ? r.Below(420) : r.Below(20));
    }
    parts.verf_flavor = r.Below(3);
    parts.verf_body = r.Bytes(r.Below(3) == 0 ? r.Below(420) : 0);
    std::string call = BuildCall(parts);
    switch (r.Below(4)) {
    case 0: call += PmapMappingArgs(r.Next(), r.Next(), r.Below(2) ? 17 : 6, r.Next()); break;
    case 1: call += r.Bytes(r.Below(64)); break;
    default: break;
    }
    return call;
}

std::string StormDatagram(Random &r)
{
    switch (r.Below(5)) {
    case 0: return r.Bytes(r.Below(3) == 0 ? r.Below(9000) : r.Below(64));
    case 1: return PlausibleCall(r);
    default: return Mutate(r, PlausibleCall(r));
    }
}

// Bytes for one TCP connection: records that are whole, fragmented, cut
// short, overlong, or not records at all.
std::string StormStream(Random &r)
{
    std::string out;
    int records = 1 + (int)r.Below(4);
    for (int i = 0; i < records; i++) {
        std::string message = r.Below(3) == 0 ? Mutate(r, PlausibleCall(r)) : PlausibleCall(r);
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

bool DumpStillWhole()
{
    bool ok = false;
    std::vector<PmapEntry> list = DumpCall(false, &ok);
    return ok && list.size() >= 2 && list[0] == (PmapEntry{100000, 2, 6, 111}) &&
           list[1] == (PmapEntry{100000, 2, 17, 111});
}

} // namespace

int RunStorm(int seconds, int count, unsigned seed)
{
    Random r = {0x9E3779B97F4A7C15ull ^ seed};
    RpcUdpClient udp;
    sockaddr_in server = ServerAddress();
    DWORD start = GetTickCount();
    int datagrams = 0, streams = 0, checks = 0, failures = 0;
    for (int i = 0; i < count && GetTickCount() - start < (DWORD)seconds * 1000u; i++) {
        if (r.Below(20) == 0) {
            // From an address of its own, so that the server's bound on
            // connections per address does not meet the checks below.
            RpcTcpClient tcp;
            if (tcp.Connect(server, "127.0.0.4")) {
                tcp.SendRaw(StormStream(r));
                streams++;
            }
            // The connection closes here, with or without a reply read.
        } else {
            udp.Send(server, StormDatagram(r));
            datagrams++;
        }
        if (i % 64 == 63)
            udp.Drain();
        if (i % 2000 == 1999) {
            checks++;
            if (!NullCallsAnswer()) {
                failures++;
                fprintf(stderr, "storm: no NULL answer after %d messages\n", i + 1);
            }
        }
    }
    udp.Drain();
    bool nullOk = NullCallsAnswer();
    bool dumpOk = DumpStillWhole();
    printf("storm: %d datagrams, %d TCP connections in %lu ms (seed %u); %d checks during it, %d failed; "
           "afterwards NULL %s, DUMP %s\n",
           datagrams, streams, (unsigned long)(GetTickCount() - start), seed, checks, failures,
           nullOk ? "answered" : "NOT answered", dumpOk ? "whole" : "BROKEN");
    return nullOk && dumpOk && failures == 0 ? 0 : 1;
}
