// Start and stop of the whole file system backend, called by the service
// start and stop.
#pragma once

#include <cstdint>

// The result of StartNfsBackend when the inode table cannot be opened.
#define NFS_BACKEND_NO_INODE_TABLE 6

// Opens the inode table (reset by the InodeReset setting), starts the
// open-file cache, finds the run-time kernel32 entry points, logs the
// backend's settings and prepares the directory searches.  0, or 6 when the
// inode table cannot be opened.
int StartNfsBackend();
// Closes the inode table and every cached file handle.
void StopNfsBackend();
