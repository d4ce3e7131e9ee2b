// The handlers of the NFS version 3 procedures that read and change files,
// names and directories; Nfs3Dispatch routes to them.
#pragma once

#include "nfs/nfs3_results.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_request.h"

// File data and attributes (nfs3_data.cpp).
void Nfs3Setattr(NfsRequest *request);
void Nfs3Read(NfsRequest *request);
void Nfs3Write(NfsRequest *request);
void Nfs3Commit(NfsRequest *request);

// Names (nfs3_names.cpp).
void Nfs3Create(NfsRequest *request);
void Nfs3Mkdir(NfsRequest *request);
void Nfs3Remove(NfsRequest *request);
void Nfs3Rmdir(NfsRequest *request);
void Nfs3Rename(NfsRequest *request);

// Links and special files (nfs3_links.cpp).
void Nfs3Readlink(NfsRequest *request);
void Nfs3Symlink(NfsRequest *request);
void Nfs3Mknod(NfsRequest *request);
void Nfs3Link(NfsRequest *request);

// Directory listings (nfs3_readdir.cpp).
void Nfs3Readdir(NfsRequest *request);
void Nfs3Readdirplus(NfsRequest *request);

// What every procedure that makes a name (CREATE, MKDIR, SYMLINK, MKNOD)
// does around its own work: a retransmission answered from the cache, the
// caller allowed to change the folder, the folder's attributes before and
// after, a valid new name; `make` runs only when all of that holds and fills
// in the status, the object and its attributes, and the folder's attributes
// in `folder` as the backend reads them.
typedef void (*Nfs3Maker)(NfsRequest *request, NfsDirOp *where, void *args, Nfs3CreateResult *result,
                          FolderWcc *folder);
void Nfs3MakeName(NfsRequest *request, NfsDirOp *where, Nfs3Maker make, void *args);
