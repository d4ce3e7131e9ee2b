// Reporting of exports file errors: the settings "ExportsError" and
// "ExportsLine" (read by the preferences page, which shows the last error)
// and a log line.
#pragma once

#include <cstdint>

// Writes both settings as 0.
void ClearExportsError();
// Records code for line and logs it; word is the option or client word for
// codes 5 and 6 (ignored otherwise).
void RecordExportsError(int code, uint32_t line, const char *word);
