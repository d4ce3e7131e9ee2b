// The handlers of the NFS version 3 procedures that read and change files,
// names and directories; Nfs3Dispatch routes to them.
#pragma once

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
