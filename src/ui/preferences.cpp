// Preferences pages: settings mapping, apply, error line, client views.
#include "ui/preferences.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "exports/export_table.h"
#include "exports/exports_errors.h"
#include "exports/exports_names.h"
#include "rpc/port_mapper.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "rpc/xdr.h"
#include "ui/language.h"
#include "ui/resource.h"

namespace {

std::string Number(uint32_t value) { return std::to_string(value); }

// "%u" of a field's text, as the pages read numbers; false when it is none.
bool ReadNumber(const std::map<int, std::string> &texts, int id, uint32_t *value)
{
    auto found = texts.find(id);
    if (found == texts.end())
        return false;
    const char *text = found->second.c_str();
    while (*text == ' ' || *text == '\t')
        text++;
    if (!((*text >= '0' && *text <= '9') || *text == '-' || *text == '+'))
        return false;
    *value = (uint32_t)strtoul(text, nullptr, 10);
    return true;
}

uint16_t Port(const PageControls &c, int id, uint16_t fallback)
{
    uint32_t value;
    return ReadNumber(c.texts, id, &value) ? (uint16_t)(value & 0xFFFFu) : fallback;
}

// Clamped as a signed 32-bit number: a negative entry becomes the lower bound.
uint32_t Clamped(const PageControls &c, int id, uint32_t previous, int32_t low, int32_t high)
{
    uint32_t value;
    if (!ReadNumber(c.texts, id, &value))
        return previous;
    int32_t n = (int32_t)value;
    return (uint32_t)(n < low ? low : n > high ? high : n);
}

bool Check(const PageControls &c, int id)
{
    auto found = c.checks.find(id);
    return found != c.checks.end() && found->second;
}

void SetBit(uint32_t &value, uint32_t bit, bool on) { value = on ? (value | bit) : (value & ~bit); }

// --- Reading XDR results ---------------------------------------------------------
struct Reader {
    const uint8_t *data;
    size_t length, at;
    bool Word(uint32_t *value)
    {
        if (length - at < 4)
            return false;
        *value = XdrLoad32(data + at);
        at += 4;
        return true;
    }
    // A counted string, of which at most keep bytes are kept.
    bool String(std::string *text, size_t keep)
    {
        uint32_t count;
        if (!Word(&count) || count > length - at)
            return false;
        text->assign((const char *)data + at, count < keep ? count : keep);
        size_t padded = ((size_t)count + 3) & ~(size_t)3;
        at = padded > length - at ? length : at + padded;
        return true;
    }
};

std::string ShownPath(std::string path)
{
    char buffer[2048];
    snprintf(buffer, sizeof(buffer), "%s", path.c_str());
    if (ServerSettings.CharSetActive == 2)
        ConvertCodePage(0, ServerSettings.CodePage, buffer, sizeof(buffer));
    return buffer;
}

bool MountCall(uint16_t port, uint32_t proc, std::vector<uint8_t> &results)
{
    const uint16_t transports[] = {RPC_PROTO_UDP, RPC_PROTO_TCP};
    for (uint16_t protocol : transports) {
        RpcTransport *t = NewTransport(INVALID_SOCKET, protocol, 0, 8192);
        if (t == nullptr)
            return false;
        t->length = (int32_t)ClientBuildCall(t, 100005, 2, proc, nullptr, nullptr);
        int replied = ClientCall(t, protocol, port);
        if (replied >= 24)
            results.assign(t->buffer + 24, t->buffer + replied);
        FreeTransport(t);
        if (replied >= 24)
            return true;
    }
    return false;
}

std::vector<ClientViewRow> *DumpRows = nullptr;

// The names rpcinfo shows for the programs this server registers.
const char *ProgramName(uint32_t prog)
{
    switch (prog) {
    case 100000: return "portmapper";
    case 100003: return "nfs";
    case 100005: return "mountd";
    case 100021: return "nlockmgr";
    case 100024: return "status";
    default: return "";
    }
}

void AddDumpRow(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port)
{
    std::string protocol = prot == 6 ? Text(13, "TCP") : prot == 17 ? Text(14, "UDP") : Number(prot);
    DumpRows->push_back({Number(prog), Number(vers), protocol, Number(port), ProgramName(prog)});
}

}  // namespace

