// A program version's procedures as one table of rows, and the one dispatch
// that serves a call by its row.  A row tells how the arguments decode, what
// the handler does with them, how the result encodes, whether a
// retransmission is answered from the duplicate request cache, and the name
// the log knows the procedure by; a handler is then only its operation:
//
//   void Getattr(NfsRequest *request, const Nfs3HandleArgs *args, Nfs3AttrResult *result);
//   RpcRow<Nfs3DecodeHandle, Getattr>("nfs3_getattr", Nfs3PutAttrResult)
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "rpc/rpc_message.h"

// Whether a procedure may run again for a retransmission of its call.
enum class RpcReplyCacheKind : uint8_t {
    RERUN,     // idempotent: every arrival runs
    REMEMBER,  // must not run twice: the reply is kept (rpc/reply_cache.h)
};

// The steps of a row without their types; RpcRow makes them from typed
// functions, each zeroing its record first (with its size known to the
// compiler).
typedef bool (*RpcArgsDecoder)(RpcCall *call, void *args);
typedef void (*RpcProcedureHandler)(void *request, void *args, void *result);

struct RpcProcedure {
    const char *name;             // in the log; null: the procedure is not offered
    const char *argsFault;        // logged as "<name>: <argsFault>" when the arguments do not decode
    RpcArgsDecoder decode;        // zeroes and decodes; null: the procedure takes no arguments
    RpcProcedureHandler handle;   // zeroes the result and works; null: nothing to do but answer
    XdrEncoder encode;            // the successful reply's result; null: the call gets no reply
    uint32_t argsSize;            // the argument record's bytes (the result lies behind them)
    RpcReplyCacheKind cache;
};

// The bytes a row's argument and result records may take together: they
// live on the dispatch's stack, the result behind the arguments at the next
// multiple of RPC_PROCEDURE_ALIGN, within two pages (a lock request carries
// a cookie, a name and an owner of up to 1 KiB each, and its result a
// cookie and a holder).
#define RPC_PROCEDURE_RECORDS_MAX 8192u
#define RPC_PROCEDURE_ALIGN 16u

constexpr uint32_t RpcResultOffset(uint32_t argsSize)
{
    return (argsSize + RPC_PROCEDURE_ALIGN - 1) & ~(RPC_PROCEDURE_ALIGN - 1);
}

// Serves the call by its row, for the service's request record: decodes the
// arguments into a zeroed record (when they do not decode: the log line at
// level 2 and GARBAGE_ARGS); for a REMEMBER row answers a retransmission
// from the duplicate request cache (or drops it while the first call runs);
// runs the handler with the arguments and a zeroed result; answers with the
// encoded result (which a handler may have placed in the transport's buffer
// already, such as READ data and directory entries), unless the row has no
// encoder.  What the handler leaves in the request record for after the
// reply is the caller's to do once this returns.
void RpcServeProcedure(RpcTransport *transport, RpcCall *call, const RpcProcedure *procedure, void *request);

namespace rpc_procedure_detail {

template <typename Handler>
struct HandlerOf;
template <typename Request, typename Args, typename Result>
struct HandlerOf<void (*)(Request *, Args *, Result *)> {
    using RequestType = Request;
    using ArgsType = std::remove_const_t<Args>;
    using ResultType = Result;
};

template <auto Decode, auto Handle>
struct Typed {
    using Types = HandlerOf<decltype(Handle)>;
    using Args = typename Types::ArgsType;
    using Result = typename Types::ResultType;
    static bool DecodeArgs(RpcCall *call, void *args)
    {
        memset(args, 0, sizeof(Args));
        return Decode(call, static_cast<Args *>(args));
    }
    static void Run(void *request, void *args, void *result)
    {
        memset(result, 0, sizeof(Result));
        Handle(static_cast<typename Types::RequestType *>(request), static_cast<Args *>(args),
               static_cast<Result *>(result));
    }
};

}  // namespace rpc_procedure_detail

// The row of a procedure whose decoder is `bool Decode(RpcCall *, Args *)`
// and whose handler is `void Handle(Request *, [const] Args *, Result *)`;
// tables of rows are built by the compiler.
template <auto Decode, auto Handle>
consteval RpcProcedure RpcRow(const char *name, XdrEncoder encode,
                               RpcReplyCacheKind cache = RpcReplyCacheKind::RERUN,
                               const char *argsFault = "cannot read args")
{
    using Row = rpc_procedure_detail::Typed<Decode, Handle>;
    static_assert(RpcResultOffset(sizeof(typename Row::Args)) + sizeof(typename Row::Result) <=
                      RPC_PROCEDURE_RECORDS_MAX,
                  "the records fit the dispatch");
    static_assert(alignof(typename Row::Args) <= RPC_PROCEDURE_ALIGN &&
                      alignof(typename Row::Result) <= RPC_PROCEDURE_ALIGN,
                  "the records are aligned");
    static_assert(std::is_trivially_copyable_v<typename Row::Args> &&
                      std::is_trivially_copyable_v<typename Row::Result>,
                  "plain records, zeroed as bytes");
    return {name, argsFault, Row::DecodeArgs, Row::Run, encode, sizeof(typename Row::Args), cache};
}

// The record of a procedure without arguments or without result, and the
// decoder of no arguments.
struct RpcNothing {};
inline bool RpcDecodeNothing(RpcCall *, RpcNothing *) { return true; }

// The row of the call's procedure in a table of count rows; null when the
// procedure is not offered.
inline const RpcProcedure *RpcProcedureOf(const RpcProcedure *table, uint32_t count, const RpcCall *call)
{
    return call->proc < count && table[call->proc].name != nullptr ? &table[call->proc] : nullptr;
}

// The row of a procedure without arguments or work, answered with an empty
// result (NULL).
consteval RpcProcedure RpcNullRow(const char *name)
{
    return {name, "", nullptr, nullptr, XdrPutNothing, 0, RpcReplyCacheKind::RERUN};
}

// The row of a procedure that is taken in and never answered, such as a
// reply that comes back as a call of its own.
consteval RpcProcedure RpcUnansweredRow(const char *name)
{
    return {name, "", nullptr, nullptr, nullptr, 0, RpcReplyCacheKind::RERUN};
}
