// The per-request view of a mount and its export: filled from the mount table
// (ExportContextById) for the mount id of every file handle, and passed to
// every operation of the file system backend.
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

