// The folder of a READDIR or READDIRPLUS request: its inode, its path and
// the inode that ".." lists.
#include <cstring>

#include "backend/containment.h"
#include "backend/credentials.h"
#include "backend/directory_read.h"
#include "backend/directory_read_internal.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"

uint32_t DirHandleInfo(const FileHandle *handle, uint64_t *inode, uint64_t *parentInode, ExportContext *context,
                       ListedFolder *folder, const AuthUnix *caller, OptionalAttributes *attributes)
{
    folder->handle = INVALID_HANDLE_VALUE;
    folder->rootLength = 0;
    if (attributes != nullptr)
        attributes->present = 0;
    char path[EXPORT_PATH_SIZE];
    const uint64_t directory = ResolveHandle(handle, context);
    if (directory == 0 || PathOfHandle(context, directory, path) == nullptr)
        return NFSERR_NOENT;
    folder->rootLength = strlen(context->path);
    // The folder is judged by its path: one replaced by a link since its
    // handle was given must not show what lies behind the link.
    if (CheckContainment(path, context) != 0)
        return NFSERR_STALE;
    KeptObject kept;
    const bool inside = CheckRealContainmentKept(path, context, LINK_FOLLOWED, &kept) == 0;
    if (attributes != nullptr) {
        // As GETATTR tells them: through the handle kept, which is the
        // folder itself; a link (which a listing follows and GETATTR does
        // not) and the export's root as GETATTR looks at them.
        AuthUnix mapped = *caller;
        MapCredentials(context, &mapped);
        const uint32_t status =
            kept.handle != INVALID_HANDLE_VALUE
                ? ReadKeptAttributes(&kept, directory, context, path, &attributes->attributes, &mapped)
                : GetAttributesJudged(directory, context, path, &attributes->attributes, &mapped);
        attributes->present = status == NFS_OK;
    }
    if (!inside)
        return NFSERR_STALE;
    // Only a folder has entries (a link inside leads to what it names).
    DWORD found = kept.known ? kept.info.dwFileAttributes : FsGetFileAttributes(path);
    if (found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        if (kept.handle != INVALID_HANDLE_VALUE)
            CloseHandle(kept.handle);
        return NFSERR_NOTDIR;
    }
    const bool fileIdMode = (context->flags & EXPORT_FILEID_MODE) != 0;
    const size_t rootLength = strlen(context->path);
    uint64_t parent = 0;
    if (strlen(path) <= rootLength) {
        // The top of the mount: ".." stays there (what lies above is not
        // the client's to see).  A volume's root in table mode has none.
        if (fileIdMode || ParentOfInode(static_cast<uint32_t>(directory)) != 0)
            parent = directory;
    } else {
        char parentPath[EXPORT_PATH_SIZE];
        strcpy(parentPath, path);
        char *cut = strrchr(parentPath, '\\');
        if (cut != nullptr) {
            // A cut that would leave less than the root keeps the backslash.
            if (static_cast<size_t>(cut - parentPath) < rootLength)
                cut[1] = 0;
            else
                cut[0] = 0;
            if (CheckContainment(parentPath, context) == 0)
                parent = fileIdMode ? FileIdOfPath(parentPath) : ParentOfInode(static_cast<uint32_t>(directory));
        }
    }
    *inode = directory;
    *parentInode = parent;
    strcpy(context->path, path);
    folder->handle = kept.handle;
    return NFS_OK;
}

void ListedFolderClose(ListedFolder *folder)
{
    LookAheadEnd(folder->ahead);
    folder->ahead = nullptr;
    ReleaseHeldSlot(*folder);
    if (folder->handle != INVALID_HANDLE_VALUE)
        CloseHandle(folder->handle);
    folder->handle = INVALID_HANDLE_VALUE;
}
