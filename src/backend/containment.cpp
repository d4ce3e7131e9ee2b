// Whether a path the backend built still lies inside the folder a client
// mounted.  File handles are forgeable (a file ID names any file of the
// volume, a damaged inode table any path), so every operation checks each
// path before it touches the file.
#include <cstring>

#include "backend/containment.h"
#include "common/ascii_text.h"
#include "exports/export_entry.h"
#include "fs/final_path.h"
#include "fs/win_file_access.h"
#include "platform/ranked_lock.h"
#include "settings/settings.h"

namespace {

// A component ".." anywhere in the path (Windows would resolve it).
bool HasParentComponent(const char *path)
{
    const char *component = path;
    for (const char *p = path;; p++) {
        if (*p == '\\' || *p == '/' || *p == 0) {
            if (p - component == 2 && component[0] == '.' && component[1] == '.')
                return true;
            if (*p == 0)
                return false;
            component = p + 1;
        }
    }
}

} // namespace

int CheckContainment(const char *path, const ExportContext *context)
{
    // "C:\data" must not admit "C:\database".
    if (BelowRoot(path, context->path) == nullptr)
        return 1;
    if (HasParentComponent(path))
        return 1;
    if ((context->flags & EXPORT_VOLUME_FIXED) == 0) {
        DWORD serial = 0;
        if (!VolumeSerialOfPath(path, &serial) || serial != context->volumeSerial)
            return 1;
    }
    return 0;
}

// ------------------------------------------------------ links on the way
namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const uint32_t kAutomaticMount = 0x200;  // ExportContext kind of a mount made by a lookup
const DWORD kVolumeNameGuid = 1;          // final paths as "\\?\Volume{...}\..."

struct RealObject {
    char path[EXPORT_PATH_SIZE];
    bool isLink;  // a symbolic link or junction (mount points too)
    BY_HANDLE_FILE_INFORMATION info;  // of the link itself, when infoKnown
    bool infoKnown;
    FILETIME changeTime;  // with info, when changeKnown
    bool changeKnown;
};

// GetFileInformationByHandle of the object of file, with its change time
// where one look tells both (FsGetFileStatOf).
bool InformationOf(HANDLE file, RealObject *real)
{
    return FsGetInformationOf(file, &real->info, &real->changeTime, &real->changeKnown) != FALSE;
}

// The reparse tag of the object at path (from a directory search), 0 when
// it has none or cannot be found.
DWORD ReparseTagOf(const char *path)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FsFindFirstFile(path, &data);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? data.dwReserved0 : 0;
}

bool IsLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT; }

// A link that the SoftLinks setting shows to clients as a symbolic link.
bool ShownAsLink(const char *path)
{
    const DWORD tag = ReparseTagOf(path);
    if (tag == IO_REPARSE_TAG_SYMLINK)
        return (ServerSettings.SoftLinks & 2) != 0;
    if (tag == IO_REPARSE_TAG_MOUNT_POINT)
        return (ServerSettings.SoftLinks & 4) != 0;
    return false;
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The access that lets a kept handle read the object's Unix record, where
// those are kept.
DWORD RecordAccess(bool toKeep) { return toKeep && ServerSettings.UnixAttributes != 0 ? FILE_READ_EA : 0; }

// The object at path opened with every sharing mode, and what the open saw
// of it in real (*looked; see FsOpenAndLook).
HANDLE OpenAndLook(const char *path, DWORD access, DWORD flags, RealObject *real, bool *looked)
{
    return FsOpenAndLook(path, access, kShareAll, flags, &real->info, &real->changeTime, &real->changeKnown, looked);
}

// The object at path opened to be looked at: every sharing mode, the link
// itself with noFollow, and to be kept, access to read the Unix records
// where they are kept and the file allows it.
HANDLE OpenToLook(const char *path, bool noFollow, bool toKeep, RealObject *real, bool *looked)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const DWORD access = RecordAccess(toKeep);
    HANDLE file = OpenAndLook(path, access, flags, real, looked);
    if (file == INVALID_HANDLE_VALUE && access != 0 && !Missing(GetLastError()))
        file = OpenAndLook(path, 0, flags, real, looked);
    return file;
}

