// The lock table bound to the backend's open-file cache: a lock request's
// file handle is resolved and checked like an NFS request's (the export must
// admit the caller, a lock needs a writable export), and the locks are held
// through the handle of the file's cache entry, whose lock count keeps it
// open.  The cache hands every entry it is about to close to NlmReleaseFile.
#pragma once

#include <cstdint>

#include "nlm/nlm_service.h"

// The binding over the open-file cache.
const NlmFileBinding *NlmOpenFileBinding(void);
// Sets it as the service's binding and makes the cache call NlmReleaseFile
// before it closes an entry with locks.  Before NlmStart.
void NlmBindOpenFileCache(void);
