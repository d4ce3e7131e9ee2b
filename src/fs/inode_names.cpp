// Names of inode entries: inline up to 16 bytes, else 12 bytes in the entry
// and the rest in a chain of 28-byte name blocks.
#include "fs/inode_internal.h"

namespace {

inline uint8_t Fold(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; }

}  // namespace

int CompareNames(const uint8_t *a, uint32_t an, const uint8_t *b, uint32_t bn)
{
    uint32_t n = an < bn ? an : bn;
    for (uint32_t i = 0; i < n; i++) {
        uint8_t x = Fold(a[i]);
        uint8_t y = Fold(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return an == bn ? 0 : (an < bn ? -1 : 1);
}

const uint8_t *NameOf(uint32_t e, uint8_t *scratch, uint32_t *length)
{
    uint32_t n = Rd16(e + E_NAMELEN);
    if (n > INODE_NAME_MAX)
        return nullptr;
    *length = n;
    if (n <= NAME_INLINE)
        return Inodes.base + e + E_NAME;
    memcpy(scratch, Inodes.base + e + E_NAMEHEAD, NAME_HEAD_BYTES);
    uint32_t have = NAME_HEAD_BYTES;
    uint32_t block = Rd32(e + E_NAMEBLOCK);
    while (have < n) {
        if (!ValidOffset(block))
            return nullptr;
        uint32_t take = n - have < NAME_BLOCK_BYTES ? n - have : NAME_BLOCK_BYTES;
        memcpy(scratch + have, Inodes.base + block + 4, take);
        have += take;
        block = Rd32(block);
    }
    return scratch;
}

bool AllocNameBlocks(uint32_t length, std::vector<uint32_t> &blocks)
{
    blocks.clear();
    uint32_t count = NameBlockCount(length);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t block = HeapAlloc();
        if (block == 0) {
            ReleaseBlocks(blocks);
            blocks.clear();
            return false;
        }
        blocks.push_back(block);
    }
    return true;
}

void ReleaseBlocks(const std::vector<uint32_t> &blocks)
{
    if (Inodes.base == nullptr)
        return;  // the view was lost with a failed growth
    for (uint32_t block : blocks) {
        memset(Inodes.base + block, 0, BLOCK);
        HeapFree(block);
    }
}

void WriteName(uint32_t e, const uint8_t *name, uint32_t length, const std::vector<uint32_t> &blocks)
{
    memset(Inodes.base + e + E_NAME, 0, 16);
    Wr16(e + E_NAMELEN, static_cast<uint16_t>(length));
    if (length <= NAME_INLINE) {
        memcpy(Inodes.base + e + E_NAME, name, length);
        return;
    }
    Wr32(e + E_NAMEBLOCK, blocks[0]);
    memcpy(Inodes.base + e + E_NAMEHEAD, name, NAME_HEAD_BYTES);
    uint32_t done = NAME_HEAD_BYTES;
    for (size_t i = 0; i < blocks.size(); i++) {
        uint32_t block = blocks[i];
        memset(Inodes.base + block, 0, BLOCK);
        Wr32(block, i + 1 < blocks.size() ? blocks[i + 1] : 0);
        uint32_t take = length - done < NAME_BLOCK_BYTES ? length - done : NAME_BLOCK_BYTES;
        memcpy(Inodes.base + block + 4, name + done, take);
        done += take;
    }
}

void ReleaseNameBlocks(uint32_t e)
{
    uint32_t n = Rd16(e + E_NAMELEN);
    if (n <= NAME_INLINE || n > INODE_NAME_MAX)
        return;
    uint32_t block = Rd32(e + E_NAMEBLOCK);
    for (uint32_t i = NameBlockCount(n); i > 0 && ValidOffset(block); i--) {
        uint32_t next = Rd32(block);
        memset(Inodes.base + block, 0, BLOCK);
        HeapFree(block);
        block = next;
    }
}

bool ChildLess::operator()(uint32_t a, uint32_t b) const
{
    uint8_t sa[INODE_NAME_MAX + 1];
    uint8_t sb[INODE_NAME_MAX + 1];
    uint32_t la = 0;
    uint32_t lb = 0;
    const uint8_t *na = NameOf(a, sa, &la);
    const uint8_t *nb = NameOf(b, sb, &lb);
    if (na == nullptr || nb == nullptr)
        return a < b;
    return CompareNames(na, la, nb, lb) < 0;
}

bool ChildLess::operator()(uint32_t a, const NameKey &b) const
{
    uint8_t sa[INODE_NAME_MAX + 1];
    uint32_t la = 0;
    const uint8_t *na = NameOf(a, sa, &la);
    if (na == nullptr)
        return true;
    return CompareNames(na, la, b.bytes, b.length) < 0;
}

bool ChildLess::operator()(const NameKey &a, uint32_t b) const
{
    uint8_t sb[INODE_NAME_MAX + 1];
    uint32_t lb = 0;
    const uint8_t *nb = NameOf(b, sb, &lb);
    if (nb == nullptr)
        return false;
    return CompareNames(a.bytes, a.length, nb, lb) < 0;
}