PageControls ControlsFromSettings(int page, const ServerSettingsRecord &s)
{
    PageControls c;
    switch (page) {
    case IDD_PAGE_NFS:
        c.checks = {{IDC_V2, s.Version2 != 0},     {IDC_V3, s.Version3 != 0},       {IDC_UDP, s.UDP != 0},
                    {IDC_TCP, s.TCP != 0},         {IDC_WEBNFS, s.WebNFS != 0},     {IDC_NLM, s.NLM != 0},
                    {IDC_PORTMAPPER, s.PortMapper != 0}, {IDC_INODERESET, s.InodeReset != 0},
                    {IDC_ANSI, s.CharSet == 1},    {IDC_UTF8, s.CharSet == 2}};
        c.texts = {{IDC_PORT, Number(s.Port)},       {IDC_MOUNTPORT, Number(s.MountPort)},
                   {IDC_NLMPORT, Number(s.NLMPort)}, {IDC_THREADS, Number(s.Threads)},
                   {IDC_DATASIZE, Number(s.Datasize)}, {IDC_TCPSIZE, Number(s.TcpTransferSize)}};
        break;
    case IDD_PAGE_SERVER:
        c.checks = {{IDC_NFS2WRITE, s.NFS2Write == 0},      {IDC_NFS3WRITE, (s.NFS3Write & 15) == 2},
                    {IDC_FILEID, s.FileId != 0}, {IDC_LOWERCASE, s.Lowercase != 0},
                    {IDC_DIRCOUNT, s.DirCount != 0},        {IDC_CREATEACCESS, s.CreateAccess != 0},
                    {IDC_SOFT, (s.SoftLinks & 1) != 0},     {IDC_REPARSE, (s.SoftLinks & 2) != 0},
                    {IDC_NTFS, (s.HardLinks & 1) != 0},     {IDC_HARD, (s.HardLinks & 2) != 0}};
        break;
    case IDD_PAGE_EXPORTS:
        c.checks = {{IDC_FILTEREXPORTS, s.FilterExports != 0}, {IDC_SETEXEC, s.SetExec != 0},
                    {IDC_MAPROOT, s.MapRoot != 0}, {IDC_UNIXATTRIBUTES, s.UnixAttributes != 0}};
        break;
    default:
        break;
    }
    return c;
}

void SettingsFromControls(int page, const PageControls &c, ServerSettingsRecord &s)
{
    switch (page) {
    case IDD_PAGE_NFS:
        s.Version2 = Check(c, IDC_V2);
        s.Version3 = Check(c, IDC_V3);
        s.UDP = Check(c, IDC_UDP);
        s.TCP = Check(c, IDC_TCP);
        s.WebNFS = Check(c, IDC_WEBNFS);
        s.NLM = Check(c, IDC_NLM);
        s.PortMapper = Check(c, IDC_PORTMAPPER);
        s.InodeReset = Check(c, IDC_INODERESET);
        s.CharSet = Check(c, IDC_UTF8) ? 2 : Check(c, IDC_ANSI) ? 1 : 0;
        s.Port = Port(c, IDC_PORT, 2049);
        s.MountPort = Port(c, IDC_MOUNTPORT, 1058);
        s.NLMPort = Port(c, IDC_NLMPORT, 4045);
        s.Threads = Clamped(c, IDC_THREADS, s.Threads, 1, 32);
        s.Datasize = Clamped(c, IDC_DATASIZE, s.Datasize, 256, 65536);
        s.TcpTransferSize = Clamped(c, IDC_TCPSIZE, s.TcpTransferSize, TCP_TRANSFER_MIN, TCP_TRANSFER_MAX);
        break;
    case IDD_PAGE_SERVER:
        s.NFS2Write = Check(c, IDC_NFS2WRITE) ? 0 : 2;
        s.NFS3Write = (s.NFS3Write & ~15u) | (Check(c, IDC_NFS3WRITE) ? 2u : 0u);
        s.FileId = Check(c, IDC_FILEID);
        s.Lowercase = Check(c, IDC_LOWERCASE);
        s.DirCount = Check(c, IDC_DIRCOUNT);
        s.CreateAccess = Check(c, IDC_CREATEACCESS);
        SetBit(s.SoftLinks, 1, Check(c, IDC_SOFT));
        SetBit(s.SoftLinks, 2, Check(c, IDC_REPARSE));
        SetBit(s.HardLinks, 1, Check(c, IDC_NTFS));
        SetBit(s.HardLinks, 2, Check(c, IDC_HARD));
        break;
    case IDD_PAGE_EXPORTS:
        s.FilterExports = Check(c, IDC_FILTEREXPORTS);
        s.SetExec = Check(c, IDC_SETEXEC);
        s.MapRoot = Check(c, IDC_MAPROOT);
        s.UnixAttributes = Check(c, IDC_UNIXATTRIBUTES);
        break;
    default:
        break;
    }
}

