// The options of an export line ("-readonly", "-umask:022", ...).
#pragma once

#include "exports/export_entry.h"

// Applies one option word (the text after '-') to the entry.  Returns 1 for a
// known option, also when its value is missing or unfit and so ignored, and 0
// for an unknown one.
int ApplyExportOption(ExportEntry *entry, const char *word);
