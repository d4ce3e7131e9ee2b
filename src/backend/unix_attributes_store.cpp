#include "backend/unix_attributes_store.h"

#include <cstddef>
#include <cstring>

#include "backend/unix_record_memory.h"
#include "common/little_endian.h"
#include "fs/win_file_access.h"
#include "platform/nt_extended_attributes.h"
#include "settings/settings.h"

namespace {

const char kName[] = "KORVANE.UNIX";
const UCHAR kNameLength = sizeof kName - 1;
const USHORT kValueLength = 12;
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022u);

// The list that names the record's EA.
struct WantedList {
    alignas(8) uint8_t bytes[sizeof(FILE_GET_EA_INFORMATION) + sizeof kName];
    WantedList()
    {
        memset(bytes, 0, sizeof bytes);
        auto *wanted = reinterpret_cast<FILE_GET_EA_INFORMATION *>(bytes);
        wanted->EaNameLength = kNameLength;
        memcpy(wanted->EaName, kName, sizeof kName);
    }
    static ULONG Length() { return static_cast<ULONG>(offsetof(FILE_GET_EA_INFORMATION, EaName) + sizeof kName); }
};

// *record from an answer of the query, when it holds a whole record.
bool RecordFrom(NTSTATUS status, const uint8_t *buffer, StoredUnixAttributes *record)
{
    if (status != 0)
        return false;
    const auto *entry = reinterpret_cast<const FILE_FULL_EA_INFORMATION *>(buffer);
    if (entry->EaValueLength != kValueLength || entry->EaNameLength != kNameLength)
        return false;
    const auto *value = reinterpret_cast<const uint8_t *>(entry->EaName) + kNameLength + 1;
    record->mode = GetLittleEndian32(value) & 07777u;
    record->uid = GetLittleEndian32(value + 4);
    record->gid = GetLittleEndian32(value + 8);
    return true;
}

// The query's status; *record filled when the file holds a whole record.
NTSTATUS Query(HANDLE file, StoredUnixAttributes *record, bool *found)
{
    WantedList list;
    alignas(8) uint8_t buffer[128];
    IO_STATUS_BLOCK io;
    const NTSTATUS status =
        NtQueryEaFile(file, &io, buffer, sizeof buffer, TRUE, list.bytes, WantedList::Length(), nullptr, TRUE);
    *found = RecordFrom(status, buffer, record);
    return status;
}

bool Write(HANDLE file, const StoredUnixAttributes *record)
{
    alignas(8) uint8_t buffer[offsetof(FILE_FULL_EA_INFORMATION, EaName) + sizeof kName + kValueLength + 4];
    memset(buffer, 0, sizeof buffer);
    auto *entry = reinterpret_cast<FILE_FULL_EA_INFORMATION *>(buffer);
    entry->EaNameLength = kNameLength;
    entry->EaValueLength = kValueLength;
    memcpy(entry->EaName, kName, sizeof kName);
    auto *value = reinterpret_cast<uint8_t *>(entry->EaName) + kNameLength + 1;
    PutLittleEndian32(value, record->mode & 07777u);
    PutLittleEndian32(value + 4, record->uid);
    PutLittleEndian32(value + 8, record->gid);
    IO_STATUS_BLOCK io;
    NoteUnixRecordWritten();
    const bool written = NtSetEaFile(file, &io, buffer, sizeof buffer) == 0;
    // Counted again once written: a read between the count and the write
    // may have read the old record.
    NoteUnixRecordWritten();
    return written;
}

} // namespace

bool UnixStoreEnabled() { return ServerSettings.UnixAttributes != 0; }

bool ReadUnixAttributes(HANDLE file, const char *path, StoredUnixAttributes *record)
{
    if (!UnixStoreEnabled())
        return false;
    bool found = false;
    const NTSTATUS status = Query(file, record, &found);
    if (status == kAccessDenied && path != nullptr)
        return ReadUnixAttributesAt(path, record);
    return found;
}

bool ReadUnixAttributesAt(const char *path, StoredUnixAttributes *record)
{
    if (!UnixStoreEnabled())
        return false;
    WantedList list;
    alignas(8) uint8_t buffer[128];
    const NTSTATUS status = FsQueryEaByName(path, buffer, sizeof buffer, list.bytes, WantedList::Length());
    return RecordFrom(status, buffer, record);
}

bool ReadUnixAttributesIn(HANDLE folder, const char *name, StoredUnixAttributes *record)
{
    if (!UnixStoreEnabled())
        return false;
    WantedList list;
    alignas(8) uint8_t buffer[128];
    const NTSTATUS status = FsQueryEaIn(folder, name, buffer, sizeof buffer, list.bytes, WantedList::Length());
    return RecordFrom(status, buffer, record);
}

bool WriteUnixAttributes(HANDLE file, const StoredUnixAttributes *record)
{
    return UnixStoreEnabled() && Write(file, record);
}

bool WriteUnixAttributesTo(const ChangeTarget &target, const StoredUnixAttributes *record)
{
    if (!UnixStoreEnabled())
        return false;
    HANDLE file = OpenChangeTarget(target, FILE_WRITE_EA);
    DWORD lifted = INVALID_FILE_ATTRIBUTES;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        const DWORD dos = ChangeTargetAttributes(target);
        if (dos != INVALID_FILE_ATTRIBUTES && (dos & FILE_ATTRIBUTE_READONLY) != 0) {
            const DWORD without = dos & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
            if (SetChangeTargetAttributes(target, without)) {
                lifted = dos;
                file = OpenChangeTarget(target, FILE_WRITE_EA);
            }
        }
    }
    bool written = false;
    if (file != INVALID_HANDLE_VALUE) {
        written = Write(file, record);
        CloseHandle(file);
    }
    if (lifted != INVALID_FILE_ATTRIBUTES)
        SetChangeTargetAttributes(target, lifted & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    return written;
}