bool FindBadNumberField(int page, const PageControls &c, NumberField *bad)
{
    if (page != IDD_PAGE_NFS)
        return false;
    const NumberField fields[] = {{IDC_PORT, 0, 65535},
                                  {IDC_MOUNTPORT, 0, 65535},
                                  {IDC_NLMPORT, 0, 65535},
                                  {IDC_THREADS, 1, 32},
                                  {IDC_DATASIZE, 256, 65536},
                                  {IDC_TCPSIZE, TCP_TRANSFER_MIN, TCP_TRANSFER_MAX}};
    for (const NumberField &field : fields) {
        auto found = c.texts.find(field.id);
        if (found == c.texts.end())
            continue;
        const std::string &text = found->second;
        size_t first = text.find_first_not_of(" \t");
        size_t last = text.find_last_not_of(" \t");
        bool digits = first != std::string::npos && last - first < 10;
        for (size_t i = first; digits && i <= last; i++)
            digits = text[i] >= '0' && text[i] <= '9';
        uint64_t value = digits ? strtoull(text.c_str() + first, nullptr, 10) : 0;
        if (!digits || value < field.low || value > field.high) {
            *bad = field;
            return true;
        }
    }
    return false;
}

std::string NumberFieldMessage(const NumberField &field)
{
    return Text(57, "NUMBER_RANGE") + " " + Number(field.low) + " - " + Number(field.high);
}

void ApplyBoxRule(int changedId, PageControls &c)
{
    const int pairs[][2] = {{IDC_V2, IDC_V3}, {IDC_UDP, IDC_TCP}};
    for (const auto &pair : pairs) {
        for (int side = 0; side < 2; side++)
            if (changedId == pair[side] && !Check(c, pair[0]) && !Check(c, pair[1]))
                c.checks[pair[1 - side]] = true;
    }
    if (changedId == IDC_ANSI && Check(c, IDC_ANSI))
        c.checks[IDC_UTF8] = false;
    if (changedId == IDC_UTF8 && Check(c, IDC_UTF8))
        c.checks[IDC_ANSI] = false;
}

std::map<std::string, int32_t> StoredSettings()
{
    std::map<std::string, int32_t> stored;
    for (size_t i = 0; i < SavedSettingKeyCount; i++)
        stored[SavedSettingKeys[i].key] = ReadInt("nfsd", SavedSettingKeys[i].key, SavedSettingKeys[i].defaultValue);
    return stored;
}

namespace {

struct ApplyWork {
    const ServerSettingsRecord *wanted;
    std::vector<size_t> keys;
};

void WriteChangedKeys(void *context)
{
    ApplyWork *work = static_cast<ApplyWork *>(context);
    for (size_t i : work->keys)
        WriteInt("nfsd", SavedSettingKeys[i].key, (int32_t)SavedSettingKeys[i].get(*work->wanted),
                 SavedSettingKeys[i].defaultValue);
}

}  // namespace

ApplyOutcome ApplySettings(const ServerSettingsRecord &shown, const ServerSettingsRecord &wanted,
                           const std::map<std::string, int32_t> &opened, bool overwrite,
                           std::vector<std::string> *conflicts)
{
    ApplyWork work{&wanted, {}};
    std::vector<std::string> clashes;
    for (size_t i = 0; i < SavedSettingKeyCount; i++) {
        const SavedSettingKey &key = SavedSettingKeys[i];
        if (key.get(shown) == key.get(wanted))
            continue;
        work.keys.push_back(i);
        auto before = opened.find(key.key);
        int32_t now = ReadInt("nfsd", key.key, key.defaultValue);
        if (before != opened.end() && before->second != now)
            clashes.push_back(key.key);
    }
    if (conflicts != nullptr)
        *conflicts = clashes;
    if (!clashes.empty() && !overwrite)
        return APPLY_CONFLICT;
    if (!work.keys.empty() && !WriteSettingsAtomically(WriteChangedKeys, &work))
        return APPLY_FAILED;
    ServerSettings = wanted;
    return APPLY_SAVED;
}

std::vector<int> SettingsWaitingForRestart(const ServerSettingsRecord &started, const ServerSettingsRecord &now)
{
    static const struct {
        const char *key;
        int label;
    } keys[] = {{"Version2", IDC_V2},
                {"Version3", IDC_V3},
                {"UDP", IDC_UDP},
                {"TCP", IDC_TCP},
                {"Port", IDC_PORT_LABEL},
                {"Mount-Port", IDC_MOUNTPORT_LABEL},
                {"WebNFS", IDC_WEBNFS},
                {"NLM", IDC_NLM},
                {"NLM-Port", IDC_NLM},
                {"PortMapper", IDC_PORTMAPPER},
                {"Threads", IDC_THREADS_LABEL},
                {"Datasize", IDC_DATASIZE_LABEL},
                {"TcpTransferSize", IDC_DATASIZE_LABEL},
                {"CharSet", IDC_CHARSET}};
    std::vector<int> labels;
    for (const auto &key : keys)
        for (size_t i = 0; i < SavedSettingKeyCount; i++)
            if (strcmp(SavedSettingKeys[i].key, key.key) == 0 &&
                SavedSettingKeys[i].get(started) != SavedSettingKeys[i].get(now) &&
                (labels.empty() || labels.back() != key.label))
                labels.push_back(key.label);
    return labels;
}

