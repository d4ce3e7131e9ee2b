// Attributes of real files and folders: DOS attributes to modes, sizes,
// times, link counts, owners and file IDs.
#include "handles_fixture.h"

#include <string>
#include <vector>

#include "backend/lookup.h"
#include "backend/mode_attributes.h"
#include "backend/unix_mode.h"
#include "exports/export_entry.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

const uint32_t RO = FILE_ATTRIBUTE_READONLY;
const uint32_t HID = FILE_ATTRIBUTE_HIDDEN;
const uint32_t SYS = FILE_ATTRIBUTE_SYSTEM;
const uint32_t NORMAL = FILE_ATTRIBUTE_NORMAL;

} // namespace

TEST_F(HandlesTest, ModesFollowTheDosAttributes)
{
    struct Case {
        const char *name;
        uint32_t attributes;
        uint32_t type, mode;
    };
    const Case cases[] = {
        {"plain", NORMAL, 1, 0100644},       {"readonly", RO, 1, 0100444},
        {"hidden", HID, 1, 0100755},         {"hiddenro", HID | RO, 1, 0100555},
        {"setuid", HID | SYS, 1, 0104755},   {"systemro", SYS | RO, 1, 0100444},
        {"link", SYS, 5, 0120777},           {"dir", 0, 2, 040755},
        {"dirhidden", HID, 2, 040644},       {"dirsticky", SYS, 2, 041755},
        {"dirreadonly", RO, 2, 040555},
    };
    std::vector<bool> held;
    for (const Case &c : cases) {
        const std::string name = std::string("data/") + c.name;
        MakeFile(name, c.type == 2 ? nullptr : "x");
        held.push_back(c.attributes == 0 || SetAttributes(name, c.attributes));
    }
    FileHandle root = Mount(Win("data"), 0, 022);
    for (size_t i = 0; i < held.size(); i++) {
        const Case &c = cases[i];
        if (!held[i])
            continue;  // Wine cannot hold these attributes
        FileHandle handle;
        FileAttributes attributes;
        ASSERT_EQ(LookupName(root, c.name, &handle, &attributes), 0u) << c.name;
        EXPECT_EQ(attributes.type, c.type) << c.name;
        EXPECT_EQ(attributes.mode, c.mode) << c.name << " mode " << std::oct << attributes.mode;
        if (c.type == 2) {
            EXPECT_EQ(attributes.size, 4096u) << c.name;
        }
        // The handle gives the same attributes later.
        FileAttributes again;
        ASSERT_EQ(Attributes(handle, &again), 0u) << c.name;
        EXPECT_EQ(again.mode, attributes.mode) << c.name;
        EXPECT_EQ(again.fileId, attributes.fileId) << c.name;
    }
}

TEST_F(HandlesTest, ExecForAllAndUmaskOfTheExport)
{
    MakeFile("data/tool", "x");
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), EXPORT_EXEC, 027, &entry);
    FileAttributes attributes;
    FileHandle handle;
    ASSERT_EQ(LookupName(root, "tool", &handle, &attributes), 0u);
    EXPECT_EQ(attributes.mode, 0100750u);
    entry->flags &= ~EXPORT_EXEC;
    FileHandle plain = Mount(Win("data"), 0, 027);
    ASSERT_EQ(LookupName(plain, "tool", &handle, &attributes), 0u);
    EXPECT_EQ(attributes.mode, 0100640u);
    ServerSettings.SetExec = 1;
    ASSERT_EQ(LookupName(plain, "tool", &handle, &attributes), 0u);
    EXPECT_EQ(attributes.mode, 0100750u);
}

TEST_F(HandlesTest, SizesTimesOwnersAndIds)
{
    MakeFile("data/five", "12345");
    SetTimes("data/five", 1500000000u, 1600000000u);
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), 0, 022, &entry);
    FileAttributes attributes;
    FileHandle handle;
    ASSERT_EQ(LookupName(root, "five", &handle, &attributes), 0u);
    EXPECT_EQ(attributes.size, 5u);
    EXPECT_EQ(attributes.links, 1u);
    EXPECT_EQ(attributes.mtime, 1600000000u);
    EXPECT_GT(attributes.ctime, 1600000000u);  // the change time: when the times were set
    EXPECT_EQ(attributes.atime, 1500000000u);
    EXPECT_EQ(attributes.mtimeNsec, 0u);
    EXPECT_EQ(attributes.uid, 1000u);
    EXPECT_EQ(attributes.gid, 100u);
    EXPECT_EQ(attributes.fsid, entry->volumeSerial);
    EXPECT_EQ(attributes.major, 0u);
    if ((entry->flags & EXPORT_FILEID_MODE) == 0) {
        EXPECT_EQ(attributes.fileId, handle.inode);
        EXPECT_EQ(CanonicalInode(static_cast<uint32_t>(handle.inode)), handle.inode);
    } else {
        EXPECT_EQ(attributes.fileId, FileIdOfPath(Win("data\\five").c_str()));
    }
}

