// The inode table's heap: the mapping of the file, its growth, and the
// address-ordered free list of 32-byte blocks.
#include "fs/inode_internal.h"
#include "log/log.h"
#include "platform/ranked_lock.h"

InodeTableState Inodes;

void NoteChange()
{
    Inodes.changes++;
    Inodes.unsynced = true;
}

int MapTable(uint32_t size)
{
    HANDLE mapping = CreateFileMappingA(Inodes.file, nullptr, PAGE_READWRITE, 0, size, nullptr);
    if (mapping == nullptr)
        return 0;
    void *view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) {
        DWORD error = GetLastError();
        CloseHandle(mapping);
        SetLastError(error);
        return 0;
    }
    Inodes.mapping = mapping;
    Inodes.base = static_cast<uint8_t *>(view);
    Inodes.total = size;
    return 1;
}

void UnmapTable()
{
    if (Inodes.base != nullptr)
        UnmapViewOfFile(Inodes.base);
    if (Inodes.mapping != nullptr)
        CloseHandle(Inodes.mapping);
    Inodes.base = nullptr;
    Inodes.mapping = nullptr;
}

uint32_t GrowTarget(uint32_t total)
{
    uint64_t target = static_cast<uint64_t>(total) + ((total / 2 + 31) & ~31u);
    uint64_t limit = Inodes.sizeLimit & ~31u;
    if (target > limit)
        target = limit;
    return target > total ? static_cast<uint32_t>(target) : 0;
}

void LoadFreeMirror()
{
    Inodes.freeRuns.clear();
    uint32_t run = Rd32(HDR_FREE_HEAD);
    uint32_t end = 0;
    uint32_t steps = Inodes.total / BLOCK;
    // Tolerant: the walk ends at the first run that cannot be right; the
    // verification afterwards rebuilds a damaged list.
    while (run != 0 && steps-- > 0) {
        if (!ValidOffset(run) || run < end)
            break;
        uint32_t size = Rd32(run);
        if (size == 0 || (size & (BLOCK - 1)) != 0 || static_cast<uint64_t>(run) + size > Inodes.total)
            break;
        Inodes.freeRuns[run] = size;
        end = run + size;
        run = Rd32(run + 4);
    }
}

void AddNewSpace(uint32_t oldEnd)
{
    oldEnd &= ~(BLOCK - 1);
    if (oldEnd < BLOCK)
        oldEnd = BLOCK;
    if (Inodes.total <= oldEnd)
        return;
    uint32_t delta = Inodes.total - oldEnd;
    if (!Inodes.freeRuns.empty()) {
        auto last = std::prev(Inodes.freeRuns.end());
        if (last->first + last->second == oldEnd) {
            last->second += delta;
            Wr32(last->first, last->second);
            return;
        }
    }
    Wr32(oldEnd, delta);
    Wr32(oldEnd + 4, 0);
    if (Inodes.freeRuns.empty())
        Wr32(HDR_FREE_HEAD, oldEnd);
    else
        Wr32(std::prev(Inodes.freeRuns.end())->first + 4, oldEnd);
    Inodes.freeRuns[oldEnd] = delta;
}

namespace {

// Remaps the view at the next size; the new space joins the free list.
bool GrowTable()
{
    uint32_t target = GrowTarget(Inodes.total);
    if (target == 0)
        return false;
    uint32_t old = Inodes.total;
    FlushViewOfFile(Inodes.base, old);
    UnmapTable();
    if (!MapTable(target)) {
        // Keep serving at the old size.
        if (!MapTable(old)) {
            Inodes.open = false;
            Inodes.total = 0;
        }
        return false;
    }
    Wr32(HDR_TOTAL, Inodes.total);
    AddNewSpace(old);
    NoteChange();
    LogLine(3, "nfsd: inodeTable total size %u\n", Inodes.total);
    return true;
}

}  // namespace

namespace {

// Takes the block at off out of the free run that starts at run (off lies
// inside it); predField is the list field that points at the run.
void TakeBlock(uint32_t run, uint32_t off, uint32_t predField)
{
    const uint32_t size = Inodes.freeRuns[run];
    const uint32_t next = Rd32(run + 4);
    const uint32_t restStart = off + BLOCK;
    const uint32_t restSize = run + size - restStart;
    Inodes.freeRuns.erase(run);
    uint32_t after = next;
    if (restSize != 0) {
        Wr32(restStart, restSize);
        Wr32(restStart + 4, next);
        Inodes.freeRuns[restStart] = restSize;
        after = restStart;
    }
    if (off > run) {
        Wr32(run, off - run);
        Wr32(run + 4, after);
        Inodes.freeRuns[run] = off - run;
    } else {
        Wr32(predField, after);
    }
}

}  // namespace

