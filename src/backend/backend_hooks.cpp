#include "backend/backend_hooks.h"

void InitDirectorySearchSlots()
{
    // Directory reading is not built yet: it has no search slots.
}
