#include "exports/exports_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exports/exports_names.h"
#include "settings/settings.h"

namespace {

struct FlagOption {
    const char *word;
    uint32_t flag;
};

const FlagOption kFlagOptions[] = {
    {"readonly", EXPORT_READONLY}, {"ro", EXPORT_READONLY},      {"ci", EXPORT_CI},
    {"lowercase", EXPORT_LOWERCASE}, {"alldirs", EXPORT_ALLDIRS}, {"public", EXPORT_PUBLIC},
    {"exec", EXPORT_EXEC},         {"hide", EXPORT_HIDE},        {"range", EXPORT_RANGE},
};

// The text after "name:" when word begins with it, else null.
const char *ValueOf(const char *word, const char *name)
{
    size_t n = strlen(name);
    return strncmp(word, name, n) == 0 ? word + n : nullptr;
}

// Unsigned decimal or octal digits; false when none.  Values that overflow
// keep their low bits, which is all any option keeps.
bool ReadUnsigned(const char *&p, unsigned base, uint32_t &value)
{
    const char *start = p;
    uint32_t v = 0;
    while (*p >= '0' && *p < static_cast<char>('0' + base)) {
        v = v * base + static_cast<uint32_t>(*p - '0');
        p++;
    }
    value = v;
    return p != start;
}

// Optional minus sign, then decimal digits.
bool ReadSigned(const char *&p, uint32_t &value)
{
    const char *start = p;
    bool negative = *p == '-';
    if (negative)
        p++;
    uint32_t v;
    if (!ReadUnsigned(p, 10, v)) {
        p = start;
        return false;
    }
    value = negative ? 0u - v : v;
    return true;
}

// "u[:g]" of -uid:, -maproot: and -mapall:, low 16 bits each.
void ApplyIds(ExportEntry *entry, const char *p, uint32_t &uid, uint32_t &gid, uint32_t uidFlag, uint32_t gidFlag)
{
    uint32_t u;
    if (!ReadSigned(p, u))
        return;
    uid = u & 0xFFFF;
    entry->flags |= uidFlag;
    if (*p == ':') {
        p++;
        uint32_t g;
        if (ReadSigned(p, g)) {
            gid = g & 0xFFFF;
            entry->flags |= gidFlag;
        }
    }
}

// A -sub: character must be one byte that can stand in a file name; a
// backslash or a slash would turn one client name into a path.
bool FitForName(uint32_t value) { return value > 0 && value <= 255 && AllowedChar(static_cast<int>(value)) != 0; }

void ApplySub(ExportEntry *entry, const char *p)
{
    uint32_t colon;
    if (!ReadUnsigned(p, 10, colon) || !FitForName(colon))
        return;
    uint32_t question = 0;
    if (*p == ',') {
        p++;
        if (ReadUnsigned(p, 10, question) && question != 0 && !FitForName(question))
            return;
    }
    entry->options.subColon = static_cast<uint8_t>(colon);
    entry->options.subQuestion = static_cast<uint8_t>(question);
    entry->flags |= EXPORT_SUB;
}

void ApplyName(ExportEntry *entry, const char *text)
{
    size_t length = strlen(text);
    if (length < 2 || (text[0] >= '0' && text[0] <= '9') || strpbrk(text, ":/\\") != nullptr)
        return;
    char *name = static_cast<char *>(malloc(EXPORT_PATH_SIZE));
    if (name == nullptr)
        return;
    name[0] = '/';
    snprintf(name + 1, EXPORT_PATH_SIZE - 1, "%s", text);
    if (ServerSettings.CharSetActive == 2)
        ConvertCodePage(1, ServerSettings.CodePage, name + 1, EXPORT_PATH_SIZE - 1);
    char *shrunk = static_cast<char *>(realloc(name, strlen(name) + 1));
    free(entry->name);
    entry->name = shrunk != nullptr ? shrunk : name;
}

} // namespace

int ApplyExportOption(ExportEntry *entry, const char *word)
{
    for (const FlagOption &option : kFlagOptions)
        if (strcmp(word, option.word) == 0) {
            entry->flags |= option.flag;
            return 1;
        }

    ExportOptions &o = entry->options;
    const char *value;
    uint32_t number;
    if ((value = ValueOf(word, "umask:")) != nullptr) {
        if (ReadUnsigned(value, 8, number)) {
            o.umask = number & 0777;
            entry->flags |= EXPORT_UMASK;
        }
        return 1;
    }
    if ((value = ValueOf(word, "sub:")) != nullptr) {
        ApplySub(entry, value);
        return 1;
    }
    if ((value = ValueOf(word, "uid:")) != nullptr) {
        ApplyIds(entry, value, o.uid, o.gid, EXPORT_UID, EXPORT_GID);
        return 1;
    }
    if ((value = ValueOf(word, "maproot:")) != nullptr) {
        ApplyIds(entry, value, o.maprootUid, o.maprootGid, EXPORT_MAPROOT_UID, EXPORT_MAPROOT_GID);
        return 1;
    }
    if ((value = ValueOf(word, "mapall:")) != nullptr) {
        ApplyIds(entry, value, o.mapallUid, o.mapallGid, EXPORT_MAPALL_UID, EXPORT_MAPALL_GID);
        return 1;
    }
    if ((value = ValueOf(word, "name:")) != nullptr) {
        ApplyName(entry, value);
        return 1;
    }
    if ((value = ValueOf(word, "cache:")) != nullptr) {
        if (ReadUnsigned(value, 10, number)) {
            entry->cacheOption = number;
            o.cacheSize = number < ServerSettings.Cache ? number : ServerSettings.Cache;
        }
        return 1;
    }
    return 0;
}
