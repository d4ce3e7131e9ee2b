// The NFS version 2 argument decoders and Nfs2Dispatch on random
// arguments, laid out as the version 3 target (fuzz_nfs3_args.cpp).
#include "nfs/nfs2_args.h"
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
    case NFSPROC_GETATTR: case NFSPROC_READLINK: case NFSPROC_STATFS:
        return Try(a, Nfs2DecodeHandle);
    case NFSPROC_SETATTR:
        return CHECKED(Nfs2SetattrArgs, Nfs2DecodeSetattr, CheckSattr(r.attributes););
    case NFSPROC_LOOKUP: case NFSPROC_REMOVE: case NFSPROC_RMDIR:
        return CHECKED(NfsDirOp, Nfs2DecodeDirOp, CheckDirOp(r););
    case NFSPROC_READ:
        return CHECKED(Nfs2ReadArgs, Nfs2DecodeRead,
               Check(r.count <= ServerSettings.ReadSize, "READ count above ReadSize"););
    case NFSPROC_WRITE:
        return CHECKED(Nfs2WriteArgs, Nfs2DecodeWrite,
               Check(e.Inside(r.data, r.count) && r.count <= ServerSettings.WriteSize, "WRITE data out of bounds"););
    case NFSPROC_CREATE: case NFSPROC_MKDIR:
        return CHECKED(Nfs2CreateArgs, Nfs2DecodeCreate, CheckDirOp(r.where); CheckSattr(r.attributes););
    case NFSPROC_RENAME:
        return CHECKED(Nfs2RenameArgs, Nfs2DecodeRename, CheckDirOp(r.from); CheckDirOp(r.to););
    case NFSPROC_LINK:
        return CHECKED(Nfs2LinkArgs, Nfs2DecodeLink, CheckDirOp(r.to););
    case NFSPROC_SYMLINK:
        return CHECKED(Nfs2SymlinkArgs, Nfs2DecodeSymlink, CheckDirOp(r.from); CheckPath(r.to););
    case NFSPROC_READDIR:
        return Try(a, Nfs2DecodeReaddir);
    default: return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RunInput(data, size, 2, NFSPROC_COUNT + 1, Decode, Nfs2Dispatch);
    return 0;
}
