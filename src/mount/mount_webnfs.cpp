// WebNFS: a LOOKUP relative to the public file handle names a whole path,
// which is mounted for the client on the spot.
#include <cstdio>
#include <cstring>

#include "common/ascii_text.h"
#include "exports/export_table.h"
#include "exports/exports_names.h"
#include "exports/exports_paths.h"
#include "exports/mount_table.h"
#include "exports/mount_text.h"
#include "fs/nfs_status.h"
#include "log/log.h"
#include "mount/mount_folder.h"
#include "mount/mount_path.h"
#include "mount/mount_service.h"
#include "mount/mounttab_file.h"
#include "settings/settings.h"

namespace {

// The first export with -public that admits the client under its own path.
ExportEntry *PublicExport(uint32_t clientAddress)
{
    char path[EXPORT_PATH_SIZE];
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = ExportNext(entry)) {
        if ((entry->flags & EXPORT_PUBLIC) == 0)
            continue;
        if (!ToClientPath(entry->path, path, sizeof path))
            continue;
        ExportEntry *found = nullptr;
        if (FindExport(path, clientAddress, &found) == 0 && found == entry)
            return entry;
    }
    return nullptr;
}

// When text begins with prefix followed by its end or "/": the rest after
// the prefix, else null.
const char *AfterPrefix(const char *text, const char *prefix)
{
    size_t length = strlen(prefix);
    if (length == 0 || !SamePrefixNoCase(text, prefix, length))
        return nullptr;
    if (text[length] != '\0' && text[length] != '/')
        return nullptr;
    return text + length;
}

}  // namespace

int WebNfsLookup(FileHandle *handle, char *name, uint32_t clientAddress, uint32_t kind)
{
    if (!ServerSettings.WebNFS)
        return NFSERR_STALE;
    ExportEntry *publicExport = PublicExport(clientAddress);
    char publicPath[EXPORT_PATH_SIZE] = "";
    if (publicExport != nullptr && !ToClientPath(publicExport->path, publicPath, sizeof publicPath))
        return NFSERR_ACCES;

    // The request in client form: a native path (first byte 0x80) is
    // converted, "/..." is absolute, anything else is relative to the public
    // folder.
    char request[EXPORT_PATH_SIZE];
    bool absolute = true;
    if (static_cast<unsigned char>(name[0]) == 0x80) {
        const char *native = name + 1;
        bool drive = ((native[0] >= 'A' && native[0] <= 'Z') || (native[0] >= 'a' && native[0] <= 'z')) &&
                     native[1] == ':';
        bool unc = native[0] == '\\' && native[1] == '\\';
        if (!drive && !unc)
            return NFSERR_ACCES;
        if (strlen(native) >= sizeof request || !ToClientPath(native, request, sizeof request))
            return NFSERR_NAMETOOLONG;
    } else {
        if (strlen(name) >= sizeof request)
            return NFSERR_NAMETOOLONG;
        snprintf(request, sizeof request, "%s", name);
        absolute = name[0] == '/';
        if (!absolute && publicExport == nullptr)
            return NFSERR_ACCES;
    }

    // The part below the public folder.  An absolute path must name the
    // public folder first, by its visible name or by its path.
    const char *rest = request;
    if (absolute && publicExport != nullptr) {
        const char *after = publicExport->name != nullptr ? AfterPrefix(request, publicExport->name) : nullptr;
        if (after == nullptr)
            after = AfterPrefix(request, publicPath);
        if (after == nullptr)
            return NFSERR_ACCES;
        rest = after;
    }

    // Component by component, each made fit for the volume.  Below the
    // public folder the path is built in Windows form on the export's own
    // path; without one, in client form for the export table to judge.
    char path[EXPORT_PATH_SIZE];
    size_t length = 0;
    char separator = '/';
    if (publicExport != nullptr) {
        length = static_cast<size_t>(snprintf(path, sizeof path, "%s", publicExport->path));
        if (length >= sizeof path)
            return NFSERR_NAMETOOLONG;
        if (length > 0 && path[length - 1] == '\\')
            path[--length] = '\0';
        separator = '\\';
    } else if (request[0] == '/' && request[1] == '/') {
        length = static_cast<size_t>(snprintf(path, sizeof path, "/"));  // keeps "//server/share"
    } else {
        path[0] = '\0';
    }
    const uint8_t subColon = publicExport != nullptr ? publicExport->options.subColon : 0;
    const uint8_t subQuestion = publicExport != nullptr ? publicExport->options.subQuestion : 0;
    char component[EXPORT_PATH_SIZE];
    bool added = false;
    while (*rest != '\0') {
        while (*rest == '/')
            rest++;
        if (*rest == '\0')
            break;
        size_t size = strcspn(rest, "/");
        memcpy(component, rest, size);
        component[size] = '\0';
        rest += size;
        if (strcmp(component, ".") == 0)
            continue;
        // Windows drops trailing dots and blanks, so ". ." would be ".".
        if (IsDotsAndBlanks(component, static_cast<uint32_t>(size)) ||
            !CheckName(component, sizeof component, subColon, subQuestion))
            return NFSERR_ACCES;
        size_t componentLength = strlen(component);
        if (length + 1 + componentLength >= sizeof path)
            return NFSERR_NAMETOOLONG;
        path[length++] = separator;
        memcpy(path + length, component, componentLength + 1);
        length += componentLength;
        added = true;
    }

    ExportEntry *entry = publicExport;
    if (entry != nullptr) {
        // The public folder itself keeps its path exactly ("C:\" too).
        if (!added)
            snprintf(path, sizeof path, "%s", publicExport->path);
    } else {
        if (length == 0)
            snprintf(path, sizeof path, "/");
        if (FindExport(path, clientAddress, &entry) != 0 || entry == nullptr)
            return NFSERR_ACCES;
    }

    uint64_t inode = 0;
    uint32_t mountId = 0;
    int status = MountFolderFor(clientAddress, (kind & MOUNT_KIND_TRANSPORT) | MOUNT_KIND_WEBNFS, path, entry, &inode,
                                &mountId, nullptr);
    if (status != NFS_OK)
        return status;
    MountTabSave();
    MakeHandle(inode, mountId, handle);
    name[0] = '.';
    name[1] = '\0';
    LogEvent(1, "mount webnfs %s:%s\n", Dotted(clientAddress).text, path);
    return NFS_OK;
}
