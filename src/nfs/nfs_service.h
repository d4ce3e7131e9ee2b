// The NFS service: its UDP and TCP sockets, the UDP worker threads and the
// registrations of program 100003, versions 2 and 3.
#pragma once

#include <cstdint>

// Results of NfsStart, each after its log line (level 2).
enum NfsStartResult : int {
    NFS_START_OK = 0,
    NFS_START_UDP_SOCKET = 1,    // "nfsd: cannot create nfs socket\n"
    NFS_START_UDP_HANDLE = 2,    // "nfsd: cannot create udp handle\n"
    NFS_START_UDP_VERSION2 = 3,  // "nfsd: cannot register nfs2\n"
    NFS_START_UDP_VERSION3 = 4,  // "nfsd: cannot register nfs3\n"
    NFS_START_TCP_SOCKET = 6,    // "nfsd: cannot create nfs socket\n"
    NFS_START_TCP_HANDLE = 7,    // "nfsd: cannot create tcp handle\n"
    NFS_START_TCP_VERSION2 = 8,  // "nfsd: cannot register handle\n"
    NFS_START_TCP_VERSION3 = 9,  // "nfsd: cannot register handle\n"
};

// The port the NFS service was started on (0 until it has started); shown
// by the window and the headless server.
extern volatile uint16_t NfsPort;

// Starts the service on port (0: an ephemeral port, the same for UDP and
// TCP), with the settings UDP, TCP, Version2, Version3, Threads, Datasize,
// TcpTransferSize,
// SO_Rcvbuf and SO_Tcpbuf.  What was created stays in place when a later
// step fails.  Returns an NfsStartResult.
int NfsStart(uint16_t port);
// Withdraws the registrations of versions 2 and 3 for UDP and TCP.
void NfsStop(void);

// The capacity of the NFS transport buffers: Datasize + 512, kept within
// what a 32-bit size can hold.
uint32_t NfsBufferCapacity(void);
// The largest buffer of a TCP connection: TcpTransferSize + 512, at least
// NfsBufferCapacity.  A connection starts with NfsBufferCapacity and grows
// only for a call or reply that needs more.
uint32_t NfsTcpBufferLimit(void);

// The write verifier of WRITE and COMMIT: made from the time of the first
// start of the service in this process, so it stays the same while the
// process runs and differs after a restart (clients then send again what
// an unstable write may have lost).
const uint8_t *NfsWriteVerifier(void);
