// Helpers of the NFS tests on the wire: the server's NFS service on port
// 2049 and its mount service on port 1058 of 127.0.0.1 (or of another
// loopback address of the namespace, which is then the caller's address).
#pragma once

#include <string>

#include "wire.h"

// One NFS call to the address's port 2049 over UDP or TCP; the parsed reply
// (not valid when none came).
RpcReplyView NfsCall(const std::string &call, bool tcp = false, const char *address = "127.0.0.1");
// A call of program 100003 with an AUTH_UNIX credential (uid 1000).
std::string UnixCall(uint32_t vers, uint32_t proc, const std::string &args);
// MNT of path (version 1 or 3) to the address's port 1058: the handle's
// bytes, "" on failure.
std::string MountHandle(const std::string &path, uint32_t vers, const char *address = "127.0.0.1");
// Handles that outlive their mount records and the server:
//   --kept-handles save        mounts /data twice, unmounts it, checks that
//                              the handles still serve, prints them in hex
//   --kept-handles check HEX   checks the printed handles on a restarted
//                              server (over TCP and UDP)
// Returns the exit code (0 when every check held).
int RunKeptHandles(int argc, char **argv);
// fh3 (a counted opaque) of handle bytes, and a name as a string.
std::string Fh3Bytes(const std::string &handle);
std::string Name3(const std::string &name);

// The bounded storm against the NFS port: random, truncated and corrupted
// calls of both versions, many on a valid handle, over UDP and TCP;
// afterwards NULL and GETATTR must still be answered.  Returns the exit code.
int RunNfsStorm(int seconds, int count, unsigned seed);
