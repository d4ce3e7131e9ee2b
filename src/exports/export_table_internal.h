// The writer side of the export table, shared by the load, the save and the
// removal of entries.  Readers use export_table.h only.
#pragma once

#include <cstdint>

#include "exports/export_entry.h"
#include "platform/ranked_lock.h"

// Held by every writer (load, save, remove) for its whole run; recursive so
// that a removal can save.
extern RankedLock ExportTableWriterLock;

// A new, zeroed entry with self set; null when memory is short.
ExportEntry *NewExportEntry();
// Frees an entry that has never been in a table.
void FreeExportEntry(ExportEntry *entry);

// Starts a load: the current table becomes the previous table (the entries
// of the older previous table are retired, never freed) and the current table
// is empty.
void ExportTableStartLoad();
// True when the current table holds an entry with this export id.
bool ExportTableHasId(uint32_t exportId);
// Takes the entry with this export id out of the previous table, or null.
ExportEntry *ExportTableTakePrevious(uint32_t exportId);
// Appends an entry to the current table, visible to readers at once.
void ExportTableAppend(ExportEntry *entry);

// The exports load notes what it read, for ExportsFileUnchanged.
void NoteExportsFileLoaded();
