// Folders held in place while a change is made by path.  Every folder from
// an export's root down to the folder of the change is opened for listing
// (an open without data access would take no part in sharing) and without
// FILE_SHARE_DELETE, so that none of them can be renamed or removed (by any
// request of this server, and on Windows by any program) until they are let
// go, and each is confirmed to be a folder and, below the root, no link or
// junction.  While they are held, the folder's path names a folder inside
// the export, whatever was done to the names on its way before: a folder
// swapped with a link between a request's check and its change cannot lead
// the change out of the export.
//
// Requests that run at once share their holds: a folder already held by
// one is held for the next by a count, without another open, and let go
// when the last lets go.  While it is held it stays the folder that was
// confirmed.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32.h"

struct HeldFolder;

struct PinnedPath {
    std::vector<HeldFolder *> folders;
    PinnedPath() = default;
    PinnedPath(const PinnedPath &) = delete;
    PinnedPath &operator=(const PinnedPath &) = delete;
    ~PinnedPath() { Unpin(); }
    void Unpin();
};

// Pins the folders of folderPath from rootPath (a prefix of it) down; any
// folders pinned before are let go first.  With judged (may be null), the
// folder pinned last must be that very object (the one a check judged):
// a name that has come to lead elsewhere since is refused.  NFS_OK;
// NFSERR_STALE when one is gone, is no folder, is a link or junction, or is
// not the judged folder; a sharing violation's status when one is being
// renamed or removed right now (after a few short retries).
uint32_t PinFolderPath(const char *rootPath, const char *folderPath, PinnedPath *pins,
                       const BY_HANDLE_FILE_INFORMATION *judged = nullptr);
