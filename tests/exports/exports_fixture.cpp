#include "exports_fixture.h"

#include "support/data_directory.h"

#include "log/log.h"
#include "platform/win32.h"
#include "settings/settings.h"

std::vector<std::string> Clients(const ExportEntry *entry)
{
    std::vector<std::string> out;
    char text[16];
    for (int32_t i = 0; i < entry->options.clientCount; i++)
        out.push_back(FormatAddress(entry->options.clients[i], text));
    return out;
}

void ExportsTest::SetUp()
{
    ASSERT_TRUE(UseAsDataDirectory(dir));
    ServerSettings.Cache = 24;
    ServerSettings.Lowercase = 1;
    SetHostNameResolver(HostTableResolver);
    ExportTablesFree();
}

void ExportsTest::TearDown()
{
    ExportTablesFree();
    SetHostNameResolver(nullptr);
    CloseLog();
    SelectRegistrySettings();
}

void ExportsTest::WriteExports(const std::string &text) { WriteFileBytes(dir.Native("exports"), text); }

std::string ExportsTest::ReadExports() const { return ReadFileBytes(dir.Native("exports")); }

void ExportsTest::Load(const std::string &text)
{
    WriteExports(text);
    ExportsLoad();
}

int ExportsTest::StoredError() { return ReadInt("nfsd", "ExportsError", 0); }
int ExportsTest::StoredLine() { return ReadInt("nfsd", "ExportsLine", 0); }

std::string ExportsTest::LogText() const { return LogFileText(dir); }
