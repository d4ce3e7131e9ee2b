// mountd: the MOUNT protocol (program 100005, versions 1 to 3) over UDP and
// TCP, the WebNFS public lookup and the automatic mount of folders that a
// client reaches while browsing.  The mount table itself is mount_table.h,
// its file mounttab_file.h.
#pragma once

#include <cstdint>

#include "exports/export_context.h"
#include "exports/export_entry.h"
#include "fs/file_handle.h"

struct RpcTransport;
struct RpcCall;

#define MOUNT_PROG 100005u
// Capacity of the mount service's UDP and TCP handles.
#define MOUNT_BUFFER_SIZE 8192u
// The DUMP and EXPORT replies stay within this many bytes.
#define MOUNT_REPLY_LIMIT 7680u

// Procedures, the same in versions 1 to 3.
enum : uint32_t {
    MOUNTPROC_NULL = 0,
    MOUNTPROC_MNT = 1,
    MOUNTPROC_DUMP = 2,
    MOUNTPROC_UMNT = 3,
    MOUNTPROC_UMNTALL = 4,
    MOUNTPROC_EXPORT = 5,
};

// Results of MountStart.
enum MountStartResult : int {
    MOUNT_START_OK = 0,
    MOUNT_START_UDP_BIND = 1,
    MOUNT_START_UDP_HANDLE = 2,
    MOUNT_START_UDP_VERSION3 = 3,
    MOUNT_START_UDP_VERSION2 = 4,
    MOUNT_START_TCP_BIND = 5,
    MOUNT_START_TCP_HANDLE = 6,
    MOUNT_START_TCP_VERSION3 = 7,
    MOUNT_START_TCP_VERSION2 = 8,
};

// Starts the service on port (0: an ephemeral port):
// with the Mount setting, a UDP socket (with UDP) and a TCP listener (with
// TCP) in the server loop and the registrations of versions 3 (Version3), 2
// and 1 (Version2); then, unless InodeReset is set, the mounts of mounttab.
// Returns a MountStartResult.
int MountStart(uint16_t port);
// Withdraws the registrations of versions 3, 2 and 1 for UDP and TCP.
void MountStop();

// The dispatch function registered for every version.
void MountDispatch(RpcTransport *transport, RpcCall *call);

// Whether an export shows in the EXPORT and DUMP lists for a client: never
// with -hide; always with FilterExports off or for 127.0.0.1; else when the
// export has no clients or admits this one.
int ExportVisible(uint32_t clientAddress, const ExportEntry *entry);

// The WebNFS lookup of a name relative to the public file handle: mounts the
// folder it names for the client and returns its handle in *handle, with the
// name replaced by "." (name must hold at least 2 bytes) so that the caller's
// LOOKUP answers for the folder itself.  kind is the transport (17, 6).
// Returns an NFS status: 0, 2, 13, 19, 63, or 70 when WebNFS is off.
int WebNfsLookup(FileHandle *handle, char *name, uint32_t clientAddress, uint32_t kind);

// The automatic mount of a folder on another volume (the work behind
// AutoMount of the mount table, which MountStart installs).
int MountFolderAutomatically(uint32_t clientAddress, const char *windowsPath, const ExportContext *context,
                             uint64_t *inode, uint32_t *mountId);