uint32_t HeapAlloc()
{
    HeapGuard lock;
    if (!Inodes.open)
        return 0;
    for (int attempt = 0; attempt < 2; attempt++) {
        // Next fit in address order: the search starts where the last block
        // was taken and wraps at the end.  A block just released is taken
        // again only after the rest of the free space went round, so the
        // number of a removed file does not come back at once as the number
        // of a new one while clients still hold the old file's handle.  (A
        // released block merges with the run after it, so the run holding
        // the position is split there rather than taken from its front.)
        if (!Inodes.freeRuns.empty()) {
            // After the table was opened the search starts at the last run,
            // the space that no entry has used yet (in a grown table).
            const uint32_t cursor =
                Inodes.allocCursor != 0 ? Inodes.allocCursor : std::prev(Inodes.freeRuns.end())->first;
            auto it = Inodes.freeRuns.upper_bound(cursor);
            uint32_t off = 0;
            if (it != Inodes.freeRuns.begin()) {
                auto holding = std::prev(it);
                if (static_cast<uint64_t>(holding->first) + holding->second > cursor) {
                    it = holding;
                    off = cursor > holding->first ? cursor : holding->first;
                }
            }
            if (off == 0) {
                if (it == Inodes.freeRuns.end())
                    it = Inodes.freeRuns.begin();
                off = it->first;
            }
            const uint32_t run = it->first;
            const uint32_t predField = it == Inodes.freeRuns.begin() ? HDR_FREE_HEAD : std::prev(it)->first + 4;
            TakeBlock(run, off, predField);
            memset(Inodes.base + off, 0, BLOCK);
            Inodes.allocCursor = off + BLOCK;
            NoteChange();
            return off;
        }
        if (!GrowTable())
            return 0;
    }
    return 0;
}

void HeapFree(uint32_t off)
{
    HeapGuard lock;
    if (!Inodes.open || !ValidOffset(off))
        return;
    auto next = Inodes.freeRuns.upper_bound(off);
    bool hasPrev = next != Inodes.freeRuns.begin();
    auto prev = hasPrev ? std::prev(next) : Inodes.freeRuns.end();
    if (hasPrev && off < prev->first + prev->second)
        return;  // already free
    bool hasNext = next != Inodes.freeRuns.end();
    bool mergePrev = hasPrev && prev->first + prev->second == off;
    bool mergeNext = hasNext && off + BLOCK == next->first;
    uint32_t predField = hasPrev ? prev->first + 4 : HDR_FREE_HEAD;
    if (mergePrev && mergeNext) {
        prev->second += BLOCK + next->second;
        Wr32(prev->first, prev->second);
        Wr32(prev->first + 4, Rd32(next->first + 4));
        memset(Inodes.base + next->first, 0, 8);
        Inodes.freeRuns.erase(next);
    } else if (mergePrev) {
        prev->second += BLOCK;
        Wr32(prev->first, prev->second);
    } else if (mergeNext) {
        uint32_t size = BLOCK + next->second;
        uint32_t after = Rd32(next->first + 4);
        memset(Inodes.base + next->first, 0, 8);
        Inodes.freeRuns.erase(next);
        Wr32(off, size);
        Wr32(off + 4, after);
        Wr32(predField, off);
        Inodes.freeRuns[off] = size;
    } else {
        Wr32(off, BLOCK);
        Wr32(off + 4, hasNext ? next->first : 0);
        Wr32(predField, off);
        Inodes.freeRuns[off] = BLOCK;
    }
    NoteChange();
}

void FlushIfDirty(uint32_t threshold)
{
    TreeGuard lock;
    if (!Inodes.open || Inodes.changes <= threshold)
        return;
    FlushViewOfFile(Inodes.base, Inodes.total);
    Inodes.changes = 0;
}

bool FlushInodeTable()
{
    // One flush at a time: a caller that finds nothing unsynced returns only
    // after the flush that took its changes has finished.
    static RankedLock flushing(LOCK_RANK_INODE_FLUSH, "inode table flush");
    LockGuard one(flushing);
    HANDLE file;
    {
        TreeGuard lock;
        if (!Inodes.open || !Inodes.unsynced)
            return true;
        if (!FlushViewOfFile(Inodes.base, Inodes.total))
            return false;
        Inodes.changes = 0;
        Inodes.unsynced = false;
        file = Inodes.file;
    }
    // The file's handle lives until CloseInodeTable, which runs after every
    // request has ended; the disk write needs no lock of the table.
    if (FlushFileBuffers(file))
        return true;
    const DWORD error = GetLastError();
    TreeGuard lock;
    Inodes.unsynced = true;
    SetLastError(error);
    return false;
}

void SetInodeTableSizeLimit(uint32_t bytes)
{
    TreeGuard lock;
    Inodes.sizeLimit = bytes == 0 || bytes > INODE_TABLE_MAX_SIZE ? INODE_TABLE_MAX_SIZE : bytes;
}
