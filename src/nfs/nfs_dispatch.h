// The dispatch functions of NFS versions 3 and 2 (program 100003), which the
// NFS start registers with the program table.  Each serves a call by its
// procedure's row in the version's procedure table (rpc/rpc_procedure.h):
// the arguments decoded (GARBAGE_ARGS and a log line when they do not), a
// retransmission of a change answered from the duplicate request cache, the
// handler run (it checks the caller against the handle's export and calls
// the file system backend), the result encoded.  Procedures that are not
// offered get PROC_UNAVAIL.
#pragma once

#include "nfs/nfs_protocol.h"

struct RpcTransport;
struct RpcCall;

void Nfs3Dispatch(RpcTransport *transport, RpcCall *call);
void Nfs2Dispatch(RpcTransport *transport, RpcCall *call);