std::string ExportsErrorLine(int code, uint32_t line)
{
    if (code <= 0 || code > 8)
        return "";
    char key[16];
    snprintf(key, sizeof(key), "EXP_ERROR_%d", code);
    std::string text = Text(code + 22, key);
    if (code == 1)
        return text;
    char out[512];
    snprintf(out, sizeof(out), "%s %u %s", Text(5, "LINE").c_str(), line, text.c_str());
    return out;
}

std::vector<std::string> ExportsErrorLines(size_t *lines)
{
    char words[EXPORTS_ERRORS_KEPT * 24] = "";
    ReadString("nfsd", "ExportsErrors", "", words, sizeof(words));
    std::vector<std::string> shown;
    std::set<unsigned> refused;
    const char *p = words;
    unsigned line;
    int code, used;
    while (sscanf(p, " %u:%d%n", &line, &code, &used) == 2) {
        p += used;
        if (code != EXPORTS_CANNOT_OPEN)
            refused.insert(line);
        shown.push_back(ExportsErrorLine(code, line));
    }
    if (lines != nullptr)
        *lines = refused.size();
    return shown;
}

std::string ExportsRefusedMessage()
{
    size_t lines = 0;
    std::vector<std::string> errors = ExportsErrorLines(&lines);
    if (lines == 0)
        return "";  // a missing file is no refusal
    char text[256];
    snprintf(text, sizeof(text), Text(62, "EXP_REFUSED").c_str(), (unsigned)lines);
    std::string message = text;
    for (size_t i = 0; i < errors.size() && i < 5; i++)
        message += "\n" + errors[i];
    if (errors.size() > 5)
        message += "\n...";
    return message;
}

std::vector<ClientViewRow> ParseExportList(const uint8_t *results, size_t length)
{
    std::vector<ClientViewRow> rows;
    Reader r{results, length, 0};
    uint32_t follows;
    while (r.Word(&follows) && follows != 0) {
        std::string directory;
        if (!r.String(&directory, 2047))
            break;
        ClientViewRow row{ShownPath(directory), "", ""};
        bool whole = true;
        uint32_t group;
        for (;;) {
            if (!r.Word(&group)) {
                whole = false;
                break;
            }
            if (group == 0)
                break;
            std::string name;
            if (!r.String(&name, 511)) {
                whole = false;
                break;
            }
            if (!name.empty() && name[0] == '-')
                row[1] += name + " ";
            else if (row[2].size() + name.size() + 1 < 8192)
                row[2] += name + " ";
        }
        rows.push_back(row);
        if (!whole)
            break;
    }
    return rows;
}

std::vector<ClientViewRow> ParseMountList(const uint8_t *results, size_t length)
{
    std::vector<ClientViewRow> rows;
    Reader r{results, length, 0};
    uint32_t follows;
    while (r.Word(&follows) && follows != 0) {
        std::string host, directory;
        bool whole = r.String(&host, 511);
        whole = whole && r.String(&directory, 2047);
        rows.push_back({host, ShownPath(directory)});
        if (!whole)
            break;
    }
    return rows;
}

namespace {

bool QueryList(uint16_t port, uint32_t proc, std::vector<ClientViewRow> (*parse)(const uint8_t *, size_t),
               std::vector<ClientViewRow> &rows)
{
    std::vector<uint8_t> results;
    if (!MountCall(port, proc, results))
        return false;
    rows = parse(results.data(), results.size());
    return true;
}

}  // namespace

bool QueryExportList(uint16_t port, std::vector<ClientViewRow> &rows)
{
    return QueryList(port, 5, ParseExportList, rows);
}

bool QueryMountList(uint16_t port, std::vector<ClientViewRow> &rows) { return QueryList(port, 2, ParseMountList, rows); }

bool QueryPortMapper(std::vector<ClientViewRow> &rows)
{
    rows.clear();
    DumpRows = &rows;
    int answered = PortMapperDump(1, AddDumpRow);
    DumpRows = nullptr;
    return answered != 0;
}
