// Shared by the fuzz targets: the check that ends a run, a data folder to
// serve calls from and, for the NFS targets, a mount whose handle is planted.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "exports/exports.h"
#include "exports/mount_table.h"
#include "fs/inode_table.h"
#include "log/log.h"
#include "mount/mount_folder.h"
#include "nfs/nfs_xdr.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"
#include "support/data_directory.h"
#include "support/temp_dir.h"

inline void Check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "fuzz: %s\n", what);
        abort();
    }
}

// A folder for the run's files.  Saves flush to disk, which on a real disk
// costs milliseconds; the fuzzers are after the logic, so on a POSIX host
// the folder goes to the memory file system when there is one.
inline TempDir *InMemoryTempDir()
{
#ifndef _WIN32
    if (FileExists("/dev/shm"))
        setenv("TMPDIR", "/dev/shm", 1);
#endif
    return new TempDir();
}

inline int NoHostName(uint32_t, char *, size_t)
{
    return 0;
}

// Makes dir the data folder for the ServerSettings the caller set: its
// folders, an inode table, the exports ("@" stands for dir), no port mapper
// and no name look-ups.
inline void ServeFolder(const TempDir &dir, std::initializer_list<const char *> folders, const std::string &exports)
{
    snprintf(DataDirectory, sizeof(DataDirectory), "%s", dir.win().c_str());
    SelectRegistrySettings();
    memset(CharMap, 0, sizeof(CharMap));
    PortMapperRegistration = 0;
    SetHostAddressLookup(NoHostName);
    for (const char *folder : folders)
        std::filesystem::create_directories(dir.Native(folder));
    Check(OpenInodeTableAt(dir.Win("inodes.nfs").c_str(), 1), "cannot open the inode table");
    LoadExportsIn(dir, exports);
}

// A transport of `size` bytes on a UDP socket of its own, to which the
// replies go (the caller drains them now and then).
inline RpcTransport *OwnUdpTransport(uint32_t size)
{
    SOCKET socket = OpenUdpSocket(0, 0);
    Check(socket != INVALID_SOCKET, "no UDP socket");
    RpcTransport *t = NewTransport(socket, RPC_PROTO_UDP, SocketLocalPort(socket), size);
    Check(t != nullptr, "no transport");
    return t;
}

// An AUTH_NULL call with these argument bytes in t's buffer, as after a
// receive, from 127.0.0.<host> at t's own port.
inline void Received(RpcTransport *t, RpcCall *call, uint32_t prog, uint32_t vers, uint32_t proc,
                     const uint8_t *args, size_t length, uint32_t host, uint32_t xid)
{
    memset(call, 0, sizeof *call);
    call->prog = prog;
    call->vers = vers;
    call->proc = proc;
    memcpy(t->buffer + 64, args, length);
    call->args = t->buffer + 64;
    call->arg_length = static_cast<uint32_t>(length);
    t->peer.sin_family = AF_INET;
    t->peer.sin_port = htons(t->port);
    t->peer.sin_addr.s_addr = htonl(0x7F000000u | host);
    t->xid = xid;
    t->length = static_cast<int32_t>(length + 64);
}

