// What the system's own name service knows, asked without the code under
// test: tests of host-name look-ups skip where the system cannot answer
// (a minimal install without /etc/hosts, for one).
#pragma once

// True when the system resolves name to an IPv4 address.  On Windows and
// under Wine WSAStartup must have been called.
bool SystemResolvesName(const char *name);
