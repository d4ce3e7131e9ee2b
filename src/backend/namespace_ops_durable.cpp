// Namespace changes reach stable storage before their reply: the folders
// that hold the changed names and, unless the changes only removed names,
// the inode table.  Requests that finish
// their changes at once share one flush (a group commit): each request joins
// the queue and waits until a flush that started after it joined has ended;
// one request at a time flushes everything queued, each folder once.
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "backend/namespace_ops_internal.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "platform/ranked_lock.h"

namespace {

struct DurableWaiter {
    const char *folders[2];
    bool table;
    bool done;
    bool ok;
};

struct DurableQueue {
    RankedLock lock{LOCK_RANK_LEAF, "namespace flush queue"};
    std::condition_variable_any flushed;
    std::vector<DurableWaiter *> waiting;
    bool flushing = false;
};
DurableQueue Queue;

// A folder's entries on the disk: FlushFileBuffers of the folder itself,
// opened as a folder for writing (never through a link it may have become).
bool FlushFolder(const std::string &folder)
{
    HANDLE handle = FsCreateFile(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
    bool ok = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    // A folder gone meanwhile (removed or renamed by a later change) has
    // nothing left to keep: whatever replaced it is flushed by its own change.
    if (!ok && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
        ok = true;
    if (!ok)
        LogLine(2, "nfsd: flush of folder %s error %u\n", folder.c_str(), static_cast<unsigned>(error));
    return ok;
}

// Flushes what the batch changed and gives every waiter its outcome.
void FlushBatch(const std::vector<DurableWaiter *> &batch)
{
    std::set<std::string> folders;
    bool tableWanted = false;
    for (const DurableWaiter *waiter : batch) {
        tableWanted = tableWanted || waiter->table;
        for (const char *folder : waiter->folders)
            if (folder != nullptr)
                folders.insert(folder);
    }
    // The table first: on file systems with one journal its flush commits
    // the folders' changes too, and theirs then find little left to do.
    // A batch of removals alone leaves it to the next change that needs it.
    const bool table = !tableWanted || FlushInodeTable();
    if (!table)
        LogLine(2, "nfsd: flush of inodeTable error %u\n", static_cast<unsigned>(GetLastError()));
    std::set<std::string> failed;
    for (const std::string &folder : folders)
        if (!FlushFolder(folder))
            failed.insert(folder);
    for (DurableWaiter *waiter : batch) {
        waiter->ok = table;
        for (const char *folder : waiter->folders)
            if (folder != nullptr && failed.count(folder) != 0)
                waiter->ok = false;
    }
}

} // namespace

uint32_t MakeNamesDurable(const char *folder, const char *otherFolder, bool table)
{
    DurableWaiter me = {{folder, otherFolder}, table, false, false};
    std::unique_lock<RankedLock> hold(Queue.lock);
    Queue.waiting.push_back(&me);
    while (!me.done) {
        if (Queue.flushing) {
            Queue.flushed.wait(hold);
            continue;
        }
        Queue.flushing = true;
        std::vector<DurableWaiter *> batch;
        batch.swap(Queue.waiting);
        hold.unlock();
        FlushBatch(batch);
        hold.lock();
        for (DurableWaiter *waiter : batch)
            waiter->done = true;
        Queue.flushing = false;
        Queue.flushed.notify_all();
    }
    return me.ok ? NFS_OK : NFSERR_IO;
}
