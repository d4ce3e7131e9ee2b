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
    RpcCall *call = &a.call;
    switch (proc) {
    case NFSPROC_GETATTR:
    case NFSPROC_READLINK:
    case NFSPROC_STATFS: {
        Nfs2HandleArgs args;
        Nfs2DecodeHandle(call, &args);
        break;
    }
    case NFSPROC_SETATTR: {
        Nfs2SetattrArgs args;
        if (Nfs2DecodeSetattr(call, &args))
            CheckSattr(args.attributes);
        break;
    }
    case NFSPROC_LOOKUP:
    case NFSPROC_REMOVE:
    case NFSPROC_RMDIR: {
        NfsDirOp args;
        if (Nfs2DecodeDirOp(call, &args))
            CheckDirOp(args);
        break;
    }
    case NFSPROC_READ: {
        Nfs2ReadArgs args;
        if (Nfs2DecodeRead(call, &args))
            Check(args.count <= ServerSettings.ReadSize, "READ count above ReadSize");
        break;
    }
    case NFSPROC_WRITE: {
        Nfs2WriteArgs args;
        if (Nfs2DecodeWrite(call, &args))
            Check(a.Inside(args.data, args.count) && args.count <= ServerSettings.WriteSize,
                  "WRITE data outside the arguments or above WriteSize");
        break;
    }
    case NFSPROC_CREATE:
    case NFSPROC_MKDIR: {
        Nfs2CreateArgs args;
        if (Nfs2DecodeCreate(call, &args)) {
            CheckDirOp(args.where);
            CheckSattr(args.attributes);
        }
        break;
    }
    case NFSPROC_RENAME: {
        Nfs2RenameArgs args;
        if (Nfs2DecodeRename(call, &args)) {
            CheckDirOp(args.from);
            CheckDirOp(args.to);
        }
        break;
    }
    case NFSPROC_LINK: {
        Nfs2LinkArgs args;
        if (Nfs2DecodeLink(call, &args))
            CheckDirOp(args.to);
        break;
    }
    case NFSPROC_SYMLINK: {
        Nfs2SymlinkArgs args;
        if (Nfs2DecodeSymlink(call, &args)) {
            CheckDirOp(args.from);
            CheckPath(args.to);
        }
        break;
    }
    case NFSPROC_READDIR: {
        Nfs2ReaddirArgs args;
        Nfs2DecodeReaddir(call, &args);
        break;
    }
    default:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RunInput(data, size, 2, NFSPROC_COUNT + 1, Decode, Nfs2Dispatch);
    return 0;
}