// Where the object at path really is: the link itself with noFollow, else
// what links lead to.  With kept, the handle opened on it (every sharing
// mode, the link itself with noFollow; with the Unix records kept, access to
// read them where the file allows it, so that its attributes need no second
// open) is left open there on success, for the caller to close; with
// dataAccess (noFollow and kept only) it is first opened for the data, or
// with asFolder as a folder (see CheckRealContainmentKept), and *keptAccess
// tells whether it was.
bool RealPathOf(const char *path, bool noFollow, DWORD nameFlags, RealObject *real, HANDLE *kept = nullptr,
                DWORD dataAccess = 0, DWORD *keptAccess = nullptr, bool asFolder = false)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    bool looked = false;
    if (keptAccess != nullptr)
        *keptAccess = 0;
    if (dataAccess != 0 && noFollow && kept != nullptr) {
        const DWORD access = dataAccess | RecordAccess(asFolder);
        const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (asFolder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
        file = OpenAndLook(path, access, flags, real, &looked);
        if (file == INVALID_HANDLE_VALUE && Missing(GetLastError()))
            return false;
        if (file != INVALID_HANDLE_VALUE && keptAccess != nullptr)
            *keptAccess = dataAccess;
    }
    if (file == INVALID_HANDLE_VALUE)
        file = OpenToLook(path, noFollow, kept != nullptr, real, &looked);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // Only a link seen from itself needs its attributes (which the caller
    // may use as the object's own); the open may have seen them.
    if (!looked)
        real->changeKnown = false;
    real->infoKnown = noFollow && (looked || InformationOf(file, real));
    const bool reparsePoint = real->infoKnown && (real->info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    DWORD length = FsFinalPathOfHandle(file, real->path, sizeof real->path, nameFlags);
    DWORD error = GetLastError();
    if (kept != nullptr && length != 0)
        *kept = file;
    else
        CloseHandle(file);
    // Other reparse points (deduplicated or offline files) are plain files.
    real->isLink = reparsePoint && IsLinkTag(ReparseTagOf(path));
    SetLastError(error);
    return length != 0;
}

// Where the export's root really is.  The root is named by the
// administrator and rarely changes, so where it leads is remembered for a
// moment instead of being opened on every request.  A root moved meanwhile
// can only make objects fail the check (they no longer lie below the
// remembered place), never let one pass that lies elsewhere.
const int kRootSlots = 8;
const DWORD kRootKeptMs = 1000;

struct RootSlot {
    DWORD takenAt;  // GetTickCount; 0: empty
    DWORD nameFlags;
    char root[EXPORT_PATH_SIZE];
    char real[EXPORT_PATH_SIZE];
};

struct RootMemory {
    RankedLock lock{LOCK_RANK_LEAF, "export roots"};
    RootSlot slots[kRootSlots];
    int next;
    RootMemory() : slots(), next(0) {}
};

RootMemory &Roots()
{
    static RootMemory *memory = new RootMemory();  // lives as long as the process
    return *memory;
}

bool RealRootOf(const char *root, DWORD nameFlags, RealObject *real)
{
    const size_t length = strlen(root);
    if (length >= EXPORT_PATH_SIZE)
        return RealPathOf(root, false, nameFlags, real);
    RootMemory &memory = Roots();
    const DWORD now = GetTickCount();
    bool found = false;
    LockTake(&memory.lock);
    for (RootSlot &slot : memory.slots) {
        if (slot.takenAt != 0 && now - slot.takenAt < kRootKeptMs && slot.nameFlags == nameFlags &&
            strcmp(slot.root, root) == 0) {
            strcpy(real->path, slot.real);
            found = true;
            break;
        }
    }
    LockGive(&memory.lock);
    if (found) {
        real->isLink = false;
        return true;
    }
    if (!RealPathOf(root, false, nameFlags, real))
        return false;
    LockTake(&memory.lock);
    RootSlot *slot = nullptr;
    for (RootSlot &candidate : memory.slots)
        if (candidate.takenAt != 0 && candidate.nameFlags == nameFlags && strcmp(candidate.root, root) == 0)
            slot = &candidate;
    if (slot == nullptr) {
        slot = &memory.slots[memory.next];
        memory.next = (memory.next + 1) % kRootSlots;
    }
    slot->takenAt = now != 0 ? now : 1;
    slot->nameFlags = nameFlags;
    memcpy(slot->root, root, length + 1);
    strcpy(slot->real, real->path);
    LockGive(&memory.lock);
    return true;
}


// Component lengths: up to the next separator, and without the trailing
// dots and blanks that Windows drops when it opens a name.
size_t RawComponentLength(const char *path)
{
    size_t length = 0;
    while (path[length] != 0 && path[length] != '\\')
        length++;
    return length;
}

size_t OpenedComponentLength(const char *path, size_t length)
{
    while (length > 0 && (path[length - 1] == '.' || path[length - 1] == ' '))
        length--;
    return length;
}

// Two paths below a root name the same objects: component by component,
// without regard to ASCII case or to trailing dots and blanks.
bool SamePlace(const char *a, const char *b)
{
    for (;;) {
        const size_t rawA = RawComponentLength(a);
        const size_t rawB = RawComponentLength(b);
        const size_t length = OpenedComponentLength(a, rawA);
        if (length != OpenedComponentLength(b, rawB))
            return false;
        for (size_t i = 0; i < length; i++)
            if (LowerAscii(a[i]) != LowerAscii(b[i]))
                return false;
        const bool lastA = a[rawA] == 0;
        const bool lastB = b[rawB] == 0;
        if (lastA || lastB)
            return lastA && lastB;
        a += rawA + 1;
        b += rawB + 1;
    }
}

// Without final paths (systems before Vista): no component after the root's
// rest begins may be a reparse point, the last one excepted.
bool NoLinkOnTheWay(const char *path, size_t restStart)
{
    char prefix[EXPORT_PATH_SIZE];
    const size_t length = strlen(path);
    if (length >= sizeof prefix)
        return false;
    memcpy(prefix, path, length + 1);
    for (size_t i = restStart; i < length; i++) {
        if (prefix[i] != '\\')
            continue;
        prefix[i] = 0;
        DWORD attributes = FsGetFileAttributes(prefix);
        prefix[i] = '\\';
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return false;
    }
    return true;
}

// An object that does not exist leads nowhere; the folders that hold it
// must still lie where the path says (the nearest one that exists is
// judged), so that a name made there stays inside.
bool MissingInside(const char *path, const char *rest, const char *realRoot, DWORD nameFlags)
{
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        return false;
    char folder[EXPORT_PATH_SIZE];
    const size_t length = strlen(path);
    if (length >= sizeof folder)
        return false;
    memcpy(folder, path, length + 1);
    const size_t restStart = static_cast<size_t>(rest - path);
    for (;;) {
        char *cut = strrchr(folder + restStart, '\\');
        if (cut == nullptr)
            return true;  // the root itself holds it
        *cut = 0;
        RealObject real;
        if (RealPathOf(folder, true, nameFlags, &real)) {
            const char *realRest = BelowRoot(real.path, realRoot);
            return realRest != nullptr && SamePlace(realRest, folder + restStart) && !real.isLink;
        }
        if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
            return false;
    }
}

} // namespace

