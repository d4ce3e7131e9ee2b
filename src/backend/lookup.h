// Names in folders: finding a child of a folder and building its path.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "rpc/rpc_message.h"

// Looks name up in the folder of directoryHandle: "." is the folder itself,
// ".." its parent (70 at the top of the mount), any other name a child that
// must exist.  On 0 the child's handle (with the folder handle's mount id)
// and attributes are filled.  clientAddress (network order) is the caller's,
// for the automatic mount of folders on other volumes.  credentials are
// mapped in place.  With folder, the folder's own attributes as GETATTR
// tells them, whatever the lookup answers: present once the folder is judged
// inside, read through the handle it was judged by (the folder is resolved
// once for both).  Returns an NFS status.
uint32_t Lookup(const FileHandle *directoryHandle, const char *name, FileHandle *handle, FileAttributes *attributes,
                uint32_t clientAddress, AuthUnix *credentials, OptionalAttributes *folder = nullptr);

// Appends name to the folder path in directoryPath (2048 bytes), after
// making the name (2048 bytes) fit for the volume, in place: "." and ".." give 21; the
// export's name check (character set, -sub: pair, CharMap) failing gives 2;
// then CheckDosName; a path that would reach 2048 bytes gives 63.  The whole
// path (and the name) is lower-cased when the export has "lowercase" or its
// volume does not preserve case.  Returns an NFS status.
uint32_t ChildPath(const ExportContext *context, char *directoryPath, char *name);
