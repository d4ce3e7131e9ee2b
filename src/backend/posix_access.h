// Who may do what to a file, from its attributes: POSIX rules for files with
// a stored mode, owner and group (attributes->stored), today's emulation for
// the others (the caller shown as the owner, the export's umask, "-uid").
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/unix_attributes_store.h"
#include "exports/export_context.h"
#include "rpc/rpc_message.h"

// Permission classes as three bits.
#define PERMIT_READ 4u
#define PERMIT_WRITE 2u
#define PERMIT_EXECUTE 1u

// True when gid is the caller's group or one of his supplementary groups
// (those are not counted on an export that maps every caller).
bool CallerInGroup(const ExportContext *context, const AuthUnix *caller, uint32_t gid);

// The caller's permissions (PERMIT_*) on a file with these attributes, the
// credentials mapped.  Stored: the owner's, the group's or the others'
// bits; root reads and writes everything and executes what has an execute
// bit (searches every folder).  Not stored: the emulated mode and-ed with
// AccessBits, as before the store.
uint32_t CallerPermissions(const ExportContext *context, const AuthUnix *caller, const FileAttributes *attributes);

// Root or the file's owner: who may change its mode and times.  Not
// stored: AccessBits leaves the whole owner's class (the caller is shown as
// the owner unless the export has "-uid").
bool CallerOwns(const ExportContext *context, const AuthUnix *caller, const FileAttributes *attributes);

// The record a new object gets: the caller as owner, the folder's group
// when the folder has set-group-id (a new folder then has it too), else the
// caller's; mode is the requested mode (its low twelve bits).
StoredUnixAttributes NewObjectRecord(const AuthUnix *caller, const FileAttributes *folder, bool isDirectory,
                                     uint32_t mode);

// A sticky folder lets only root, the folder's owner and the entry's owner
// remove or rename the entry.  entry may be null when it does not exist.
bool StickyAllows(const AuthUnix *caller, const FileAttributes *folder, const FileAttributes *entry);
