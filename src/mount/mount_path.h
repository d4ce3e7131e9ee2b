// A client's mount path, checked and brought into one form before the
// export table is asked, so that no component leads out of an export and
// every spelling of one folder names one mount record.
#pragma once

#include <cstdint>

// Rewrites path in place: backslashes become slashes, trailing slashes go
// (but a lone "/"), and each component loses its trailing dots and blanks, as
// Windows ignores them.  The leading "//" of the client form of a UNC or
// "\\?\" path stays.  Refuses (MNT3ERR_INVAL, the path left alone) a path
// with an empty component ("a//b"), a component of dots and blanks only
// ("." and ".." among them), or a ":" anywhere but in the drive of a
// "//?/c:" path (a Windows stream name).  Returns MNT3_OK.
uint32_t CanonicalMountPath(char *path);

// True for a component of dots and blanks only (an empty one included),
// which names no folder of its own on Windows.
bool IsDotsAndBlanks(const char *component, uint32_t length);
