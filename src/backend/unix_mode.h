// Unix file types and permission bits emulated from the DOS attributes of a
// Windows file, and the attributes that keep a requested mode.
//
// The permission bits live in three DOS attributes: read-only removes the
// write bits, hidden stands for "executable" on files and for "not
// searchable" on folders, and system marks setuid files, sticky folders and
// the emulated objects (symbolic links stored as files, devices, fifos and
// sockets).
#pragma once

#include <cstdint>

// The file types of the attribute record (the NFS ftype numbers).
enum UnixFileType : uint32_t {
    FILE_TYPE_NONE = 0,
    FILE_TYPE_REGULAR = 1,
    FILE_TYPE_DIRECTORY = 2,
    FILE_TYPE_BLOCK = 3,
    FILE_TYPE_CHARACTER = 4,
    FILE_TYPE_SYMLINK = 5,
    FILE_TYPE_SOCKET = 6,
    FILE_TYPE_FIFO = 7,
};

// Unix mode bits used here.
#define UNIX_MODE_DIRECTORY 0040000u
#define UNIX_MODE_REGULAR 0100000u
#define UNIX_MODE_SYMLINK 0120000u
#define UNIX_MODE_CHARACTER 0020000u
#define UNIX_MODE_BLOCK 0060000u
#define UNIX_MODE_FIFO 0010000u
#define UNIX_MODE_SOCKET 0140000u
#define UNIX_MODE_SETUID 04000u
#define UNIX_MODE_STICKY 01000u

// The special-file record of a file with the system attribute (and without
// the hidden one), as the links and special files code reads it.
enum SpecialRecordType : uint32_t {
    SPECIAL_UNREADABLE = 0,  // the file could not be opened or read
    SPECIAL_NO_RECORD = 1,   // the file holds no special-file record
    // else the record's type: FILE_TYPE_BLOCK, _CHARACTER, _SOCKET or _FIFO
};
struct SpecialRecord {
    uint32_t type;  // SpecialRecordType or the record's file type
    uint32_t mode;  // the record's mode, file-type bits added for devices
    uint32_t major, minor;
};

// True when the mode of a file with these attributes depends on its content:
// a file (not a folder) with the system attribute and without hidden.
bool ModeNeedsSpecialRecord(uint32_t attributes);

// True for a file whose only attribute among read-only, hidden, system and
// directory is system: how a symbolic link stored as a file looks.
bool OnlySystemAttribute(uint32_t attributes);

// The type and mode of a file with these DOS attributes, masks applied (the
// read-only attribute removes 0222, then the umask is removed) except for
// symbolic links, whose mode is always 0120777.  special is consulted only
// when ModeNeedsSpecialRecord(attributes).  execForAll: the export has
// "exec" or the SetExec setting is on.
void UnixModeFromDos(uint32_t attributes, const SpecialRecord *special, bool execForAll, uint32_t umask,
                     uint32_t *type, uint32_t *mode);

// The DOS attributes that make a regular file or folder show the requested
// mode under this umask (the inverse of UnixModeFromDos).  Other types are
// kept as exactly the system attribute.  Never 0: FILE_ATTRIBUTE_NORMAL
// stands for "none of them".
uint32_t DosAttributesForMode(uint32_t type, uint32_t mode, bool execForAll, uint32_t umask);
