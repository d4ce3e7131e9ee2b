// nlmd: the Network Lock Manager service, program 100021 versions 1, 3 and 4
// over UDP and TCP.  The lock table is nlm_table.h, the calls to clients
// nlm_delivery.h, the protocol's records nlm_protocol.h.
//
// Locks live in this process only.  With the status monitor (nsm_service.h)
// clients are told of a restart and reclaim their locks in the grace period
// that follows; without it the start says in the log that locks are gone.
#pragma once

#include <cstdint>

#include "nlm/nlm_protocol.h"
#include "nlm/nlm_table.h"
#include "platform/win32.h"

struct RpcTransport;
struct RpcCall;
struct AuthUnix;

// Capacity of the service's UDP and TCP handles.
#define NLM_BUFFER_SIZE 8192u

// Results of NlmStart, each after its log line.
enum NlmStartResult : int {
    NLM_START_OK = 0,
    NLM_START_UDP_BIND = 1,
    NLM_START_UDP_HANDLE = 2,
    NLM_START_UDP_VERSION4 = 3,
    NLM_START_UDP_VERSION3 = 4,
    NLM_START_TCP_BIND = 5,
    NLM_START_TCP_HANDLE = 6,
    NLM_START_TCP_VERSION4 = 7,
    NLM_START_TCP_VERSION3 = 8,
    NLM_START_DELIVERY = 9,
};

// What the service asks of the file system: the file a request names, kept
// in use (its handle open) between acquire and release.
struct NlmFileRequest {
    const NlmLock *lock;            // caller name and file handle
    uint32_t version;               // 1, 3: an NFS version 2 handle; 4: a version 3 handle
    uint32_t client;                // IPv4 address, network order
    const AuthUnix *credentials;    // null for AUTH_NULL
    bool exclusive;
};
struct NlmFileBinding {
    // With `open` (LOCK): the file, opened and kept when it was not open:
    // NLM_GRANTED with *file set, or NLM_STALE_FH, NLM_ROFS, NLM_FAILED,
    // NLM_DENIED_NOLOCKS (no room to keep it open).  Without (TEST, UNLOCK,
    // CANCEL): NLM_GRANTED with *file set, or with null when the file is not
    // open (and so holds no locks), or NLM_STALE_FH.
    uint32_t (*acquire)(const NlmFileRequest *request, bool open, void **file);
    void (*release)(void *file);
    NlmFileOps ops;
};
// Sets the binding the service uses from its next start on (before
// NlmStart).  Without one every lock request is answered NLM_FAILED.
void NlmSetFileBinding(const NlmFileBinding *binding);

// Starts the service on port (0: an ephemeral one, see NlmServicePort) when
// the NLM setting is on: the lock table, the delivery thread, a UDP socket
// (with UDP) and a TCP listener (with TCP) in the server loop, versions 4
// (with Version3) and 3 and 1 (with Version2) registered.  Returns an
// NlmStartResult.
int NlmStart(uint16_t port);
// Withdraws the registrations and stops the delivery thread.
void NlmStop(void);
uint16_t NlmServicePort(void);

// The dispatch function registered for every version: serves a call by its
// procedure's row in the version's table (PROC_UNAVAIL without one), then
// hands the calls it brought about to the delivery thread.
void NlmDispatch(RpcTransport *transport, RpcCall *call);

// For the open-file cache: releases every lock held through a file whose
// handle is about to close.
void NlmReleaseFile(void *file);

// For the status monitor: from now on for `ms` milliseconds only reclaims
// are granted (other LOCKs answer NLM_DENIED_GRACE_PERIOD).
void NlmBeginGrace(uint32_t ms);
// A client restarted: releases every lock and waiting request of the
// clients at `address` (network order) that call themselves `name`, and
// grants the waiters this frees.
void NlmReleaseClient(uint32_t address, const char *name);
