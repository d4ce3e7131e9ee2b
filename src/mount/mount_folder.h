// Mounting one folder: what the mount service needs from the file system
// backend (the folder's volume, that it is a folder, its inode) and the
// record of the mount table that follows.  Used by MNT, the load of
// mounttab, WebNFS and the automatic mount.
#pragma once

#include <cstdint>

#include "exports/export_entry.h"

struct MountFolder {
    uint32_t volumeSerial;
    uint32_t maxNameLength;
    uint32_t flags;  // the export's flags with the folder's volume bits
    uint64_t inode;  // file ID in file id mode, else the inode table's inode
};

// Examines a folder (Windows path) about to be mounted under an export: the
// volume probe starts from the export's serial, name length and flags; the
// path must be a folder; the inode must be had.  Returns 0 with *folder
// filled, or an NFS status: 19 when the volume cannot be examined, 2 when the
// path is no folder or has no inode.
int ProbeMountFolder(const char *path, const ExportEntry *entry, MountFolder *folder);

// The inode of a folder: its file ID when flags have file id mode, else the
// inode table's inode of the path.  0 when it cannot be had.
uint64_t MountFolderInode(const char *path, uint32_t flags);

// Probes the folder and adds (or refreshes) the client's mount record.
// Returns 0 with *inode and *rootId set and *added the MountAdd result
// (1 refreshed, 2 new), or the status (the same numbers for MNT and for
// NFS): 19 volume, 2 no folder, no inode or no record, 13 when the client or
// the table has its most mounts.  *rootId is what the folder's handles
// carry: the export's handle id for a folder on the export's own volume (the
// record is then the administrator's view of the mount alone), else, for
// an automatic mount of another volume, the record's mount id.
int MountFolderFor(uint32_t clientAddress, uint32_t kind, const char *path, ExportEntry *entry, uint64_t *inode,
                   uint32_t *rootId, int *added);