TEST_F(HandlesTest, VanishedFileIsNoEntryAndLosesItsInode)
{
    MakeFile("data/gone", "x");
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), 0, 022, &entry);
    FileHandle handle;
    ASSERT_EQ(LookupName(root, "gone", &handle), 0u);
    ASSERT_TRUE(DeleteFileA(Win("data\\gone").c_str()));
    FileAttributes attributes;
    EXPECT_EQ(Attributes(handle, &attributes), 2u);
    if ((entry->flags & EXPORT_FILEID_MODE) == 0) {
        // The table forgot the name: the handle is stale from now on.
        EXPECT_EQ(InodeOfHandle(handle.inode), 0u);
        EXPECT_EQ(Attributes(handle, &attributes), 70u);
    }
}

// Handles a client made up or carried elsewhere: a wrong check word, no
// mark, an unknown mount, and a file of one export carried to the mount of
// a sibling folder (a path outside that mount).
TEST_F(HandlesTest, ForgedHandlesAreStale)
{
    MakeFile("data/f", "x");
    MakeFolder("public");
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle pub = Mount(Win("public"), 0, 022);
    FileHandle f;
    ASSERT_EQ(LookupName(root, "f", &f), 0u);
    FileAttributes attributes;
    ASSERT_EQ(Attributes(f, &attributes), 0u);
    FileHandle forged[4] = {f, f};
    forged[0].check += 1;
    forged[1].mark = 0;
    ASSERT_NE(root.mountId + 1, pub.mountId);
    MakeHandle(f.inode, root.mountId + 1, &forged[2]);
    MakeHandle(f.inode, pub.mountId, &forged[3]);
    for (const FileHandle &bad : forged) {
        EXPECT_EQ(Attributes(bad, &attributes), 70u) << &bad - forged;
        FileHandle child;
        EXPECT_EQ(LookupName(bad, "x", &child), 70u) << &bad - forged;
    }
}

TEST_F(HandlesTest, ModesSetThroughTheAttributes)
{
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), 0, 022, &entry);
    ExportContext context;
    ASSERT_EQ(ExportContextById(root.mountId, &context), 1);
    struct Case {
        uint32_t type, mode, shown;
    };
    const Case cases[] = {
        {1, 0755, 0100755}, {1, 0644, 0100644}, {1, 0444, 0100444}, {1, 04755, 0104755}, {1, 0555, 0100555},
        {2, 0755, 040755},  {2, 0644, 040644},  {2, 01777, 041755}, {2, 0555, 040555},
    };
    const uint32_t kept = RO | HID | SYS;
    int number = 0;
    for (const Case &c : cases) {
        // A fresh file or folder for each mode, made with the attributes
        // Windows gives new files.
        const std::string name = "m" + std::to_string(number++);
        MakeFile("data/" + name, c.type == 1 ? "x" : nullptr);
        const std::string path = Win("data\\" + name);
        ASSERT_EQ(SetModeAttributes(&context, path.c_str(), true, c.type, c.mode, nullptr), 0u);
        const uint32_t wanted = DosAttributesForMode(c.type, c.mode, false, 022) & kept;
        if ((GetFileAttributesA(path.c_str()) & kept) != wanted) {
            EXPECT_TRUE(RunningUnderWine()) << name << " lost attributes " << std::hex << wanted;
            continue;
        }
        FileHandle handle;
        FileAttributes attributes;
        ASSERT_EQ(LookupName(root, name.c_str(), &handle, &attributes), 0u);
        EXPECT_EQ(attributes.mode, c.shown) << "set " << std::oct << c.mode << " shown " << attributes.mode;
    }

    // Without a mode request nothing changes.
    ASSERT_EQ(SetModeAttributes(&context, Win("data\\m0").c_str(), false, 1, 0, nullptr), 0u);
    FileAttributes attributes;
    FileHandle handle;
    ASSERT_EQ(LookupName(root, "m0", &handle, &attributes), 0u);
    EXPECT_EQ(attributes.mode, 0100755u);
}

TEST_F(HandlesTest, OtherTypesAreSystemFiles)
{
    MakeFile("data/node", "");
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), 0, 022, &entry);
    ExportContext context;
    ASSERT_EQ(ExportContextById(root.mountId, &context), 1);
    const std::string node = Win("data\\node");
    SetAttributes("data/node", HID);
    // Without a mode the file becomes exactly a system file.
    ASSERT_EQ(SetModeAttributes(&context, node.c_str(), false, 4, 0, nullptr), 0u);
    EXPECT_EQ(GetFileAttributesA(node.c_str()) & (RO | HID | SYS), SYS);
    // A mode of a device goes into its special-file record; where none can be
    // written the request fails and the attributes stay.
    SetAttributes("data/node", HID);
    const uint32_t status = SetModeAttributes(&context, node.c_str(), true, 4, 0644, nullptr);
    if (status != 0) {
        EXPECT_EQ(status, 5u);
        EXPECT_EQ(GetFileAttributesA(node.c_str()) & (RO | HID | SYS), HID);
        EXPECT_NE(LogText().find("nfs_setugmode " + node + " error "), std::string::npos) << LogText();
    }
}
