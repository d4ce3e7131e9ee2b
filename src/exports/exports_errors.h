// Reporting of exports file errors: the settings "ExportsError" and
// "ExportsLine" (the load's last error), "ExportsErrors" (every error of the
// load as blank-separated "line:code" words, at most EXPORTS_ERRORS_KEPT;
// read by the window, also of a service in another process) and a log line
// for each error.
#pragma once

#include <cstdint>

#define EXPORTS_ERRORS_KEPT 100

// A load begins: no error so far.
void BeginExportsErrors();
// Logs an error at once and keeps it with the load's others; word is the
// option or client word of codes 5 and 6 (ignored otherwise).
void RecordExportsError(int code, uint32_t line, const char *word);
// A load ends: the last error (or 0 and 0) and the list of all go to the
// settings, written once per load.
void EndExportsErrors();
