// The lists of the MOUNT protocol's DUMP and EXPORT procedures, encoded in
// XDR: a mountlist (host name, directory) and an exportlist (directory,
// groups).
#pragma once

#include <cstdint>

// Encodes the mount records whose export the client may see into out and
// returns the byte count.  An element that would take the list (with its end
// word) past limit bytes is left out, and so is every later one.  Takes
// MountLock.
uint32_t EncodeMountList(uint32_t clientAddress, uint8_t *out, uint32_t limit);
// Encodes the exports the client may see, in table order: the directory (the
// visible name, else the client form of the path), then the client addresses
// and the options as groups.  An export that would take the list past limit
// bytes is left out, and so is every later one.
uint32_t EncodeExportList(uint32_t clientAddress, uint8_t *out, uint32_t limit);
