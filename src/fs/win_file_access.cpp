// The Windows file access layer: A or W function by the clients' character
// set, UTF-8 conversion of paths, run-time kernel32 entry points, and a few
// questions about volumes and the running system.
#include "fs/win_file_access.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "settings/settings.h"

#ifdef _WIN32
#include <winternl.h>
#endif

bool HardLinkApi = false;
bool FileIdApi = false;

namespace {

typedef BOOL(WINAPI *CreateHardLinkAFn)(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);
typedef BOOL(WINAPI *CreateHardLinkWFn)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES);
typedef HANDLE(WINAPI *OpenFileByIdFn)(HANDLE, void *, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD);
typedef DWORD(WINAPI *GetFinalPathNameAFn)(HANDLE, LPSTR, DWORD, DWORD);
typedef DWORD(WINAPI *GetFinalPathNameWFn)(HANDLE, LPWSTR, DWORD, DWORD);

CreateHardLinkAFn CreateHardLinkAPtr = nullptr;
CreateHardLinkWFn CreateHardLinkWPtr = nullptr;
OpenFileByIdFn OpenFileByIdPtr = nullptr;
GetFinalPathNameAFn GetFinalPathNameAPtr = nullptr;
GetFinalPathNameWFn GetFinalPathNameWPtr = nullptr;

// GetProcAddress gives a generic function pointer; copying its bits keeps
// the compilers' function-cast warnings away.
template <class T> T ProcAs(FARPROC proc)
{
    T typed;
    static_assert(sizeof(typed) == sizeof(proc), "function pointer sizes");
    memcpy(&typed, &proc, sizeof(typed));
    return typed;
}

// A wide path on the heap: 4096 units are too many for the stacks of some
// worker threads when a call converts two paths.
struct WidePath {
    std::vector<WCHAR> units;
    explicit WidePath(const char *path) : units(FS_WIDE_PATH_UNITS)
    {
        FsToWide(path, units.data(), FS_WIDE_PATH_UNITS);
    }
    // From the clients' character set, whichever it is (ANSI as the ANSI
    // functions take it).
    WidePath(const char *path, UINT codePage) : units(FS_WIDE_PATH_UNITS)
    {
        if (codePage == CP_UTF8)
            FsToWide(path, units.data(), FS_WIDE_PATH_UNITS);
        else if (MultiByteToWideChar(codePage, 0, path, -1, units.data(), FS_WIDE_PATH_UNITS) <= 0)
            units[0] = 0;
    }
    const WCHAR *get() const { return units.data(); }
};

void CopyFindData(const WIN32_FIND_DATAW &wide, WIN32_FIND_DATAA *data)
{
    data->dwFileAttributes = wide.dwFileAttributes;
    data->ftCreationTime = wide.ftCreationTime;
    data->ftLastAccessTime = wide.ftLastAccessTime;
    data->ftLastWriteTime = wide.ftLastWriteTime;
    data->nFileSizeHigh = wide.nFileSizeHigh;
    data->nFileSizeLow = wide.nFileSizeLow;
    data->dwReserved0 = wide.dwReserved0;
    data->dwReserved1 = wide.dwReserved1;
    // A record straight from FindFirstFileW is terminated; the copies are
    // bounded anyway so that a name filling the field cannot run on.
    WCHAR name[MAX_PATH + 1];
    memcpy(name, wide.cFileName, sizeof(wide.cFileName));
    name[MAX_PATH] = 0;
    FsFromWide(name, data->cFileName, sizeof(data->cFileName));
    WCHAR alternate[15];
    memcpy(alternate, wide.cAlternateFileName, sizeof(wide.cAlternateFileName));
    alternate[14] = 0;
    FsFromWide(alternate, data->cAlternateFileName, sizeof(data->cAlternateFileName));
}

}  // namespace

bool FsWideMode() { return ServerSettings.CharSetActive == 2; }

int FsToWide(const char *text, WCHAR *wide, int units)
{
    if (units <= 0)
        return 0;
    // Invalid sequences fail the conversion instead of turning into U+FFFD:
    // a replaced name could be the name of another, existing file.
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, units);
    if (n <= 0) {
        wide[0] = 0;
        return 0;
    }
    return 1;
}

