// The preferences pages' decisions: controls filled from the settings record
// and copied back with their rules, the settings written on Apply (only what
// was changed, never over a change made on disk meanwhile), the exports
// file error line, and the client views queried from the server's own
// services over loopback.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "settings/settings.h"

// The state of a page's editable controls: check boxes and text fields by
// control id.
struct PageControls {
    std::map<int, bool> checks;
    std::map<int, std::string> texts;
};

// The three settings pages (dialog resource ids IDD_PAGE_NFS, _SERVER, _EXPORTS).
PageControls ControlsFromSettings(int page, const ServerSettingsRecord &settings);
// Copies a page's controls into the record with the pages' rules: ports
// default when not a number and keep their low 16 bits, threads 1..32 and
// transfer size 256..65536 (unchanged when not a number), the character set
// from its two boxes, the write modes and link bits.
void SettingsFromControls(int page, const PageControls &controls, ServerSettingsRecord &settings);
// A number field and the whole numbers it takes.
struct NumberField {
    int id;
    uint32_t low, high;
};
// The first number field of the page whose text is not a whole number from
// low to high (ports 0..65535, threads 1..32, transfer sizes): true and *bad
// set, else false.  The sheet refuses to leave the page or apply it then.
bool FindBadNumberField(int page, const PageControls &controls, NumberField *bad);
// "Please enter a whole number in this range: 1 - 32".
std::string NumberFieldMessage(const NumberField &field);
// The rule when a box of the NFS page changed: the last of a pair cannot be
// cleared (Version 2/3, UDP/TCP); checking one character set clears the other.
void ApplyBoxRule(int changedId, PageControls &controls);

// What the settings store held of the changeable keys when the sheet opened.
std::map<std::string, int32_t> StoredSettings();

enum ApplyOutcome { APPLY_SAVED, APPLY_CONFLICT, APPLY_FAILED };
// Writes the keys whose values differ between `shown` (the record the pages
// were filled from) and `wanted`, in one atomic replacement of the settings
// file.  Keys changed in the store since `opened` was taken are a conflict:
// nothing is written unless overwrite is set.  On success the live record
// takes `wanted`.  conflicts gets the conflicting keys.
ApplyOutcome ApplySettings(const ServerSettingsRecord &shown, const ServerSettingsRecord &wanted,
                           const std::map<std::string, int32_t> &opened, bool overwrite,
                           std::vector<std::string> *conflicts);

// The settings that take effect only when the services start again (those of
// the NFS page but the inode table's reset): the ids of the labels of those
// that differ between the record the services started with and `now`, in the
// page's order, each once.
std::vector<int> SettingsWaitingForRestart(const ServerSettingsRecord &started, const ServerSettingsRecord &now);

// The exports file error line of the Exports page: empty for code 0 or above
// 8; code 1 its text alone; else "Line <n> <text>".
std::string ExportsErrorLine(int code, uint32_t line);
// Every error of the last load of the exports file (the setting
// "ExportsErrors") as lines of ExportsErrorLine; lines gets the count of
// different file lines refused (a missing file refuses none).
std::vector<std::string> ExportsErrorLines(size_t *lines = nullptr);
// The message after a load that refused lines: their count and the first
// five errors ("Lines of the exports file refused: 3\nLine 2 ..."); empty
// when the load refused none.
std::string ExportsRefusedMessage();

// A row of a client view list.
typedef std::vector<std::string> ClientViewRow;
// The export list of the mount service (procedure 5) as rows of folder,
// options and clients; the mount list (procedure 2) as rows of client and
// mount point.  Parsed from the results (the reply from byte 24 on); a
// reply that ends inside an entry keeps the rows before and that partial row.
std::vector<ClientViewRow> ParseExportList(const uint8_t *results, size_t length);
std::vector<ClientViewRow> ParseMountList(const uint8_t *results, size_t length);
// Asks the mount service on 127.0.0.1:port (UDP, then TCP): true when a reply
// came on some transport.
bool QueryExportList(uint16_t port, std::vector<ClientViewRow> &rows);
bool QueryMountList(uint16_t port, std::vector<ClientViewRow> &rows);
// The port mapper's registrations as rows of program, version, protocol, port
// and the program's name as rpcinfo shows it; true when it answered.
bool QueryPortMapper(std::vector<ClientViewRow> &rows);
