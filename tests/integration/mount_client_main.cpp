// A raw MOUNT client: one call to the mount service on 127.0.0.1, and what
// came back printed for the test script:
//   mount_client PORT mnt VERS udp|tcp PATH   "status N"; on success
//                                             "handle HEX" and, in version
//                                             3, "flavors COUNT:FLAVOR"
//   mount_client PORT umnt VERS udp|tcp PATH
//   mount_client PORT umntall VERS udp|tcp
// Exit code 0 when a reply came and was accepted, 1 otherwise, 2 for usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/rpc_test_client.h"

int main(int argc, char **argv)
{
    const std::string command = argc >= 5 ? argv[2] : "";
    const uint32_t procedure = command == "mnt" ? 1 : command == "umnt" ? 3 : command == "umntall" ? 4 : 0;
    if (procedure == 0 || (procedure != 4 && argc < 6)) {
        fprintf(stderr, "usage: mount_client PORT mnt|umnt|umntall VERS udp|tcp [PATH]\n");
        return 2;
    }
    const uint16_t port = static_cast<uint16_t>(atoi(argv[1]));
    const uint32_t version = static_cast<uint32_t>(atoi(argv[3]));
    const std::string call =
        NullAuthCall(0x6d6e7400u + procedure, 100005, version, procedure, procedure == 4 ? "" : CountedOpaque(argv[5]));
    std::string reply;
    RpcTcpClient tcp;
    RpcUdpClient udp;
    const bool answered = RpcTestStartup() && (strcmp(argv[4], "tcp") == 0
                                                   ? tcp.Connect(RpcTestAddress(port)) && tcp.Call(call, &reply, 10000)
                                                   : udp.Call(RpcTestAddress(port), call, &reply, 10000));
    RpcReplyView view = ParseReply(reply);
    if (!answered || !view.valid || view.reply_stat != 0 || view.accept_stat != 0) {
        printf("no reply or refused (accept_stat %u)\n", view.accept_stat);
        return 1;
    }
    if (procedure != 1 || view.results.size() < 4) {
        printf("results %u\n", static_cast<unsigned>(view.results.size()));
        return procedure != 1 ? 0 : 1;
    }
    printf("status %u\n", WordAt(view.results, 0));
    if (WordAt(view.results, 0) != 0)
        return 0;
    // fhstatus: 32 bytes; mountres3: a counted handle and the flavours.
    const uint32_t length = version < 3 ? 32 : WordAt(view.results, 4);
    const size_t at = version < 3 ? 4 : 8, padded = (length + 3u) & ~3u;
    if (length > 64 || view.results.size() != at + padded + (version < 3 ? 0 : 8)) {
        printf("bad result length %u\n", static_cast<unsigned>(view.results.size()));
        return 1;
    }
    printf("handle ");
    for (unsigned char c : view.results.substr(at, length))
        printf("%02x", c);
    printf("\n");
    if (version >= 3)
        printf("flavors %u:%u\n", WordAt(view.results, at + padded), WordAt(view.results, at + padded + 4));
    return 0;
}
