// Rows of the main window's views.
#include "ui/main_view.h"

#include <cstdio>
#include <cstring>

#include "exports/exports.h"
#include "exports/mount_table.h"
#include "settings/settings.h"
#include "ui/preferences.h"

namespace {

std::string Format(const char *format, long long a, long long b = 0)
{
    char text[64];
    snprintf(text, sizeof(text), format, a, b);
    return text;
}

// " -maproot:%d:%d" or " -maproot:%d" (uid and gid as signed numbers).
std::string IdOption(const char *word, uint32_t uid, uint32_t gid, bool withGid)
{
    std::string text = std::string(" -") + word + ":" + Format("%lld", (int32_t)uid);
    if (withGid)
        text += Format(":%lld", (int32_t)gid);
    return text;
}

std::string Dotted(uint32_t address)
{
    char text[16];
    return FormatAddress(address, text);
}

}  // namespace

std::string DisplayText(const char *text)
{
    char buffer[4096];
    snprintf(buffer, sizeof(buffer), "%s", text != nullptr ? text : "");
    if (ServerSettings.CharSetActive == 2)
        ConvertCodePage(0, ServerSettings.CodePage, buffer, sizeof(buffer));
    return buffer;
}

std::string ExportOptionsText(const ExportEntry *entry)
{
    const uint32_t flags = entry->flags;
    const ExportOptions &o = entry->options;
    std::string text;
    if (entry->name != nullptr)
        text += " -name:" + DisplayText(entry->name + 1);
    static const struct {
        uint32_t flag;
        const char *word;
    } plain[] = {{EXPORT_READONLY, " -readonly"}, {EXPORT_CI, " -ci"},         {EXPORT_HIDE, " -hide"},
                 {EXPORT_LOWERCASE, " -lowercase"}, {EXPORT_PUBLIC, " -public"}, {EXPORT_ALLDIRS, " -alldirs"},
                 {EXPORT_EXEC, " -exec"}};
    for (const auto &option : plain)
        if (flags & option.flag)
            text += option.word;
    if (flags & EXPORT_UMASK) {
        char umask[16];
        snprintf(umask, sizeof(umask), " -umask:%3.3o", o.umask);
        text += umask;
    }
    if (flags & EXPORT_SUB) {
        text += Format(" -sub:%lld", o.subColon);
        if (o.subQuestion != 0)
            text += Format(",%lld", o.subQuestion);
    }
    if (flags & EXPORT_MAPROOT_UID)
        text += IdOption("maproot", o.maprootUid, o.maprootGid, (flags & EXPORT_MAPROOT_GID) != 0);
    if (flags & EXPORT_MAPALL_UID)
        text += IdOption("mapall", o.mapallUid, o.mapallGid, (flags & EXPORT_MAPALL_GID) != 0);
    if (flags & EXPORT_UID)
        text += IdOption("uid", o.uid, o.gid, (flags & EXPORT_GID) != 0);
    // A saved view must give back the same export: the cache size too.
    if (entry->cacheOption != EXPORT_NO_CACHE_OPTION)
        text += Format(" -cache:%lld", entry->cacheOption);
    if (flags & EXPORT_RANGE)
        text += " -range";
    return text;
}

std::string ExportClientsText(const ExportEntry *entry)
{
    std::string text;
    for (int32_t i = 0; entry->options.clients != nullptr && i < entry->options.clientCount; i++)
        text += " " + Dotted(entry->options.clients[i]);
    return text;
}

std::string MountTypeText(uint32_t kind)
{
    std::string text;
    if ((kind & MOUNT_KIND_TRANSPORT) == MOUNT_KIND_TCP)
        text = "tcp";
    else if ((kind & MOUNT_KIND_TRANSPORT) == MOUNT_KIND_UDP)
        text = "udp";
    if (kind & MOUNT_KIND_WEBNFS)
        text += " public";
    if (kind & MOUNT_KIND_AUTO)
        text += " auto";
    return text;
}

std::vector<ViewRow> ExportRows()
{
    std::vector<ViewRow> rows;
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = ExportNext(entry))
        rows.push_back({{DisplayText(entry->path), ExportOptionsText(entry), ExportClientsText(entry)}, entry});
    rows.push_back({{"", "", ""}, nullptr});
    return rows;
}

