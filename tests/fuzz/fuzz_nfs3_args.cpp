// The NFS version 3 argument decoders and Nfs3Dispatch on random
// arguments.  The first byte picks the procedure, the second how the call
// comes (a valid handle planted in front of the rest, TCP, another client,
// AUTH_UNIX, root, the largest verifier).  Every decoder runs on a buffer of
// exactly the argument bytes; what it accepts must be bounded; the dispatch
// must answer within its buffer.
#include "nfs/nfs3_args.h"
#include "nfs/nfs_dispatch.h"
#include "nfs_fuzz_world.h"

using namespace nfs_fuzz;

namespace {

void Decode(uint32_t proc, const std::string &bytes)
{
    ExactArgs a(bytes);
    switch (proc) {
    case NFSPROC3_GETATTR:
    case NFSPROC3_READLINK:
    case NFSPROC3_FSSTAT:
    case NFSPROC3_FSINFO:
    case NFSPROC3_PATHCONF:
        return Try(a, Nfs3DecodeHandle);
    case NFSPROC3_SETATTR:
        return Try<Nfs3SetattrArgs>(a, Nfs3DecodeSetattr, [](const ExactArgs &, const Nfs3SetattrArgs &r) {
            CheckSattr(r.attributes);
        });
    case NFSPROC3_LOOKUP:
    case NFSPROC3_REMOVE:
    case NFSPROC3_RMDIR:
        return Try<NfsDirOp>(a, Nfs3DecodeDirOp, [](const ExactArgs &, const NfsDirOp &r) { CheckDirOp(r); });
    case NFSPROC3_ACCESS:
        return Try(a, Nfs3DecodeAccess);
    case NFSPROC3_READ:
    case NFSPROC3_COMMIT:
        return Try(a, Nfs3DecodeRange);
    case NFSPROC3_WRITE:
        return Try<Nfs3WriteArgs>(a, Nfs3DecodeWrite, [](const ExactArgs &e, const Nfs3WriteArgs &r) {
            Check(e.Inside(r.data, r.count) && r.stable <= 2, "WRITE data outside the arguments");
        });
    case NFSPROC3_CREATE:
        return Try<Nfs3CreateArgs>(a, Nfs3DecodeCreate, [](const ExactArgs &, const Nfs3CreateArgs &r) {
            CheckDirOp(r.where);
            CheckSattr(r.attributes);
            Check(r.how <= 2, "CREATE mode out of range");
        });
    case NFSPROC3_MKDIR:
        return Try<Nfs3MkdirArgs>(a, Nfs3DecodeMkdir,
                                  [](const ExactArgs &, const Nfs3MkdirArgs &r) { CheckDirOp(r.where); });
    case NFSPROC3_SYMLINK:
        return Try<Nfs3SymlinkArgs>(a, Nfs3DecodeSymlink, [](const ExactArgs &, const Nfs3SymlinkArgs &r) {
            CheckDirOp(r.where);
            CheckPath(r.target);
        });
    case NFSPROC3_MKNOD:
        return Try<Nfs3MknodArgs>(a, Nfs3DecodeMknod,
                                  [](const ExactArgs &, const Nfs3MknodArgs &r) { CheckDirOp(r.where); });
    case NFSPROC3_RENAME:
        return Try<Nfs3RenameArgs>(a, Nfs3DecodeRename, [](const ExactArgs &, const Nfs3RenameArgs &r) {
            CheckDirOp(r.from);
            CheckDirOp(r.to);
        });
    case NFSPROC3_LINK:
        return Try<Nfs3LinkArgs>(a, Nfs3DecodeLink,
                                 [](const ExactArgs &, const Nfs3LinkArgs &r) { CheckDirOp(r.link); });
    case NFSPROC3_READDIR:
        return Try(a, Nfs3DecodeReaddir);
    case NFSPROC3_READDIRPLUS:
        return Try(a, Nfs3DecodeReaddirPlus);
    default:
        return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RunInput(data, size, 3, NFSPROC3_COUNT + 1, Decode, Nfs3Dispatch);
    return 0;
}