namespace {

// The folder objects are judged from: the export's folder, or the mounted
// folder of a mount of a volume mounted inside the export (automatic or
// named by the client).
const char *JudgedRoot(const ExportContext *context)
{
    if (context->exportEntry != nullptr && context->exportEntry->path != nullptr &&
        (context->kind & kAutomaticMount) == 0 && context->volumeSerial == context->exportEntry->volumeSerial)
        return context->exportEntry->path;
    return context->path;
}

DWORD NameFlagsOf(const ExportContext *context)
{
    return (context->flags & EXPORT_VOLUME_GUID) != 0 ? kVolumeNameGuid : 0;
}

} // namespace

int CheckRealContainment(const char *path, const ExportContext *context, LinkUse use)
{
    return CheckRealContainmentKept(path, context, use, nullptr);
}

int CheckOpenedContainment(HANDLE opened, const char *path, const ExportContext *context)
{
    const char *root = JudgedRoot(context);
    const char *rest = BelowRoot(path, root);
    if (rest == nullptr || HasParentComponent(path))
        return 1;
    const DWORD nameFlags = NameFlagsOf(context);
    RealObject realRoot;
    if (!RealRootOf(root, nameFlags, &realRoot))
        return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? 0 : 1;
    char *real = new char[EXPORT_PATH_SIZE];
    const DWORD length = FsFinalPathOfHandle(opened, real, EXPORT_PATH_SIZE, nameFlags);
    const char *realRest = length != 0 ? BelowRoot(real, realRoot.path) : nullptr;
    const bool inside = realRest != nullptr && (*rest == 0 ? *realRest == 0 : SamePlace(realRest, rest));
    delete[] real;
    return inside ? 0 : 1;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool SameObject(HANDLE opened, const BY_HANDLE_FILE_INFORMATION *judged)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(opened, &info) && SameFile(info, *judged);
}

