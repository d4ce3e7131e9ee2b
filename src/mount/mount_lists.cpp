#include "mount/mount_lists.h"

#include <cstdio>
#include <cstring>

#include "exports/export_table.h"
#include "exports/exports_address.h"
#include "exports/exports_paths.h"
#include "mount/mount_service.h"
#include "mount/mount_table.h"
#include "rpc/xdr.h"

namespace {

// Bytes of a counted string of length bytes.
uint32_t StringSize(uint32_t length)
{
    return 4 + XdrPadded(length);
}

uint32_t PutString(uint8_t *out, const char *text)
{
    return XdrPutOpaque(out, text, static_cast<uint32_t>(strlen(text)));
}

// Appends one group to an export element under construction.
struct GroupWriter {
    uint8_t *out;
    uint32_t length;
    uint32_t room;
    bool full;

    void Add(const char *name)
    {
        uint32_t size = 4 + StringSize(static_cast<uint32_t>(strlen(name)));
        if (full || length + size > room) {
            full = true;
            return;
        }
        length += XdrPutWord(out + length, 1);
        length += PutString(out + length, name);
    }
};

// The option groups of an export, in the order of the protocol's listing.
void AddOptionGroups(GroupWriter *groups, const ExportEntry *entry)
{
    const uint32_t flags = entry->flags;
    const ExportOptions &options = entry->options;
    char text[64];
    if (flags & EXPORT_READONLY)
        groups->Add("-readonly");
    if (flags & EXPORT_LOWERCASE)
        groups->Add("-lowercase");
    if (flags & EXPORT_PUBLIC)
        groups->Add("-public");
    if (flags & EXPORT_ALLDIRS)
        groups->Add("-alldirs");
    if (flags & EXPORT_EXEC)
        groups->Add("-exec");
    if (flags & EXPORT_UMASK) {
        snprintf(text, sizeof text, "-umask:%3.3o", options.umask);
        groups->Add(text);
    }
    if (flags & EXPORT_SUB) {
        if (options.subQuestion != 0)
            snprintf(text, sizeof text, "-sub:%u,%u", options.subColon, options.subQuestion);
        else
            snprintf(text, sizeof text, "-sub:%u", options.subColon);
        groups->Add(text);
    }
    if (flags & EXPORT_MAPROOT_UID) {
        if (flags & EXPORT_MAPROOT_GID)
            snprintf(text, sizeof text, "-maproot:%d:%d", static_cast<int>(options.maprootUid),
                     static_cast<int>(options.maprootGid));
        else
            snprintf(text, sizeof text, "-maproot:%d", static_cast<int>(options.maprootUid));
        groups->Add(text);
    }
    if (flags & EXPORT_MAPALL_UID) {
        if (flags & EXPORT_MAPALL_GID)
            snprintf(text, sizeof text, "-mapall:%d:%d", static_cast<int>(options.mapallUid),
                     static_cast<int>(options.mapallGid));
        else
            snprintf(text, sizeof text, "-mapall:%d", static_cast<int>(options.mapallUid));
        groups->Add(text);
    }
    if (flags & EXPORT_UID) {
        if (flags & EXPORT_GID)
            snprintf(text, sizeof text, "-uid:%d:%d", static_cast<int>(options.uid), static_cast<int>(options.gid));
        else
            snprintf(text, sizeof text, "-uid:%d", static_cast<int>(options.uid));
        groups->Add(text);
    }
    if (flags & EXPORT_RANGE)
        groups->Add("-range");
}

}  // namespace

uint32_t EncodeMountList(uint32_t clientAddress, uint8_t *out, uint32_t limit)
{
    if (limit < 4)
        return 0;
    uint32_t length = 0;
    char host[MOUNT_HOST_NAME_SIZE];
    char directory[EXPORT_PATH_SIZE];
    LockTake(&MountLock);
    for (const MountRecord *record = MountTableHead(); record != nullptr; record = record->next) {
        if (!ExportVisible(clientAddress, record->exportEntry))
            continue;
        if (record->hostName[0] != '\0')
            snprintf(host, sizeof host, "%s", record->hostName);
        else
            FormatAddress(record->clientAddress, host);
        const char *path = record->path[0] != '\0' ? record->path : record->exportEntry->path;
        if (!ToClientPath(path, directory, sizeof directory))
            continue;
        uint32_t size = 4 + StringSize(static_cast<uint32_t>(strlen(host))) +
                        StringSize(static_cast<uint32_t>(strlen(directory)));
        if (length + size + 4 > limit)
            break;
        length += XdrPutWord(out + length, 1);
        length += PutString(out + length, host);
        length += PutString(out + length, directory);
    }
    LockGive(&MountLock);
    length += XdrPutWord(out + length, 0);
    return length;
}

uint32_t EncodeExportList(uint32_t clientAddress, uint8_t *out, uint32_t limit)
{
    if (limit < 4)
        return 0;
    uint32_t length = 0;
    char directory[EXPORT_PATH_SIZE];
    char address[16];
    for (const ExportEntry *entry = ExportFirst(); entry != nullptr; entry = ExportNext(entry)) {
        if (!ExportVisible(clientAddress, entry))
            continue;
        if (entry->name != nullptr)
            snprintf(directory, sizeof directory, "%s", entry->name);
        else if (!ToClientPath(entry->path, directory, sizeof directory))
            continue;
        // The element: value follows, directory, groups, end of groups; and
        // the list's end word after it must still fit.
        uint32_t head = 4 + StringSize(static_cast<uint32_t>(strlen(directory)));
        if (length + head + 4 + 4 > limit)
            break;
        GroupWriter groups{out + length + head, 0, limit - (length + head + 4 + 4), false};
        for (int32_t i = 0; i < entry->options.clientCount; i++)
            groups.Add(FormatAddress(entry->options.clients[i], address));
        AddOptionGroups(&groups, entry);
        if (groups.full)
            break;
        XdrPutWord(out + length, 1);
        PutString(out + length + 4, directory);
        length += head + groups.length;
        length += XdrPutWord(out + length, 0);
    }
    length += XdrPutWord(out + length, 0);
    return length;
}
