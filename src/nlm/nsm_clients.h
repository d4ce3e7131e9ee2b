// The status monitor's memory of clients: every client address that was
// granted a lock (or waits for one) is kept on disk in the data folder
// (NSM_CLIENTS_FILE), together with the monitor's state number, so that
// after a restart each of them can be told that the server's locks are gone
// and may be reclaimed.  The file is replaced in one step at every change
// (a crash leaves the old list or the new one) and holds at most
// NSM_MAX_CLIENTS addresses; clients beyond them are not monitored (the log
// says so once).
#pragma once

#include <cstdint>

#define NSM_CLIENTS_FILE "statmon"
#define NSM_MAX_CLIENTS 1024u

// Loads the file (none: state 0, no clients), moves the state number on to
// the next odd one and writes it back.  The clients found are to be
// notified.  Returns their number; from here on NsmMonitor keeps clients.
uint32_t NsmClientsLoad(void);
// Stops keeping clients (NsmMonitor does nothing) and empties the memory.
void NsmClientsStop(void);
// The monitor's state number (odd while it runs).
uint32_t NsmState(void);
// A client (IPv4 address, network order) was granted a lock or waits: kept,
// and the file written, when it is new.
void NsmMonitor(uint32_t address);
// Up to max of the clients still to be notified.
uint32_t NsmClientsToNotify(uint32_t *addresses, uint32_t max);
// A client was notified, or given up: it is forgotten unless it took a lock
// since the start.
void NsmNotified(uint32_t address);
