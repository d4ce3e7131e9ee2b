// The UDP and TCP transport: service sockets, transport handles with their
// message buffers, the server loop over all service sockets, the NFS UDP
// worker threads, one thread per accepted TCP connection, RPC record marking,
// keep-awake, and the socket side of the server's own outgoing calls.
//
// Addresses passed to the Open* functions are IPv4 addresses in network order
// (0 = INADDR_ANY); ports are in host order.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "rpc/rpc_message.h"

struct RankedLock;

#define RPC_PROTO_UDP 17u
#define RPC_PROTO_TCP 6u
// Largest number of sockets the server loop selects on.
#define SERVER_LOOP_MAX_SOCKETS 64

// The transport handle.  NewTransport makes one allocation holding the handle,
// the 4-byte record-mark slot and `capacity` buffer bytes, in this order.  A
// handle whose `limit` lies above that capacity (a TCP connection of large
// transfers) may grow its buffer, in an allocation of its own with its own
// mark slot, for a record or a reply that needs more, and returns to the
// first buffer when the connection is idle.
struct RpcTransport {
    RpcTransport *next;     // link in the server loop's handle list
    SOCKET socket;          // or INVALID_SOCKET
    uint16_t port;          // local port of the service, host order
    uint16_t protocol;      // 17 UDP, 6 TCP
    int peer_length;        // size of peer; set to 16 before every receive
    sockaddr_in peer;       // the other side: AF_INET, port and address in network order
    uint32_t xid;           // transaction id of the message in the buffer, host order
    int32_t length;         // bytes of the message in the buffer
    uint32_t capacity;      // size of the buffer now
    uint32_t limit;         // the largest buffer (and TCP record) allowed; at most capacity: never grows
    uint32_t base;          // size of the buffer in the handle's own allocation
    uint8_t *record_mark;   // the 4 bytes directly before buffer
    uint8_t *buffer;        // the message buffer
    RankedLock *send_lock;  // TCP: the connection's, held around each whole reply (null: none)
    uint32_t send_us;       // with send_lock: microseconds the last reply took to leave, its wait included
    struct ReplyBatch *batch;  // TCP: where replies wait to leave together (null: each leaves at once)
    bool reply_held;           // the last reply sent waits in batch
};

// Replies that a connection's thread holds back while it serves the calls
// already at hand, to send them in one write: on a busy connection each
// send costs about as much as a short call itself.  At most
// REPLY_BATCH_REPLIES wait, so that the first does not wait long.
#define REPLY_BATCH_SIZE 16384u
#define REPLY_BATCH_REPLIES 16u
struct ReplyBatch {
    uint32_t used;     // bytes of whole records (marks included) in data
    uint32_t replies;  // records in data
    // What the held replies wait for (ReplyAfter); null: nothing.
    bool (*settle)(void *state);
    void *settleState;
    uint32_t settling;  // calls that left work to the batch, ever (ReplyAfter)
    // The reply cache's entries of held replies (ReplyCacheSettle).
    uint32_t remembered;
    uint32_t rememberedEntry[REPLY_BATCH_REPLIES];
    uint32_t rememberedGeneration[REPLY_BATCH_REPLIES];
    uint8_t data[REPLY_BATCH_SIZE];
};

// The batch that the replies of calls this thread serves on `transport`
// wait in from now on (null: none, each reply leaves at once); with
// mayWait, their calls may leave work to it (ReplyAfter).
void TransportHoldReplies(RpcTransport *transport, ReplyBatch *batch, bool mayWait);
// Lets the reply of the call this thread serves wait for work it needs done
// before it leaves (the flush that makes the call's change durable), so that
// the calls served together share that work: when the reply will wait in a
// batch, returns the slot of settle's state there (null until the first
// call of the batch fills it), and settle(state) runs once on this thread
// before any of the batch's replies leave.  When settle
// fails, none of them leaves, the reply cache forgets them and the
// connection is closed (its client calls again).  Null (no batch, or
// another settle waits): the caller does the work itself.
void **ReplyAfter(bool (*settle)(void *state));

// --- Handles and sockets -----------------------------------------------------

