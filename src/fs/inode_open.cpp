// Opening, verifying and closing the inode table file.
#include <algorithm>
#include <cstdio>

#include "fs/inode_internal.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

enum OpenMode { MODE_LOAD, MODE_NEW };

struct Bitmap {
    std::vector<uint8_t> bits;
    explicit Bitmap(uint32_t total) : bits((total / BLOCK + 7) / 8, 0) {}
    bool Test(uint32_t off) const { return (bits[off / 256] >> ((off / BLOCK) % 8)) & 1; }
    void Set(uint32_t off) { bits[off / 256] |= static_cast<uint8_t>(1u << ((off / BLOCK) % 8)); }
    void Clear(uint32_t off) { bits[off / 256] &= static_cast<uint8_t>(~(1u << ((off / BLOCK) % 8))); }
};

// The name blocks of e when all are readable and none is taken yet.
bool NameBlocksOf(uint32_t e, const Bitmap &used, std::vector<uint32_t> &blocks)
{
    blocks.clear();
    uint32_t n = Rd16(e + E_NAMELEN);
    uint32_t count = NameBlockCount(n);
    uint32_t block = count > 0 ? Rd32(e + E_NAMEBLOCK) : 0;
    for (uint32_t i = 0; i < count; i++) {
        if (!ValidOffset(block) || block == e || used.Test(block))
            return false;
        if (std::find(blocks.begin(), blocks.end(), block) != blocks.end())
            return false;
        blocks.push_back(block);
        block = Rd32(block);
    }
    return true;
}

// Whether the block at e can be a name entry of the tree.
bool EntryShapeOk(uint32_t e, const Bitmap &used, std::vector<uint32_t> &blocks)
{
    if (!ValidOffset(e) || used.Test(e) || Inodes.base[e + E_MARKER] != INODE_MARKER)
        return false;
    if ((Flags(e) & INODE_FLAG_IDENTITY_BIT) != 0)
        return false;
    uint32_t n = Rd16(e + E_NAMELEN);
    if (n == 0 || n > INODE_NAME_MAX)
        return false;
    return NameBlocksOf(e, used, blocks);
}

struct NameOrder {
    bool operator()(uint32_t a, uint32_t b) const { return ChildLess()(a, b); }
};

bool LoadTable(OpenMode mode)
{
    const char *path = Inodes.path;
    if (mode == MODE_NEW)
        DeleteFileA(path);
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 || size.QuadPart >= 0x100000000LL) {
        CloseHandle(file);
        return false;
    }
    uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
    uint64_t mapSize = fileSize > INODE_TABLE_MIN_SIZE ? fileSize : INODE_TABLE_MIN_SIZE;
    mapSize = (mapSize + BLOCK - 1) & ~static_cast<uint64_t>(BLOCK - 1);
    if (mapSize > INODE_TABLE_MAX_SIZE) {
        CloseHandle(file);
        return false;
    }
    Inodes.file = file;
    if (!MapTable(static_cast<uint32_t>(mapSize))) {
        CloseHandle(file);
        Inodes.file = INVALID_HANDLE_VALUE;
        return false;
    }
    LogLine(3, "nfsd: inodeTable total size %u\n", Inodes.total);
    Inodes.open = true;
    DWORD serial = 0;
    bool haveSerial = VolumeSerialOfPath(path, &serial);
    bool fresh = mode == MODE_NEW || fileSize < 2 * BLOCK || !haveSerial || Rd32(HDR_SERIAL) != serial;
    if (fresh) {
        // A table copied to another volume, or none yet: start empty.
        memset(Inodes.base, 0, Inodes.total);
        Wr32(BLOCK, Inodes.total - BLOCK);
        Wr32(BLOCK + 4, 0);
        Wr32(HDR_FREE_HEAD, BLOCK);
        Inodes.freeRuns.clear();
        Inodes.freeRuns[BLOCK] = Inodes.total - BLOCK;
    } else {
        LoadFreeMirror();
        if (Inodes.total > fileSize)
            AddNewSpace(static_cast<uint32_t>(fileSize));
    }
    Wr32(HDR_TOTAL, Inodes.total);
    Wr32(HDR_SERIAL, haveSerial ? serial : 0);
    FlushViewOfFile(Inodes.base, BLOCK);
    Inodes.changes = 0;
    Inodes.unsynced = true;  // a new or repaired table reaches the disk with the first namespace change
    uint32_t freeBytes = 0;
    for (const auto &run : Inodes.freeRuns)
        freeBytes += run.second;
    LogLine(2, "nfsd: inodeTable membase %u total %u free %u\n",
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(Inodes.base)), Inodes.total, freeBytes);
    return true;
}

