// One export as a line of the exports file.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "exports/export_table.h"
#include "exports/exports_address.h"
#include "exports/exports_names.h"
#include "settings/settings.h"

namespace {

// Collects the pieces of a line into a buffer of fixed size, counting what
// would not fit (as snprintf does).
struct LineBuilder {
    char *buffer;
    size_t size;
    size_t length;

    void Add(const char *format, ...)
    {
        va_list args;
        va_start(args, format);
        char *at = length < size ? buffer + length : nullptr;
        size_t room = length < size ? size - length : 0;
        int n = vsnprintf(at, room, format, args);
        va_end(args);
        if (n > 0)
            length += static_cast<size_t>(n);
    }
};

// The text as the file holds it: back from UTF-8 to the code page when the
// clients' character set is UTF-8.
void FileForm(const char *text, char *out, size_t size)
{
    snprintf(out, size, "%s", text);
    if (ServerSettings.CharSetActive == 2)
        ConvertCodePage(0, ServerSettings.CodePage, out, static_cast<uint32_t>(size));
}

int AsSigned(uint32_t value) { return static_cast<int>(value); }

} // namespace

int FormatExportText(char *buffer, size_t size, const ExportEntry *entry, int withId)
{
    LineBuilder line{buffer, size, 0};
    if (size > 0)
        buffer[0] = 0;
    const ExportOptions &o = entry->options;
    const uint32_t flags = entry->flags;
    char text[EXPORT_PATH_SIZE];

    if (withId)
        line.Add("%8.8x ", o.exportId);
    FileForm(entry->path != nullptr ? entry->path : "", text, sizeof(text));
    // A path with blanks is quoted, or it would read back as a path and
    // clients.
    if (strpbrk(text, " \t\r") != nullptr) {
        line.Add("\"%s\"", text);
        for (size_t shown = strlen(text) + 2; shown < 16; shown++)
            line.Add(" ");
    } else {
        line.Add("%-16s", text);
    }
    if (entry->name != nullptr) {
        FileForm(entry->name + 1, text, sizeof(text));
        line.Add(" -name:%s", text);
    }
    if (flags & EXPORT_CI)
        line.Add(" -ci");
    if (flags & EXPORT_HIDE)
        line.Add(" -hide");
    if (flags & EXPORT_READONLY)
        line.Add(" -readonly");
    if (flags & EXPORT_LOWERCASE)
        line.Add(" -lowercase");
    if (flags & EXPORT_PUBLIC)
        line.Add(" -public");
    if (flags & EXPORT_ALLDIRS)
        line.Add(" -alldirs");
    if (flags & EXPORT_EXEC)
        line.Add(" -exec");
    if (flags & EXPORT_UMASK)
        line.Add(" -umask:%3.3o", o.umask);
    if (flags & EXPORT_SUB) {
        line.Add(" -sub:%u", static_cast<unsigned>(o.subColon));
        if (o.subQuestion != 0)
            line.Add(",%u", static_cast<unsigned>(o.subQuestion));
    }
    if (flags & EXPORT_MAPROOT_UID) {
        line.Add(" -maproot:%d", AsSigned(o.maprootUid));
        if (flags & EXPORT_MAPROOT_GID)
            line.Add(":%d", AsSigned(o.maprootGid));
    }
    if (flags & EXPORT_MAPALL_UID) {
        line.Add(" -mapall:%d", AsSigned(o.mapallUid));
        if (flags & EXPORT_MAPALL_GID)
            line.Add(":%d", AsSigned(o.mapallGid));
    }
    if (flags & EXPORT_RANGE)
        line.Add(" -range");
    if (flags & EXPORT_UID) {
        if (flags & EXPORT_GID)
            line.Add(" -uid:%d:%d", AsSigned(o.uid), AsSigned(o.gid));
        else
            line.Add(" -uid:%d", AsSigned(o.uid));
    }
    if (entry->cacheOption != EXPORT_NO_CACHE_OPTION)
        line.Add(" -cache:%u", entry->cacheOption);
    if (o.clientCount > 0 && o.clients != nullptr) {
        line.Add(" ");
        char address[16];
        for (int32_t i = 0; i < o.clientCount; i++)
            line.Add(" %s", FormatAddress(o.clients[i], address));
    }
    line.Add("\n");
    return static_cast<int>(line.length);
}

