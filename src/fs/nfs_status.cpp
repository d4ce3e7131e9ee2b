#include "fs/nfs_status.h"

uint32_t NfsStatusFromWindowsError(uint32_t error)
{
    switch (error) {
    case 2:    // file not found
    case 3:    // path not found
    case 15:   // invalid drive
    case 18:   // no more files
    case 161:  // bad path name
        return NFSERR_NOENT;
    case 5:    // access denied
    case 16:   // the current directory cannot be removed
    case 82:   // cannot make
    case 108:  // drive locked
        return NFSERR_ACCES;
    case 19:  // write-protected medium
        return NFSERR_ROFS;
    case 55:  // network resource no longer available
        return NFSERR_NODEV;
    case 80:   // file exists
    case 183:  // already exists
        return NFSERR_EXIST;
    case 112:  // disk full
        return NFSERR_NOSPC;
    case 145:  // directory not empty
        return NFSERR_NOTEMPTY;
    case 206:  // name or extension too long
        return NFSERR_NAMETOOLONG;
    case 267:  // not a directory name
        return NFSERR_NOTDIR;
    case 1816:  // quota exceeded
        return NFSERR_DQUOT;
    case 1006:  // the opened file is no longer valid (another object has its name)
        return NFSERR_STALE;
    default:
        // 20 to 36: bad unit, not ready, sharing and lock violations and the
        // other faults of a device or a file held by someone else.
        if (error >= 20 && error <= 36)
            return NFSERR_ACCES;
        return NFSERR_IO;
    }
}
