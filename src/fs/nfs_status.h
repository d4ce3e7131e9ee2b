// The status numbers that every backend operation returns (0 = success) and
// the NFS services put on the wire; the numbers are the same in versions 2
// and 3 of the protocol.
#pragma once

#include <cstdint>

enum NfsStatus : uint32_t {
    NFS_OK = 0,
    NFSERR_PERM = 1,
    NFSERR_NOENT = 2,
    NFSERR_IO = 5,
    NFSERR_NXIO = 6,
    NFSERR_ACCES = 13,
    NFSERR_EXIST = 17,
    NFSERR_NODEV = 19,
    NFSERR_NOTDIR = 20,
    NFSERR_ISDIR = 21,
    NFSERR_INVAL = 22,
    NFSERR_FBIG = 27,
    NFSERR_NOSPC = 28,
    NFSERR_ROFS = 30,
    NFSERR_NAMETOOLONG = 63,
    NFSERR_NOTEMPTY = 66,
    NFSERR_DQUOT = 69,
    NFSERR_STALE = 70,
};

// The one table from Windows errors to NFS status numbers.
uint32_t NfsStatusFromWindowsError(uint32_t error);
