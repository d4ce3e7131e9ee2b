#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> counter{0};

std::string WindowsForm(const std::string &native)
{
#ifdef _WIN32
    std::string s = native;
    for (char &c : s)
        if (c == '/')
            c = '\\';
    return s;
#else
    char buffer[4096];
    if (!WindowsPathFromPosix(native.c_str(), buffer, sizeof(buffer)))
        throw std::runtime_error("path too long: " + native);
    return buffer;
#endif
}

} // namespace

TempDir::TempDir()
{
    fs::path base = fs::temp_directory_path();
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path candidate = base / ("korvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                     std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            native_ = candidate.string();
            break;
        }
    }
    win_ = WindowsForm(native_);
    if (win_.empty() || win_.back() != '\\')
        win_ += '\\';
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Read-only entries cannot be removed on Windows: make them writable first.
    for (auto it = fs::recursive_directory_iterator(native_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(native_, ec);
}

std::string TempDir::Native(const std::string &name) const { return (fs::path(native_) / name).string(); }

std::string ReadFileBytes(const std::string &nativePath)
{
    std::ifstream in(nativePath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string &nativePath, const std::string &bytes)
{
    std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string &nativePath)
{
    std::error_code ec;
    return fs::exists(nativePath, ec);
}

bool RunningOnWindows()
{
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

bool RunningUnderWine()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
