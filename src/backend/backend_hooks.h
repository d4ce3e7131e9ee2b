// What handles, attributes and lookup once took from here while parts of the
// backend were missing; every part is built now, and the header only keeps
// the includes its callers came for.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/special_file.h"  // special-file records, for callers that came here for them
#include "backend/unix_mode.h"
#include "exports/export_context.h"
#include "platform/win32.h"
