#include "exports/exports_errors.h"

#include "exports/export_table.h"
#include "log/log.h"
#include "settings/settings.h"

void ClearExportsError()
{
    WriteInt("nfsd", "ExportsError", 0, 0);
    WriteInt("nfsd", "ExportsLine", 0, 0);
}

void RecordExportsError(int code, uint32_t line, const char *word)
{
    WriteInt("nfsd", "ExportsError", code, 0);
    WriteInt("nfsd", "ExportsLine", static_cast<int32_t>(line), 0);
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
