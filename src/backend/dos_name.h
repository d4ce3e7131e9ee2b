// Names that a Windows volume cannot hold as files.
#pragma once

#include <cstdint>

// Checks one name (a single path component, already in the volume's form)
// for the volume.  Returns an NFS status:
//  13 for a DOS device name: a base (the part before the first '.', trailing
//     blanks ignored) of "aux", "con", "nul", "prn", or "com" or "lpt"
//     followed by one digit 1 to 9, in any case; also for a name made only of
//     dots (the empty name included), which would name the folder or its
//     parent;
//   0 when the volume takes long names (maximum component length of 13 or
//     more) and the name is no longer than that maximum (in UTF-16 units
//     when the wide functions are in use, else in bytes);
// otherwise the name must be a short 8.3 name: a blank gives 2, a base longer
// than 8 or an extension (the part after the first '.') longer than 3 gives
// 63.
uint32_t CheckDosName(const char *name, uint32_t maxNameLength);

// True when the base of name is a DOS device name (see above).
bool IsDosDeviceName(const char *name);
