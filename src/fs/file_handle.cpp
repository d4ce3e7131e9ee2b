#include "fs/file_handle.h"

#include <cstring>

namespace {

void PutU32(uint8_t *p, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

uint32_t HandleCheck(uint64_t inode, uint32_t mountId)
{
    return static_cast<uint32_t>(inode + mountId);
}

void MakeHandle(uint64_t inode, uint32_t mountId, FileHandle *handle)
{
    memset(handle, 0, sizeof *handle);
    handle->mark = FILE_HANDLE_MARK;
    handle->mountId = mountId;
    handle->inode = inode;
    handle->check = HandleCheck(inode, mountId);
}

int HandleIsWellFormed(const FileHandle *handle)
{
    return handle->mark == FILE_HANDLE_MARK && handle->check == HandleCheck(handle->inode, handle->mountId);
}

void EncodeHandle(const FileHandle *handle, uint8_t bytes[FILE_HANDLE_SIZE])
{
    PutU32(bytes, handle->mark);
    PutU32(bytes + 4, handle->mountId);
    PutU32(bytes + 8, static_cast<uint32_t>(handle->inode));
    PutU32(bytes + 12, static_cast<uint32_t>(handle->inode >> 32));
    PutU32(bytes + 16, handle->check);
    memcpy(bytes + 20, handle->zero, sizeof handle->zero);
}

int DecodeHandle(const uint8_t *bytes, uint32_t length, FileHandle *handle)
{
    if (length != FILE_HANDLE_SIZE && length != FILE_HANDLE_SHORT_SIZE)
        return 0;
    memset(handle, 0, sizeof *handle);
    handle->mark = GetU32(bytes);
    handle->mountId = GetU32(bytes + 4);
    handle->inode = static_cast<uint64_t>(GetU32(bytes + 8)) | static_cast<uint64_t>(GetU32(bytes + 12)) << 32;
    handle->check = GetU32(bytes + 16);
    if (length == FILE_HANDLE_SIZE)
        memcpy(handle->zero, bytes + 20, sizeof handle->zero);
    return 1;
}
