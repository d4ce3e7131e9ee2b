#include "ui_fixture.h"

#include <cstdio>

#include "exports/exports.h"
#include "exports/mount_table.h"
#include "log/log.h"
#include "settings/settings.h"
#include "support/data_directory.h"
#include "ui/language.h"

namespace {

int NamedHost(uint32_t address, char *name, size_t size)
{
    char dotted[16];
    snprintf(name, size, "host-%s", FormatAddress(address, dotted));
    return 1;
}

int EnglishUser(void) { return 0x409; }
int (*SavedUserLanguage)(void) = nullptr;

}  // namespace

std::string UiSourceFolder()
{
    std::string path = UI_SOURCE_DIR;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

void UiTest::SetUp()
{
    ASSERT_TRUE(UseAsDataDirectory(dir));
    ServerSettings.Cache = 24;
    ServerSettings.Lowercase = 1;
    ExportTablesFree();
    MountTableFree();
    SetHostAddressLookup(NamedHost);
    snprintf(ProgramDirectory, sizeof(ProgramDirectory), "%s", UiSourceFolder().c_str());
    SavedUserLanguage = UserLanguageId;
    UserLanguageId = EnglishUser;
    UseLanguage("");
}

void UiTest::TearDown()
{
    MountWaitHostLookups(5000);
    MountTableFree();
    ExportTablesFree();
    SetHostAddressLookup(nullptr);
    UserLanguageId = SavedUserLanguage;
    CloseLog();
    SelectRegistrySettings();
}

std::string UiTest::Path(const std::string &relative) const { return WindowsPathIn(dir, relative); }

void UiTest::LoadExports(const std::string &text) { LoadExportsIn(dir, text); }

void UiTest::UseLanguage(const char *file)
{
    WriteUserString("nfsd", "Language", file[0] != '\0' ? file : nullptr);
    LoadLanguage();
}

void UiTest::Mount(const char *dotted, uint32_t kind)
{
    ExportEntry *entry = ExportFirst();
    ASSERT_NE(entry, nullptr);
    uint32_t id = 0;
    ASSERT_EQ(MountAdd(Addr(dotted), kind, entry->path, 7, entry, 1, 255, entry->flags, &id), MOUNT_ADD_NEW);
    MountWaitHostLookups(5000);
}
