// Inode table files damaged by the input (patches of u16 block, u8 length,
// bytes over a valid image) must open consistent (verified, repaired, rebuilt
// or afresh) and stay so through operations on inode numbers of the input.
#include "fs/helpers/inode_sample.h"
#include "fuzz_world.h"

namespace {

struct Setup {
    TempDir &dir = *InMemoryTempDir();
    std::string win;
    std::string native;
    std::string image;
    uint32_t usedBlocks = 0;
    Setup()
    {
        ServerSettings.CharSetActive = 1;
        ServerSettings.InodeCheck = 0;
        win = dir.Win("inodes.nfs");
        native = dir.Native("inodes.nfs");
        if (!OpenInodeTableAt(win.c_str(), 1))
            abort();
        uint32_t data = BuildSampleTable();
        // A folder long enough for an in-memory index, and more hard links.
        char name[32];
        for (int i = 0; i < 40; i++) {
            snprintf(name, sizeof(name), "entry%02d", i);
            uint32_t e = AddChild(data, name);
            if (i % 10 == 0)
                RegisterHardLink(e, 77, 0, 1);
        }
        CloseInodeTable();
        image = ReadFileBytes(native);
        usedBlocks = 64;
        // The used part ends where the free list's last run begins.
        for (uint32_t off = static_cast<uint32_t>(image.size()) - 32; off >= 32; off -= 32) {
            bool zero = true;
            for (uint32_t i = 0; i < 32 && zero; i++)
                zero = image[off + i] == 0;
            if (!zero) {
                usedBlocks = off / 32 + 1;
                break;
            }
        }
    }
};

uint32_t Take32(const uint8_t *&p, const uint8_t *end)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && p < end; i++)
        v |= static_cast<uint32_t>(*p++) << (8 * i);
    return v;
}

void Require(bool ok, const char *what)
{
    if (ok)
        return;
    char reason[256] = "";
    InodeTableConsistent(reason, sizeof(reason));
    fprintf(stderr, "inode table inconsistent after %s: %s\n", what, reason);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup *setup = new Setup();
    std::string bytes = setup->image;
    const uint8_t *p = data;
    const uint8_t *end = data + size;
    // The first patch list ends at a zero length; what follows feeds the
    // operations.
    while (end - p >= 3) {
        uint32_t block = static_cast<uint32_t>(p[0] | (p[1] << 8));
        uint32_t length = p[2];
        p += 3;
        if (length == 0)
            break;
        if ((block & 0x8000u) == 0)
            block %= setup->usedBlocks + 2;
        else
            block = (block & 0x7FFFu) * 2u % static_cast<uint32_t>(bytes.size() / 32);
        size_t at = static_cast<size_t>(block) * 32 + (length & 31u);
        for (uint32_t i = 0; i < length && p < end && at + i < bytes.size(); i++)
            bytes[at + i] = static_cast<char>(*p++);
    }
    if (size > 0 && data[0] == 0xFF)
        bytes.resize(data[size - 1] * 1024u + 16);  // a cut file
    WriteFileBytes(setup->native, bytes);
    if (!OpenInodeTableAt(setup->win.c_str(), 0)) {
        fprintf(stderr, "inode table did not open\n");
        abort();
    }
    char reason[256] = "";
    Require(InodeTableConsistent(reason, sizeof(reason)), "load");
    char path[INODE_PATH_SIZE];
    uint32_t fresh = AddPath("C:\\srv\\data\\fuzz-added-entry-with-a-long-name");
    Require(fresh != 0 && InodeTableConsistent(reason, sizeof(reason)), "AddPath");
    for (int round = 0; round < 8 && p < end; round++) {
        uint32_t inode = Take32(p, end) & 0x001FFFFFu;
        uint32_t other = Take32(p, end) & 0x001FFFFFu;
        uint8_t op = p < end ? *p++ : 0;
        PathOfInode(inode, path);
        CanonicalInode(inode);
        ParentOfInode(inode);
        InodeOfHandle(inode);
        FindChild(inode, "alpha");
        switch (op % 8) {
        case 0: AddChild(inode, "child"); break;
        case 1: DeleteInode(inode); break;
        case 2: MoveInode(inode, other, "moved-here"); break;
        case 3: RegisterHardLink(inode, op, 0, 1); break;
        case 4: JoinLinkRing(inode, other); break;
        case 5: MarkSeen(inode); PruneUnseen(other); break;
        case 6: SetPending(inode, 1); DeleteChildren(other); SetPending(inode, 0); break;
        default: DeleteInodeClearPending(inode); break;
        }
        Require(InodeTableConsistent(reason, sizeof(reason)), "an operation");
    }
    CloseInodeTable();
    return 0;
}
