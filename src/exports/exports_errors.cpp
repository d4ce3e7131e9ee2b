#include "exports/exports_errors.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "exports/export_table.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

// The last error of the running (or last) load; written by the loader under
// the table's writer lock, read by anyone.
std::atomic<int> lastCode{0};
std::atomic<uint32_t> lastLine{0};
// Every error of the load as "line:code" words (the loader's own).
std::string allErrors;
int keptErrors = 0;

} // namespace

void BeginExportsErrors()
{
    lastCode = 0;
    lastLine = 0;
    allErrors.clear();
    keptErrors = 0;
}

void RecordExportsError(int code, uint32_t line, const char *word)
{
    lastCode = code;
    lastLine = line;
    if (keptErrors++ < EXPORTS_ERRORS_KEPT) {
        char pair[32];
        snprintf(pair, sizeof(pair), "%s%u:%d", allErrors.empty() ? "" : " ", line, code);
        allErrors += pair;
    }
    const char *w = word != nullptr ? word : "";
    switch (code) {
    case EXPORTS_CANNOT_OPEN:
        LogStartup(1, "mountd: %s\n", "Failed to open exports file");
        break;
    case EXPORTS_EXPECTED_PATH:
        LogStartup(1, "mountd: Line %u %s\n", line, "ignored, expected path");
        break;
    case EXPORTS_BAD_OPTION:
        LogStartup(1, "mountd: Line %u %s %s\n", line, "ignored, unknown/invalid option", w);
        break;
    case EXPORTS_BAD_CLIENT:
        LogStartup(1, "mountd: Line %u %s %s\n", line, "ignored, invalid client", w);
        break;
    case EXPORTS_TOO_MANY_CLIENTS:
        LogStartup(1, "mountd: Line %u %s\n", line, "truncated, too many clients");
        break;
    case EXPORTS_DUPLICATE:
        LogStartup(1, "mountd: Line %u %s\n", line, "ignored, duplicate entry");
        break;
    default:
        break;
    }
}

void EndExportsErrors()
{
    WriteInt("nfsd", "ExportsError", lastCode, 0);
    WriteInt("nfsd", "ExportsLine", static_cast<int32_t>(lastLine.load()), 0);
    WriteString("nfsd", "ExportsErrors", allErrors.empty() ? nullptr : allErrors.c_str());
}

int ExportsLastError(uint32_t *line)
{
    if (line != nullptr)
        *line = lastLine;
    return lastCode;
}
