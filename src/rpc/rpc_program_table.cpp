// The table of registered RPC programs.  It is written only while services
// start and stop, but UDP workers of a service that already runs may walk it
// while a later service registers, and a service stops while its workers
// still serve.  So links are read and written atomically, writers are
// serialised, and an unlinked entry is retired instead of freed: a walker
// that still holds it keeps reading valid memory.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "rpc/port_mapper.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"

static std::atomic<RpcProgram *> ProgramTable{nullptr};
// Unlinked entries, kept reachable and never freed (a handful per process).
struct RetiredProgram {
    RpcProgram *entry;
    RetiredProgram *next;
};
static RetiredProgram *RetiredPrograms = nullptr;
static std::mutex ProgramTableWriters;

static RpcProgram *LoadNext(RpcProgram *p)
{
    return std::atomic_ref<RpcProgram *>(p->next).load(std::memory_order_acquire);
}

RpcProgram *ProgramTableHead(void)
{
    return ProgramTable.load(std::memory_order_acquire);
}

RpcProgram *ProgramTableNext(RpcProgram *entry)
{
    return LoadNext(entry);
}

static RpcProgram *FindProgram(uint32_t prog, uint32_t vers)
{
    for (RpcProgram *p = ProgramTableHead(); p != nullptr; p = LoadNext(p)) {
        if (p->prog == prog && p->vers == vers) {
            return p;
        }
    }
    return nullptr;
}

bool RegisterProgram(RpcTransport *transport, uint32_t prog, uint32_t vers, RpcDispatchFunction dispatch,
                     uint32_t protocol)
{
    {
        std::lock_guard<std::mutex> guard(ProgramTableWriters);
        RpcProgram *entry = FindProgram(prog, vers);
        if (entry == nullptr) {
            entry = (RpcProgram *)calloc(1, sizeof(RpcProgram));
            if (entry == nullptr) {
                return false;
            }
            entry->prog = prog;
            entry->vers = vers;
            entry->dispatch = dispatch;
            entry->next = ProgramTable.load(std::memory_order_relaxed);
            ProgramTable.store(entry, std::memory_order_release);
        } else if (entry->dispatch != dispatch) {
            return false;
        }
    }
    return PortMapperSet(prog, vers, protocol, transport->port) != 0;
}

void UnregisterProgram(uint32_t prog, uint32_t vers, uint32_t protocol)
{
    PortMapperUnset(prog, vers, protocol);

    std::lock_guard<std::mutex> guard(ProgramTableWriters);
    RpcProgram *prev = nullptr;
    for (RpcProgram *p = ProgramTableHead(); p != nullptr; prev = p, p = LoadNext(p)) {
        if (p->prog != prog || p->vers != vers) {
            continue;
        }
        RpcProgram *after = LoadNext(p);
        if (prev == nullptr) {
            ProgramTable.store(after, std::memory_order_release);
        } else {
            std::atomic_ref<RpcProgram *>(prev->next).store(after, std::memory_order_release);
        }
        // p->next stays as it is, so a walker standing on p goes on; the
        // retired chain has its own link.
        RetiredProgram *r = (RetiredProgram *)malloc(sizeof(RetiredProgram));
        if (r != nullptr) {
            r->entry = p;
            r->next = RetiredPrograms;
            RetiredPrograms = r;
        }
        return;
    }
}
