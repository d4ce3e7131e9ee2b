#include "backend/special_file.h"

#include <cstring>

#include "common/little_endian.h"
#include "fs/win_file_access.h"
#include "log/log.h"

namespace {

const char MAGIC[8] = {'s', 'p', 'e', 'c', 'd', 'a', 't', 'a'};

bool IsSpecialType(uint32_t type)
{
    return type == FILE_TYPE_BLOCK || type == FILE_TYPE_CHARACTER || type == FILE_TYPE_SOCKET ||
           type == FILE_TYPE_FIFO;
}

} // namespace

void EncodeSpecialRecord(uint32_t type, uint32_t major, uint32_t minor, uint32_t mode,
                         uint8_t record[SPECIAL_RECORD_SIZE])
{
    memset(record, 0, SPECIAL_RECORD_SIZE);
    memcpy(record + 4, MAGIC, sizeof MAGIC);
    PutLittleEndian32(record + 16, type);
    PutLittleEndian32(record + 20, major);
    PutLittleEndian32(record + 24, minor);
    PutLittleEndian32(record + 28, mode & 07777u);
}

SpecialRecord SpecialRecordOf(const ChangeTarget &target)
{
    const char *path = target.path;
    SpecialRecord result = {SPECIAL_UNREADABLE, 0, 0, 0};
    HANDLE file = OpenChangeTarget(target, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        LogLine(2, "nfs_get_special: %s open error %u\n", path, static_cast<unsigned>(GetLastError()));
        return result;
    }
    // One byte more than a record: a longer file holds no record.
    uint8_t record[SPECIAL_RECORD_SIZE + 1];
    DWORD got = 0;
    const BOOL read = ReadFile(file, record, sizeof record, &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!read) {
        LogLine(2, "nfs_get_special: %s read error %u\n", path, static_cast<unsigned>(error));
        return result;
    }
    const uint32_t type = got == SPECIAL_RECORD_SIZE ? GetLittleEndian32(record + 16) : 0;
    if (got != SPECIAL_RECORD_SIZE || GetLittleEndian32(record) != 0 || memcmp(record + 4, MAGIC, sizeof MAGIC) != 0 ||
        !IsSpecialType(type)) {
        result.type = SPECIAL_NO_RECORD;
        result.mode = UNIX_MODE_REGULAR | 0666u;
        return result;
    }
    result.type = type;
    result.major = GetLittleEndian32(record + 20);
    result.minor = GetLittleEndian32(record + 24);
    result.mode = GetLittleEndian32(record + 28) & 07777u;
    static const uint32_t kTypeBits[] = {0, 0, 0, UNIX_MODE_BLOCK, UNIX_MODE_CHARACTER, 0, UNIX_MODE_SOCKET,
                                         UNIX_MODE_FIFO};
    result.mode |= kTypeBits[type];
    return result;
}

bool WriteSpecialRecordMode(const ChangeTarget &target, uint32_t mode)
{
    const char *path = target.path;
    // The system attribute stays: it marks the file as special.
    HANDLE file = OpenChangeTarget(target, GENERIC_READ | GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) {
        LogLine(2, "nfs_put_special: %s error %u\n", path, static_cast<unsigned>(GetLastError()));
        return false;
    }
    uint8_t header[SPECIAL_RECORD_SIZE];
    DWORD got = 0;
    bool ok = ReadFile(file, header, sizeof header, &got, nullptr) && got == SPECIAL_RECORD_SIZE &&
              GetLittleEndian32(header) == 0 && memcmp(header + 4, MAGIC, sizeof MAGIC) == 0;
    if (!ok) {
        // Never write into a file that holds no record.
        SetLastError(ERROR_INVALID_DATA);
    } else {
        uint8_t word[4];
        PutLittleEndian32(word, mode & 07777u);
        DWORD written = 0;
        ok = SetFilePointer(file, 28, nullptr, FILE_BEGIN) == 28 && WriteFile(file, word, 4, &written, nullptr) &&
             written == 4;
    }
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
        LogLine(2, "nfs_put_special: %s error %u\n", path, static_cast<unsigned>(error));
        SetLastError(error);
    }
    return ok;
}
