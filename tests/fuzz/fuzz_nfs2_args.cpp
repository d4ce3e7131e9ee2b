// The NFS version 2 argument decoders and Nfs2Dispatch on random
// arguments, laid out as the version 3 target (fuzz_nfs3_args.cpp).
#include "nfs/nfs2_args.h"
#include "nfs/nfs_dispatch.h"
#include "nfs_fuzz_world.h"

using namespace nfs_fuzz;

namespace {

void Decode(uint32_t proc, const std::string &bytes)
{
    ExactArgs a(bytes);
    switch (proc) {
    case NFSPROC_GETATTR:
    case NFSPROC_READLINK:
    case NFSPROC_STATFS:
        return Try(a, Nfs2DecodeHandle);
    case NFSPROC_SETATTR:
        return Try<Nfs2SetattrArgs>(a, Nfs2DecodeSetattr, [](const ExactArgs &, const Nfs2SetattrArgs &r) {
            CheckSattr(r.attributes);
        });
    case NFSPROC_LOOKUP:
    case NFSPROC_REMOVE:
    case NFSPROC_RMDIR:
        return Try<NfsDirOp>(a, Nfs2DecodeDirOp, [](const ExactArgs &, const NfsDirOp &r) { CheckDirOp(r); });
    case NFSPROC_READ:
        return Try<Nfs2ReadArgs>(a, Nfs2DecodeRead, [](const ExactArgs &, const Nfs2ReadArgs &r) {
            Check(r.count <= ServerSettings.ReadSize, "READ count above ReadSize");
        });
    case NFSPROC_WRITE:
        return Try<Nfs2WriteArgs>(a, Nfs2DecodeWrite, [](const ExactArgs &e, const Nfs2WriteArgs &r) {
            Check(e.Inside(r.data, r.count) && r.count <= ServerSettings.WriteSize,
                  "WRITE data outside the arguments or above WriteSize");
        });
    case NFSPROC_CREATE:
    case NFSPROC_MKDIR:
        return Try<Nfs2CreateArgs>(a, Nfs2DecodeCreate, [](const ExactArgs &, const Nfs2CreateArgs &r) {
            CheckDirOp(r.where);
            CheckSattr(r.attributes);
        });
    case NFSPROC_RENAME:
        return Try<Nfs2RenameArgs>(a, Nfs2DecodeRename, [](const ExactArgs &, const Nfs2RenameArgs &r) {
            CheckDirOp(r.from);
            CheckDirOp(r.to);
        });
    case NFSPROC_LINK:
        return Try<Nfs2LinkArgs>(a, Nfs2DecodeLink, [](const ExactArgs &, const Nfs2LinkArgs &r) { CheckDirOp(r.to); });
    case NFSPROC_SYMLINK:
        return Try<Nfs2SymlinkArgs>(a, Nfs2DecodeSymlink, [](const ExactArgs &, const Nfs2SymlinkArgs &r) {
            CheckDirOp(r.from);
            CheckPath(r.to);
        });
    case NFSPROC_READDIR:
        return Try(a, Nfs2DecodeReaddir);
    default:
        return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RunInput(data, size, 2, NFSPROC_COUNT + 1, Decode, Nfs2Dispatch);
    return 0;
}
