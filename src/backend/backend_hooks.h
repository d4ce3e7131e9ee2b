// The places where handles, attributes and lookup meet parts of the backend
// that are not built yet: the directory-search slots.
// Each is one small function, so that the part that is missing is plain to
// see and is wired in at one place when it arrives.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/special_file.h"  // special-file records, for callers that came here for them
#include "backend/unix_mode.h"
#include "exports/export_context.h"
#include "platform/win32.h"

// Prepares the 64 directory-search slots (none open).
void InitDirectorySearchSlots();

