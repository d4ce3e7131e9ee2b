// The export table: the exports file read into an ordered list of entries,
// searched by the mount service and read by the file system backend.
//
// The table has no lock for readers.  A load empties the current table and
// appends entries one by one, so a concurrent reader sees a prefix of the new
// table; entries are never freed once they have been in a table.  Loads,
// saves and removals are serialised among themselves.
#pragma once

#include <cstdint>
#include <cstdio>

#include "exports/export_entry.h"

// Walking the current table: ExportFirst() then ExportNext(entry) until null.
ExportEntry *ExportFirst();
ExportEntry *ExportNext(const ExportEntry *entry);

// Reads DataDirectory + "exports" into a new current table.  Errors go to the
// log as they are met, the last one to the settings "ExportsError" and
// "ExportsLine" (both 0 when the file had none) and all of them to
// "ExportsErrors" (see exports_errors.h).
void ExportsLoad();

// Error codes of the exports file.
enum ExportsErrorCode {
    EXPORTS_OK = 0,
    EXPORTS_CANNOT_OPEN = 1,
    EXPORTS_EXPECTED_PATH = 3,
    EXPORTS_BAD_OPTION = 5,
    EXPORTS_BAD_CLIENT = 6,
    EXPORTS_TOO_MANY_CLIENTS = 7,
    EXPORTS_DUPLICATE = 8,
};

// The error code of the last load (0: none) and its line.
int ExportsLastError(uint32_t *line);

// Writes the current table into the exports file, keeping the old file as
// "exports.old" and the old file's leading comment lines.  1 on success, 0
// when the backup rename, an open or a write fails.
int ExportsSave();

// 1 when the exports file on disk is still the one the current table was
// loaded from or last saved to; 0 when it was changed since (by hand or by
// another program), so that writing the table would lose that change.
int ExportsFileUnchanged();

// Moves an entry of the current table to the previous table and saves the
// file.  1, or 0 when the entry is not in the current table.
int ExportRemove(ExportEntry *entry);

// Finds the export for a client's mount path (a buffer of EXPORT_PATH_SIZE
// bytes).  0: allowed, *entry set, path rewritten in place to the Windows
// path; 2: no export matches the path; 13: an export matches but admits no
// such client (*entry is then the last matching entry).  The path is left
// unchanged unless the result is 0.
int FindExport(char *path, uint32_t clientAddress, ExportEntry **entry);

// 1 when the entry's client list admits the address (network byte order):
// every client when the list is empty, a range member with -range, else an
// equal address.
int ExportAdmits(const ExportEntry *entry, uint32_t clientAddress);

// The entry of the current table with this export id, or null.
ExportEntry *FindExportById(uint32_t exportId);

// The id file handles carry for objects of an export: CRC-32 (no final
// inversion) of its path with ASCII letters in lower case.  It depends on the
// folder alone, so handles keep working across restarts, changes of the
// export's options and clients, and whatever happens to mount records.
uint32_t ExportHandleId(const char *path);
// The entry of the current table whose handle id this is, or null.
ExportEntry *FindExportByHandleId(uint32_t handleId);

// The same line into a buffer; returns the length it needs (as snprintf).
int FormatExportText(char *buffer, size_t size, const ExportEntry *entry, int withId);

// The export id: CRC-32 (no final inversion) of the entry's path, volume,
// flags, options, name and client bytes.
uint32_t ComputeExportId(const ExportEntry *entry);

// Examines the volume of path: sets *serial and *maxNameLength and every
// EXPORT_VOLUME_BITS bit of *flags (the -ci bit of *flags is read).
// 1, or 0 when the volume cannot be examined.
int ProbeVolume(const char *path, uint32_t *serial, uint32_t *maxNameLength, uint32_t *flags);

// For a folder chosen in the exports editor: appends a backslash when it is
// missing and there is room; a folder that exists on a network drive is
// replaced by its UNC name.
void ResolveExportFolder(char *path, size_t size);

// Frees every entry of every table.  Only for the end of the process and for
// tests: nothing may point at an entry afterwards.
void ExportTablesFree();
