// The places where handles, attributes and lookup meet parts of the backend
// that are not built yet: special-file records.
// Each is one small function, so that the part that is missing is plain to
// see and is wired in at one place when it arrives.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/unix_mode.h"
#include "exports/export_context.h"
#include "platform/win32.h"

// The special-file record of a file with the system attribute.
SpecialRecord SpecialRecordOf(const char *path);
// Stores the permission bits (mode & 07777) in the special-file record of the
// file at path.  False with the Windows error set when it cannot be done.
bool WriteSpecialRecordMode(const char *path, uint32_t mode);