void CloseLocked()
{
    HeapGuard heap;
    if (Inodes.base != nullptr)
        FlushViewOfFile(Inodes.base, Inodes.total);
    UnmapTable();
    if (Inodes.file != INVALID_HANDLE_VALUE)
        CloseHandle(Inodes.file);
    Inodes.file = INVALID_HANDLE_VALUE;
    Inodes.open = false;
    Inodes.total = 0;
    Inodes.changes = 0;
    Inodes.unsynced = false;
    Inodes.freeRuns.clear();
    Inodes.allocCursor = 0;
    IndexClear();
}

}  // namespace

bool VerifyTable()
{
    const uint32_t total = Inodes.total;
    Bitmap used(total);
    Bitmap isEntry(total);
    std::vector<uint32_t> usedList;  // every block marked (some cleared again)
    Bitmap ringed(total);
    used.Set(0);
    uint64_t usedBytes = BLOCK;
    uint32_t entries = 0;
    std::vector<uint32_t> members;
    std::vector<uint32_t> lists{0};
    std::vector<uint32_t> chain;
    std::vector<uint32_t> blocks;
    std::vector<uint32_t> allBlocks;  // name blocks of the chain, in order
    std::vector<size_t> blockStart;
    while (!lists.empty()) {
        uint32_t parent = lists.back();
        lists.pop_back();
        chain.clear();
        allBlocks.clear();
        blockStart.clear();
        uint32_t field = ListHeadField(parent);
        uint32_t cur = Rd32(field);
        while (cur != 0) {
            // The walk ends at anything that is not a live entry; a next that
            // points at a block already seen (or at the entry itself) is cut,
            // which breaks cycles.
            if (!EntryShapeOk(cur, used, blocks)) {
                Wr32(field, 0);
                break;
            }
            used.Set(cur);
            usedList.push_back(cur);
            isEntry.Set(cur);
            blockStart.push_back(allBlocks.size());
            for (uint32_t b : blocks) {
                used.Set(b);
                usedList.push_back(b);
                allBlocks.push_back(b);
            }
            chain.push_back(cur);
            field = cur + E_NEXT;
            cur = Rd32(field);
        }
        // Lists must be sorted and free of equal names for the lookups; a
        // damaged order is put right, and of equal names the first stays.
        bool sorted = true;
        for (size_t i = 1; i < chain.size() && sorted; i++)
            sorted = ChildLess()(chain[i - 1], chain[i]);
        if (!sorted) {
            std::vector<size_t> order(chain.size());
            for (size_t i = 0; i < order.size(); i++)
                order[i] = i;
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t a, size_t b) { return ChildLess()(chain[a], chain[b]); });
            std::vector<uint32_t> kept;
            for (size_t k = 0; k < order.size(); k++) {
                size_t i = order[k];
                uint32_t e = chain[i];
                if (!kept.empty() && !ChildLess()(kept.back(), e)) {
                    used.Clear(e);
                    isEntry.Clear(e);
                    size_t end = i + 1 < blockStart.size() ? blockStart[i + 1] : allBlocks.size();
                    for (size_t b = blockStart[i]; b < end; b++)
                        used.Clear(allBlocks[b]);
                    continue;
                }
                kept.push_back(e);
            }
            chain.swap(kept);
            Wr32(ListHeadField(parent), chain.empty() ? 0 : chain[0]);
            for (size_t i = 0; i < chain.size(); i++)
                Wr32(chain[i] + E_NEXT, i + 1 < chain.size() ? chain[i + 1] : 0);
        }
        for (uint32_t e : chain) {
            entries++;
            usedBytes += BLOCK * (1ull + NameBlockCount(Rd16(e + E_NAMELEN)));
            Wr32(e + E_PARENT, parent);
            // Nothing is being listed or removed at start.
            uint8_t flags = static_cast<uint8_t>(Flags(e) & ~(INODE_FLAG_SEEN | INODE_FLAG_PENDING));
            if ((flags & INODE_FLAG_LINK_MEMBER) != 0) {
                flags = static_cast<uint8_t>(flags & ~INODE_FLAG_CHILDREN);
                members.push_back(e);
            } else if ((flags & INODE_FLAG_CHILDREN) != 0) {
                lists.push_back(e);
            }
            SetFlags(e, flags);
        }
    }

    // Identity records, 32 bytes each, each with an intact ring of names.
    std::vector<uint32_t> records;
    uint32_t field = HDR_IDENTITY_HEAD;
    uint32_t cur = Rd32(field);
    while (cur != 0) {
        if (!ValidOffset(cur) || used.Test(cur) || Inodes.base[cur + E_MARKER] != INODE_MARKER || !IsIdentity(cur) ||
            Rd16(cur + E_NAMELEN) != 0) {
            Wr32(field, 0);
            break;
        }
        used.Set(cur);
        usedList.push_back(cur);
        records.push_back(cur);
        field = cur + E_NEXT;
        cur = Rd32(field);
    }
    std::vector<uint32_t> keptRecords;
    std::vector<uint32_t> ring;
    for (uint32_t record : records) {
        ring.clear();
        bool ok = true;
        uint32_t x = Rd32(record + E_LINK);
        uint32_t steps = entries + 1;
        while (x != record) {
            if (!ValidOffset(x) || !isEntry.Test(x) || !IsLinkMember(x) || ringed.Test(x) || steps-- == 0) {
                ok = false;
                break;
            }
            ringed.Set(x);
            ring.push_back(x);
            x = Rd32(x + E_LINK);
        }
        if (ok && !ring.empty()) {
            keptRecords.push_back(record);
            Wr32(record + E_PARENT, 0);
            SetFlags(record, INODE_FLAG_IDENTITY);
            usedBytes += BLOCK;
        } else {
            for (uint32_t m : ring)
                ringed.Clear(m);
            used.Clear(record);
        }
    }
    if (keptRecords.size() != records.size()) {
        Wr32(HDR_IDENTITY_HEAD, keptRecords.empty() ? 0 : keptRecords[0]);
        for (size_t i = 0; i < keptRecords.size(); i++)
            Wr32(keptRecords[i] + E_NEXT, i + 1 < keptRecords.size() ? keptRecords[i + 1] : 0);
    }
    for (uint32_t m : members) {
        if (!ringed.Test(m)) {
            SetFlags(m, static_cast<uint8_t>(Flags(m) & ~INODE_FLAG_LINK_MEMBER));
            Wr32(m + E_LINK, 0);
        }
    }

    // The free list: ascending, merged, inside the file and disjoint from
    // everything in use.
    bool freeOk = true;
    uint64_t freeBytes = 0;
    uint32_t prevEnd = 0;
    uint32_t steps = total / BLOCK + 1;
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    cur = Rd32(HDR_FREE_HEAD);
    while (cur != 0) {
        if (!ValidOffset(cur) || cur <= prevEnd || steps-- == 0) {
            freeOk = false;
            break;
        }
        uint32_t size = Rd32(cur);
        if (size == 0 || (size & (BLOCK - 1)) != 0 || static_cast<uint64_t>(cur) + size > total) {
            freeOk = false;
            break;
        }
        runs.emplace_back(cur, size);
        freeBytes += size;
        prevEnd = cur + size;
        cur = Rd32(cur + 4);
    }
    // No block in use may lie inside a run (the runs are sorted and apart).
    for (size_t i = 0; i < usedList.size() && freeOk && !runs.empty(); i++) {
        uint32_t b = usedList[i];
        if (!used.Test(b))
            continue;
        auto it = std::upper_bound(runs.begin(), runs.end(), std::make_pair(b, 0xFFFFFFFFu));
        if (it != runs.begin() && b < std::prev(it)->first + std::prev(it)->second)
            freeOk = false;
    }
    if (!freeOk || usedBytes + freeBytes != total) {
        LogLine(2, "inodeHeap rebuild\n");
        Wr32(HDR_TOTAL, total);
        // Every block not in use goes to the free list, merged into runs.
        uint32_t predField = HDR_FREE_HEAD;
        Wr32(HDR_FREE_HEAD, 0);
        freeBytes = 0;
        uint32_t b = BLOCK;
        while (b < total) {
            if (used.Test(b)) {
                b += BLOCK;
                continue;
            }
            uint32_t start = b;
            while (b < total && !used.Test(b))
                b += BLOCK;
            memset(Inodes.base + start, 0, b - start);
            Wr32(start, b - start);
            Wr32(start + 4, 0);
            Wr32(predField, start);
            predField = start + 4;
            freeBytes += b - start;
        }
    }
    Inodes.verifiedUsed = static_cast<uint32_t>(usedBytes);
    Inodes.verifiedFree = static_cast<uint32_t>(freeBytes);
    return usedBytes + freeBytes == total;
}

