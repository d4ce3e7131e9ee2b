// The port mapper's mapping table and the test for local callers.
//
// The table is read and changed by the port mapper thread (UDP) and by one
// thread per TCP connection, so every operation holds the table's own lock;
// nothing that can block (a send, a name look-up) happens under it.
#include <cstdlib>
#include <cstring>

#include "platform/ranked_lock.h"
#include "platform/win32.h"
#include "rpc/port_mapper_internal.h"

uint16_t PmapPort = PMAP_PORT;

namespace {

PmapMapping *TableHead = nullptr;

RankedLock TableLock(LOCK_RANK_PORT_MAPPER, "port mapper table");

PmapMapping *NewMapping(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port)
{
    PmapMapping *m = (PmapMapping *)malloc(sizeof(PmapMapping));
    if (m == nullptr)
        return nullptr;
    m->prog = prog;
    m->vers = vers;
    m->prot = prot;
    m->port = port;
    m->next = nullptr;
    return m;
}

PmapMapping *FindExact(uint32_t prog, uint32_t vers, uint32_t prot)
{
    for (PmapMapping *m = TableHead; m != nullptr; m = m->next) {
        if (m->prog == prog && m->vers == vers && m->prot == prot)
            return m;
    }
    return nullptr;
}

bool AddAtHead(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port)
{
    if (FindExact(prog, vers, prot) != nullptr)
        return true;
    PmapMapping *m = NewMapping(prog, vers, prot, port);
    if (m == nullptr)
        return false;
    m->next = TableHead;
    TableHead = m;
    return true;
}

} // namespace

void PmapLockTable(void) { LockTake(&TableLock); }
void PmapUnlockTable(void) { LockGive(&TableLock); }

PmapMapping *FindMapping(uint32_t prog, uint32_t vers, uint32_t prot)
{
    PmapMapping *other = nullptr;
    for (PmapMapping *m = TableHead; m != nullptr; m = m->next) {
        if (m->prog != prog || m->prot != prot)
            continue;
        if (m->vers == vers)
            return m;
        // Another version of the program: the last one in the list serves
        // when the asked version is not registered.
        other = m;
    }
    return other;
}

bool PmapTableAddOwn(uint32_t port)
{
    PmapLockTable();
    // UDP first, then TCP, each at the head: TCP ends up first.
    bool ok = AddAtHead(PMAP_PROG, PMAP_VERS, 17, port) && AddAtHead(PMAP_PROG, PMAP_VERS, 6, port);
    PmapUnlockTable();
    return ok;
}

uint32_t PmapTableSet(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port)
{
    uint32_t result = 0;
    PmapLockTable();
    PmapMapping *m = FindExact(prog, vers, prot);
    if (m != nullptr) {
        result = m->port == port;
    } else {
        PmapMapping *added = NewMapping(prog, vers, prot, port);
        if (added != nullptr) {
            PmapMapping **tail = &TableHead;
            while (*tail != nullptr)
                tail = &(*tail)->next;
            *tail = added;
            result = 1;
        }
    }
    PmapUnlockTable();
    return result;
}

uint32_t PmapTableUnset(uint32_t prog, uint32_t vers)
{
    uint32_t result = 0;
    PmapLockTable();
    for (PmapMapping **link = &TableHead; *link != nullptr; link = &(*link)->next) {
        PmapMapping *m = *link;
        if (m->prog != prog || m->vers != vers)
            continue;
        // The port mapper's own entries and privileged ports stay.
        if (prog != PMAP_PROG && m->port > 1024) {
            *link = m->next;
            free(m);
            result = 1;
        }
        break;
    }
    PmapUnlockTable();
    return result;
}

uint32_t PmapTableGetPort(uint32_t prog, uint32_t vers, uint32_t prot)
{
    PmapLockTable();
    PmapMapping *m = FindMapping(prog, vers, prot);
    uint32_t port = m != nullptr ? m->port : 0;
    PmapUnlockTable();
    return port;
}

uint32_t PmapTableSnapshot(PmapMapping *out, uint32_t max)
{
    uint32_t count = 0;
    PmapLockTable();
    for (PmapMapping *m = TableHead; m != nullptr && count < max; m = m->next) {
        out[count] = *m;
        out[count].next = nullptr;
        count++;
    }
    PmapUnlockTable();
    return count;
}

void PmapResetTable(void)
{
    PmapLockTable();
    while (TableHead != nullptr) {
        PmapMapping *m = TableHead;
        TableHead = m->next;
        free(m);
    }
    PmapUnlockTable();
}

bool IsLocalAddress(uint32_t address)
{
    if (address == htonl(INADDR_LOOPBACK))
        return true;
    char name[256];
    if (gethostname(name, (int)sizeof(name)) != 0)
        return false;
    name[sizeof(name) - 1] = '\0';
    hostent *h = gethostbyname(name);
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4)
        return false;
    for (char **a = h->h_addr_list; *a != nullptr; a++) {
        uint32_t candidate;
        memcpy(&candidate, *a, 4);
        if (candidate == address)
            return true;
    }
    return false;
}