namespace nfs_fuzz {

struct World {
    TempDir dir;
    FileHandle root;
    RpcTransport *transport = nullptr;
    RpcCall call;
};

// Exports: a writable folder mounted for 127.0.0.1 (whose handle is
// planted), a read-only one for 127.0.0.1 alone, a public one.
inline World *MakeWorld()
{
    World *w = new World();
    memset(&ServerSettings, 0, sizeof(ServerSettings));
    ServerSettings.Cache = 8;
    ServerSettings.CharSetActive = 1;
    ServerSettings.FHsize = 20;
    ServerSettings.Datasize = ServerSettings.ReadSize = ServerSettings.WriteSize = 8192;
    ServerSettings.DirSize = 4096;
    ServerSettings.WebNFS = 1;
    ServerSettings.SoftLinks = 1;
    ServeFolder(w->dir, {"data", "data/sub", "ro", "pub"}, "@\\data\n@\\ro -readonly 127.0.0.1\n@\\pub -public\n");
    WriteFileBytes(w->dir.Native("data/file"), "content");
    std::string data = w->dir.Win("data");
    uint64_t inode = 0;
    uint32_t mountId = 0;
    Check(MountFolderFor(htonl(0x7F000001u), 17, data.c_str(), ExportFirst(), &inode, &mountId, nullptr) == 0,
          "cannot mount the folder");
    MakeHandle(inode, mountId, &w->root);
    // No socket: replies are built in the buffer and their send fails quietly.
    w->transport = NewTransport(INVALID_SOCKET, RPC_PROTO_UDP, 2049, 8192 + 512);
    Check(w->transport != nullptr, "no transport");
    return w;
}

// The wire form of the planted handle.
inline std::string PlantedHandle(const World *w, bool version3)
{
    uint8_t bytes[FILE_HANDLE_SIZE];
    EncodeHandle(&w->root, bytes);
    std::string out;
    if (version3) {
        uint8_t length[4];
        XdrStore32(length, Nfs3HandleSize());
        out.assign(reinterpret_cast<char *>(length), 4);
        out.append(reinterpret_cast<char *>(bytes), Nfs3HandleSize());
    } else {
        out.assign(reinterpret_cast<char *>(bytes), FILE_HANDLE_SIZE);
    }
    return out;
}

// The arguments in a buffer of exactly their size, so any read past them is
// caught.
struct ExactArgs {
    explicit ExactArgs(const std::string &bytes) : storage(bytes.begin(), bytes.end())
    {
        memset(&call, 0, sizeof call);
        call.args = storage.data();
        call.arg_length = static_cast<uint32_t>(storage.size());
    }
    bool Inside(const uint8_t *data, uint32_t count) const
    {
        return data >= storage.data() && data + count <= storage.data() + storage.size();
    }
    std::vector<uint8_t> storage;
    RpcCall call;
};

// Runs a decoder on the exact arguments and, when it accepts them, the
// check of what it decoded.  The record is static: some are kilobytes.
template <typename Args>
void Try(const ExactArgs &exact, bool (*decode)(RpcCall *, Args *),
         void (*check)(const ExactArgs &, const Args &) = nullptr)
{
    static Args args;
    RpcCall call = exact.call;
    if (decode(&call, &args) && check != nullptr)
        check(exact, args);
}

inline void CheckDirOp(const NfsDirOp &op)
{
    Check(op.name.length < NFS_NAME_SIZE && op.name.text[op.name.length] == '\0', "a name is not bounded");
}
inline void CheckPath(const NfsPath &path)
{
    Check(path.length < NFS_PATH_SIZE && path.text[path.length] == '\0', "link text not bounded");
}
inline void CheckSattr(const SetAttr &a)
{
    Check(a.atimeMode <= SET_TIME_CLIENT && a.mtimeMode <= SET_TIME_CLIENT, "a time mode out of range");
}

// Serves the call through the dispatch and checks the reply fits.
inline void Serve(World *w, void (*dispatch)(RpcTransport *, RpcCall *), uint32_t vers, uint32_t proc,
                  const std::string &args, uint8_t flags)
{
    RpcTransport *t = w->transport;
    // The arguments behind a minimal call header, as after a receive.
    const uint32_t header = 40;
    if (args.size() > t->capacity - header)
        return;
    memset(&w->call, 0, sizeof w->call);
    w->call.prog = 100003;
    w->call.vers = vers;
    w->call.proc = proc;
    w->call.cred_flavor = (flags & 8) ? AUTH_UNIX : AUTH_NULL;
    w->call.auth.uid = (flags & 16) ? 0 : 1000;
    // The largest verifier an accepted reply carries back.
    w->call.verf_length = (flags & 32) ? 400 : 0;
    XdrStore32(w->call.verf, w->call.verf_length);
    memcpy(t->buffer + header, args.data(), args.size());
    w->call.args = t->buffer + header;
    w->call.arg_length = static_cast<uint32_t>(args.size());
    t->protocol = (flags & 2) ? RPC_PROTO_TCP : RPC_PROTO_UDP;
    t->peer.sin_family = AF_INET;
    t->peer.sin_addr.s_addr = htonl(0x7F000001u + ((flags >> 2) & 1));
    t->length = static_cast<int32_t>(header + args.size());
    dispatch(t, &w->call);
    Check(t->length >= 24 && static_cast<uint32_t>(t->length) <= t->capacity, "a reply does not fit its buffer");
}

// One input: the first byte picks the procedure (of procedures + 1, so
// one beyond the last is tried too), the second how the call comes (flags of
// Serve; bit 0 plants the valid handle in front of the rest); the decoder
// runs on the exact arguments, then the dispatch serves them.
inline void RunInput(const uint8_t *data, size_t size, uint32_t vers, uint32_t procedures,
                     void (*decode)(uint32_t proc, const std::string &args),
                     void (*dispatch)(RpcTransport *, RpcCall *))
{
    static World *world = MakeWorld();
    if (size < 2 || size > 8192)
        return;
    const uint32_t proc = data[0] % procedures;
    const uint8_t flags = data[1];
    std::string args(reinterpret_cast<const char *>(data) + 2, size - 2);
    if (flags & 1)
        args = PlantedHandle(world, vers == 3) + args;
    decode(proc, args);
    Serve(world, dispatch, vers, proc, args, flags);
}

}  // namespace nfs_fuzz
