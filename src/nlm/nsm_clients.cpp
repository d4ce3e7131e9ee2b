// The status monitor's list of clients and its file: "state N" on the first
// line, then one dotted IPv4 address a line.
#include "nlm/nsm_clients.h"

#include <cstdio>
#include <cstring>

#include "exports/exports_file_io.h"
#include "log/log.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"

namespace {

struct Client {
    uint32_t address;
    bool toNotify;  // known before this start, not told yet
    bool locked;    // took a lock since this start
};

RankedLock ListLock(LOCK_RANK_NSM_CLIENTS, "status monitor clients");
bool Active = false;
bool FullLogged = false;
uint32_t State = 0;
uint32_t Count = 0;
Client Clients[NSM_MAX_CLIENTS];

struct Guard : LockGuard {
    Guard() : LockGuard(ListLock) {}
};

int WriteList(FILE *out, void *)
{
    char line[32];
    int n = snprintf(line, sizeof line, "state %u\n", State);
    if (!WriteTextLine(out, line, static_cast<size_t>(n)))
        return 0;
    for (uint32_t i = 0; i < Count; i++) {
        const uint8_t *a = reinterpret_cast<const uint8_t *>(&Clients[i].address);
        n = snprintf(line, sizeof line, "%u.%u.%u.%u\n", a[0], a[1], a[2], a[3]);
        if (!WriteTextLine(out, line, static_cast<size_t>(n)))
            return 0;
    }
    return 1;
}

// Under the list lock.
void Save()
{
    char path[1100];
    if (DataFilePath(NSM_CLIENTS_FILE, path, sizeof path) == 0 || ReplaceDataFile(path, nullptr, "w", WriteList, nullptr) == 0)
        LogEvent(1, "statd: cannot write %s\n", NSM_CLIENTS_FILE);
}

bool ParseAddress(const char *text, uint32_t *address)
{
    unsigned a, b, c, d;
    char end;
    if (sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) < 4 || a > 255 || b > 255 || c > 255 || d > 255)
        return false;
    uint8_t bytes[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c),
                        static_cast<uint8_t>(d)};
    memcpy(address, bytes, 4);
    return true;
}

Client *Find(uint32_t address)
{
    for (uint32_t i = 0; i < Count; i++)
        if (Clients[i].address == address)
            return &Clients[i];
    return nullptr;
}

}  // namespace

uint32_t NsmClientsLoad(void)
{
    Guard guard;
    Count = 0;
    State = 0;
    FullLogged = false;
    char path[1100];
    FILE *in = DataFilePath(NSM_CLIENTS_FILE, path, sizeof path) != 0 ? OpenDataFile(path, "r") : nullptr;
    if (in != nullptr) {
        char line[64];
        unsigned state = 0;
        if (fgets(line, sizeof line, in) != nullptr && sscanf(line, "state %u", &state) == 1)
            State = state;
        uint32_t address;
        while (fgets(line, sizeof line, in) != nullptr && Count < NSM_MAX_CLIENTS)
            if (ParseAddress(line, &address) && Find(address) == nullptr)
                Clients[Count++] = Client{address, true, false};
        fclose(in);
    }
    State += (State % 2 == 0) ? 1 : 2;
    Active = true;
    Save();
    return Count;
}

void NsmClientsStop(void)
{
    Guard guard;
    Active = false;
    Count = 0;
}

uint32_t NsmState(void)
{
    Guard guard;
    return State;
}

void NsmMonitor(uint32_t address)
{
    Guard guard;
    if (!Active)
        return;
    Client *client = Find(address);
    if (client != nullptr) {
        client->locked = true;
        return;
    }
    if (Count == NSM_MAX_CLIENTS) {
        if (!FullLogged)
            LogEvent(1, "statd: %u clients monitored already; further clients are not told of restarts\n",
                     NSM_MAX_CLIENTS);
        FullLogged = true;
        return;
    }
    Clients[Count++] = Client{address, false, true};
    Save();
}

uint32_t NsmClientsToNotify(uint32_t *addresses, uint32_t max)
{
    Guard guard;
    uint32_t n = 0;
    for (uint32_t i = 0; i < Count && n < max; i++)
        if (Clients[i].toNotify)
            addresses[n++] = Clients[i].address;
    return n;
}

void NsmNotified(uint32_t address)
{
    Guard guard;
    Client *client = Find(address);
    if (client == nullptr || !client->toNotify)
        return;
    client->toNotify = false;
    if (client->locked)
        return;
    *client = Clients[--Count];
    Save();
}
