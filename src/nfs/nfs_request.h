// What every NFS handler of both versions does around its own work: who the
// caller is, whether the caller may use a handle at all, the bounds of the
// reply, and the answers to calls that cannot be served.
#pragma once

#include <cstdint>

#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "rpc/rpc_message.h"
#include "rpc/rpc_procedure.h"

struct RpcTransport;

// One request in service: the transport and call it came with, the caller's
// address, and the caller's identity as a copy of its own (the backend maps
// it in place).
struct NfsRequest {
    RpcTransport *transport;
    RpcCall *call;
    uint32_t client;  // IPv4 address, network order
    AuthUnix caller;
};

// Serves a call by its row in the procedure table of count rows
// (RpcServeProcedure, with the request as the handler's first argument); a
// procedure without a row is not offered: the log line "nfsd: error,
// procedure N not supported" (level 2) and PROC_UNAVAIL.
void NfsServe(RpcTransport *transport, RpcCall *call, const RpcProcedure *table, uint32_t count);

// Fills the request for a call: an AUTH_UNIX caller keeps its identity, any
// other is nobody (65534:65534, no groups).
void NfsRequestBegin(NfsRequest *request, RpcTransport *transport, RpcCall *call);

// Whether the caller may use the handle: a handle is not a password (mount
// ids and inodes can be guessed), so the export it leads to must admit the
// caller's address, and must not be read-only when the request changes
// anything.  Returns 0, or the status to answer: 70 (stale handle, or no such
// mount), 13 (the export does not admit the caller), 30 (read-only).
// *context (may be null) gets the view of the handle's mount.
uint32_t NfsCheckCaller(const NfsRequest *request, const FileHandle *handle, bool change, ExportContext *context);

// Bytes a result may take in this request's reply: the transport's buffer,
// and over UDP one datagram, less the reply header that carries the call's
// verifier back.
uint32_t NfsReplyRoom(const NfsRequest *request);
// The largest data count a reply can carry behind fixedBytes of result
// (status, attributes, length words), at most limit, a multiple of 4.
uint32_t NfsDataLimit(const NfsRequest *request, uint32_t fixedBytes, uint32_t limit);
// NfsDataLimit after making room for limit data bytes: a TCP connection's
// buffer grows up to its limit, and the call's arguments move with it (so
// pointers into them taken before are void).
uint32_t NfsDataRoom(NfsRequest *request, uint32_t fixedBytes, uint32_t limit);
// The largest transfer one reply of this transport can carry for a caller
// with an empty verifier, its buffer grown as far as it may: what FSINFO and
// STATFS announce.
uint32_t NfsTransferLimit(const RpcTransport *transport, uint32_t fixedBytes, uint32_t limit);
// The largest READ or WRITE data of NFS version 3 on this transport:
// TcpTransferSize over TCP, Datasize over UDP.
uint32_t NfsTransferSize(const RpcTransport *transport);
// The largest listing (READDIR and READDIRPLUS reply) on this transport:
// Dirsize, and over TCP at least NFS_TCP_LISTING_SIZE bytes (within
// TcpTransferSize): twice as many entries per round trip as 32 KiB gave,
// while larger replies gained nothing more.
#define NFS_TCP_LISTING_SIZE 65536u
uint32_t NfsListingSize(const RpcTransport *transport);
// offset + count as *end; false when it passes 2^64 - 1.
bool NfsRangeEnd(uint64_t offset, uint32_t count, uint64_t *end);

// The largest file the volume of the mount can hold: 4 GiB - 1 on FAT
// volumes and CD file systems, else 16 TiB - 64 KiB (what NTFS holds with
// any cluster size, and ext4 with 4 KiB blocks).
uint64_t NfsMaxFileSize(const ExportContext *context);

// The finest step of the times the volume of the mount keeps (FSINFO's
// time_delta): 2 seconds on FAT, 10 ms on exFAT, 1 second on CD file
// systems, else the 100 ns of NTFS (the POSIX layer keeps times to 100 ns
// too, whatever finer steps the host keeps).
void NfsTimeDelta(const ExportContext *context, uint32_t *seconds, uint32_t *nanoseconds);