// One allocation for handle, record-mark slot and buffer.  Logs
// "nfsd: out of memory\n" and returns null on failure.
RpcTransport *NewTransport(SOCKET socket, uint16_t protocol, uint16_t port, uint32_t capacity);
// Frees the handle and its buffer; does not close the socket.
void FreeTransport(RpcTransport *transport);
// Makes the buffer hold at least `size` bytes when the handle's limit allows:
// a larger buffer takes over the first `keep` bytes, and call->args (call may
// be null) moves with them.  False, with nothing changed, when size is above
// the limit or no memory is left.
bool TransportReserve(RpcTransport *transport, uint32_t size, uint32_t keep, RpcCall *call);
// Gives a grown buffer back: the handle returns to its own buffer (the
// message in the buffer is lost).
void TransportShrink(RpcTransport *transport);

// Stream socket, bind, listen (backlog SOMAXCONN, so that a burst of
// connections is not refused before they are accepted).  INVALID_SOCKET on
// failure.
SOCKET OpenTcpListener(uint32_t address, uint16_t port);
// Datagram socket, bind, SO_BROADCAST 1.  INVALID_SOCKET on failure.
SOCKET OpenUdpSocket(uint32_t address, uint16_t port);
// The same on an overlapped socket (the NFS UDP socket shared by workers).
SOCKET OpenOverlappedUdpSocket(uint32_t address, uint16_t port);
// A service's transport: its UDP socket or TCP listener on port (a port
// still held by a process that just ended is often free a moment later, so
// one more try follows after a second), then a handle of `capacity` on
// it in the server loop; a *port of 0 becomes the port the system chose.
// Returns 0 with *transport set, or logs (level 2) "<service>: cannot bind
// udp socket\n" and returns 1, or "<service>: cannot create udp handle\n"
// and returns 2 ("tcp" for protocol 6).
int OpenServiceTransport(const char *service, uint32_t protocol, uint16_t *port, uint32_t capacity,
                         RpcTransport **transport);
// Closes a valid socket; always returns INVALID_SOCKET for the caller to store.
SOCKET CloseSocket(SOCKET socket);
// The local port a socket is bound to (host order), 0 on failure.  Lets a
// service bound to port 0 learn its ephemeral port.
uint16_t SocketLocalPort(SOCKET socket);

// Raises the socket's SO_RCVBUF or SO_SNDBUF towards `desired`, halving after
// each refused attempt; each refusal is logged (level 2) with `failure_format`,
// a printf format taking the attempted size as %u (null: not logged).  Returns
// the value `desired` ended with.
uint32_t RaiseSocketBuffer(SOCKET socket, int option, uint32_t desired, const char *failure_format);

// --- Moving messages ------------------------------------------------------------

// Sends `length` bytes of `buffer` to the peer.  UDP: sendto, repeated at most
// twice after a failure.  TCP: record marking in fragments of capacity - 4
// bytes; with a batch, a reply that fits in it as one fragment is added to
// it instead (and counts as sent), and one that does not sends the batch
// first.  Returns the byte count of the last send, 0 when a TCP fragment
// before the last could not be sent, or SOCKET_ERROR.
int TransportSend(RpcTransport *transport);
// Settles what the batch's replies wait for (ReplyAfter), then sends them
// (under send_lock when given) and empties the batch; false when the socket
// refused them or the settle failed (then the socket is shut down).
bool SendReplyBatch(SOCKET socket, RankedLock *send_lock, ReplyBatch *batch);
// recvfrom of up to `capacity` bytes; sender into `peer`; length = result.
// True when a datagram of at least one byte came.
bool ReceiveDatagram(RpcTransport *transport);
// Reads one TCP record into `buffer`; true with `length` set.  With a read set
// and timeout (client side only) the wait between fragments is bounded.
bool ReceiveRecord(RpcTransport *transport, fd_set *read_set, const timeval *timeout);
// Bytes a connection has received but not yet used: one receive takes what
// the peer has sent, often a whole call and the calls behind it, so a call
// costs no wait and no receive of its own for its mark and its body.
#define READ_AHEAD_SIZE 16384u
#define SHRINK_AFTER_MS 1000u
struct ReadAhead {
    uint32_t start, end;  // the unused bytes are data[start..end)
    uint8_t data[READ_AHEAD_SIZE];
};

// The server side of a connection: reads one record, waiting at most
// idle_ms for its first byte and record_ms from there for the whole record
// (0: no limit); on_first_byte(context), when given, runs when the first
// byte came.  A grown buffer is given back when no byte came within
// SHRINK_AFTER_MS.  With ahead (zeroed before the first record, kept between
// them), reads go through it.  False when a limit passed, the record failed
// or the peer left.
bool ReceiveRecordTimed(RpcTransport *transport, uint32_t idle_ms, uint32_t record_ms,
                        void (*on_first_byte)(void *context), void *context, ReadAhead *ahead = nullptr);

