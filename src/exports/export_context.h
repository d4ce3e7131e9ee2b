// The per-request view of a mount and its export: filled from the mount table
// for the mount id of every file handle, and passed to every operation of the
// file system backend.
#pragma once

#include <cstdint>

#include "exports/export_entry.h"

struct ExportContext {
    uint32_t maxNameLength;    // maximum name-component length of the mounted folder's volume
    uint32_t volumeSerial;     // serial number of that volume
    uint32_t flags;            // the export's EXPORT_* bits with the volume bits of the mounted folder
    uint32_t kind;             // transport of the mount (17 UDP, 6 TCP), + 0x100 WebNFS, + 0x200 automatic
    ExportEntry *exportEntry;  // the export; its options record is read by the backend
    // The root path: the mounted folder's own path when the mount has one,
    // else the export's path.  Operations may reuse the buffer for a path of
    // their own once they no longer need the root (a directory listing keeps
    // the directory's path here).
    char path[EXPORT_PATH_SIZE];
};

// Fills context for the mount record with this id.  1 found, 0 stale.
// Defined by the mount table (mount_table.cpp).
int ExportContextById(uint32_t mountId, ExportContext *context);

// Mounts a folder on another volume that a client reached from the mount of
// context, as the Automount setting allows.  1 with *inode and *mountId of the
// new (or refreshed) mount, 0 when not mounted.  Defined by the mount service
// (mount_auto.cpp); the backend's lookup calls it.
int AutoMount(uint32_t clientAddress, const char *windowsPath, const ExportContext *context, uint64_t *inode,
              uint32_t *mountId);

// 0 when path lies inside the context's root folder, else non-zero: on the
// same volume (unless the flags have EXPORT_VOLUME_FIXED), beginning with the
// root path compared without regard to ASCII case, continuing there at a
// component boundary, and with no ".." component.  Every backend operation
// checks each path it builds; defined by the backend (fs/containment.cpp).
int CheckContainment(const char *path, const ExportContext *context);
