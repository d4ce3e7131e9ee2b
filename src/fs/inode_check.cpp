// Checks of the inode table: the full consistency check of the file and the
// in-memory state, and the background check that removes entries whose
// files are gone (InodeCheck).
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "fs/inode_internal.h"
#include "fs/win_file_access.h"

namespace {

bool Fail(char *reason, size_t size, const char *format, ...)
{
    if (reason != nullptr && size > 0) {
        va_list args;
        va_start(args, format);
        vsnprintf(reason, size, format, args);
        va_end(args);
    }
    return false;
}

struct Marks {
    std::vector<uint8_t> bits;
    explicit Marks(uint32_t total) : bits(total / BLOCK, 0) {}
    uint8_t &operator[](uint32_t off) { return bits[off / BLOCK]; }
};
enum : uint8_t { M_USED = 1, M_ENTRY = 2, M_RINGED = 4 };

DWORD WINAPI CheckInodesThread(LPVOID)
{
    struct Item {
        uint32_t entry;
        uint32_t parent;
    };
    std::vector<Item> stack;
    {
        TreeGuard lock;
        if (!Inodes.open)
            return 0;
        uint32_t cur = Rd32(HDR_ROOT_HEAD);
        uint32_t steps = Inodes.total / BLOCK;
        while (cur != 0 && steps-- > 0 && IsTreeEntry(cur)) {
            stack.push_back({cur, 0});
            cur = Rd32(cur + E_NEXT);
        }
    }
    std::vector<char> path(INODE_PATH_SIZE);
    while (!stack.empty() && Inodes.checkStop == 0) {
        Item item = stack.back();
        stack.pop_back();
        {
            TreeGuard lock;
            if (!Inodes.open)
                return 0;
            // The entry may have gone or moved since it was queued.
            if (!IsTreeEntry(item.entry) || Rd32(item.entry + E_PARENT) != item.parent)
                continue;
            if (PathOfInode(item.entry, path.data()) == nullptr)
                continue;
        }
        DWORD attributes = FsGetFileAttributes(path.data());
        DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        TreeGuard lock;
        if (!Inodes.open)
            return 0;
        if (!IsTreeEntry(item.entry) || Rd32(item.entry + E_PARENT) != item.parent)
            continue;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_DRIVE) {
            DeleteLocked(item.entry);
            FlushIfDirty(INODE_FLUSH_THRESHOLD);
            continue;
        }
        if (HoldsChildren(item.entry)) {
            uint32_t cur = Rd32(item.entry + E_LINK);
            uint32_t steps = Inodes.total / BLOCK;
            while (cur != 0 && steps-- > 0 && IsTreeEntry(cur)) {
                stack.push_back({cur, item.entry});
                cur = Rd32(cur + E_NEXT);
            }
        }
    }
    return 0;
}

}  // namespace

void StartInodeCheck()
{
    StopInodeCheck();
    InterlockedExchange(&Inodes.checkStop, 0);
    Inodes.checkThread = CreateThread(nullptr, 0, CheckInodesThread, nullptr, 0, nullptr);
}

void StopInodeCheck()
{
    if (Inodes.checkThread == nullptr)
        return;
    InterlockedExchange(&Inodes.checkStop, 1);
    WaitForSingleObject(Inodes.checkThread, INFINITE);
    CloseHandle(Inodes.checkThread);
    Inodes.checkThread = nullptr;
}

