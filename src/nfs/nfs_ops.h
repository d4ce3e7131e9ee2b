// Steps of the NFS procedures that versions 2 and 3 take alike.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "nfs/nfs_request.h"
#include "nfs/nfs_xdr.h"

// LOOKUP: a name under the public handle goes through WebNFS first, which
// mounts the folder it names and turns the request into a lookup of "." in
// that folder (op->dir and op->name change).  Then the caller is checked
// against the directory's export and the name looked up.  With
// dirAttributes (may be null), the directory's own attributes, present when
// the caller may see them and they could be read: taken by the lookup from
// the folder it resolved, not by resolving the handle again.
uint32_t NfsLookup(NfsRequest *request, NfsDirOp *op, FileHandle *object, FileAttributes *attributes,
                   NfsPostOpAttr *dirAttributes);

// The attributes of a handle as an optional block: present when
// GetAttrByHandle gives 0.
void NfsPostOp(NfsRequest *request, const FileHandle *handle, NfsPostOpAttr *attributes);
// The before and after blocks of a directory's wcc_data: those the change
// read through the folder it judged, or, when it never reached the folder
// (so changed nothing), the folder's attributes read once for both.
void NfsWccOf(NfsRequest *request, const FileHandle *directory, const FolderWcc *folder, NfsWcc *wcc);

// Whether the caller may change what lies below the handle: 0, or the
// status to answer.  *visible becomes true when the caller may at least see
// the handle's attributes (a read-only export shows them, and refuses the
// change with 30).  *context (may be null) gets the view of the mount.
uint32_t NfsCheckChange(const NfsRequest *request, const FileHandle *handle, bool *visible, ExportContext *context);

// A name that a procedure creates, removes or renames: 0 when it can name
// an entry of the directory, else 22 (invalid): empty, ".", "..", a '/' or
// a NUL byte inside.
uint32_t NfsCheckNewName(const NfsName *name);

// An AUTH_UNIX uid or gid of 0xFFFFFFFF that a new object is to get stands
// for the caller's own.
void NfsOwnNewObject(const NfsRequest *request, SetAttr *attributes);
