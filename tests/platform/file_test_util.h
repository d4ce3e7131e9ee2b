// Small helpers shared by the file conformance tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline HANDLE Open(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0)
{
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Whether the open succeeds (the handle is closed again).
inline bool Opens(const std::string &path, DWORD access, DWORD share, DWORD disposition)
{
    HANDLE h = Open(path, access, share, disposition);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

// The information of the object at path, opened for attributes only; false
// when it cannot be opened.
inline bool InfoOf(const std::string &path, BY_HANDLE_FILE_INFORMATION *info, DWORD flags = 0)
{
    HANDLE h = Open(path, 0, kShareAll, OPEN_EXISTING, flags);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileInformationByHandle(h, info) != FALSE;
    CloseHandle(h);
    return ok;
}

// The first entry a search for pattern finds; false when it finds none.
inline bool FindOne(const std::string &pattern, WIN32_FIND_DATAA *data)
{
    HANDLE find = FindFirstFileA(pattern.c_str(), data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return true;
}

// Creates a new file with the given content; false when it exists or the
// content could not be written.
inline bool Make(const std::string &path, const std::string &content = std::string())
{
    HANDLE h = Open(path, GENERIC_WRITE, 0, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = content.empty() ||
              (WriteFile(h, content.data(), (DWORD)content.size(), &written, nullptr) && written == content.size());
    CloseHandle(h);
    return ok;
}

// The whole content of a file, or "<open failed>".
inline std::string ReadAll(const std::string &path)
{
    HANDLE h = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return "<open failed>";
    std::string out;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        out.append(buffer, got);
    CloseHandle(h);
    return out;
}

#define EXPECT_FAILS_WITH(call, error)                                                                                 \
    do {                                                                                                               \
        SetLastError(0);                                                                                               \
        EXPECT_FALSE(call);                                                                                            \
        EXPECT_EQ(GetLastError(), (DWORD)(error));                                                                     \
    } while (0)

#define EXPECT_OPEN_FAILS(handle, error)                                                                               \
    do {                                                                                                               \
        SetLastError(0);                                                                                               \
        HANDLE h_ = (handle);                                                                                          \
        EXPECT_EQ(h_, INVALID_HANDLE_VALUE);                                                                           \
        EXPECT_EQ(GetLastError(), (DWORD)(error));                                                                     \
        if (h_ != INVALID_HANDLE_VALUE)                                                                                \
            CloseHandle(h_);                                                                                           \
    } while (0)
