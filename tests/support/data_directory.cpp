#include "support/data_directory.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "exports/exports.h"
#include "log/log.h"
#include "settings/settings.h"

bool UseAsDataDirectory(const TempDir &dir)
{
    snprintf(DataDirectory, sizeof(DataDirectory), "%s", dir.win().c_str());
    if (SelectSettingsFile(dir.win().c_str(), "nfsd", 1) != 1)
        return false;
    memset(&ServerSettings, 0, sizeof(ServerSettings));
    ServerSettings.Log = 2;
    ServerSettings.CharSet = 1;
    ServerSettings.CharSetActive = 1;
    memset(CharMap, 0, sizeof(CharMap));
    snprintf(LogDir, sizeof(LogDir), "%s", dir.win().c_str());
    return OpenLog(dir.win().c_str()) != nullptr;
}

std::string LogFileText(const TempDir &dir)
{
    FlushLog();
    std::error_code ec;
    for (const auto &item : std::filesystem::directory_iterator(dir.native(), ec)) {
        std::string name = item.path().filename().string();
        if (name.rfind("nfsd", 0) == 0 && name.size() == 12 && name.substr(8) == ".log")
            return WithoutCarriageReturns(ReadFileBytes(item.path().string()));
    }
    return std::string();
}

std::string WindowsPathIn(const TempDir &dir, const std::string &relative)
{
    std::string path = dir.win() + relative;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

std::string WithoutCarriageReturns(const std::string &bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); i++)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += bytes[i];
    return text;
}

void LoadExportsIn(const TempDir &dir, const std::string &text)
{
    std::string root = WindowsPathIn(dir, ""), bytes;
    for (char c : text)
        bytes += c == '@' ? root : std::string(1, c);
    WriteFileBytes(dir.Native("exports"), bytes);
    ExportsLoad();
}

std::vector<ExportEntry *> ExportEntries()
{
    std::vector<ExportEntry *> out;
    for (ExportEntry *e = ExportFirst(); e != nullptr; e = ExportNext(e))
        out.push_back(e);
    return out;
}
