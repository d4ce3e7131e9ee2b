// Steps of the NFS procedures that versions 2 and 3 take alike.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "nfs/nfs_request.h"
#include "nfs/nfs_xdr.h"

// LOOKUP: a name under the public handle goes through WebNFS first, which
// mounts the folder it names and turns the request into a lookup of "." in
// that folder (op->dir and op->name change).  Then the caller is checked
// against the directory's export and the name looked up.  *dirAllowed is
// true when the caller may see the directory's attributes.
uint32_t NfsLookup(NfsRequest *request, NfsDirOp *op, FileHandle *object, FileAttributes *attributes,
                   bool *dirAllowed);
