// A raw MOUNT client for the integration tests: sends one call to the mount
// service on 127.0.0.1 and prints what came back, word by word, for the test
// script to check.
//
//   mount_client PORT mnt VERS udp|tcp PATH   status, and on success the
//                                             handle's bytes and fields
//   mount_client PORT umnt VERS udp|tcp PATH
//   mount_client PORT umntall VERS udp|tcp
//
// Exit code 0 when a reply came and was accepted, 1 otherwise, 2 for usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/rpc_test_client.h"

namespace {

const uint32_t MountProgram = 100005;

uint32_t LittleEndian32(const std::string &bytes, size_t offset)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset])) |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 3])) << 24;
}

void PrintHandle(const std::string &handle)
{
    printf("handle ");
    for (unsigned char c : handle)
        printf("%02x", c);
    printf("\nhandle-length %u\n", static_cast<unsigned>(handle.size()));
    if (handle.size() < 20)
        return;
    uint32_t mark = LittleEndian32(handle, 0);
    uint32_t mountId = LittleEndian32(handle, 4);
    uint64_t inode = LittleEndian32(handle, 8) | static_cast<uint64_t>(LittleEndian32(handle, 12)) << 32;
    uint32_t check = LittleEndian32(handle, 16);
    printf("mark %u\nmount-id %x\ninode %u\ncheck %s\n", mark, mountId, static_cast<uint32_t>(inode),
           check == static_cast<uint32_t>(inode + mountId) ? "ok" : "bad");
}

int Usage()
{
    fprintf(stderr, "usage: mount_client PORT mnt|umnt|umntall VERS udp|tcp [PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 5)
        return Usage();
    const uint16_t port = static_cast<uint16_t>(atoi(argv[1]));
    const std::string command = argv[2];
    const uint32_t version = static_cast<uint32_t>(atoi(argv[3]));
    const bool tcp = strcmp(argv[4], "tcp") == 0;
    uint32_t procedure;
    std::string args;
    if (command == "mnt" || command == "umnt") {
        if (argc < 6)
            return Usage();
        procedure = command == "mnt" ? 1 : 3;
        PutOpaque(args, argv[5]);
    } else if (command == "umntall") {
        procedure = 4;
    } else {
        return Usage();
    }
    if (!RpcTestStartup())
        return 1;

    const std::string call = NullAuthCall(0x6d6e7400u + static_cast<uint32_t>(procedure), MountProgram, version,
                                          procedure, args);
    std::string reply;
    bool answered;
    if (tcp) {
        RpcTcpClient client;
        answered = client.Connect(RpcTestAddress(port)) && client.Call(call, &reply, 10000);
    } else {
        RpcUdpClient client;
        answered = client.Call(RpcTestAddress(port), call, &reply, 10000);
    }
    if (!answered) {
        printf("no reply\n");
        return 1;
    }
    RpcReplyView view = ParseReply(reply);
    if (!view.valid || view.reply_stat != 0 || view.accept_stat != 0) {
        printf("refused reply_stat %u accept_stat %u\n", view.reply_stat, view.accept_stat);
        return 1;
    }
    if (procedure != 1) {
        printf("results %u\n", static_cast<unsigned>(view.results.size()));
        return 0;
    }
    if (view.results.size() < 4) {
        printf("short result\n");
        return 1;
    }
    const uint32_t status = WordAt(view.results, 0);
    printf("status %u\n", status);
    if (status != 0)
        return 0;
    if (version < 3) {
        if (view.results.size() != 4 + 32) {
            printf("bad fhstatus length %u\n", static_cast<unsigned>(view.results.size()));
            return 1;
        }
        PrintHandle(view.results.substr(4, 32));
        return 0;
    }
    const uint32_t length = view.results.size() >= 8 ? WordAt(view.results, 4) : 0;
    const size_t padded = (length + 3u) & ~3u;
    if (length > 64 || view.results.size() != 8 + padded + 8) {
        printf("bad mountres3 length %u\n", static_cast<unsigned>(view.results.size()));
        return 1;
    }
    PrintHandle(view.results.substr(8, length));
    printf("flavors %u:%u\n", WordAt(view.results, 8 + padded), WordAt(view.results, 12 + padded));
    return 0;
}