// --- Server side ------------------------------------------------------------

// Adds the handle's socket to the server loop's read set unless it is in it
// or the set is full (64), and lists the handle (always).
void AddToServerLoop(RpcTransport *transport);
// Starts `count` worker threads on the shared UDP socket of `transport`: the
// first runs on the handle itself, the others on new handles of the same
// socket, port and capacity.  False (and nothing started) when count < 2 or
// the first thread cannot start; then put the handle into the server loop.
// The workers own their handles and the socket from then on: they free them
// when they end after StopTransports.
bool StartUdpWorkers(int count, RpcTransport *transport);
// The server loop; runs on the server thread until the transports are stopped
// or a fatal select error.
void ServerLoop(void);
// Sets the stop flag, lets the server loop leave, closes and frees every
// listed handle, and makes UDP workers and connection threads end (their
// sockets are shut down); waits a bounded time for all of them.
void StopTransports(void);
// At the start of every service start: clears the stop flag and empties the
// read set and the handle list.
void ResetTransports(void);

// What is called for a decoded call on a connection or worker: null means
// DispatchCall (and the idle counter is reset).  The port mapper passes its
// own.
typedef void (*RpcServeFunction)(RpcTransport *transport, RpcCall *call);
// Accepts a connection on a listener handle and makes its handle (protocol 6,
// the listener's port, capacity and limit, the accepted peer).  Null when accept
// fails or no handle can be made ("nfsd: tcp create error\n"; the socket is
// closed).
RpcTransport *AcceptConnection(RpcTransport *listener);
// Starts the thread of one TCP connection: records are read and decoded
// until a record fails or a call is refused.  With `serve`, or without
// TcpParallel, the thread serves each call itself, one after another.
// Otherwise a call of a kind that of late waited for the disk (or, with
// TcpParallel 2, took long) goes to an idle worker
// of the pool (rpc/transport_pool.h), at most PoolCallsPerConnection at
// once, each on a handle of its own whose buffer grows for it and is given
// back after a second without calls; the replies go out whole under the
// connection's send lock, in the order the calls end (those of the calls the
// thread serves itself may leave together, in a ReplyBatch).  The connection is
// counted by its thread and its calls: the last of them closes the socket
// and frees the handles.  On failure to start, logs
// "nfsd: tcp thread create error\n", closes the socket, frees the handle and
// returns false.
bool StartConnectionThread(RpcTransport *connection, RpcServeFunction serve);

// --- Server loop state (process-wide) ------------------------------------------

void TransportNoteRequest(void);
// A server-loop wait that ended without input.
void TransportNoteIdleWait(void);
// The keep-awake step at the top of every server-loop pass: switches the
// execution state to ES_CONTINUOUS | ES_SYSTEM_REQUIRED while the idle counter
// is below RPCIDLE and to ES_CONTINUOUS once it reached it, each only once.
void KeepAwakeStep(void);
// The execution-state call KeepAwakeStep uses (SetThreadExecutionState; tests
// replace it).
extern EXECUTION_STATE(WINAPI *TransportSetExecutionState)(EXECUTION_STATE flags);
// Whether the stop flag is set.
bool TransportsStopped(void);
// Threads of the transport still running (UDP workers and connections).
int TransportThreadCount(void);
// TCP connections served (of every service, the port mapper's included);
// at most TcpConnectionsMax, and TcpConnectionsPerAddress of one address: a
// new connection beyond them closes the one that has waited longest for a
// call, or is refused when all are busy.  Each waits at most TcpIdleTime
// seconds for a call, whose record must then arrive within TcpRecordTime.
int TransportConnectionCount(void);

// --- Client side ------------------------------------------------------------

// Opens a fresh socket for an outgoing call to 127.0.0.1:port (UDP: any local
// port; TCP: connected).  False on failure.
bool ClientOpen(RpcTransport *transport, uint16_t protocol, uint16_t port);
// After TransportSend: waits up to RPCTIMEOUT seconds for the reply, closes the
// socket, and returns ClientCheckReply's result, or 0 when nothing came.
int ClientAwaitReply(RpcTransport *transport);
// The whole round trip of a call already built in transport->buffer
// (ClientBuildCall): ClientOpen, TransportSend, ClientAwaitReply.  The socket is
// closed again in every case; ClientAwaitReply's result, or 0 when the socket
// could not be opened or the call not sent.
int ClientCall(RpcTransport *transport, uint16_t protocol, uint16_t port);
