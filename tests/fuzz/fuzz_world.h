// Shared by the NFS fuzz targets: a small world to serve calls in (exports
// on disk, a mount, a valid handle to plant into random arguments), and the
// checks every decoded record must pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "exports/exports.h"
#include "fs/inode_table.h"
#include "log/log.h"
#include "mount/mount_folder.h"
#include "mount/mount_table.h"
#include "nfs/nfs_xdr.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace nfs_fuzz {

inline void Check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "nfs fuzz: %s\n", what);
        abort();
    }
}

inline int NoHostName(uint32_t, char *, size_t)
{
    return 0;
}

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
    snprintf(DataDirectory, sizeof(DataDirectory), "%s", w->dir.win().c_str());
    SelectRegistrySettings();
    memset(&ServerSettings, 0, sizeof(ServerSettings));
    ServerSettings.Cache = 8;
    ServerSettings.CharSetActive = 1;
    ServerSettings.FHsize = 20;
    ServerSettings.Datasize = ServerSettings.ReadSize = ServerSettings.WriteSize = 8192;
    ServerSettings.DirSize = 4096;
    ServerSettings.WebNFS = 1;
    ServerSettings.SoftLinks = 1;
    memset(CharMap, 0, sizeof(CharMap));
    PortMapperRegistration = 0;
    SetHostAddressLookup(NoHostName);
    for (const char *folder : {"data", "data/sub", "ro", "pub"})
        std::filesystem::create_directories(w->dir.Native(folder));
    FILE *file = fopen(w->dir.Native("data/file").c_str(), "wb");
    Check(file != nullptr, "cannot write a file");
    fputs("content", file);
    fclose(file);
    std::string root = w->dir.win();
    root.pop_back();
    std::string exports = root + "\\data\n" + root + "\\ro -readonly 127.0.0.1\n" + root + "\\pub -public\n";
    file = fopen(w->dir.Native("exports").c_str(), "wb");
    Check(file != nullptr, "cannot write the exports file");
    fwrite(exports.data(), 1, exports.size(), file);
    fclose(file);
    Check(OpenInodeTableAt(w->dir.Win("inodes.nfs").c_str(), 1), "cannot open the inode table");
    ExportsLoad();

    std::string data = root + "\\data";
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

inline void CheckName(const NfsName &name)
{
    Check(name.length < NFS_NAME_SIZE && name.text[name.length] == '\0', "a name is not bounded");
}

inline void CheckPath(const NfsPath &path)
{
    Check(path.length < NFS_PATH_SIZE && path.text[path.length] == '\0', "link text not bounded");
}

inline void CheckDirOp(const NfsDirOp &op)
{
    CheckName(op.name);
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
