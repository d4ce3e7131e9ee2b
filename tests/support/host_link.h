// Symbolic links made as the host makes them, for the tests of link
// containment: symlink() on POSIX; on Windows CreateSymbolicLink, and under
// Wine (whose CreateSymbolicLink creates nothing) the host's own "ln -s".
#pragma once

#include <string>

// Makes a symbolic link at linkPath to targetPath (both Windows paths as the
// server names them, absolute).  False when this system cannot make one
// (Windows without the right to), so that the caller can skip.
bool MakeHostLink(const std::string &targetPath, const std::string &linkPath, bool directory);
// Removes the link itself (never what it leads to).  False on failure.
bool RemoveHostLink(const std::string &linkPath, bool directory);

// A link for one test, removed with it (a folder's removal must never walk
// through a link).  made tells whether the system made it.
struct ScopedHostLink {
    ScopedHostLink(const std::string &target, const std::string &at, bool folder)
        : path(at), directory(folder), made(MakeHostLink(target, at, folder))
    {
    }
    ~ScopedHostLink()
    {
        if (made)
            RemoveHostLink(path, directory);
    }
    ScopedHostLink(const ScopedHostLink &) = delete;
    ScopedHostLink &operator=(const ScopedHostLink &) = delete;
    std::string path;
    bool directory;
    bool made;
};
