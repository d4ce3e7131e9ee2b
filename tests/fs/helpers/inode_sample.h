// A fixed sequence of table operations whose result is the same file on
// every build: the tables committed under tests/fs/data were written by it
// (one by the Windows build, one by the POSIX build), and the tests build it
// again to compare and to look the names up.
#pragma once

#include <cstdint>
#include <string>

#include "fs/inode_table.h"

// The operations, on an open (empty) table.  Returns the inode of the folder
// "C:\srv\data".
inline uint32_t BuildSampleTable()
{
    uint32_t data = AddPath("C:\\srv\\data");
    AddChild(data, "alpha");
    AddChild(data, "Beta");
    AddChild(data, "name-of-16-bytes");
    AddChild(data, "name-of-17-bytes!");
    AddChild(data, std::string(40, 'f').c_str());
    AddChild(data, std::string(41, 'g').c_str());
    AddChild(data, std::string(511, 'h').c_str());
    AddPath("C:\\srv\\data\\sub\\deeper\\file.txt");
    AddPath("\\\\server\\share\\x");
    AddPath("\\\\?\\D:\\long\\y");
    AddChild(data, "caf\xC3\xA9");
    uint32_t first = AddChild(data, "linked1");
    uint32_t second = AddChild(data, "linked2");
    RegisterHardLink(first, 0x1234u, 0x5678u, 0x9ABCu);
    RegisterHardLink(second, 0x1234u, 0x5678u, 0x9ABCu);
    uint32_t temp1 = AddChild(data, "temp1");
    AddChild(data, "temp2");
    DeleteInode(temp1);
    uint32_t old = AddChild(data, "old");
    MoveInode(old, FindChild(data, "sub"), "renamed");
    return data;
}

// Checks that an opened sample table holds what BuildSampleTable made.
// Returns an empty string when it does, else what is missing.
inline std::string CheckSampleTable()
{
    char path[INODE_PATH_SIZE];
    uint32_t c = FindChild(0, "c:");
    uint32_t data = FindChild(FindChild(c, "SRV"), "data");
    if (data == 0 || PathOfInode(data, path) == nullptr || std::string(path) != "C:\\srv\\data")
        return "C:\\srv\\data";
    const char *names[] = {"alpha", "beta", "name-of-16-bytes", "NAME-OF-17-BYTES!", "caf\xC3\xA9", "temp2",
                           "linked1", "linked2"};
    for (const char *name : names)
        if (FindChild(data, name) == 0)
            return name;
    if (FindChild(data, std::string(40, 'F').c_str()) == 0 || FindChild(data, std::string(41, 'g').c_str()) == 0 ||
        FindChild(data, std::string(511, 'h').c_str()) == 0)
        return "long names";
    if (FindChild(data, "temp1") != 0 || FindChild(data, "old") != 0)
        return "deleted or moved names still there";
    uint32_t renamed = FindChild(FindChild(data, "sub"), "renamed");
    if (renamed == 0 || PathOfInode(renamed, path) == nullptr || std::string(path) != "C:\\srv\\data\\sub\\renamed")
        return "renamed";
    uint32_t file = FindChild(FindChild(FindChild(data, "sub"), "deeper"), "file.txt");
    if (file == 0 || PathOfInode(file, path) == nullptr || std::string(path) != "C:\\srv\\data\\sub\\deeper\\file.txt")
        return "file.txt";
    uint32_t x = FindChild(FindChild(FindChild(0, "\\\\server"), "share"), "x");
    if (x == 0 || PathOfInode(x, path) == nullptr || std::string(path) != "\\\\server\\share\\x")
        return "UNC";
    uint32_t y = FindChild(FindChild(FindChild(0, "\\\\?\\D:"), "long"), "y");
    if (y == 0 || PathOfInode(y, path) == nullptr || std::string(path) != "\\\\?\\D:\\long\\y")
        return "long-path form";
    uint32_t l1 = FindChild(data, "linked1");
    uint32_t l2 = FindChild(data, "linked2");
    if (CanonicalInode(l1) == l1 || CanonicalInode(l1) != CanonicalInode(l2))
        return "hard link identity";
    return "";
}
