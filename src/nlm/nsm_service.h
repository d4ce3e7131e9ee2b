// statd: the status monitor, program 100024 version 1 over UDP and TCP,
// beside the lock manager (started after it, stopped before it).
//
// Its work is the lock manager's: the lock manager monitors each client it
// grants a lock to (nsm_clients.h keeps them on disk).  At its start the
// monitor moves its state number on, runs the lock manager's grace period
// (NlmBeginGrace) when clients are to be told, and tells each of them
// (SM_NOTIFY to the client's own status monitor, found through the client's
// port mapper over UDP), trying again with growing pauses, each client for
// at most NSM_NOTIFY_TIME_MS.  An SM_NOTIFY from a client that restarted
// releases every lock and waiting request of that client (its name as the
// lock requests gave it, from the address the notice came from).  SM_MON
// from other programs is refused (stat_fail): the monitor serves the lock
// manager of this process only.
#pragma once

#include <cstdint>

struct RpcTransport;
struct RpcCall;

#define SM_PROG 100024u
#define SM_VERS 1u
enum NsmProc : uint32_t {
    SM_NULL = 0,
    SM_STAT = 1,
    SM_MON = 2,
    SM_UNMON = 3,
    SM_UNMON_ALL = 4,
    SM_SIMU_CRASH = 5,
    SM_NOTIFY = 6,
};
#define SM_MAXSTRLEN 1024u
// How long one client is told of a restart at most, and the first pause
// between tries (doubling up to NSM_RETRY_MAX_MS).
#define NSM_NOTIFY_TIME_MS 120000u
#define NSM_RETRY_FIRST_MS 500u
#define NSM_RETRY_MAX_MS 16000u

// Results of NsmStart, each after its log line.
enum NsmStartResult : int {
    NSM_START_OK = 0,
    NSM_START_UDP = 1,
    NSM_START_TCP = 2,
    NSM_START_NOTIFIER = 3,
};

// Starts the monitor when the lock manager runs and the StatusMonitor
// setting is on (on an ephemeral port): loads the clients, starts the
// grace period, the sockets and the notifier.  Returns an NsmStartResult.
int NsmStart(void);
// Withdraws the registrations, stops the notifier, forgets the clients.
void NsmStop(void);

void NsmDispatch(RpcTransport *transport, RpcCall *call);

// The notifier (nsm_notify.cpp): tells the clients NsmClientsToNotify names,
// on a thread of its own; ownUdpPort is the monitor's own (a look-up on this
// computer that names it found our registration, not a client's).
bool NsmNotifierStart(uint16_t ownUdpPort);
void NsmNotifierStop(void);
