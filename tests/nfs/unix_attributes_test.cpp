// The store of Unix modes switched off: a mode is emulated and nothing is
// stored.  (The stored mode, owner and group as callers see them: NfsWire
// CallTable on the running server; a file without a record: nfs_client.c
// reads hello.txt, made by root, as mode 0644.)
#include <gtest/gtest.h>

#include "fs/win_file_access.h"
#include "nfs/nfs_protocol.h"
#include "nfs_fixture.h"
#include "settings/settings.h"

TEST_F(NfsTest, UnixAttributesStoreOffKeepsNothing)
{
    LoadExports("@\\data 127.0.0.1\n");
    const std::string root = Fh3(MountFor(Win("data")));
    ServerSettings.UnixAttributes = 0;
    ASSERT_EQ(WordAt(Call(3, NFSPROC3_CREATE, root + Name("g") + Words({0, 1, 0640, 0, 0, 0, 0, 0})).results, 0), 0u);
    const std::string made = Call(3, NFSPROC3_MKDIR, root + Name("d") + Words({0, 0, 0, 0, 0, 0})).results;
    ASSERT_EQ(WordAt(made, 0), 0u);
    ASSERT_EQ(WordAt(Call(3, NFSPROC3_SETATTR, made.substr(8, 24) + Words({1, 01600, 0, 0, 0, 0, 0, 0})).results, 0), 0u);
    // A folder without the owner's search bit is hidden, a sticky one a system folder.
    const DWORD both = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(FsGetFileAttributes(Win("data\\d").c_str()) & both, both);
    ServerSettings.UnixAttributes = 1;
    EXPECT_EQ(WordAt(Call(3, NFSPROC3_LOOKUP, root + Name("g"), "127.0.0.1", 3000).results, 36), 0644u);
    ServerSettings.UnixAttributes = 0;
}
