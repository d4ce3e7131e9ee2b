// The per-request view of a mount and its export: filled from the mount
// record of a file handle's mount id (ExportContextById, mount_table.h) and
// handed to every operation of the file system backend.
#pragma once

#include <cstdint>

#include "exports/export_entry.h"

struct ExportContext {
    uint32_t maxNameLength;     // of the mounted folder's volume
    uint32_t volumeSerial;      // of the mounted folder's volume
    uint32_t flags;             // EXPORT_* bits: the export's options with the folder's volume bits
    uint32_t kind;              // the mount's transport (17, 6) and marks (mount_table.h)
    uint32_t mountId;           // the mount record's id
    ExportEntry *exportEntry;   // the export; never freed while a record refers to it
    const ExportOptions *options;  // &exportEntry->options: umask, uid/gid maps, cache, -sub: pair
    char rootPath[EXPORT_PATH_SIZE];  // the mounted folder: the record's own path, else the export's
};
