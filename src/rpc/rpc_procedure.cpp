// The generic dispatch of a procedure table's row.
#include "rpc/rpc_procedure.h"

#include "log/log.h"
#include "rpc/reply_cache.h"

void RpcServeProcedure(RpcTransport *transport, RpcCall *call, const RpcProcedure *procedure, void *request)
{
    alignas(RPC_PROCEDURE_ALIGN) uint8_t records[RPC_PROCEDURE_RECORDS_MAX];
    uint8_t *args = records;
    uint8_t *result = records + RpcResultOffset(procedure->argsSize);
    if (procedure->decode != nullptr && !procedure->decode(call, args)) {
        LogLine(2, "%s: %s\n", procedure->name, procedure->argsFault);
        ReplyAccepted(transport, call, GARBAGE_ARGS);
        return;
    }
    const bool remember = procedure->cache == RpcReplyCacheKind::REMEMBER;
    ReplyCacheTicket ticket;
    if (remember && ReplyCacheBegin(transport, call, &ticket) != ReplyCacheVerdict::RUN)
        return;
    if (procedure->handle != nullptr)
        procedure->handle(request, args, result);
    if (procedure->encode == nullptr)
        return;
    ReplySuccess(transport, call, procedure->encode, result);
    if (remember)
        ReplyCacheFinish(transport, &ticket);
}
