// Volume statistics and the fixed facts of a file system (FSSTAT, STATFS,
// FSINFO, PATHCONF).
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "fs/file_handle.h"
#include "rpc/rpc_message.h"

#define FS_BLOCK_SIZE 4096u
// Bit 0 of the FSINFO properties: the file system takes hard links.
#define FS_PROPERTY_LINK 0x1u

// Free and total 4096-byte blocks of the export's volume.  70 for a stale
// handle, 5 when the volume cannot be asked.  With attributes (may be null),
// the handle's file's as GetAttrByHandle gives them, from the same
// resolution (credentials mapped in place).
uint32_t StatFs(const FileHandle *handle, uint64_t *freeBlocks, uint64_t *totalBlocks, uint32_t *blockSize,
                AuthUnix *credentials = nullptr, OptionalAttributes *attributes = nullptr);

// Sets bit 0 of *properties when hard links are on (HardLinks setting) and
// the export's volume takes them, else clears it; then the attributes of the
// handle's file as GetAttrByHandle gives them.
uint32_t FsInfo(const FileHandle *handle, uint32_t *properties, FileAttributes *attributes, AuthUnix *credentials);

// Link maximum (31 with hard links, else 1), name maximum (the volume's
// maximum component length), writable (1 unless the export is read-only),
// then as GetAttrByHandle.
uint32_t PathConf(const FileHandle *handle, uint32_t *linkMaximum, uint32_t *nameMaximum, uint32_t *writable,
                  FileAttributes *attributes, AuthUnix *credentials);