int FsFromWide(const WCHAR *wide, char *buffer, uint32_t size)
{
    if (size == 0)
        return -1;
    int limit = size > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(size);
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, limit, nullptr, nullptr);
    if (n <= 0) {
        buffer[0] = '\0';
        return -1;
    }
    return n - 1;
}

DWORD FsGetFileAttributes(const char *path)
{
    if (!FsWideMode())
        return GetFileAttributesA(path);
    WidePath w(path);
    return GetFileAttributesW(w.get());
}

BOOL FsSetAttributesAndClose(HANDLE file, DWORD attributes)
{
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    const BOOL set = SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return set;
}

BOOL FsSetFileAttributes(const char *path, DWORD attributes)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = FsCreateFile(path, FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = FsCreateFile(path, SYNCHRONIZE, share, nullptr, OPEN_EXISTING, flags, nullptr);
    return FsSetAttributesAndClose(file, attributes);
}

BOOL FsDeleteFile(const char *path)
{
    if (!FsWideMode())
        return DeleteFileA(path);
    WidePath w(path);
    return DeleteFileW(w.get());
}

HANDLE FsCreateFile(const char *path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                    DWORD flags, HANDLE templateFile)
{
    if (!FsWideMode())
        return CreateFileA(path, access, share, security, disposition, flags, templateFile);
    WidePath w(path);
    return CreateFileW(w.get(), access, share, security, disposition, flags, templateFile);
}

BOOL FsCreateDirectory(const char *path, LPSECURITY_ATTRIBUTES security)
{
    if (!FsWideMode())
        return CreateDirectoryA(path, security);
    WidePath w(path);
    return CreateDirectoryW(w.get(), security);
}

BOOL FsRemoveDirectory(const char *path)
{
    if (!FsWideMode())
        return RemoveDirectoryA(path);
    WidePath w(path);
    return RemoveDirectoryW(w.get());
}

BOOL FsMoveFile(const char *existing, const char *newName)
{
    if (!FsWideMode())
        return MoveFileA(existing, newName);
    WidePath from(existing);
    WidePath to(newName);
    return MoveFileW(from.get(), to.get());
}

BOOL FsCreateHardLink(const char *newName, const char *existing, LPSECURITY_ATTRIBUTES security)
{
    if (!FsWideMode()) {
        if (CreateHardLinkAPtr == nullptr) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
        }
        return CreateHardLinkAPtr(newName, existing, security);
    }
    if (CreateHardLinkWPtr == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    WidePath to(newName);
    WidePath from(existing);
    return CreateHardLinkWPtr(to.get(), from.get(), security);
}

