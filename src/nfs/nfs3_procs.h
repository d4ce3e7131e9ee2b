// The handlers of the NFS version 3 procedures that read and change files,
// names and directories: rows of the procedure table in nfs3_dispatch.cpp,
// each given its decoded arguments and a zeroed result to fill.
#pragma once

#include "nfs/nfs3_args.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_request.h"

// File data and attributes (nfs3_data.cpp).
void Nfs3Setattr(NfsRequest *request, Nfs3SetattrArgs *args, Nfs3WccResult *result);
void Nfs3Read(NfsRequest *request, const Nfs3RangeArgs *args, Nfs3ReadResult *result);
void Nfs3Write(NfsRequest *request, const Nfs3WriteArgs *args, Nfs3WriteResult *result);
void Nfs3Commit(NfsRequest *request, const Nfs3RangeArgs *args, Nfs3CommitResult *result);

// Names (nfs3_names.cpp).
void Nfs3Create(NfsRequest *request, Nfs3CreateArgs *args, Nfs3CreateResult *result);
void Nfs3Mkdir(NfsRequest *request, Nfs3MkdirArgs *args, Nfs3CreateResult *result);
void Nfs3Remove(NfsRequest *request, const NfsDirOp *args, Nfs3WccResult *result);
void Nfs3Rmdir(NfsRequest *request, const NfsDirOp *args, Nfs3WccResult *result);
void Nfs3Rename(NfsRequest *request, const Nfs3RenameArgs *args, Nfs3RenameResult *result);

// Links and special files (nfs3_links.cpp).
void Nfs3Readlink(NfsRequest *request, const Nfs3HandleArgs *args, Nfs3ReadlinkResult *result);
void Nfs3Symlink(NfsRequest *request, Nfs3SymlinkArgs *args, Nfs3CreateResult *result);
void Nfs3Mknod(NfsRequest *request, Nfs3MknodArgs *args, Nfs3CreateResult *result);
void Nfs3Link(NfsRequest *request, const Nfs3LinkArgs *args, Nfs3LinkResult *result);

// Directory listings (nfs3_readdir.cpp).
void Nfs3Readdir(NfsRequest *request, const Nfs3ReaddirArgs *args, Nfs3ReaddirResult *result);
void Nfs3Readdirplus(NfsRequest *request, const Nfs3ReaddirArgs *args, Nfs3ReaddirResult *result);

// What every procedure that makes a name (CREATE, MKDIR, SYMLINK, MKNOD)
// does around its own work: the caller allowed to change the folder, the
// folder's attributes before and after, a valid new name; `make` runs only
// when all of that holds and fills in the status, the object and its
// attributes, and the folder's attributes in `folder` as the backend reads
// them.
typedef void (*Nfs3Maker)(NfsRequest *request, NfsDirOp *where, void *args, Nfs3CreateResult *result,
                          FolderWcc *folder);
void Nfs3MakeName(NfsRequest *request, NfsDirOp *where, Nfs3Maker make, void *args, Nfs3CreateResult *result);
