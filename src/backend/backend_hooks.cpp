#include "backend/backend_hooks.h"

SpecialRecord SpecialRecordOf(const char *)
{
    // Special files (devices, fifos, sockets) are not supported yet, so no
    // file is taken to hold a record: a system file is read by its
    // attributes alone.
    SpecialRecord none = {SPECIAL_NO_RECORD, 0, 0, 0};
    return none;
}

bool WriteSpecialRecordMode(const char *, uint32_t)
{
    // Special files are not supported yet: there is no record to write to.
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}
