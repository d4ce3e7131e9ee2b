// The status of an object in one call: statx gives the fields of stat and
// the birth time together, where stat and a second statx for the birth time
// would take two calls.  Kernels or sandboxes without statx get fstatat and
// no birth time.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/posix/win32_file_internal.h"

namespace {

void FromStatxTime(const struct statx_timestamp &in, struct timespec *out)
{
    out->tv_sec = static_cast<time_t>(in.tv_sec);
    out->tv_nsec = static_cast<long>(in.tv_nsec);
}

// statx is missing (ENOSYS): remembered after the first refusal.
int statxMissing = 0;

} // namespace

int StatusAt(int folder, const char *path, int flags, struct stat *st, struct timespec *birth)
{
    birth->tv_sec = 0;
    birth->tv_nsec = -1;
    if (!__atomic_load_n(&statxMissing, __ATOMIC_RELAXED)) {
        struct statx sx;
        if (statx(folder, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
            *st = {};
            st->st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
            st->st_ino = static_cast<ino_t>(sx.stx_ino);
            st->st_mode = static_cast<mode_t>(sx.stx_mode);
            st->st_nlink = static_cast<nlink_t>(sx.stx_nlink);
            st->st_uid = sx.stx_uid;
            st->st_gid = sx.stx_gid;
            st->st_rdev = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
            st->st_size = static_cast<off_t>(sx.stx_size);
            st->st_blksize = static_cast<blksize_t>(sx.stx_blksize);
            st->st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
            FromStatxTime(sx.stx_atime, &st->st_atim);
            FromStatxTime(sx.stx_mtime, &st->st_mtim);
            FromStatxTime(sx.stx_ctime, &st->st_ctim);
            if (sx.stx_mask & STATX_BTIME)
                FromStatxTime(sx.stx_btime, birth);
            return 0;
        }
        // Some sandbox filters refuse statx with EPERM: stat decides then.
        if (errno != ENOSYS && errno != EPERM)
            return -1;
        if (errno == ENOSYS)
            __atomic_store_n(&statxMissing, 1, __ATOMIC_RELAXED);
    }
    return fstatat(folder, path, st, flags);
}