bool OpenInodeTableAt(const char *path, int reset)
{
    CloseInodeTable();
    {
        TreeGuard lock;
        snprintf(Inodes.path, sizeof(Inodes.path), "%s", path != nullptr ? path : "");
        OpenMode mode = reset ? MODE_NEW : MODE_LOAD;
        bool ready = false;
        for (int attempt = 0; attempt < 3 && !ready; attempt++) {
            if (!LoadTable(mode)) {
                if (mode == MODE_LOAD) {
                    LogLine(2, "nfsd: failed to load inodeTable\n");
                    mode = MODE_NEW;
                    continue;
                }
                LogLine(2, "nfsd: failed to create inodeTable\n");
                Inodes.path[0] = '\0';
                return false;
            }
            bool verified = VerifyTable();
            if (verified) {
                LoadFreeMirror();
                IndexClear();
                char reason[160];
                verified = InodeTableConsistent(reason, sizeof(reason));
            }
            if (!verified) {
                LogLine(2, "nfsd: inodeTable corrupt, deleted\n");
                CloseLocked();
                if (mode == MODE_NEW) {
                    LogLine(2, "nfsd: failed to create inodeTable\n");
                    Inodes.path[0] = '\0';
                    return false;
                }
                mode = MODE_NEW;
                continue;
            }
            ready = true;
        }
        if (!ready) {
            Inodes.path[0] = '\0';
            return false;
        }
        FlushViewOfFile(Inodes.base, Inodes.total);
        LogLine(2, "nfsd: inodeTable total %u used %u free %u\n", Inodes.total, Inodes.verifiedUsed,
                Inodes.verifiedFree);
    }
    if (ServerSettings.InodeCheck)
        StartInodeCheck();
    return true;
}

