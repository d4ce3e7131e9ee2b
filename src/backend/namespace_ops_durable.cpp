// Namespace changes reach stable storage before their reply: the folders
// that hold the changed names and, unless the changes only removed names,
// the inode table.  Each of them is flushed on its own, so that requests in
// different folders never wait for each other's flushes, and requests that
// need the same one at once share it (a group commit): each waits until a
// flush of it that started after its change has ended, and one request at
// a time flushes a folder for all that wait.  The table is flushed by a
// thread of its own meanwhile, so a request that needs both waits for the
// longer of the two flushes, not for their sum.  A change served on its
// connection's thread while the connection's next calls are at hand leaves
// its flushes to the moment its reply leaves with theirs (rpc's ReplyAfter):
// the changes of one batch share one flush of each folder they made.
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "backend/change_target.h"
#include "backend/namespace_ops_internal.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "platform/ranked_lock.h"
#include "rpc/transport.h"

namespace {

// One folder (by its path), or the inode table (the empty key).
struct FlushPoint {
    uint64_t started = 0;  // flushes begun
    uint64_t ended = 0;    // flushes ended (the last one's outcome in ok)
    bool ok = true;
    int users = 0;         // requests waiting for it or flushing it
};

struct FlushPoints {
    RankedLock lock{LOCK_RANK_LEAF, "namespace flush queue"};
    std::condition_variable_any ended;
    std::map<std::string, FlushPoint> points;
    // The table's flushes, made by their own thread once it runs.
    FlushPoint table;
    uint64_t tableWanted = 0;  // the last flush of it a request waits for
    std::condition_variable_any tableAsked;
    bool tableThreadTried = false;
    bool tableThread = false;
};
// Never destroyed: the table's thread waits on it until the process ends.
FlushPoints &Points = *new FlushPoints;

// A folder's entries on the disk, the folder opened by its path.
bool FlushFolder(const std::string &folder)
{
    bool ok = FlushFolderAt(folder.c_str()) != FALSE;
    const DWORD error = GetLastError();
    // A folder gone meanwhile (removed or renamed by a later change) has
    // nothing left to keep: whatever replaced it is flushed by its own change.
    if (!ok && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
        ok = true;
    if (!ok)
        LogLine(2, "nfsd: flush of folder %s error %u\n", folder.c_str(), static_cast<unsigned>(error));
    return ok;
}

// The folder through a handle of it opened for writing (the one its change
// was judged through, whatever its path names by now); by its path when
// there is none or the handle refuses.
bool FlushFolderThrough(HANDLE through, const std::string &folder)
{
    if (through != INVALID_HANDLE_VALUE && FlushFileBuffers(through))
        return true;
    return FlushFolder(folder);
}

bool Flush(const std::string &key, HANDLE through = INVALID_HANDLE_VALUE)
{
    if (!key.empty())
        return FlushFolderThrough(through, key);
    const bool ok = FlushInodeTable();
    if (!ok)
        LogLine(2, "nfsd: flush of inodeTable error %u\n", static_cast<unsigned>(GetLastError()));
    return ok;
}

// Returns once a flush of key that began after the call has ended: its
// outcome (or a later one's).  A flush this call makes goes through
// `through` when it is a handle of the folder.
bool Durable(const std::string &key, HANDLE through = INVALID_HANDLE_VALUE)
{
    std::unique_lock<RankedLock> hold(Points.lock);
    FlushPoint &point = Points.points[key];
    point.users++;
    // A flush under way may have begun before the change: the next one counts.
    const uint64_t wanted = point.started + 1;
    while (point.ended < wanted) {
        if (point.started > point.ended) {
            Points.ended.wait(hold);
            continue;
        }
        const uint64_t number = ++point.started;
        hold.unlock();
        const bool ok = Flush(key, through);
        hold.lock();
        point.ended = number;
        point.ok = ok;
        Points.ended.notify_all();
    }
    const bool ok = point.ok;
    if (--point.users == 0)
        Points.points.erase(key);
    return ok;
}

DWORD WINAPI TableFlusher(LPVOID)
{
    std::unique_lock<RankedLock> hold(Points.lock);
    for (;;) {
        FlushPoint &table = Points.table;
        if (Points.tableWanted <= table.started) {
            Points.tableAsked.wait(hold);
            continue;
        }
        const uint64_t number = ++table.started;
        hold.unlock();
        const bool ok = Flush(std::string());
        hold.lock();
        table.ended = number;
        table.ok = ok;
        Points.ended.notify_all();
    }
    return 0;
}

// Asks the table's thread for a flush that begins after the call: its
// number, for AwaitTable; 0 when the thread cannot run.
uint64_t AskTable()
{
    LockGuard guard(Points.lock);
    if (!Points.tableThreadTried) {
        Points.tableThreadTried = true;
        HANDLE thread = CreateThread(nullptr, 0, TableFlusher, nullptr, 0, nullptr);
        Points.tableThread = thread != nullptr;
        if (thread != nullptr)
            CloseHandle(thread);
        else
            LogLine(2, "nfsd: inode table flush thread create error\n");
    }
    if (!Points.tableThread)
        return 0;
    const uint64_t wanted = Points.table.started + 1;
    if (Points.tableWanted < wanted)
        Points.tableWanted = wanted;
    Points.tableAsked.notify_one();
    return wanted;
}

bool AwaitTable(uint64_t wanted)
{
    std::unique_lock<RankedLock> hold(Points.lock);
    Points.ended.wait(hold, [wanted] { return Points.table.ended >= wanted; });
    return Points.table.ok;
}

// The inode table (when table) and the folders that flushFolders makes
// durable: the table's flush runs while the folders are flushed (on file
// systems with one journal either commits the other's changes too).  False
// when a flush failed.
template <typename FlushFolders>
bool DurableWithTable(bool table, FlushFolders flushFolders)
{
    const uint64_t tableFlush = table ? AskTable() : 0;
    bool ok = !table || tableFlush != 0 || Durable(std::string());
    ok = flushFolders() && ok;
    if (tableFlush != 0)
        ok = AwaitTable(tableFlush) && ok;
    return ok;
}

// The flushes that a batch's held replies wait for: each folder once (by its
// path and inode; a folder that took the place of another at its path is
// one more), with the handle of it that judged its first change.
struct LaterFolder {
    std::string key;
    uint64_t inode;
    HANDLE handle;
};
struct LaterFlushes {
    std::vector<LaterFolder> folders;
    bool table = false;
};

// Makes the flushes that held replies wait for; false when one failed.
bool SettleLater(void *state)
{
    LaterFlushes *later = static_cast<LaterFlushes *>(state);
    if (later == nullptr)
        return true;
    const bool ok = DurableWithTable(later->table, [later] {
        bool flushed = true;
        for (LaterFolder &folder : later->folders) {
            flushed = Durable(folder.key, folder.handle) && flushed;
            if (folder.handle != INVALID_HANDLE_VALUE)
                CloseHandle(folder.handle);
        }
        return flushed;
    });
    delete later;
    return ok;
}

// Notes the folder's flush (and the table's) for SettleLater: true when it
// took folderHandle, which it closes.
bool FlushLater(LaterFlushes *later, const char *folder, uint64_t inode, bool table, HANDLE folderHandle)
{
    later->table = later->table || table;
    for (const LaterFolder &noted : later->folders)
        if (noted.inode == inode && noted.key == folder)
            return false;
    later->folders.push_back({folder, inode, folderHandle});
    return folderHandle != INVALID_HANDLE_VALUE;
}

} // namespace

uint32_t MakeNamesDurableSoon(const char *folder, uint64_t inode, bool table, HANDLE folderHandle, bool *handleTaken)
{
    *handleTaken = false;
    void **slot = ReplyAfter(SettleLater);
    if (slot != nullptr) {
        if (*slot == nullptr)
            *slot = new (std::nothrow) LaterFlushes;
        if (*slot != nullptr) {
            try {
                *handleTaken = FlushLater(static_cast<LaterFlushes *>(*slot), folder, inode, table, folderHandle);
                return NFS_OK;
            } catch (const std::bad_alloc &) {
                // Flushed now, below.
            }
        }
    }
    return MakeNamesDurable(folder, nullptr, table, folderHandle);
}

uint32_t MakeNamesDurable(const char *folder, const char *otherFolder, bool table, HANDLE folderHandle,
                          HANDLE otherHandle)
{
    const bool ok = DurableWithTable(table, [&] {
        bool flushed = folder == nullptr || Durable(folder, folderHandle);
        if (otherFolder != nullptr && (folder == nullptr || strcmp(folder, otherFolder) != 0))
            flushed = Durable(otherFolder, otherHandle) && flushed;
        return flushed;
    });
    return ok ? NFS_OK : NFSERR_IO;
}