DWORD FsGetFinalPathNameByHandle(HANDLE handle, char *buffer, DWORD size, DWORD flags)
{
    if (!FsWideMode()) {
        if (GetFinalPathNameAPtr == nullptr) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return 0;
        }
        return GetFinalPathNameAPtr(handle, buffer, size, flags);
    }
    if (GetFinalPathNameWPtr == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    std::vector<WCHAR> wide(FS_WIDE_PATH_UNITS);
    DWORD n = GetFinalPathNameWPtr(handle, wide.data(), FS_WIDE_PATH_UNITS, flags);
    if (n == 0)
        return 0;
    if (n >= FS_WIDE_PATH_UNITS) {
        // The wide path itself did not fit: n is the size it needs.
        if (size > 0)
            buffer[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    int length = FsFromWide(wide.data(), buffer, size);
    if (length < 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<DWORD>(length);
}

HANDLE FsFindFirstFile(const char *pattern, WIN32_FIND_DATAA *data)
{
    if (!FsWideMode())
        return FindFirstFileA(pattern, data);
    WidePath w(pattern);
    WIN32_FIND_DATAW wide;
    memset(&wide, 0, sizeof(wide));
    HANDLE find = FindFirstFileW(w.get(), &wide);
    if (find != INVALID_HANDLE_VALUE)
        CopyFindData(wide, data);
    return find;
}

BOOL FsFindNextFile(HANDLE find, WIN32_FIND_DATAA *data)
{
    if (!FsWideMode())
        return FindNextFileA(find, data);
    WIN32_FIND_DATAW wide;
    memset(&wide, 0, sizeof(wide));
    if (!FindNextFileW(find, &wide))
        return FALSE;
    CopyFindData(wide, data);
    return TRUE;
}

namespace {

struct FolderVisit {
    FsFolderVisit visit;
    void *context;
};

// A listed name turned into the Fs functions' spelling for the visitor;
// name is terminated.
BOOL VisitListed(void *context, LPCWSTR name, DWORD attributes)
{
    const FolderVisit *to = static_cast<const FolderVisit *>(context);
    char narrow[4 * MAX_PATH];
    if (name[0] == 0)
        narrow[0] = 0;
    else if (FsWideMode())
        FsFromWide(name, narrow, sizeof narrow);
    else if (WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr) <= 0)
        narrow[0] = 0;
    return to->visit(to->context, narrow, attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
               ? TRUE
               : FALSE;
}

}  // namespace

BOOL FsListFolder(HANDLE folder, FsFolderVisit visit, void *context)
{
    FolderVisit to = {visit, context};
#ifdef _WIN32
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE listed = ReOpenFile(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, shareAll,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (listed == INVALID_HANDLE_VALUE)
        return FALSE;
    std::vector<LONGLONG> buffer(8192);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    const unsigned char *base = reinterpret_cast<const unsigned char *>(buffer.data());
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(listed, kind, buffer.data(), size)) {
            const DWORD error = GetLastError();
            CloseHandle(listed);
            SetLastError(error);
            return error == ERROR_NO_MORE_FILES ? TRUE : FALSE;
        }
        kind = FileIdBothDirectoryInfo;
        const size_t nameAt = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
        for (size_t at = 0; at + nameAt <= size;) {
            const FILE_ID_BOTH_DIR_INFO *record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(base + at);
            const size_t units = record->FileNameLength / sizeof(WCHAR);
            WCHAR name[MAX_PATH];
            // A name past the buffer's end, or too long for a Windows
            // name, is handed on empty.
            const bool fits = units < MAX_PATH && at + nameAt + units * sizeof(WCHAR) <= size;
            if (fits)
                memcpy(name, base + at + nameAt, units * sizeof(WCHAR));
            name[fits ? units : 0] = 0;
            if (!VisitListed(&to, name, record->FileAttributes)) {
                CloseHandle(listed);
                return TRUE;
            }
            if (record->NextEntryOffset == 0)
                break;
            at += record->NextEntryOffset;
        }
    }
#else
    return ListFolderKinds(folder, VisitListed, &to);
#endif
}

BOOL FsGetDiskFreeSpaceEx(const char *path, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                          PULARGE_INTEGER totalFree)
{
    if (!FsWideMode())
        return GetDiskFreeSpaceExA(path, freeToCaller, total, totalFree);
    WidePath w(path);
    return GetDiskFreeSpaceExW(w.get(), freeToCaller, total, totalFree);
}

UINT FsGetDriveType(const char *path)
{
    if (!FsWideMode())
        return GetDriveTypeA(path);
    WidePath w(path);
    return GetDriveTypeW(w.get());
}

BOOL FsGetVolumePathName(const char *path, char *buffer, DWORD size)
{
    if (!FsWideMode())
        return GetVolumePathNameA(path, buffer, size);
    WidePath w(path);
    std::vector<WCHAR> wide(FS_WIDE_PATH_UNITS);
    if (!GetVolumePathNameW(w.get(), wide.data(), FS_WIDE_PATH_UNITS))
        return FALSE;
    wide[FS_WIDE_PATH_UNITS - 1] = 0;
    if (FsFromWide(wide.data(), buffer, size) < 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

BOOL FsGetVolumeInformation(const char *root, char *volumeName, DWORD volumeNameSize, LPDWORD serial,
                            LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, char *fileSystemName,
                            DWORD fileSystemNameSize)
{
    if (!FsWideMode())
        return GetVolumeInformationA(root, volumeName, volumeNameSize, serial, maximumComponentLength,
                                     fileSystemFlags, fileSystemName, fileSystemNameSize);
    WidePath w(root);
    // Names of volumes and file systems are short (at most MAX_PATH + 1).
    WCHAR wideVolume[MAX_PATH + 1];
    WCHAR wideSystem[MAX_PATH + 1];
    wideVolume[0] = 0;
    wideSystem[0] = 0;
    BOOL ok = GetVolumeInformationW(w.get(), volumeName != nullptr ? wideVolume : nullptr,
                                    volumeName != nullptr ? MAX_PATH + 1 : 0, serial, maximumComponentLength,
                                    fileSystemFlags, fileSystemName != nullptr ? wideSystem : nullptr,
                                    fileSystemName != nullptr ? MAX_PATH + 1 : 0);
    if (!ok)
        return FALSE;
    wideVolume[MAX_PATH] = 0;
    wideSystem[MAX_PATH] = 0;
    bool fits = true;
    if (volumeName != nullptr && FsFromWide(wideVolume, volumeName, volumeNameSize) < 0)
        fits = false;
    if (fileSystemName != nullptr && FsFromWide(wideSystem, fileSystemName, fileSystemNameSize) < 0)
        fits = false;
    if (!fits) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

HANDLE FsOpenFileById(HANDLE volumeHint, void *descriptor, DWORD access, DWORD share,
                      LPSECURITY_ATTRIBUTES security, DWORD flags)
{
    if (OpenFileByIdPtr == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFileByIdPtr(volumeHint, descriptor, access, share, security, flags);
}

BOOL FsGetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size)
{
#ifdef _WIN32
    typedef BOOL(WINAPI * Fn)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    static const Fn entry = [] {
        HMODULE kernel = GetModuleHandleA("kernel32");
        return kernel != nullptr ? ProcAs<Fn>(GetProcAddress(kernel, "GetFileInformationByHandleEx")) : nullptr;
    }();
    if (entry == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return entry(handle, kind, information, size);
#else
    return GetFileInformationByHandleEx(handle, kind, information, size);
#endif
}

#ifdef _WIN32
namespace {

typedef NTSTATUS(NTAPI *QueryByNameFn)(POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef BOOLEAN(NTAPI *DosPathToNtPathFn)(PCWSTR, PUNICODE_STRING, PWSTR *, PVOID);
typedef VOID(NTAPI *FreeUnicodeStringFn)(PUNICODE_STRING);

struct ByNameEntries {
    QueryByNameFn query;
    DosPathToNtPathFn toNtPath;
    FreeUnicodeStringFn freeString;
};

const ByNameEntries &ByName()
{
    static const ByNameEntries entries = [] {
        ByNameEntries found = {nullptr, nullptr, nullptr};
        HMODULE ntdll = GetModuleHandleA("ntdll");
        if (ntdll != nullptr) {
            found.query = ProcAs<QueryByNameFn>(GetProcAddress(ntdll, "NtQueryInformationByName"));
            found.toNtPath = ProcAs<DosPathToNtPathFn>(GetProcAddress(ntdll, "RtlDosPathNameToNtPathName_U"));
            found.freeString = ProcAs<FreeUnicodeStringFn>(GetProcAddress(ntdll, "RtlFreeUnicodeString"));
        }
        return found;
    }();
    return entries;
}

} // namespace
#endif

#ifdef _WIN32
namespace {

// The end of a by-name look: its status as a Windows error, a class the
// system or the volume does not offer as ERROR_CALL_NOT_IMPLEMENTED.
BOOL ByNameStatus(NTSTATUS status)
{
    if (status == 0)
        return TRUE;
    const ULONG error = RtlNtStatusToDosError(status);
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_MR_MID_NOT_FOUND) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    SetLastError(error);
    return FALSE;
}

// name as the counted string of object attributes relative to folder.
bool NameInFolder(HANDLE folder, const WCHAR *name, UNICODE_STRING *text, OBJECT_ATTRIBUTES *attributes)
{
    const size_t units = wcslen(name);
    if (units == 0 || units > 32767)
        return false;
    text->Length = static_cast<USHORT>(units * sizeof(WCHAR));
    text->MaximumLength = text->Length;
    text->Buffer = const_cast<WCHAR *>(name);
    InitializeObjectAttributes(attributes, text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    return true;
}

} // namespace
#endif

BOOL FsGetFileStatByName(const char *path, NtFileStatInformation *information)
{
    const WidePath wide(path, FsWideMode() ? CP_UTF8 : CP_ACP);
#ifdef _WIN32
    const ByNameEntries &entries = ByName();
    if (entries.query == nullptr || entries.toNtPath == nullptr || entries.freeString == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    UNICODE_STRING ntPath;
    if (wide.get()[0] == 0 || !entries.toNtPath(wide.get(), &ntPath, nullptr, nullptr)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ntPath, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = entries.query(&attributes, &io, information, sizeof *information,
                                          NT_FILE_STAT_INFORMATION_CLASS);
    entries.freeString(&ntPath);
    return ByNameStatus(status);
#else
    return GetFileInformationByName(wide.get(), FileStatByNameInfo, information, sizeof *information);
#endif
}

namespace {

// A name of one folder entry in wide characters: at most 255 of them on
// Windows volumes, a little more room for the POSIX layer's.
struct WideName {
    WCHAR units[520];
    explicit WideName(const char *name)
    {
        if (FsWideMode() ? FsToWide(name, units, 520) == 0
                         : MultiByteToWideChar(CP_ACP, 0, name, -1, units, 520) <= 0)
            units[0] = 0;
    }
};

} // namespace

BOOL FsGetFileStatIn(HANDLE folder, const char *name, NtFileStatInformation *information)
{
    const WideName wide(name);
#ifdef _WIN32
    const ByNameEntries &entries = ByName();
    UNICODE_STRING text;
    OBJECT_ATTRIBUTES attributes;
    if (entries.query == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (!NameInFolder(folder, wide.units, &text, &attributes)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    IO_STATUS_BLOCK io;
    return ByNameStatus(
        entries.query(&attributes, &io, information, sizeof *information, NT_FILE_STAT_INFORMATION_CLASS));
#else
    return GetFileInformationByNameIn(folder, wide.units, FileStatByNameInfo, information, sizeof *information);
#endif
}

NTSTATUS FsQueryEaIn(HANDLE folder, const char *name, PVOID buffer, ULONG length, PVOID eaList, ULONG eaListLength)
{
    const WideName wide(name);
    IO_STATUS_BLOCK io;
#ifdef _WIN32
    UNICODE_STRING text;
    OBJECT_ATTRIBUTES attributes;
    if (!NameInFolder(folder, wide.units, &text, &attributes))
        return static_cast<NTSTATUS>(0xC0000034u);
    HANDLE file = INVALID_HANDLE_VALUE;
    const ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    NTSTATUS status = NtOpenFile(&file, FILE_READ_EA | SYNCHRONIZE, &attributes, &io, share,
                                 FILE_OPEN_FOR_BACKUP_INTENT | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT);
    if (status != 0)
        return status == static_cast<NTSTATUS>(0xC0000022u) ? status : static_cast<NTSTATUS>(0xC0000034u);
    status = NtQueryEaFile(file, &io, buffer, length, TRUE, eaList, eaListLength, nullptr, TRUE);
    NtClose(file);
    return status;
#else
    return QueryEaByNameInW(folder, wide.units, &io, buffer, length, TRUE, eaList, eaListLength);
#endif
}

BOOL FsGetFileStatOf(HANDLE file, NtFileStatInformation *information, DWORD *volumeSerial)
{
#ifdef _WIN32
    typedef NTSTATUS(NTAPI * QueryFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
    typedef BOOL(WINAPI * VolumeByHandleFn)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    struct Entries {
        QueryFileFn query;
        VolumeByHandleFn volume;
    };
    static const Entries entries = [] {
        Entries found = {nullptr, nullptr};
        HMODULE ntdll = GetModuleHandleA("ntdll");
        HMODULE kernel = GetModuleHandleA("kernel32");
        if (ntdll != nullptr)
            found.query = ProcAs<QueryFileFn>(GetProcAddress(ntdll, "NtQueryInformationFile"));
        if (kernel != nullptr)
            found.volume = ProcAs<VolumeByHandleFn>(GetProcAddress(kernel, "GetVolumeInformationByHandleW"));
        return found;
    }();
    if (entries.query == nullptr || entries.volume == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    IO_STATUS_BLOCK io;
    if (!ByNameStatus(entries.query(file, &io, information, sizeof *information, NT_FILE_STAT_INFORMATION_CLASS)))
        return FALSE;
    return entries.volume(file, nullptr, 0, volumeSerial, nullptr, nullptr, nullptr, 0);
#else
    return GetFileStatByHandle(file, information, sizeof *information, volumeSerial);
#endif
}

NTSTATUS FsQueryEaByName(const char *path, PVOID buffer, ULONG length, PVOID eaList, ULONG eaListLength)
{
    IO_STATUS_BLOCK io;
#ifdef _WIN32
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = FsCreateFile(path, FILE_READ_EA, share, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED ? static_cast<NTSTATUS>(0xC0000022u)
                                                     : static_cast<NTSTATUS>(0xC0000034u);
    const NTSTATUS status = NtQueryEaFile(file, &io, buffer, length, TRUE, eaList, eaListLength, nullptr, TRUE);
    CloseHandle(file);
    return status;
#else
    const WidePath wide(path, FsWideMode() ? CP_UTF8 : CP_ACP);
    return QueryEaByNameW(wide.get(), &io, buffer, length, TRUE, eaList, eaListLength);
#endif
}

bool FsFindHardLinkApi()
{
    CreateHardLinkAPtr = nullptr;
    CreateHardLinkWPtr = nullptr;
    HMODULE kernel = LoadLibraryA("kernel32");
    if (kernel != nullptr) {
        CreateHardLinkAPtr = ProcAs<CreateHardLinkAFn>(GetProcAddress(kernel, "CreateHardLinkA"));
        CreateHardLinkWPtr = ProcAs<CreateHardLinkWFn>(GetProcAddress(kernel, "CreateHardLinkW"));
#ifndef _WIN32
        // The POSIX layer offers hard links as plain functions rather than
        // run-time entry points of a library.
        if (CreateHardLinkAPtr == nullptr && CreateHardLinkWPtr == nullptr) {
            CreateHardLinkAPtr = CreateHardLinkA;
            CreateHardLinkWPtr = CreateHardLinkW;
        }
#endif
        // kernel32 stays in the process whatever the count: the entry points
        // remain valid after the handle is given back.
        FreeLibrary(kernel);
    }
    HardLinkApi = CreateHardLinkAPtr != nullptr && CreateHardLinkWPtr != nullptr;
    if (!HardLinkApi) {
        CreateHardLinkAPtr = nullptr;
        CreateHardLinkWPtr = nullptr;
    }
    return HardLinkApi;
}

bool FsFindFileIdApi()
{
    OpenFileByIdPtr = nullptr;
    GetFinalPathNameAPtr = nullptr;
    GetFinalPathNameWPtr = nullptr;
    HMODULE kernel = LoadLibraryA("kernel32");
    if (kernel != nullptr) {
        OpenFileByIdPtr = ProcAs<OpenFileByIdFn>(GetProcAddress(kernel, "OpenFileById"));
        GetFinalPathNameAPtr = ProcAs<GetFinalPathNameAFn>(GetProcAddress(kernel, "GetFinalPathNameByHandleA"));
        GetFinalPathNameWPtr = ProcAs<GetFinalPathNameWFn>(GetProcAddress(kernel, "GetFinalPathNameByHandleW"));
        FreeLibrary(kernel);
    }
    FileIdApi = OpenFileByIdPtr != nullptr && GetFinalPathNameAPtr != nullptr && GetFinalPathNameWPtr != nullptr;
    if (!FileIdApi) {
        OpenFileByIdPtr = nullptr;
        GetFinalPathNameAPtr = nullptr;
        GetFinalPathNameWPtr = nullptr;
    }
    return FileIdApi;
}

bool VolumeSerialOfPath(const char *path, DWORD *serial)
{
    char root[2048];
    if (!FsGetVolumePathName(path, root, sizeof(root)))
        return false;
    DWORD value = 0;
    if (!FsGetVolumeInformation(root, nullptr, 0, &value, nullptr, nullptr, nullptr, 0))
        return false;
    *serial = value;
    return true;
}

DWORD WindowsMajorVersion()
{
    static volatile LONG cached = -1;
    LONG value = cached;
    if (value < 0) {
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
        DWORD version = GetVersion();
        value = (version & 0x80000000u) != 0 ? 0 : static_cast<LONG>(version & 0xFFu);
        cached = value;
    }
    return static_cast<DWORD>(value);
}

uint32_t FsProgramDirectory(char *buffer, uint32_t size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    DWORD n = GetModuleFileNameA(nullptr, buffer, size);
    if (n == 0) {
        buffer[0] = '\0';
        return 0;
    }
    if (n >= size)
        n = size - 1;
    buffer[n] = '\0';
    char *slash = strrchr(buffer, '\\');
    if (slash == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    slash[1] = '\0';
    return static_cast<uint32_t>(slash + 1 - buffer);
}

FILETIME FsFileTimeOf(const LARGE_INTEGER &time)
{
    FILETIME converted;
    converted.dwLowDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(time.QuadPart));
    converted.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(time.QuadPart) >> 32);
    return converted;
}

BOOL FsGetInformationOf(HANDLE file, BY_HANDLE_FILE_INFORMATION *info, FILETIME *changeTime, bool *changeKnown)
{
    NtFileStatInformation stat;
    DWORD serial = 0;
    *changeKnown = false;
    if (!FsGetFileStatOf(file, &stat, &serial))
        return GetFileInformationByHandle(file, info);
    FsInformationFromStat(&stat, serial, info);
    // A volume that keeps no change time (FAT) tells 0.
    *changeTime = FsFileTimeOf(stat.ChangeTime);
    *changeKnown = stat.ChangeTime.QuadPart != 0;
    return TRUE;
}

HANDLE FsOpenAndLook(const char *path, DWORD access, DWORD share, DWORD flags, BY_HANDLE_FILE_INFORMATION *info,
                     FILETIME *changeTime, bool *changeKnown, bool *known)
{
    *known = false;
    *changeKnown = false;
#ifdef _WIN32
    (void)info;
    (void)changeTime;
    return FsCreateFile(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
#else
    NtFileStatInformation stat;
    DWORD serial = 0;
    BOOL looked = FALSE;
    // The path in the clients' character set, whichever it is.
    const WidePath wide(path, FsWideMode() ? CP_UTF8 : CP_ACP);
    HANDLE file = CreateFileAndStatW(wide.get(), access, share, flags, &stat, sizeof stat, &serial, &looked);
    if (file != INVALID_HANDLE_VALUE && looked) {
        FsInformationFromStat(&stat, serial, info);
        *changeTime = FsFileTimeOf(stat.ChangeTime);
        *changeKnown = stat.ChangeTime.QuadPart != 0;
        *known = true;
    }
    return file;
#endif
}

void FsInformationFromStat(const NtFileStatInformation *stat, DWORD volumeSerial, BY_HANDLE_FILE_INFORMATION *info)
{
    info->dwFileAttributes = stat->FileAttributes;
    info->ftCreationTime = FsFileTimeOf(stat->CreationTime);
    info->ftLastAccessTime = FsFileTimeOf(stat->LastAccessTime);
    info->ftLastWriteTime = FsFileTimeOf(stat->LastWriteTime);
    info->dwVolumeSerialNumber = volumeSerial;
    const ULONGLONG size = static_cast<ULONGLONG>(stat->EndOfFile.QuadPart);
    info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info->nFileSizeLow = static_cast<DWORD>(size);
    info->nNumberOfLinks = stat->NumberOfLinks;
    const ULONGLONG id = static_cast<ULONGLONG>(stat->FileId.QuadPart);
    info->nFileIndexHigh = static_cast<DWORD>(id >> 32);
    info->nFileIndexLow = static_cast<DWORD>(id);
}
