// Numbers of the NFS protocol, versions 2 and 3, as the wire carries them.
#pragma once

#include <cstdint>

#define NFS_PROG 100003u
// The ACL side protocol some clients probe on the NFS port; not offered.
#define NFSACL_PROG 100227u

// Version 3 procedures.
enum : uint32_t {
    NFSPROC3_NULL = 0,
    NFSPROC3_GETATTR = 1,
    NFSPROC3_SETATTR = 2,
    NFSPROC3_LOOKUP = 3,
    NFSPROC3_ACCESS = 4,
    NFSPROC3_READLINK = 5,
    NFSPROC3_READ = 6,
    NFSPROC3_WRITE = 7,
    NFSPROC3_CREATE = 8,
    NFSPROC3_MKDIR = 9,
    NFSPROC3_SYMLINK = 10,
    NFSPROC3_MKNOD = 11,
    NFSPROC3_REMOVE = 12,
    NFSPROC3_RMDIR = 13,
    NFSPROC3_RENAME = 14,
    NFSPROC3_LINK = 15,
    NFSPROC3_READDIR = 16,
    NFSPROC3_READDIRPLUS = 17,
    NFSPROC3_FSSTAT = 18,
    NFSPROC3_FSINFO = 19,
    NFSPROC3_PATHCONF = 20,
    NFSPROC3_COMMIT = 21,
    NFSPROC3_COUNT = 22,
};

// Version 2 procedures.
enum : uint32_t {
    NFSPROC_NULL = 0,
    NFSPROC_GETATTR = 1,
    NFSPROC_SETATTR = 2,
    NFSPROC_ROOT = 3,
    NFSPROC_LOOKUP = 4,
    NFSPROC_READLINK = 5,
    NFSPROC_READ = 6,
    NFSPROC_WRITECACHE = 7,
    NFSPROC_WRITE = 8,
    NFSPROC_CREATE = 9,
    NFSPROC_REMOVE = 10,
    NFSPROC_RENAME = 11,
    NFSPROC_LINK = 12,
    NFSPROC_SYMLINK = 13,
    NFSPROC_MKDIR = 14,
    NFSPROC_RMDIR = 15,
    NFSPROC_READDIR = 16,
    NFSPROC_STATFS = 17,
    NFSPROC_COUNT = 18,
};

// Status numbers that only version 3 has (the others are in fs/nfs_status.h).
enum : uint32_t {
    NFS3ERR_XDEV = 18,
    NFS3ERR_INVAL = 22,
    NFS3ERR_BADHANDLE = 10001,
    NFS3ERR_NOT_SYNC = 10002,
    NFS3ERR_BAD_COOKIE = 10003,
    NFS3ERR_NOTSUPP = 10004,
    NFS3ERR_TOOSMALL = 10005,
    NFS3ERR_SERVERFAULT = 10006,
    NFS3ERR_BADTYPE = 10007,
};

// ACCESS bits.
enum : uint32_t {
    ACCESS3_READ = 0x1,
    ACCESS3_LOOKUP = 0x2,
    ACCESS3_MODIFY = 0x4,
    ACCESS3_EXTEND = 0x8,
    ACCESS3_DELETE = 0x10,
    ACCESS3_EXECUTE = 0x20,
};

// FSINFO properties.
enum : uint32_t {
    FSF3_LINK = 0x1,
    FSF3_SYMLINK = 0x2,
    FSF3_HOMOGENEOUS = 0x8,
    FSF3_CANSETTIME = 0x10,
};

// File types of fattr3 and MKNOD (the same numbers as UnixFileType).
enum : uint32_t {
    NF3REG = 1,
    NF3DIR = 2,
    NF3BLK = 3,
    NF3CHR = 4,
    NF3LNK = 5,
    NF3SOCK = 6,
    NF3FIFO = 7,
};

// Sizes on the wire.
#define NFS_NAME_SIZE 512u       // a file name is shorter than this
#define NFS_PATH_SIZE 2048u      // symbolic link text is shorter than this
#define NFS_VERIFIER_SIZE 8u     // write, cookie and exclusive-create verifiers
#define NFS2_HANDLE_SIZE 32u
#define NFS2_COOKIE_SIZE 4u
#define NFS_FATTR3_SIZE 84u
#define NFS_FATTR2_SIZE 68u
#define NFS_POST_OP_ATTR_SIZE (4u + NFS_FATTR3_SIZE)
// The largest payload of one UDP datagram over IPv4.
#define NFS_UDP_PAYLOAD_MAX 65507u
