// The caller's identity as the backend sees it.  A file without a stored
// owner (unix_attributes_store.h) is shown as owned by the caller (after
// mapping), or by the fixed owner of an export with "-uid".
#pragma once

#include <cstdint>

#include "exports/export_context.h"
#include "rpc/rpc_message.h"

// The uid and gid that stand for "nobody".
#define NOBODY_ID 65534u

// Applies the export's mapping to the caller's uid and gid, in place:
// "-mapall" maps every caller; otherwise root alone is mapped, to the
// "-maproot" ids (gid 65534 when only a uid is given), or, without
// "-maproot", kept as root with gid 0 when the MapRoot setting is on and
// made nobody (65534:65534) when it is off.  Mapping twice changes nothing
// more.
void MapCredentials(const ExportContext *context, AuthUnix *credentials);

// True for uid 0.
bool IsRoot(const AuthUnix *credentials);

// The owner and group shown for every file of the export: the "-uid" ids
// when given, else the caller's (mapped) ids, with 65534 shown as 0.
uint32_t OwnerUid(const ExportContext *context, const AuthUnix *credentials);
uint32_t OwnerGid(const ExportContext *context, const AuthUnix *credentials);

// The permission bits the caller is granted, before they are and-ed with a
// file's mode: 0777 for root; for the owner ~umask & 0700; for a caller in
// another group than the owner ~umask & 0007; else ~umask & 0070.
uint32_t AccessBits(const ExportContext *context, const AuthUnix *credentials);
