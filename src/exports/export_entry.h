// One exported folder and the constants of the export table.
#pragma once

#include <cstdint>

struct CacheEntry;  // one open handle of an export's open-file cache

// Windows paths, client paths and names are held in buffers of this size
// (terminator included).
#define EXPORT_PATH_SIZE 2048
// Clients one export can name; more are cut off with a message.
#define EXPORT_MAX_CLIENTS 128

// Bits of ExportEntry::flags.  The low half comes from the options of the
// exports file, 0x10000 to 0x800000 from the volume probe.
enum : uint32_t {
    EXPORT_READONLY = 0x1,          // -readonly, -ro
    EXPORT_LOWERCASE = 0x2,         // -lowercase
    EXPORT_PUBLIC = 0x4,            // -public (the WebNFS public folder)
    EXPORT_MAPROOT_UID = 0x8,       // -maproot:u
    EXPORT_MAPALL_UID = 0x10,       // -mapall:u
    EXPORT_MAPROOT_GID = 0x20,      // -maproot:u:g
    EXPORT_MAPALL_GID = 0x40,       // -mapall:u:g
    EXPORT_RANGE = 0x80,            // -range: clients are (low, high) pairs
    EXPORT_EXEC = 0x100,            // -exec
    EXPORT_ALLDIRS = 0x200,         // -alldirs
    EXPORT_UMASK = 0x400,           // -umask:
    EXPORT_UID = 0x800,             // -uid:u
    EXPORT_GID = 0x1000,            // -uid:u:g
    EXPORT_HIDE = 0x2000,           // -hide
    EXPORT_CI = 0x8000,             // -ci: never file id mode
    EXPORT_VOLUME_FIXED = 0x10000,  // fixed drive
    EXPORT_VOLUME_NOCASE = 0x20000, // neither case-sensitive search nor case-preserved names
    EXPORT_VOLUME_NTFS = 0x40000,
    EXPORT_VOLUME_HARDLINKS = 0x80000,
    EXPORT_VOLUME_REPARSE = 0x100000,
    EXPORT_FILEID_MODE = 0x200000,
    EXPORT_LONG_PREFIX = 0x400000,  // path begins with "\\?\"
    EXPORT_VOLUME_GUID = 0x800000,  // path (after that prefix) begins with "Volume{"
    EXPORT_SUB = 0x1000000,         // -sub: subColon (and subQuestion) set
    EXPORT_VOLUME_BITS = 0xFF0000,  // every bit the volume probe sets or clears
};

// The per-export options that the file system backend reads through the
// export context: everything from the umask to the open-file cache.
struct ExportOptions {
    uint32_t umask;        // 9 bits removed from every mode; 022 unless -umask:
    uint32_t uid, gid;     // -uid: owner and group shown for all files (low 16 bits)
    uint32_t maprootUid, maprootGid;  // -maproot: (low 16 bits)
    uint32_t mapallUid, mapallGid;    // -mapall: (low 16 bits)
    int32_t clientCount;   // at most EXPORT_MAX_CLIENTS; 0 = every client
    uint32_t *clients;     // IPv4 addresses, network byte order; owned
    uint32_t exportId;     // CRC-32 of the entry's text (ComputeExportId)
    uint32_t handleId;     // what file handles of the export carry (ExportHandleId)
    uint64_t rootInode;    // file ID in file id mode, else the inode table's inode
    uint32_t rootLength;   // length of the volume root part of path, backslash included
    uint32_t mountCount;   // mounts of this export, kept by the mount service
    uint32_t cacheSize;    // entries of the open-file cache
    uint32_t cacheCursor;  // owned by the open-file cache
    uint8_t subColon;      // -sub: character standing for ':' on the volume; 0 = none
    uint8_t subQuestion;   // -sub: character standing for '?'; 0 = none
    CacheEntry *cache;     // the open-file cache, cacheSize entries; owned
};

// One accepted export.  Entries that have been in a table are never freed:
// mount records and file handles point at them.
struct ExportEntry {
    ExportEntry *self;       // the entry's own address
    ExportEntry *next;       // next entry of the current table
    char *path;              // normalised Windows path (UTF-8 when CharSetActive is 2); owned
    char *name;              // "/" + the -name: text, or null; owned
    uint32_t volumeSerial;
    uint32_t maxNameLength;  // maximum component length of the volume
    uint32_t flags;          // EXPORT_* bits
    ExportOptions options;
    // The -cache: value as the file gave it, so that a saved file keeps it;
    // EXPORT_NO_CACHE_OPTION when the file gave none.
    uint32_t cacheOption;
};
#define EXPORT_NO_CACHE_OPTION 0xFFFFFFFFu
