// The NFS version 3 argument decoders and Nfs3Dispatch on random arguments
// (the first byte picks the procedure, the second how the call comes: see
// RunInput in fuzz_world.h).  What a decoder accepts must be bounded, and the
// dispatch must answer within its buffer.
#include "nfs/nfs3_args.h"
#include "nfs/nfs_dispatch.h"
#include "fuzz_world.h"

using namespace nfs_fuzz;

namespace {

// A decoder whose accepted record must pass the checks in body (on r, the
// record, and e, the exact arguments).
#define CHECKED(T, decode, body) Try<T>(a, decode, [](const ExactArgs &e, const T &r) { (void)e; body })

void Decode(uint32_t proc, const std::string &bytes)
{
    ExactArgs a(bytes);
    switch (proc) {
    case NFSPROC3_GETATTR: case NFSPROC3_READLINK: case NFSPROC3_FSSTAT: case NFSPROC3_FSINFO: case NFSPROC3_PATHCONF:
        return Try(a, Nfs3DecodeHandle);
    case NFSPROC3_SETATTR:
        return CHECKED(Nfs3SetattrArgs, Nfs3DecodeSetattr, CheckSattr(r.attributes););
    case NFSPROC3_LOOKUP: case NFSPROC3_REMOVE: case NFSPROC3_RMDIR:
        return CHECKED(NfsDirOp, Nfs3DecodeDirOp, CheckDirOp(r););
    case NFSPROC3_ACCESS:
        return Try(a, Nfs3DecodeAccess);
    case NFSPROC3_READ: case NFSPROC3_COMMIT:
        return Try(a, Nfs3DecodeRange);
    case NFSPROC3_WRITE:
        return CHECKED(Nfs3WriteArgs, Nfs3DecodeWrite,
               Check(e.Inside(r.data, r.count) && r.stable <= 2, "WRITE data outside the arguments"););
    case NFSPROC3_CREATE:
        return CHECKED(Nfs3CreateArgs, Nfs3DecodeCreate,
               CheckDirOp(r.where); CheckSattr(r.attributes); Check(r.how <= 2, "CREATE mode out of range"););
    case NFSPROC3_MKDIR:
        return CHECKED(Nfs3MkdirArgs, Nfs3DecodeMkdir, CheckDirOp(r.where););
    case NFSPROC3_SYMLINK:
        return CHECKED(Nfs3SymlinkArgs, Nfs3DecodeSymlink, CheckDirOp(r.where); CheckPath(r.target););
    case NFSPROC3_MKNOD:
        return CHECKED(Nfs3MknodArgs, Nfs3DecodeMknod, CheckDirOp(r.where););
    case NFSPROC3_RENAME:
        return CHECKED(Nfs3RenameArgs, Nfs3DecodeRename, CheckDirOp(r.from); CheckDirOp(r.to););
    case NFSPROC3_LINK:
        return CHECKED(Nfs3LinkArgs, Nfs3DecodeLink, CheckDirOp(r.link););
    case NFSPROC3_READDIR:
        return Try(a, Nfs3DecodeReaddir);
    case NFSPROC3_READDIRPLUS:
        return Try(a, Nfs3DecodeReaddirPlus);
    default: return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RunInput(data, size, 3, NFSPROC3_COUNT + 1, Decode, Nfs3Dispatch);
    return 0;
}
