// Reading a folder into a listing, naming its entries for a client, and
// pruning the inode table after a listing ran to its end.
#include <algorithm>
#include <cstring>

#include "backend/directory_read_internal.h"
#include "backend/file_attributes.h"
#include "common/ascii_text.h"
#include "exports/export_entry.h"
#include "exports/exports_names.h"
#include "exports/mount_table.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

// directoryPath + "\" + name into path (EXPORT_PATH_SIZE bytes); false when
// it would not fit.
bool JoinPath(const char *directoryPath, const char *name, char *path)
{
    const size_t directoryLength = strlen(directoryPath);
    const size_t nameLength = strlen(name);
    const bool separator = directoryLength == 0 || directoryPath[directoryLength - 1] != '\\';
    if (directoryLength + (separator ? 1 : 0) + nameLength >= EXPORT_PATH_SIZE)
        return false;
    memcpy(path, directoryPath, directoryLength);
    size_t at = directoryLength;
    if (separator)
        path[at++] = '\\';
    memcpy(path + at, name, nameLength + 1);
    return true;
}

// A look at the listed entry name (at path) by its name, without opening
// it, in the folder the request holds open (else by its path).  Only for an
// entry that the listing showed as no reparse point and that still is what
// the listing showed: anything else is left to a look through a handle
// (LOOK_UNTOLD).
LookOutcome LookByName(const ListingRequest *request, const char *name, const char *path, DWORD listed,
                       EntryLook *look)
{
    if ((listed & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return LOOK_UNTOLD;
    const LookOutcome outcome = LookAtName(request->folder, name, path, request->context->volumeSerial, look);
    if (outcome == LOOK_TOLD && ((look->info.dwFileAttributes ^ listed) & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        look->known = false;
        look->changeKnown = false;
        return LOOK_UNTOLD;
    }
    return outcome;
}

bool LookWanted(const ListingRequest *request, DWORD listed)
{
    // The link count matters only while hard links are served (a server
    // without them shows every name as a file of its own).
    return request->attributes != nullptr ||
           ((listed & FILE_ATTRIBUTE_DIRECTORY) == 0 && (ServerSettings.HardLinks & 1) != 0);
}

namespace {

// Table mode: CanonicalInode of the entry at path (named name in the
// folder), whose own table inode goes to *child; hard links registered.  0 when the file is gone or the table is full.
// *look holds what the look at the file told, when the file was looked at
// for its link count or its attributes: taken ahead (outcome given), else
// here.
uint32_t TableInode(const ListingRequest *request, const char *path, const char *name, DWORD attributes,
                    EntryLook *look, const LookOutcome *taken, uint32_t *child)
{
    BY_HANDLE_FILE_INFORMATION *info = &look->info;
    bool *known = &look->known;
    const bool linksWanted = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && (ServerSettings.HardLinks & 1) != 0;
    *child = 0;
    if (taken != nullptr) {
        if (*taken == LOOK_GONE)
            return 0;
    } else {
        *known = false;
        if (LookWanted(request, attributes) && LookByName(request, name, path, attributes, look) == LOOK_GONE)
            return 0;
    }
    if (linksWanted && !*known) {
        // The link itself, never what a symbolic link points at.
        HANDLE file = FsCreateFile(path, 0, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return 0;
        } else {
            *known = GetFileInformationByHandle(file, info) != 0;
            look->changeKnown = *known && ChangeTimeOf(file, &look->changeTime);
            CloseHandle(file);
        }
    }
    uint32_t canonical = 0;
    *child = AddSeenChild(static_cast<uint32_t>(request->directoryInode), name, &canonical);
    if (*child != 0 && *known && info->nNumberOfLinks > 1 && linksWanted) {
        const uint32_t named =
            RegisterHardLink(*child, info->nFileIndexLow, info->nFileIndexHigh, info->dwVolumeSerialNumber);
        if (named != 0)
            *child = named;
        canonical = CanonicalInode(*child);
    }
    return canonical;
}

// The attributes READDIRPLUS wants of the entry at path: from what the
// naming's look told (known), else by a look of their own.  The entry is a
// name the folder's listing holds, and the folder was checked to lie in its
// export; the look opens the entry itself, never what a link leads to.
void FillListedAttributes(const ListingRequest *request, const char *name, const char *path, uint64_t inode,
                          DWORD listed, EntryLook look)
{
    if (!look.known)
        LookByName(request, name, path, listed, &look);
    ListedAttributes *wanted = request->attributes;
    const uint32_t status =
        look.known ? GetAttributesFromInformation(&look.info, look.changeKnown ? &look.changeTime : nullptr, inode,
                                                  request->context, path, &wanted->attributes, wanted->credentials,
                                                  request->folder, name)
                   : GetAttributes(inode, request->context, path, &wanted->attributes, wanted->credentials);
    wanted->present = status == NFS_OK;
}

// Table mode: the inode that names the entry at path, 0 when it is to be
// left out, and the attributes READDIRPLUS wants of it (when it wants
// them), read from the look that named it.
uint64_t NameEntry(const ListingRequest *request, const char *path, const char *name, DWORD listed,
                   EntryLook *look, const LookOutcome *taken)
{
    uint32_t child = 0;
    const uint64_t inode = TableInode(request, path, name, listed, look, taken, &child);
    ListedAttributes *attributes = request->attributes;
    if (inode == 0 || attributes == nullptr)
        return inode;
    FillListedAttributes(request, name, path, inode, listed, *look);
    // The attributes' look may have found the file hard-linked only now:
    // the handle names the file as its attributes do.
    if (!attributes->present || attributes->attributes.links < 2)
        return inode;
    const uint32_t named = CanonicalInode(child);
    return named != 0 ? named : inode;
}

// File id mode: the file ID of the entry, or for a folder that leads onto
// another volume the root of an automatic mount (*mountId changed).  0 when
// the entry is to be left out.
uint64_t FileIdInode(const ListingRequest *request, const char *path, DWORD attributes, uint32_t *mountId)
{
    const DWORD mountPoint = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    DWORD serial = 0;
    if ((attributes & mountPoint) == mountPoint && VolumeSerialOfPath(path, &serial) &&
        serial != request->context->volumeSerial) {
        uint64_t inode = 0;
        uint32_t otherMount = 0;
        if (!AutoMount(request->clientAddress, path, request->context, &inode, &otherMount))
            return 0;
        *mountId = otherMount;
        return inode;
    }
    return FileIdOfPath(path);
}

// The name a client sees: with the -sub: characters turned back into ':'
// and '?', and the private use characters into what they stand for.
void ClientName(const ExportContext *context, const char *onDisk, char *name)
{
    const ExportOptions &options = context->exportEntry->options;
    const bool sub = (context->flags & EXPORT_SUB) != 0;
    RestoreName(name, onDisk, sub ? options.subColon : 0, sub ? options.subQuestion : 0);
}

} // namespace

namespace {

struct ListingRead {
    DirectoryListing *listing;
    std::vector<uint32_t> attributes;
};

bool AddListed(void *context, const char *name, DWORD kinds)
{
    ListingRead *read = static_cast<ListingRead *>(context);
    // An empty name is one whose spelling did not fit: it cannot be named
    // to a client.
    if (name[0] == 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0 || !IsAsciiName(name))
        return true;
    const size_t length = strlen(name);
    if (length >= DIRECTORY_NAME_SIZE)
        return true;
    DirectoryListing *listing = read->listing;
    listing->offsets.push_back(static_cast<uint32_t>(listing->names.size()));
    read->attributes.push_back(kinds);
    listing->names.insert(listing->names.end(), name, name + length);
    listing->names.push_back(0);
    return true;
}

} // namespace

bool ReadListing(HANDLE folder, const char *directoryPath, DirectoryListing *listing)
{
    ClearListing(listing);
    ListingRead read = {listing, {}};
    if (!FsListFolder(folder, AddListed, &read)) {
        // A listing cut short would pass for the whole folder.
        LogLine(2, "nfs_dir error %u %s\n", static_cast<unsigned>(GetLastError()), directoryPath);
        ClearListing(listing);
        return false;
    }
    const std::vector<uint32_t> &attributes = read.attributes;
    // Sort the entries (their indexes) by name, keeping each attribute with
    // its name.
    std::vector<uint32_t> order(listing->offsets.size());
    for (uint32_t i = 0; i < order.size(); i++)
        order[i] = i;
    const char *base = listing->names.data();
    const std::vector<uint32_t> &offsets = listing->offsets;
    std::sort(order.begin(), order.end(),
              [base, &offsets](uint32_t a, uint32_t b) { return strcmp(base + offsets[a], base + offsets[b]) < 0; });
    std::vector<uint32_t> sortedOffsets(order.size());
    listing->attributes.resize(order.size());
    for (uint32_t i = 0; i < order.size(); i++) {
        sortedOffsets[i] = offsets[order[i]];
        listing->attributes[i] = attributes[order[i]];
    }
    listing->offsets.swap(sortedOffsets);
    // A listing stays while the client reads it: keep no growth room.
    listing->names.shrink_to_fit();
    return true;
}

void ClearListing(DirectoryListing *listing)
{
    std::vector<char>().swap(listing->names);
    std::vector<uint32_t>().swap(listing->offsets);
    std::vector<uint32_t>().swap(listing->attributes);
}

uint64_t ListingBytes(const DirectoryListing *listing)
{
    return listing->names.capacity() + (listing->offsets.capacity() + listing->attributes.capacity()) * 4u;
}

uint32_t EntryAt(const ListingRequest *request, const DirectoryListing *listing, uint32_t position,
                 ListingEntry *entry)
{
    ExportContext *context = request->context;
    entry->mountId = 0;
    if (position == 0) {
        strcpy(entry->name, ".");
        entry->inode = request->directoryInode;
        return 1;
    }
    const uint32_t first = request->parentInode != 0 ? 2u : 1u;
    if (position == 1 && request->parentInode != 0) {
        strcpy(entry->name, "..");
        entry->inode = request->parentInode;
        return 2;
    }
    const bool lower = (context->flags & (EXPORT_LOWERCASE | EXPORT_VOLUME_NOCASE)) != 0;
    const bool fileIdMode = (context->flags & EXPORT_FILEID_MODE) != 0;
    const uint32_t count = static_cast<uint32_t>(listing->offsets.size());
    char onDisk[DIRECTORY_NAME_SIZE];
    char path[EXPORT_PATH_SIZE];
    for (uint64_t index = position - first; index < count; index++) {
        const uint64_t next = index + first + 1;
        if (next >= DIRECTORY_POSITION_LIMIT)
            return READDIR_FAILED;
        strcpy(onDisk, listing->names.data() + listing->offsets[index]);
        if (lower)
            LowerAsciiInPlace(onDisk);
        if (!JoinPath(context->path, onDisk, path))
            continue;
        const DWORD attributes = listing->attributes[index];
        uint32_t mountId = 0;
        uint64_t inode = 0;
        if (fileIdMode) {
            inode = FileIdInode(request, path, attributes, &mountId);
            // An entry served under a mount of its own shows that mount's
            // root: its attributes come through its handle.
            if (inode != 0 && request->attributes != nullptr && mountId == 0)
                FillListedAttributes(request, onDisk, path, inode, attributes, EntryLook{});
        } else {
            EntryLook look = {};
            LookOutcome outcome = LOOK_UNTOLD;
            const bool ahead = LookAheadAt(request, listing, index, onDisk, lower, &look, &outcome);
            inode = NameEntry(request, path, onDisk, attributes, &look, ahead ? &outcome : nullptr);
        }
        if (inode == 0)
            continue;
        ClientName(context, onDisk, entry->name);
        entry->inode = inode;
        entry->mountId = mountId;
        return static_cast<uint32_t>(next);
    }
    return 0;
}

void PruneGoneChildren(const char *directoryPath, uint32_t directory)
{
    // Only while the folder is still where the listing found it: a folder
    // renamed meanwhile would make every child look gone.
    char current[INODE_PATH_SIZE];
    if (PathOfInode(directory, current) == nullptr || !SameTextNoCase(current, directoryPath))
        return;
    const DWORD folder = FsGetFileAttributes(directoryPath);
    if (folder == INVALID_FILE_ATTRIBUTES || (folder & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return;
    std::vector<UnseenChild> unseen;
    TakeUnseenChildren(directory, &unseen);
    char path[EXPORT_PATH_SIZE];
    for (const UnseenChild &child : unseen) {
        if (!JoinPath(directoryPath, child.name, path))
            continue;
        if (FsGetFileAttributes(path) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND)
            continue;
        DeleteUnseenChild(directory, child.inode, child.name);
    }
}
