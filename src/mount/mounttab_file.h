// The file "mounttab" in the data directory: the UDP mounts of the mount
// table, so that they survive a restart of the server with their mount ids.
// A text file of lines, each one of:
//   "%x:%8.8x " of the client address in host order and the mount id,
//     then, when the record has its own path, that path and "|",
//     then the export's path: the record (a later line for the same id
//     replaces it);
//   "-%x:%8.8x": the record with that address and id left the table;
//   "%x " and the paths, without an id: a line of a file written before ids
//     were kept (such files list the newest record first).
// Changes are appended; the file is written whole (compacted) at the start,
// when it holds more than twice the lines it needs, and when appending
// failed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exports/mount_table.h"

#define MOUNTTAB_FILE_NAME "mounttab"
// Lines longer than this are not mounttab lines.
#define MOUNTTAB_LINE_SIZE (32 + 2 * 2048 + 4)
// At most this many lines are read back.
#define MOUNTTAB_MAX_LINES 262144

// Brings mounttab up to date with the mount table: appends what changed
// since the last save, or writes the whole file (to a temporary file that
// then replaces mounttab, so a failed write never leaves a cut table behind).
// 1 on success, 0 when the file could not be written.
int MountTabSave();
// Reads mounttab and mounts again every record whose export still admits the
// client, with the id it had; then writes the file whole.  Lines that fail
// are skipped.  Returns the number of records added or refreshed.
int MountTabLoad();

// The line of one record into buffer (terminated, with "\n").  Returns its
// length, 0 when the record is not written (not UDP) or does not fit.
size_t FormatMountTabLine(const MountRecord *record, char *buffer, size_t size);

enum MountTabLineKind {
    MOUNTTAB_BAD = 0,
    MOUNTTAB_OLD_RECORD = 1,  // a record without id
    MOUNTTAB_RECORD = 2,
    MOUNTTAB_REMOVED = 3,
};
struct MountTabLine {
    uint32_t clientAddress;     // network order
    uint32_t mountId;           // MOUNTTAB_RECORD and MOUNTTAB_REMOVED
    const char *mountedPath;    // records: the two paths (equal without "|")
    const char *exportPath;
};
// Splits a line (its line end already removed) in place; returns its kind.
int ParseMountTabLine(char *line, MountTabLine *out);
