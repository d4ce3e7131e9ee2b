// The handlers of the NFS version 2 procedures that read and change files,
// names and directories: rows of the procedure table in nfs2_dispatch.cpp,
// each given its decoded arguments and a zeroed result to fill (a status
// alone where the result is one).
#pragma once

#include <cstdint>

#include "nfs/nfs2_args.h"
#include "nfs/nfs2_results.h"
#include "nfs/nfs_request.h"

// File data and attributes (nfs2_data.cpp).
void Nfs2Setattr(NfsRequest *request, Nfs2SetattrArgs *args, Nfs2AttrResult *result);
void Nfs2Read(NfsRequest *request, const Nfs2ReadArgs *args, Nfs2ReadResult *result);
void Nfs2Write(NfsRequest *request, const Nfs2WriteArgs *args, Nfs2AttrResult *result);

// Names, links and special files (nfs2_names.cpp).
void Nfs2Create(NfsRequest *request, Nfs2CreateArgs *args, Nfs2DirOpResult *result);
void Nfs2Mkdir(NfsRequest *request, Nfs2CreateArgs *args, Nfs2DirOpResult *result);
void Nfs2Remove(NfsRequest *request, const NfsDirOp *args, uint32_t *status);
void Nfs2Rmdir(NfsRequest *request, const NfsDirOp *args, uint32_t *status);
void Nfs2Rename(NfsRequest *request, const Nfs2RenameArgs *args, uint32_t *status);
void Nfs2Link(NfsRequest *request, const Nfs2LinkArgs *args, uint32_t *status);
void Nfs2Symlink(NfsRequest *request, Nfs2SymlinkArgs *args, uint32_t *status);
void Nfs2Readlink(NfsRequest *request, const Nfs2HandleArgs *args, Nfs2ReadlinkResult *result);

// Directory listings (nfs2_readdir.cpp).
void Nfs2Readdir(NfsRequest *request, const Nfs2ReaddirArgs *args, Nfs2ReaddirResult *result);