bool OpenInodeTable(int reset)
{
    char path[1100];
    uint32_t n = ReadString("nfsd", "InodePath", "", path, 1024);
    if (n == 0 || path[0] == '\0') {
        uint32_t length = FsProgramDirectory(path, 1024);
        snprintf(path + length, sizeof(path) - length, "inodes.nfs");
    }
    LogLine(2, "nfsd: inodePath %s\n", path);
    return OpenInodeTableAt(path, reset);
}

void CloseInodeTable()
{
    StopInodeCheck();
    TreeGuard lock;
    CloseLocked();
    Inodes.path[0] = '\0';
}

const char *InodeTablePath() { return Inodes.path; }

bool InodeTableStatistics(InodeTableStats *stats)
{
    TreeGuard lock;
    memset(stats, 0, sizeof(*stats));
    if (!Inodes.open)
        return false;
    stats->total = Inodes.total;
    for (const auto &run : Inodes.freeRuns) {
        stats->free += run.second;
        stats->freeRuns++;
    }
    stats->used = Inodes.total - stats->free;
    std::vector<uint32_t> lists{0};
    uint32_t limit = Inodes.total / BLOCK;
    while (!lists.empty()) {
        uint32_t parent = lists.back();
        lists.pop_back();
        uint32_t cur = Rd32(ListHeadField(parent));
        while (cur != 0 && IsTreeEntry(cur) && stats->entries < limit) {
            stats->entries++;
            if (HoldsChildren(cur))
                lists.push_back(cur);
            cur = Rd32(cur + E_NEXT);
        }
    }
    uint32_t cur = Rd32(HDR_IDENTITY_HEAD);
    while (cur != 0 && IsLive(cur) && IsIdentity(cur) && stats->identities < limit) {
        stats->identities++;
        cur = Rd32(cur + E_NEXT);
    }
    stats->indexedLists = static_cast<uint32_t>(Inodes.lists.size());
    // A set node holds three pointers, a colour and the inode (48 bytes as
    // allocated), a hash node and its bucket about 40 more; each list adds
    // its own hash node and headers.
    for (const auto &list : Inodes.lists)
        stats->indexBytes += 88ull * list.second.order.size() + 160;
    return true;
}
