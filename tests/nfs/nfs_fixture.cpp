#include "nfs_fixture.h"

#include <cstring>

#include "exports/export_table.h"
#include "exports/mount_table.h"
#include "mount/mount_folder.h"
#include "nfs/nfs_dispatch.h"
#include "nfs/nfs_xdr.h"
#include "settings/settings.h"

void NfsTest::SetUp()
{
    MountTest::SetUp();
    RpcTestStartup();
    ServerSettings.Datasize = ServerSettings.ReadSize = ServerSettings.WriteSize = 8192;
    ServerSettings.DirSize = 4096;
    ServerSettings.FHsize = 20;
    // Calls of every test are new to the duplicate request cache.
    static uint32_t xids = 0;
    xid = xids += 0x100000;
    SOCKET socket = OpenUdpSocket(htonl(0x7F000001u), 0);
    ASSERT_NE(socket, INVALID_SOCKET);
    transport = NewTransport(socket, RPC_PROTO_UDP, SocketLocalPort(socket), 8192 + 512);
    ASSERT_NE(transport, nullptr);
}

void NfsTest::TearDown()
{
    if (transport != nullptr) {
        CloseSocket(transport->socket);
        FreeTransport(transport);
    }
    MountTest::TearDown();
}

FileHandle NfsTest::MountFor(const std::string &windowsPath, const char *client)
{
    char path[EXPORT_PATH_SIZE];
    snprintf(path, sizeof path, "%s", ClientForm(windowsPath).c_str());
    ExportEntry *entry = nullptr;
    FileHandle handle = {};
    EXPECT_EQ(FindExport(path, Addr(client), &entry), 0) << windowsPath;
    if (entry == nullptr)
        return handle;
    uint64_t inode = 0;
    uint32_t mountId = 0;
    EXPECT_EQ(MountFolderFor(Addr(client), MOUNT_KIND_UDP, path, entry, &inode, &mountId, nullptr), 0);
    MakeHandle(inode, mountId, &handle);
    return handle;
}

RpcReplyView NfsTest::Call(uint32_t vers, uint32_t proc, const std::string &args, const char *client, uint32_t uid)
{
    RpcCallParts parts;
    parts.xid = ++xid;
    parts.prog = 100003;
    parts.vers = vers;
    parts.proc = proc;
    parts.cred_flavor = AUTH_UNIX;
    parts.cred_body = AuthUnixBody(1, "client", uid, 100, {100});
    parts.verf_body = verifier;
    std::string message = BuildCall(parts) + args;
    EXPECT_LE(message.size(), transport->capacity);
    memcpy(transport->buffer, message.data(), message.size());
    transport->length = static_cast<int32_t>(message.size());
    // The reply goes to our own socket over UDP; it is read from the buffer.
    transport->peer.sin_family = AF_INET;
    transport->peer.sin_port = htons(transport->port);
    transport->peer.sin_addr.s_addr = Addr(client);
    EXPECT_TRUE(DecodeCall(transport, &call));
    EXPECT_EQ(CheckCredential(transport, &call), 0u);
    if (vers == 3)
        Nfs3Dispatch(transport, &call);
    else
        Nfs2Dispatch(transport, &call);
    return ParseReply(std::string(reinterpret_cast<char *>(transport->buffer), transport->length));
}

std::string Fh3(const FileHandle &handle)
{
    uint8_t bytes[FILE_HANDLE_SIZE];
    EncodeHandle(&handle, bytes);
    std::string out;
    PutOpaque(out, std::string(reinterpret_cast<char *>(bytes), Nfs3HandleSize()));
    return out;
}

std::string Name(const std::string &name)
{
    std::string out;
    PutOpaque(out, name);
    return out;
}

std::string Hyper(uint64_t value)
{
    return Words({static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)});
}
