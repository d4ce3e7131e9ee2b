// What the main window's two views show, and what their commands do to the
// export table and the mount table.  The window code only copies these rows
// into its list view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ExportEntry;
struct MountRecord;

enum MainView { VIEW_EXPORTS = 0, VIEW_MOUNTS = 1 };

// One row of a view: three column texts and the table entry it shows (an
// ExportEntry or a MountRecord; null for the exports view's empty last row).
struct ViewRow {
    std::string columns[3];
    void *item;
};

// A path as the window shows it: converted from UTF-8 to the code page
// CodePage when the clients' character set is UTF-8.
std::string DisplayText(const char *text);
// The options of an export as the view shows them (" -readonly -alldirs"),
// empty without options.
std::string ExportOptionsText(const ExportEntry *entry);
// " 10.0.0.1 10.0.0.2": a blank before each client address.
std::string ExportClientsText(const ExportEntry *entry);
// The Type column of a mount: "tcp" or "udp", then " public", then " auto".
std::string MountTypeText(uint32_t kind);

// One row per export of the export table, then the empty row.
std::vector<ViewRow> ExportRows();
// One row per mount record, read under MountLock; the client as its host
// name when resolve is set, else as dotted address.
std::vector<ViewRow> MountRows(bool resolve);
// The rows of a view.
std::vector<ViewRow> ViewRows(int view, bool resolve);
// The exports view of a service in another process from its mount
// service's export list (rows of name or client path, options, clients):
// every export of this process's table (read from the service's exports
// file) as ExportRows shows it, so that a file rebuilt from the view, which
// ends at the first row without entry, keeps them all; then, without
// entries, the rows the service lists that the table lacks (a file changed
// since the service read it); then the empty row.
std::vector<ViewRow> ServedExportRows(const std::vector<std::vector<std::string>> &served);
// The rows of a view as the mount service on 127.0.0.1:mountPort lists them
// (EXPORT and DUMP; port 0: the service is not asked): the exports as
// above; the mounts as folder (the Windows path when it lies in an export
// of the table), an empty type and client, without entries (they cannot be
// disconnected from here).
std::vector<ViewRow> ServedViewRows(int view, uint16_t mountPort);
// Rows that stand for entries (the exports view's empty row excluded).
size_t CountedRows(int view, const std::vector<ViewRow> &rows);

// Remove (exports view) and Disconnect (mounts view): the selected rows in
// order; the first whose entry is still in its table is removed from it.
// A row without entry (the empty row) ends the command.  Returns the index
// (into selected) of the row removed, or -1 when nothing was removed.
int RemoveSelectedExport(const std::vector<void *> &selected);
int DisconnectSelectedMount(const std::vector<void *> &selected);

// Widths of the three columns of the main view: the list's client width less
// a vertical scroll bar, split 50, 25 and 25 per cent.
void MainColumnWidths(int clientWidth, int scrollWidth, int widths[3]);
// Widths of columns given in per cent of the same width.
std::vector<int> ColumnWidths(int clientWidth, int scrollWidth, const std::vector<int> &percent);
