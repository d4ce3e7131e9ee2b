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
    RpcCall *call = &a.call;
    switch (proc) {
    case NFSPROC3_GETATTR:
    case NFSPROC3_READLINK:
    case NFSPROC3_FSSTAT:
    case NFSPROC3_FSINFO:
    case NFSPROC3_PATHCONF: {
        Nfs3HandleArgs args;
        Nfs3DecodeHandle(call, &args);
        break;
    }
    case NFSPROC3_SETATTR: {
        Nfs3SetattrArgs args;
        if (Nfs3DecodeSetattr(call, &args))
            CheckSattr(args.attributes);
        break;
    }
    case NFSPROC3_LOOKUP:
    case NFSPROC3_REMOVE:
    case NFSPROC3_RMDIR: {
        NfsDirOp args;
        if (Nfs3DecodeDirOp(call, &args))
            CheckDirOp(args);
        break;
    }
    case NFSPROC3_ACCESS: {
        Nfs3AccessArgs args;
        Nfs3DecodeAccess(call, &args);
        break;
    }
    case NFSPROC3_READ:
    case NFSPROC3_COMMIT: {
        Nfs3RangeArgs args;
        Nfs3DecodeRange(call, &args);
        break;
    }
    case NFSPROC3_WRITE: {
        Nfs3WriteArgs args;
        if (Nfs3DecodeWrite(call, &args))
            Check(a.Inside(args.data, args.count) && args.stable <= 2, "WRITE data outside the arguments");
        break;
    }
    case NFSPROC3_CREATE: {
        Nfs3CreateArgs args;
        if (Nfs3DecodeCreate(call, &args)) {
            CheckDirOp(args.where);
            CheckSattr(args.attributes);
            Check(args.how <= 2, "CREATE mode out of range");
        }
        break;
    }
    case NFSPROC3_MKDIR: {
        Nfs3MkdirArgs args;
        if (Nfs3DecodeMkdir(call, &args))
            CheckDirOp(args.where);
        break;
    }
    case NFSPROC3_SYMLINK: {
        Nfs3SymlinkArgs args;
        if (Nfs3DecodeSymlink(call, &args)) {
            CheckDirOp(args.where);
            CheckPath(args.target);
        }
        break;
    }
    case NFSPROC3_MKNOD: {
        Nfs3MknodArgs args;
        if (Nfs3DecodeMknod(call, &args))
            CheckDirOp(args.where);
        break;
    }
    case NFSPROC3_RENAME: {
        Nfs3RenameArgs args;
        if (Nfs3DecodeRename(call, &args)) {
            CheckDirOp(args.from);
            CheckDirOp(args.to);
        }
        break;
    }
    case NFSPROC3_LINK: {
        Nfs3LinkArgs args;
        if (Nfs3DecodeLink(call, &args))
            CheckDirOp(args.link);
        break;
    }
    case NFSPROC3_READDIR: {
        Nfs3ReaddirArgs args;
        Nfs3DecodeReaddir(call, &args);
        break;
    }
    case NFSPROC3_READDIRPLUS: {
        Nfs3ReaddirArgs args;
        Nfs3DecodeReaddirPlus(call, &args);
        break;
    }
    default:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RunInput(data, size, 3, NFSPROC3_COUNT + 1, Decode, Nfs3Dispatch);
    return 0;
}
