// The handlers of the NFS version 2 procedures that read and change files,
// names and directories; Nfs2Dispatch routes to them.
#pragma once

#include "nfs/nfs_request.h"

// File data and attributes (nfs2_data.cpp).
void Nfs2Setattr(NfsRequest *request);
void Nfs2Read(NfsRequest *request);
void Nfs2Write(NfsRequest *request);

// Names, links and special files (nfs2_names.cpp).
void Nfs2Create(NfsRequest *request);
void Nfs2Mkdir(NfsRequest *request);
void Nfs2Remove(NfsRequest *request);
void Nfs2Rmdir(NfsRequest *request);
void Nfs2Rename(NfsRequest *request);
void Nfs2Link(NfsRequest *request);
void Nfs2Symlink(NfsRequest *request);
void Nfs2Readlink(NfsRequest *request);

// Directory listings (nfs2_readdir.cpp).
void Nfs2Readdir(NfsRequest *request);
