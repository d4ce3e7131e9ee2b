// NFS calls served in-process: an export mounted for the caller, a UDP
// transport whose replies are read back from its buffer, and the wire forms
// of handles and names.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_handle.h"
#include "mount_fixture.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "support/rpc_test_client.h"

class NfsTest : public MountTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Mounts the folder (a Windows path below an export) for client and
    // returns its handle.
    FileHandle MountFor(const std::string &windowsPath, const char *client = "127.0.0.1");
    // Serves one call of version vers from client (AUTH_UNIX of uid, group
    // 100) with Nfs3Dispatch or Nfs2Dispatch; the reply as sent.
    RpcReplyView Call(uint32_t vers, uint32_t proc, const std::string &args, const char *client = "127.0.0.1",
                      uint32_t uid = 1000);

    RpcTransport *transport = nullptr;
    // The verifier body the calls carry (AUTH_NULL flavor when not empty).
    std::string verifier;
    RpcCall call;
    uint32_t xid = 0;
};

// Wire forms: fh3 with the handle's first FHsize bytes, a name as a string.
std::string Fh3(const FileHandle &handle);
std::string Name(const std::string &name);
// A 64-bit value as two words.
std::string Hyper(uint64_t value);
