// The dispatch functions of NFS versions 3 and 2 (program 100003), which the
// NFS start registers with the program table.  Each routes a call by its
// procedure number to a handler that decodes the arguments (GARBAGE_ARGS and
// a log line when they do not decode), checks the caller against the
// handle's export, calls the file system backend and answers with the
// encoded result.  Procedures that are not offered get PROC_UNAVAIL.
#pragma once

#include "nfs/nfs_protocol.h"

struct RpcTransport;
struct RpcCall;

void Nfs3Dispatch(RpcTransport *transport, RpcCall *call);
void Nfs2Dispatch(RpcTransport *transport, RpcCall *call);
