// From an inode back to a Windows path, in table mode and in file id mode.
#include <cstring>

#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "settings/settings.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kVolumeNameGuid = 1;  // GetFinalPathNameByHandle: "\\?\Volume{...}\..."

// The FILE_ID_DESCRIPTOR of OpenFileById for a 64-bit file ID.
struct FileIdDescriptor {
    uint32_t size;  // 24
    uint32_t type;  // 0: file ID
    uint64_t fileId;
    uint64_t unused;  // the rest of the union (object and extended IDs)
};
static_assert(sizeof(FileIdDescriptor) == 24, "OpenFileById takes a 24-byte descriptor");

bool HasLongPrefix(const char *path) { return strncmp(path, "\\\\?\\", 4) == 0; }

bool IsUncAfterPrefix(const char *path)
{
    return (path[4] == 'U' || path[4] == 'u') && (path[5] == 'N' || path[5] == 'n') &&
           (path[6] == 'C' || path[6] == 'c') && path[7] == '\\';
}

char *PathOfFileId(const ExportContext *context, uint64_t fileId, char *path)
{
    HANDLE root = FsCreateFile(context->path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr);
    if (root == INVALID_HANDLE_VALUE)
        return nullptr;
    FileIdDescriptor descriptor = {sizeof(FileIdDescriptor), 0, fileId, 0};
    HANDLE file = FsOpenFileById(root, &descriptor, 0, kShareAll, nullptr,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    CloseHandle(root);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    const DWORD flags = (context->flags & EXPORT_VOLUME_GUID) != 0 ? kVolumeNameGuid : 0;
    DWORD length = FsGetFinalPathNameByHandle(file, path, EXPORT_PATH_SIZE, flags);
    CloseHandle(file);
    if (length == 0 || length >= EXPORT_PATH_SIZE)
        return nullptr;
    path[length] = 0;
    if (!HasLongPrefix(path))
        return path;
    // "\\?\c:\" when drive letters are shown in lower case.
    if (ServerSettings.Lowercase != 0 && path[4] >= 'A' && path[4] <= 'Z' && path[5] == ':' && path[6] == '\\')
        path[4] = static_cast<char>(path[4] - 'A' + 'a');
    if (HasLongPrefix(context->path))
        return path;
    if (IsUncAfterPrefix(path)) {
        // "\\?\UNC\server\share" is "\\server\share".
        memmove(path + 2, path + 8, strlen(path + 8) + 1);
        return path;
    }
    memmove(path, path + 4, strlen(path + 4) + 1);
    return path;
}

} // namespace

char *PathOfHandle(const ExportContext *context, uint64_t inode, char *path)
{
    if ((context->flags & EXPORT_FILEID_MODE) != 0)
        return PathOfFileId(context, inode, path);
    if (inode == 0 || inode > 0xFFFFFFFFu)
        return nullptr;
    return PathOfInodeWithin(static_cast<uint32_t>(inode), context->path, path);
}

uint64_t FileIdOfPath(const char *path)
{
    HANDLE file = FsCreateFile(path, 0, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    uint64_t fileId = 0;
    if (GetFileInformationByHandle(file, &info))
        fileId = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    CloseHandle(file);
    return fileId;
}
