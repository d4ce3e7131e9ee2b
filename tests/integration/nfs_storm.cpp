// The bounded storm against the NFS service: random, truncated and
// corrupted calls of both versions, most of them on a valid handle, as
// datagrams and as TCP records, bounded by a count and a time.  Now and then
// during it, and afterwards, the service must still answer NULL over UDP and
// TCP and GETATTR of the mounted folder.
#include <cstdio>
#include <string>
#include <vector>

#include "nfs_wire.h"
#include "storm_random.h"

namespace {

struct Handles {
    std::string v3, v2;
};

// Arguments that start like real ones: a valid handle (or a random one),
// then names, words and bytes.
std::string PlausibleArgs(Random &r, const Handles &h, uint32_t vers)
{
    std::string args;
    switch (r.Below(4)) {
    case 0: args = r.Bytes(r.Below(64)); break;
    case 1: break;
    default: args = vers == 2 ? h.v2 : Fh3Bytes(h.v3); break;
    }
    int items = static_cast<int>(r.Below(5));
    for (int i = 0; i < items; i++) {
        switch (r.Below(4)) {
        case 0: args += Name3(r.Below(2) ? "hello.txt" : r.Bytes(r.Below(600))); break;
        case 1: PutWord(args, r.Below(2) ? r.Below(16) : r.Next()); break;
        case 2: args += r.Bytes(r.Below(40)); break;
        default: args += Fh3Bytes(r.Below(2) ? h.v3 : r.Bytes(r.Below(40))); break;
        }
    }
    return args;
}

std::string PlausibleNfsCall(Random &r, const Handles &h)
{
    // Never the mount service: an UMNTALL would take the storm's own mount.
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
    return BuildCall(parts) + PlausibleArgs(r, h, parts.vers);
}

bool StillServing(const Handles &h)
{
    for (bool tcp : {false, true}) {
        for (uint32_t vers : {2u, 3u}) {
            RpcReplyView r = NfsCall(NullAuthCall(NextXid(), 100003, vers, 0), tcp);
            if (!r.valid || r.accept_stat != 0)
                return false;
        }
        RpcReplyView attr = NfsCall(UnixCall(3, 1, Fh3Bytes(h.v3)), tcp);
        if (!attr.valid || attr.accept_stat != 0 || attr.results.size() < 4 || WordAt(attr.results, 0) != 0)
            return false;
    }
    return true;
}

}  // namespace

int RunNfsStorm(int seconds, int count, unsigned seed)
{
    Handles h = {MountHandle("/data", 3), MountHandle("/data", 1)};
    if (h.v3.empty() || h.v2.empty()) {
        fprintf(stderr, "nfs storm: the export /data cannot be mounted\n");
        return 1;
    }
    Random r = {0x243F6A8885A308D3ull ^ seed};
    RpcUdpClient udp;
    const sockaddr_in server = RpcTestAddress(2049);
    DWORD start = GetTickCount();
    int datagrams = 0, streams = 0, checks = 0, failures = 0;
    for (int i = 0; i < count && GetTickCount() - start < (DWORD)seconds * 1000u; i++) {
        if (r.Below(16) == 0) {
            // From an address of its own, so that the server's bound on
            // connections per address does not meet the checks below.
            RpcTcpClient tcp;
            if (tcp.Connect(server, "127.0.0.4")) {
                std::string stream;
                int records = 1 + static_cast<int>(r.Below(4));
                for (int k = 0; k < records; k++) {
                    std::string message = Mutate(r, PlausibleNfsCall(r, h));
                    stream += r.Below(4) == 0 ? AsRecord(message, 1 + r.Below(64)) : AsRecord(message);
                }
                tcp.SendRaw(stream.substr(0, r.Below(6) == 0 ? r.Below((uint32_t)stream.size() + 1) : stream.size()));
                streams++;
            }
        } else {
            udp.Send(server, r.Below(3) == 0 ? Mutate(r, PlausibleNfsCall(r, h)) : PlausibleNfsCall(r, h));
            datagrams++;
        }
        if (i % 64 == 63)
            udp.Drain();
        if (i % 2000 == 1999) {
            checks++;
            if (!StillServing(h)) {
                failures++;
                fprintf(stderr, "nfs storm: not served after %d messages\n", i + 1);
            }
        }
    }
    udp.Drain();
    bool served = StillServing(h);
    printf("nfs storm: %d datagrams, %d TCP connections in %lu ms (seed %u); %d checks during it, %d failed; "
           "afterwards %s\n",
           datagrams, streams, (unsigned long)(GetTickCount() - start), seed, checks, failures,
           served ? "served" : "NOT SERVED");
    return served && failures == 0 ? 0 : 1;
}
