// The status numbers of a MNT reply: mountstat3 in version 3, and the same
// numbers, as Unix errors, in versions 1 and 2.  The WebNFS lookup answers
// with NFS status numbers (fs/nfs_status.h).
#pragma once

#include <cstdint>

enum MountStatus : uint32_t {
    MNT3_OK = 0,
    MNT3ERR_PERM = 1,
    MNT3ERR_NOENT = 2,    // no such folder, no export of the path, no inode or record
    MNT3ERR_IO = 5,
    MNT3ERR_ACCES = 13,   // the export does not admit the client, or it has its most mounts
    MNT3ERR_NODEV = 19,   // the folder's volume cannot be examined (a Unix error of versions 1 and 2)
    MNT3ERR_NOTDIR = 20,
    MNT3ERR_INVAL = 22,   // the path has ".", ".." or empty components
    MNT3ERR_NAMETOOLONG = 63,
    MNT3ERR_NOTSUPP = 10004,
    MNT3ERR_SERVERFAULT = 10006,
};
