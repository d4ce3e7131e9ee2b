// Calls the lock manager makes to its clients: NLM_GRANTED for a waiting
// request that was granted, and the _RES calls that answer the _MSG
// procedures.  They go to the client's own lock manager, whose port the
// client's port mapper names (not to the port the request came from), over
// the request's protocol first and the other one when the client offers
// none there.  A delivery thread sends them, so that no request waits on a
// client; a call that finds no answer is tried again, NLM_DELIVERY_ATTEMPTS
// times in all with growing pauses, then dropped (the lock table then takes
// an unconfirmed grant back when its time is up).
#pragma once

#include <cstdint>

#include "nlm/nlm_protocol.h"
#include "nlm/nlm_table.h"
#include "rpc/rpc_message.h"
#include "rpc/xdr.h"

#define NLM_DELIVERY_ATTEMPTS 6u

struct NlmOutCall {
    NlmOutCall *next;    // in the delivery queue
    uint32_t client;     // IPv4 address, network order
    uint32_t version;
    uint32_t proc;
    uint32_t protocol;   // of the request: tried first
    uint32_t grantId;    // an NLM_GRANTED call's grant in the lock table; 0 for others
    uint32_t attempts;
    uint32_t due;        // GetTickCount of the next attempt
    uint32_t credFlavor;
    uint8_t cred[4 + RPC_MAX_AUTH_BYTES];  // length word (network order) and body
    uint32_t argsLength;
    uint8_t args[NLM_MAX_ENCODED];
};

// A call of `proc` to the client that sent `request` (its version,
// credential as received, protocol), with encoder(args) as its arguments.
// Null when no memory is left.  Free with NlmOutCallFree unless delivered.
NlmOutCall *NlmNewOutCall(const RpcCall *request, uint32_t client, uint32_t protocol, uint32_t proc,
                          XdrEncoder encoder, const void *args);

// Starts and stops the delivery thread (calls still queued at the stop are
// dropped).  The ports are the lock manager's own: a look-up on this
// computer that names one of them found our registration, not a client's.
bool NlmDeliveryStart(uint16_t ownUdpPort, uint16_t ownTcpPort);
void NlmDeliveryStop(void);
// Queues a call for delivery (taking it over); freed at once when the
// delivery thread does not run.
void NlmDeliver(NlmOutCall *call);
// Queues the NLM_GRANTED calls of granted waiters.
void NlmDeliverGrants(NlmGrantList *granted);
