// The table of registered RPC programs.  It is written only while services
// start and stop, but UDP workers of a service that already runs may walk it
// while a later service registers, and a service stops while its workers
// still serve.  So links are read and written atomically, writers are
// serialised, and an unlinked entry is retired instead of freed: a walker
// that still holds it keeps reading valid memory.
#include <atomic>
#include <cstdlib>

#include "platform/ranked_lock.h"
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
static RankedLock ProgramTableWriters(LOCK_RANK_PROGRAM_TABLE, "program table");

// The registrations the port mapper accepted, (prog, vers, protocol) each:
// only these are withdrawn again, so that a service whose start found no
// port mapper does not wait for one once more at its stop.
struct Announced {
    uint32_t prog, vers, protocol;
    Announced *next;
};
static Announced *AnnouncedList = nullptr;

static Announced **FindAnnounced(uint32_t prog, uint32_t vers, uint32_t protocol)
{
    Announced **link = &AnnouncedList;
    while (*link != nullptr &&
           ((*link)->prog != prog || (*link)->vers != vers || (*link)->protocol != protocol))
        link = &(*link)->next;
    return link;
}

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
        LockGuard guard(ProgramTableWriters);
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
    if (PortMapperSet(prog, vers, protocol, transport->port) == 0)
        return false;
    LockGuard guard(ProgramTableWriters);
    if (*FindAnnounced(prog, vers, protocol) == nullptr) {
        Announced *entry = (Announced *)malloc(sizeof(Announced));
        if (entry != nullptr) {
            *entry = {prog, vers, protocol, AnnouncedList};
            AnnouncedList = entry;
        }
    }
    return true;
}

void UnregisterProgram(uint32_t prog, uint32_t vers, uint32_t protocol)
{
    bool announced = false;
    {
        LockGuard guard(ProgramTableWriters);
        Announced **link = FindAnnounced(prog, vers, protocol);
        if (*link != nullptr) {
            Announced *entry = *link;
            *link = entry->next;
            free(entry);
            announced = true;
        }
    }
    if (announced)
        PortMapperUnset(prog, vers, protocol);

    LockGuard guard(ProgramTableWriters);
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
