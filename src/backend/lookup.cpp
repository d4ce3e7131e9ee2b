#include "backend/lookup.h"

#include <cstring>

#include "backend/containment.h"
#include "backend/credentials.h"
#include "backend/dos_name.h"
#include "backend/name_look.h"
#include "common/ascii_text.h"
#include "exports/exports_names.h"
#include "exports/mount_table.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"

namespace {

bool FileIdMode(const ExportContext *context) { return (context->flags & EXPORT_FILEID_MODE) != 0; }

// ".." of the folder at path: the path is cut to its parent.  70 at (or
// above) the top of the mount, 19 when the parent has no number.
uint32_t ParentOf(const ExportContext *context, uint64_t inode, char *path, uint64_t *parent)
{
    const size_t rootLength = strlen(context->path);
    const size_t length = strlen(path);
    if (length <= rootLength)
        return NFSERR_STALE;
    char *cut = strrchr(path, '\\');
    if (cut == nullptr)
        return NFSERR_STALE;
    // A cut that would leave less than the root keeps the backslash: the
    // parent of "C:\data" is "C:\", not "C:".
    if (static_cast<size_t>(cut - path) < rootLength)
        cut[1] = 0;
    else
        cut[0] = 0;
    if (CheckContainment(path, context) != 0 || CheckRealContainment(path, context, LINK_FOLLOWED) != 0)
        return NFSERR_STALE;
    if (FileIdMode(context))
        *parent = FileIdOfPath(path);
    else
        *parent = ParentOfInode(static_cast<uint32_t>(inode));
    return *parent != 0 ? NFS_OK : NFSERR_NODEV;
}

// A folder whose path leads onto another volume (a volume mounted in a
// folder of the export).
bool OnOtherVolume(const ExportContext *context, const char *path, DWORD attributes)
{
    const DWORD mountPoint = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((attributes & mountPoint) != mountPoint)
        return false;
    DWORD serial = 0;
    return VolumeSerialOfPath(path, &serial) && serial != context->volumeSerial;
}

} // namespace

uint32_t ChildPath(const ExportContext *context, char *directoryPath, char *name)
{
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return NFSERR_ISDIR;
    const ExportOptions &options = context->exportEntry->options;
    if (!CheckName(name, EXPORT_PATH_SIZE, options.subColon, options.subQuestion))
        return NFSERR_NOENT;
    uint32_t status = CheckDosName(name, context->maxNameLength);
    if (status != NFS_OK)
        return status;
    const size_t directoryLength = strlen(directoryPath);
    const size_t nameLength = strlen(name);
    if (directoryLength + nameLength + 1 >= EXPORT_PATH_SIZE)
        return NFSERR_NAMETOOLONG;
    char *end = directoryPath + directoryLength;
    if (directoryLength == 0 || end[-1] != '\\')
        *end++ = '\\';
    memcpy(end, name, nameLength + 1);
    if ((context->flags & (EXPORT_LOWERCASE | EXPORT_VOLUME_NOCASE)) != 0) {
        LowerAsciiInPlace(directoryPath);
        LowerAsciiInPlace(name);
    }
    return NFS_OK;
}