std::vector<ViewRow> MountRows(bool resolve)
{
    std::vector<ViewRow> rows;
    LockTake(&MountLock);
    for (MountRecord *record = MountTableHead(); record != nullptr; record = record->next) {
        const char *path = record->path != nullptr && record->path[0] != '\0' ? record->path
                                                                                : record->exportEntry->path;
        rows.push_back({{DisplayText(path), MountTypeText(record->kind),
                         resolve ? std::string(record->hostName) : Dotted(record->clientAddress)},
                        record});
    }
    LockGive(&MountLock);
    return rows;
}

std::vector<ViewRow> ViewRows(int view, bool resolve)
{
    return view == VIEW_MOUNTS ? MountRows(resolve) : ExportRows();
}

std::vector<ViewRow> ServedExportRows(const std::vector<ClientViewRow> &served)
{
    std::vector<ViewRow> rows;
    std::vector<bool> matched(served.size(), false);
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = ExportNext(entry)) {
        // The service lists an export by its name, else by its client path.
        char directory[EXPORT_PATH_SIZE];
        std::string listed = entry->name != nullptr ? entry->name
                             : ToClientPath(entry->path, directory, sizeof(directory)) ? directory
                                                                                        : "";
        listed = DisplayText(listed.c_str());
        for (size_t i = 0; i < served.size(); i++)
            if (!matched[i] && served[i][0] == listed) {
                matched[i] = true;
                break;
            }
        rows.push_back({{DisplayText(entry->path), ExportOptionsText(entry), ExportClientsText(entry)}, entry});
    }
    for (size_t i = 0; i < served.size(); i++)
        if (!matched[i])
            rows.push_back({{served[i][0], served[i][1], served[i][2]}, nullptr});
    rows.push_back({{"", "", ""}, nullptr});
    return rows;
}

namespace {

// A folder as the service's mount list names it ("/c/data/sub"), shown as
// the exports view shows the export it lies in ("C:\data\sub"); unchanged
// outside every export.
std::string MountedFolder(const std::string &listed)
{
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = ExportNext(entry)) {
        char client[EXPORT_PATH_SIZE];
        if (!ToClientPath(entry->path, client, sizeof(client)))
            continue;
        std::string root = DisplayText(client);
        if (listed.compare(0, root.size(), root) != 0 || (listed.size() > root.size() && listed[root.size()] != '/'))
            continue;
        std::string rest = listed.substr(root.size());
        for (char &c : rest)
            c = c == '/' ? '\\' : c;
        return DisplayText(entry->path) + rest;
    }
    return listed;
}

}  // namespace

std::vector<ViewRow> ServedViewRows(int view, uint16_t mountPort)
{
    std::vector<ClientViewRow> served;
    if (view == VIEW_EXPORTS) {
        if (mountPort != 0)
            QueryExportList(mountPort, served);
        return ServedExportRows(served);
    }
    std::vector<ViewRow> rows;
    if (mountPort != 0 && QueryMountList(mountPort, served))
        for (const ClientViewRow &row : served)
            rows.push_back({{MountedFolder(row.size() > 1 ? row[1] : ""), "", row[0]}, nullptr});
    return rows;
}

size_t CountedRows(int view, const std::vector<ViewRow> &rows)
{
    return view == VIEW_EXPORTS && !rows.empty() ? rows.size() - 1 : rows.size();
}

namespace {

// The first selected entry that its table still holds is removed.
template <typename Entry>
int RemoveFirstHeld(const std::vector<void *> &selected, int (*remove)(Entry *))
{
    for (size_t i = 0; i < selected.size(); i++) {
        if (selected[i] == nullptr)
            return -1;
        if (remove(static_cast<Entry *>(selected[i])))
            return (int)i;
    }
    return -1;
}

}  // namespace

int RemoveSelectedExport(const std::vector<void *> &selected) { return RemoveFirstHeld(selected, ExportRemove); }

int DisconnectSelectedMount(const std::vector<void *> &selected) { return RemoveFirstHeld(selected, MountRemove); }

std::vector<int> ColumnWidths(int clientWidth, int scrollWidth, const std::vector<int> &percent)
{
    int usable = clientWidth - scrollWidth;
    if (usable < 0)
        usable = 0;
    std::vector<int> widths;
    for (int p : percent)
        widths.push_back(usable * p / 100);
    return widths;
}

void MainColumnWidths(int clientWidth, int scrollWidth, int widths[3])
{
    std::vector<int> w = ColumnWidths(clientWidth, scrollWidth, {50, 25, 25});
    for (int i = 0; i < 3; i++)
        widths[i] = w[i];
}
