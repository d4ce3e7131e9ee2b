// The transport's own threads (UDP workers and TCP connection threads) are
// listed so that a stop can make them end: blocked UDP workers are woken by
// empty datagrams sent to their socket, blocked connection threads by a
// shutdown of their connection.
#pragma once

#include "platform/win32.h"

// Wakes every listed thread and waits up to `milliseconds` for all of them to
// end.  The stop flag must be set before.
void StopServiceThreads(unsigned milliseconds);
// Sends an empty datagram to the address a UDP socket is bound to (127.0.0.1
// for INADDR_ANY), from the temporary socket `from`.
void SendWakeDatagram(SOCKET from, SOCKET to);