namespace {

// The folder of a LOOKUP, judged on disk at most once, as GETATTR judges it
// (the object itself), and then kept open for the rest of the lookup.
struct JudgedFolder {
    const char *path;
    const ExportContext *context;
    KeptObject kept = {INVALID_HANDLE_VALUE, {}, false, 0, {}, false};
    int judged = -1;    // -1 not yet, 0 inside, 1 not
    int followed = -1;  // the same for a link judged as followed
    JudgedFolder(const char *folder, const ExportContext *exportContext) : path(folder), context(exportContext) {}
    JudgedFolder(const JudgedFolder &) = delete;
    JudgedFolder &operator=(const JudgedFolder &) = delete;
    ~JudgedFolder()
    {
        if (kept.handle != INVALID_HANDLE_VALUE)
            CloseHandle(kept.handle);
    }
    bool Judged()
    {
        if (judged < 0) {
            judged = CheckRealContainmentKept(path, context, LINK_ITSELF, &kept);
            if (judged == 0 && kept.handle == INVALID_HANDLE_VALUE)
                KeepExportRoot(path, context, &kept);
        }
        return judged == 0;
    }
    // Judged, and known to be no reparse point: judged as followed too.
    bool Plain() const
    {
        return judged == 0 && kept.handle != INVALID_HANDLE_VALUE && kept.known &&
               (kept.info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    }
    // The folder lies inside, and so does what it leads to when it is a link.
    bool Inside()
    {
        if (!Judged() || Plain())
            return judged == 0;
        if (followed < 0)
            followed = CheckRealContainment(path, context, LINK_FOLLOWED);
        return followed == 0;
    }
};

// A name that is certainly not in the judged folder: looked at in the
// folder itself (no path walked again).  False when the look cannot tell
// (no such look on this system, a name whose last dot or blank a path
// would drop).
bool SurelyMissing(const JudgedFolder &folder, const char *name)
{
    const size_t length = strlen(name);
    if (!folder.Plain() || length == 0 || name[length - 1] == '.' || name[length - 1] == ' ')
        return false;
    NtFileStatInformation stat;
    return !FsGetFileStatIn(folder.kept.handle, name, &stat) && GetLastError() == ERROR_FILE_NOT_FOUND;
}

const uint32_t kNotTold = 0xFFFFFFFFu;

// A name that is no reparse point, found by one look in the folder judged
// and held open: it lies in that folder, so inside, wherever the folder's
// path leads now.  Its handle and attributes, or NFSERR_NOENT where nothing
// has the name there; kNotTold where the look cannot tell (file id mode, a
// folder that is a reparse point or was not judged, a name whose last dot
// or blank a path would drop, a link, a system without such looks).
uint32_t LookInJudgedFolder(const JudgedFolder &folder, uint64_t directory, uint32_t mountId, const char *name,
                            const char *path, FileHandle *handle, FileAttributes *attributes,
                            const AuthUnix *credentials)
{
    const size_t length = strlen(name);
    if (FileIdMode(folder.context) || !folder.Plain() || length == 0 || name[length - 1] == '.' ||
        name[length - 1] == ' ')
        return kNotTold;
    EntryLook look;
    const LookOutcome outcome = LookAtName(folder.kept.handle, name, path, folder.context->volumeSerial, &look);
    if (outcome == LOOK_GONE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? NFSERR_NOENT : kNotTold;
    if (outcome != LOOK_TOLD)
        return kNotTold;
    const uint32_t child = AddChild(static_cast<uint32_t>(directory), name);
    const uint64_t inode = child != 0 ? CanonicalInode(child) : 0;
    if (inode == 0)
        return NFSERR_IO;
    MakeHandle(inode, mountId, handle);
    return GetAttributesFromInformation(&look.info, &look.changeTime, inode, folder.context, path, attributes,
                                        credentials, folder.kept.handle, name);
}

} // namespace

uint32_t Lookup(const FileHandle *directoryHandle, const char *name, FileHandle *handle, FileAttributes *attributes,
                uint32_t clientAddress, AuthUnix *credentials, OptionalAttributes *folderAttributes)
{
    if (folderAttributes != nullptr)
        folderAttributes->present = 0;
    ExportContext context;
    char path[EXPORT_PATH_SIZE];
    uint64_t directory = 0;
    uint32_t status = ResolveHandlePathLexically(directoryHandle, &context, path, &directory);
    if (status != NFS_OK)
        return status;
    char folder[EXPORT_PATH_SIZE];
    strcpy(folder, path);
    MapCredentials(&context, credentials);
    // The folder is opened at most once: its judgment, its attributes, "."
    // and the look for a name that is not there all go through that one
    // handle.  A name found in it is judged with every folder on its way,
    // which covers the folder where nothing else needs it.
    JudgedFolder judged(folder, &context);
    const auto folderInside = [&judged]() { return judged.Inside(); };
    if (folderAttributes != nullptr && judged.Judged())
        folderAttributes->present = ReadKeptAttributes(&judged.kept, directory, &context, folder,
                                                       &folderAttributes->attributes, credentials) == NFS_OK;

    uint32_t mountId = directoryHandle->mountId;
    uint64_t inode = 0;
    KeptObject kept;
    kept.handle = INVALID_HANDLE_VALUE;
    if (strcmp(name, ".") == 0) {
        if (judged.Judged() && judged.Plain()) {
            MakeHandle(directory, mountId, handle);
            if (folderAttributes != nullptr && folderAttributes->present != 0) {
                *attributes = folderAttributes->attributes;
                return NFS_OK;
            }
            return ReadKeptAttributes(&judged.kept, directory, &context, folder, attributes, credentials);
        }
        if (CheckRealContainmentKept(path, &context, LINK_FOLLOWED, &kept) != 0)
            return NFSERR_STALE;
        inode = directory;
    } else if (strcmp(name, "..") == 0) {
        if (!folderInside())
            return NFSERR_STALE;
        status = ParentOf(&context, directory, path, &inode);
        if (status != NFS_OK)
            return status;
    } else {
        char component[EXPORT_PATH_SIZE];
        if (strlen(name) >= sizeof component)
            return folderInside() ? NFSERR_NAMETOOLONG : NFSERR_STALE;
        strcpy(component, name);
        status = ChildPath(&context, path, component);
        if (status != NFS_OK)
            return folderInside() ? status : NFSERR_STALE;
        // Table mode looks at the name in the judged folder itself: no path
        // is walked and nothing is opened, as a listing looks at its entries.
        const uint32_t found = LookInJudgedFolder(judged, directory, mountId, component, path, handle, attributes,
                                                  credentials);
        if (found != kNotTold)
            return found;
        // File id mode looks at the name first for a volume mounted there;
        // in table mode the containment check's own look at it tells
        // whether it exists.
        bool crossing = false;
        if (FileIdMode(&context)) {
            const DWORD found = FsGetFileAttributes(path);
            if (found == INVALID_FILE_ATTRIBUTES)
                return folderInside() ? NFSERR_NOENT : NFSERR_STALE;
            crossing = OnOtherVolume(&context, path, found);
        }
        // The name must really lie in the folder: a link or junction on the
        // way is never walked through (the folder's own path was checked
        // when the handle was given, but it may have been replaced since),
        // and a link at the end is an object of its own, given only where
        // SoftLinks shows it.
        const LinkUse use = crossing ? LINK_MOUNT_POINT : LINK_ITSELF;
        int judgment = judged.Plain() ? CheckRealContainmentOrMissing(path, &context, use, &kept)
                                      : CheckRealContainmentKept(path, &context, use, &kept);
        if (judgment < 0) {
            // Nothing has the name on its path: looked for in the folder
            // itself, which is judged already.  Found there after all (the
            // folder's path changed meanwhile): the path's folders are
            // judged as for any name that does not exist.
            if (SurelyMissing(judged, component))
                return NFSERR_NOENT;
            judgment = CheckRealContainmentKept(path, &context, use, &kept);
        }
        if (judgment != 0)
            return folderInside() ? NFSERR_ACCES : NFSERR_STALE;
        // No handle: a name that does not exist, judged by the folder that
        // would hold it (which lies inside).
        if (kept.handle == INVALID_HANDLE_VALUE && FsGetFileAttributes(path) == INVALID_FILE_ATTRIBUTES)
            return NFSERR_NOENT;
        if (FileIdMode(&context)) {
            if (crossing) {
                // The folder is served under a mount of its own.
                if (!AutoMount(clientAddress, path, &context, &inode, &mountId) ||
                    !ExportContextById(mountId, &context)) {
                    if (kept.handle != INVALID_HANDLE_VALUE)
                        CloseHandle(kept.handle);
                    return NFSERR_STALE;
                }
            } else {
                inode = FileIdOfPath(path);
            }
        } else {
            uint32_t child = AddChild(static_cast<uint32_t>(directory), component);
            inode = child != 0 ? CanonicalInode(child) : 0;
        }
        // The file exists but gets no number (a full inode table, a file
        // that cannot be opened): no handle can be given.
        if (inode == 0) {
            if (kept.handle != INVALID_HANDLE_VALUE)
                CloseHandle(kept.handle);
            return NFSERR_IO;
        }
    }
    MakeHandle(inode, mountId, handle);
    return GetAttributesKept(&kept, inode, &context, path, attributes, credentials);
}
