// Reporting of exports file errors: the settings "ExportsError" and
// "ExportsLine" (read by the preferences page, which shows the last error)
// and a log line for each error.
#pragma once

#include <cstdint>

// A load begins: no error so far.
void BeginExportsErrors();
// Logs an error at once and keeps it as the load's last one; word is the
// option or client word of codes 5 and 6 (ignored otherwise).
void RecordExportsError(int code, uint32_t line, const char *word);
// A load ends: the last error (or 0 and 0) goes to the settings.  Only the
// last error is ever shown, so the store is written once per load.
void EndExportsErrors();
