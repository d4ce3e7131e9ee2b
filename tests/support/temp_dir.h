// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // The folder as the server names it (a Windows path, "Z:\..." on POSIX),
    // ending in a backslash.
    const std::string &win() const { return win_; }
    // The folder in the host's own form, for std::filesystem and the C library.
    const std::string &native() const { return native_; }
    // win() + name, native() + "/" + name
    std::string Win(const std::string &name) const { return win_ + name; }
    std::string Native(const std::string &name) const;

private:
    std::string win_;
    std::string native_;
};

// Whole-file helpers in the host's own path form.
std::string ReadFileBytes(const std::string &nativePath);
void WriteFileBytes(const std::string &nativePath, const std::string &bytes);
bool FileExists(const std::string &nativePath);
// True when the tests run on Windows or under Wine.
bool RunningOnWindows();
// True when running under Wine (the Windows build on Linux).
bool RunningUnderWine();
