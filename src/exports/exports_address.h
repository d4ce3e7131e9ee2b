// Text form of client addresses: IPv4, held in network byte order.
#pragma once

#include <cstdint>

// "%u.%u.%u.%u" into buffer (at least 16 bytes); returns buffer.
char *FormatAddress(uint32_t address, char *buffer);
// 1 when text is exactly four numbers of at most 255 joined by dots (the
// first is the first byte on the wire); else 0 with address 0.
int ParseAddress(const char *text, uint32_t *address);

// Resolves a client word of the exports file: a dotted address, or a host
// name (first address of gethostbyname) when the word is no address or is
// 0.0.0.0 or 255.255.255.255.  Returns 1 with the address, or 0.
int ResolveClient(const char *word, uint32_t *address);

// The host-name look-up behind ResolveClient.  A table of one function so
// that tests and the fuzz driver can answer without asking the network.
typedef int (*HostNameResolver)(const char *name, uint32_t *address);
// Installs a resolver (null: gethostbyname); returns the one in force before.
HostNameResolver SetHostNameResolver(HostNameResolver resolver);
// The gethostbyname look-up itself.
int ResolveHostName(const char *name, uint32_t *address);
