// Setup shared by the benchmarks that go through the backend: a data folder
// with its inode table, the server settings, one export of a folder with its
// open-file cache, and a mount of it whose root handle the bench starts from.
#pragma once

#include <cstdint>
#include <string>

#include "exports/export_table.h"
#include "fs/file_handle.h"
#include "rpc/rpc_message.h"

// Seconds on a steady clock.
double BenchNow();

// The Windows form of a native folder ("Z:" + the path on POSIX).
std::string BenchWindowsFolder(const std::string &native);

// The folder the bench works in: the given one, else TMPDIR (or /var/tmp,
// the temp folder on Windows) plus name; created when missing.  Ends without
// a separator.
std::string BenchFolder(const char *given, const char *name);

// Credentials of an ordinary caller (uid 1000, gid 100).
AuthUnix BenchCaller();

// One mounted export of a folder.
struct BenchExport {
    ExportEntry entry;
    std::string path;  // Windows form of the exported folder
    uint32_t mountId;
    FileHandle root;
};

// Sets up the settings, opens the inode table in the folder (which is also
// the data folder), starts the cache and mounts the folder as an export for
// 127.0.0.1.  False (with a message on stderr) on failure.
bool OpenBenchExport(const std::string &native, BenchExport *bench);
// Undoes OpenBenchExport.
void CloseBenchExport(BenchExport *bench);