bool InodeTableConsistent(char *reason, size_t reasonSize)
{
    TreeGuard lock;
    if (!Inodes.open || Inodes.base == nullptr)
        return Fail(reason, reasonSize, "table not open");
    const uint32_t total = Inodes.total;
    if (total < 2 * BLOCK || (total & (BLOCK - 1)) != 0)
        return Fail(reason, reasonSize, "total %u", total);
    if (Rd32(HDR_TOTAL) != total)
        return Fail(reason, reasonSize, "header total %u, mapped %u", Rd32(HDR_TOTAL), total);
    Marks marks(total);
    marks[0] |= M_USED;
    std::vector<uint32_t> usedList;
    uint64_t usedBytes = BLOCK;
    uint32_t entries = 0;
    std::vector<uint32_t> members;
    std::vector<uint32_t> lists{0};
    std::vector<uint32_t> chain;
    uint8_t scratch[INODE_NAME_MAX + 1];
    while (!lists.empty()) {
        uint32_t parent = lists.back();
        lists.pop_back();
        chain.clear();
        uint32_t cur = Rd32(ListHeadField(parent));
        while (cur != 0) {
            if (!ValidOffset(cur))
                return Fail(reason, reasonSize, "entry offset %u under %u", cur, parent);
            if ((marks[cur] & M_USED) != 0)
                return Fail(reason, reasonSize, "block %u reached twice", cur);
            if (Inodes.base[cur + E_MARKER] != INODE_MARKER || (Flags(cur) & INODE_FLAG_IDENTITY_BIT) != 0)
                return Fail(reason, reasonSize, "entry %u not live", cur);
            uint32_t n = Rd16(cur + E_NAMELEN);
            if (n == 0 || n > INODE_NAME_MAX)
                return Fail(reason, reasonSize, "entry %u name length %u", cur, n);
            if (Rd32(cur + E_PARENT) != parent)
                return Fail(reason, reasonSize, "entry %u parent %u, listed under %u", cur, Rd32(cur + E_PARENT),
                            parent);
            marks[cur] |= M_USED | M_ENTRY;
            usedList.push_back(cur);
            uint32_t block = NameBlockCount(n) > 0 ? Rd32(cur + E_NAMEBLOCK) : 0;
            for (uint32_t i = NameBlockCount(n); i > 0; i--) {
                if (!ValidOffset(block) || (marks[block] & M_USED) != 0)
                    return Fail(reason, reasonSize, "entry %u name block %u", cur, block);
                marks[block] |= M_USED;
                usedList.push_back(block);
                block = Rd32(block);
            }
            uint32_t length = 0;
            if (NameOf(cur, scratch, &length) == nullptr)
                return Fail(reason, reasonSize, "entry %u name unreadable", cur);
            if (!chain.empty() && !ChildLess()(chain.back(), cur))
                return Fail(reason, reasonSize, "list of %u not sorted at %u", parent, cur);
            chain.push_back(cur);
            entries++;
            usedBytes += BLOCK * (1ull + NameBlockCount(n));
            if (IsLinkMember(cur))
                members.push_back(cur);
            else if ((Flags(cur) & INODE_FLAG_CHILDREN) != 0)
                lists.push_back(cur);
            cur = Rd32(cur + E_NEXT);
        }
        auto indexed = Inodes.lists.find(parent);
        if (indexed != Inodes.lists.end()) {
            const ChildIndex &index = indexed->second;
            if (index.order.size() != chain.size() || index.members.size() != chain.size() ||
                !std::equal(chain.begin(), chain.end(), index.order.begin()) ||
                !std::all_of(chain.begin(), chain.end(), [&index](uint32_t e) { return index.members.count(e) != 0; }))
                return Fail(reason, reasonSize, "index of %u out of step (%zu indexed, %zu listed)", parent,
                            index.order.size(), chain.size());
        }
    }
    for (const auto &list : Inodes.lists) {
        if (list.first != 0 && (!ValidOffset(list.first) || (marks[list.first] & M_ENTRY) == 0 ||
                                !HoldsChildren(list.first)))
            return Fail(reason, reasonSize, "index kept for %u, which holds no list", list.first);
    }
    uint32_t record = Rd32(HDR_IDENTITY_HEAD);
    while (record != 0) {
        if (!ValidOffset(record) || (marks[record] & M_USED) != 0)
            return Fail(reason, reasonSize, "identity record offset %u", record);
        if (Inodes.base[record + E_MARKER] != INODE_MARKER || !IsIdentity(record) || Rd16(record + E_NAMELEN) != 0 ||
            Rd32(record + E_PARENT) != 0)
            return Fail(reason, reasonSize, "identity record %u malformed", record);
        marks[record] |= M_USED;
        usedList.push_back(record);
        usedBytes += BLOCK;
        uint32_t x = Rd32(record + E_LINK);
        uint32_t count = 0;
        while (x != record) {
            if (!ValidOffset(x) || (marks[x] & M_ENTRY) == 0 || !IsLinkMember(x) || (marks[x] & M_RINGED) != 0)
                return Fail(reason, reasonSize, "link ring of %u broken at %u", record, x);
            marks[x] |= M_RINGED;
            count++;
            x = Rd32(x + E_LINK);
        }
        if (count == 0)
            return Fail(reason, reasonSize, "identity record %u without names", record);
        record = Rd32(record + E_NEXT);
    }
    for (uint32_t m : members)
        if ((marks[m] & M_RINGED) == 0)
            return Fail(reason, reasonSize, "link member %u in no ring", m);
    uint64_t freeBytes = 0;
    uint32_t prevEnd = 0;
    uint32_t run = Rd32(HDR_FREE_HEAD);
    auto mirror = Inodes.freeRuns.begin();
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    while (run != 0) {
        if (!ValidOffset(run) || run <= prevEnd)
            return Fail(reason, reasonSize, "free run %u out of order or unmerged", run);
        uint32_t size = Rd32(run);
        if (size == 0 || (size & (BLOCK - 1)) != 0 || static_cast<uint64_t>(run) + size > total)
            return Fail(reason, reasonSize, "free run %u size %u", run, size);
        runs.emplace_back(run, size);
        if (mirror == Inodes.freeRuns.end() || mirror->first != run || mirror->second != size)
            return Fail(reason, reasonSize, "free mirror out of step at %u", run);
        ++mirror;
        freeBytes += size;
        prevEnd = run + size;
        run = Rd32(run + 4);
    }
    if (mirror != Inodes.freeRuns.end())
        return Fail(reason, reasonSize, "free mirror holds more runs than the file");
    for (uint32_t b : usedList) {
        auto it = std::upper_bound(runs.begin(), runs.end(), std::make_pair(b, 0xFFFFFFFFu));
        if (it != runs.begin() && b < std::prev(it)->first + std::prev(it)->second)
            return Fail(reason, reasonSize, "free run %u holds used block %u", std::prev(it)->first, b);
    }
    if (usedBytes + freeBytes != total)
        return Fail(reason, reasonSize, "used %llu + free %llu != total %u", static_cast<unsigned long long>(usedBytes),
                    static_cast<unsigned long long>(freeBytes), total);
    (void)entries;
    return true;
}