namespace {

// CheckRealContainmentKept; a name that does not exist gives -1 instead of
// its folders' judgment when missingAsIs.
int JudgeReal(const char *path, const ExportContext *context, LinkUse use, KeptObject *kept, DWORD dataAccess,
              bool missingAsIs, bool asFolder = false)
{
    if (kept != nullptr) {
        kept->handle = INVALID_HANDLE_VALUE;
        kept->known = false;
        kept->changeKnown = false;
        kept->access = 0;
    }
    const char *root = JudgedRoot(context);
    const char *rest = BelowRoot(path, root);
    if (rest == nullptr || HasParentComponent(path))
        return 1;
    const DWORD nameFlags = NameFlagsOf(context);
    RealObject realRoot;
    if (!RealRootOf(root, nameFlags, &realRoot)) {
        if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
            return 1;
        return NoLinkOnTheWay(path, static_cast<size_t>(rest - path)) ? 0 : 1;
    }
    if (*rest == 0)
        return 0;  // the root itself, as the administrator named it
    RealObject real;
    HANDLE opened = INVALID_HANDLE_VALUE;
    DWORD openedAccess = 0;
    if (!RealPathOf(path, true, nameFlags, &real, kept != nullptr ? &opened : nullptr, dataAccess, &openedAccess,
                    asFolder)) {
        if (missingAsIs && Missing(GetLastError()))
            return -1;
        return MissingInside(path, rest, realRoot.path, nameFlags) ? 0 : 1;
    }
    const char *realRest = BelowRoot(real.path, realRoot.path);
    bool inside = realRest != nullptr && SamePlace(realRest, rest);
    if (inside && real.isLink && use != LINK_MOUNT_POINT)
        inside = ShownAsLink(path);
    // Only the object itself is handed on: a handle on a link is not what
    // an operation that follows it needs.
    if (inside && kept != nullptr && (use != LINK_FOLLOWED || !real.isLink)) {
        kept->handle = opened;
        kept->info = real.info;
        kept->known = real.infoKnown;
        kept->changeKnown = real.infoKnown && real.changeKnown;
        kept->changeTime = real.changeTime;
        kept->access = openedAccess;
        opened = INVALID_HANDLE_VALUE;
    }
    if (opened != INVALID_HANDLE_VALUE)
        CloseHandle(opened);
    if (!inside)
        return 1;
    if (!real.isLink || use != LINK_FOLLOWED)
        return 0;
    // A link inside: whoever follows it must stay inside too.
    RealObject target;
    if (!RealPathOf(path, false, nameFlags, &target))
        return 1;
    return BelowRoot(target.path, realRoot.path) != nullptr ? 0 : 1;
}

} // namespace

bool KeepExportRoot(const char *path, const ExportContext *context, KeptObject *kept)
{
    const char *rest = BelowRoot(path, JudgedRoot(context));
    if (rest == nullptr || *rest != 0)
        return false;
    RealObject facts;
    bool looked = false;
    HANDLE file = OpenToLook(path, true, true, &facts, &looked);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // A root that is a link is left to be read as what it leads to.
    if (!(looked || InformationOf(file, &facts)) || (facts.info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(file);
        return false;
    }
    kept->handle = file;
    kept->info = facts.info;
    kept->known = true;
    kept->access = 0;
    kept->changeTime = facts.changeTime;
    kept->changeKnown = facts.changeKnown;
    return true;
}

int CheckRealContainmentKept(const char *path, const ExportContext *context, LinkUse use, KeptObject *kept,
                             DWORD dataAccess, bool asFolder)
{
    return JudgeReal(path, context, use, kept, dataAccess, false, asFolder);
}

int CheckRealContainmentOrMissing(const char *path, const ExportContext *context, LinkUse use, KeptObject *kept)
{
    return JudgeReal(path, context, use, kept, 0, true);
}

bool IsMountedVolumeRoot(const char *path)
{
    RealObject real;
    if (!RealPathOf(path, false, 0, &real))
        return false;
    char volume[EXPORT_PATH_SIZE];
    if (!FsGetVolumePathName(real.path, volume, sizeof volume))
        return false;
    size_t length = strlen(real.path);
    if (length > 0 && real.path[length - 1] != '\\' && length + 1 < sizeof real.path) {
        real.path[length] = '\\';
        real.path[length + 1] = 0;
    }
    return SameTextNoCase(volume, real.path);
}
