// One look at a name in an open folder, without opening what it names: the
// facts a handle on it would give.  Listings take their entries' attributes
// this way, and LOOKUP a name found in the folder it judged.
#pragma once

#include "platform/win32.h"

// What a look at a name told.
struct EntryLook {
    BY_HANDLE_FILE_INFORMATION info;
    FILETIME changeTime;
    bool known;        // info holds it
    bool changeKnown;  // changeTime holds it
};

enum LookOutcome { LOOK_TOLD, LOOK_GONE, LOOK_UNTOLD };

// The name (one component) in folder, or by path where folder is
// INVALID_HANDLE_VALUE; path names the same object and serves a file of
// several names, whose volume serial is asked of its volume (else
// volumeSerial, the folder's: an object that is no reparse point lies on its
// folder's volume).  LOOK_GONE: nothing has the name.  LOOK_UNTOLD: a
// reparse point, or a system without such looks; a handle must tell.
LookOutcome LookAtName(HANDLE folder, const char *name, const char *path, DWORD volumeSerial, EntryLook *look);
