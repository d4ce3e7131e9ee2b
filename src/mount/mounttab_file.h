// The file "mounttab" in the data directory: the UDP mounts of the mount
// table, so that they survive a restart of the server.  One text line per
// record whose transport is UDP:
//   "%x " of the client address in host order (192.168.1.10 -> "c0a8010a "),
//   then, when the record has its own path, that path and "|",
//   then the export's path and the line end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mount/mount_table.h"

#define MOUNTTAB_FILE_NAME "mounttab"
// Lines longer than this are not mounttab lines.
#define MOUNTTAB_LINE_SIZE (16 + 2 * 2048 + 4)
// At most this many lines are read back.
#define MOUNTTAB_MAX_LINES 65536

// Rewrites mounttab from the mount table.  The new contents go to a
// temporary file that then replaces mounttab, so a failed write never leaves
// a cut table behind.  1 on success, 0 when the file could not be written.
int MountTabSave();
// Reads mounttab and mounts again every line whose export still admits the
// client.  Lines are taken oldest first (the file lists the newest first), so
// the table comes back in its order.  Lines that fail are skipped.  Returns
// the number of records added or refreshed.
int MountTabLoad();

// The line of one record into buffer (terminated, with "\n").  Returns its
// length, 0 when the record is not written (not UDP) or does not fit.
size_t FormatMountTabLine(const MountRecord *record, char *buffer, size_t size);
// Splits a line (its line end already removed) in place.  Returns 1 with the
// address in network order and the two paths (equal without "|"), or 0 when
// the line has no hex address followed by a blank and a path.
int ParseMountTabLine(char *line, uint32_t *clientAddress, const char **mountedPath, const char **exportPath);
