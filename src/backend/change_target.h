// The object a change of attributes, extended attributes or a special
// file's record is made to: the one a request's containment check kept
// open, so that what changes is what was judged whatever has its name now;
// else (an object the request made itself, the export's root) the object
// named by path itself, a link at its end never followed.
#pragma once

#include "backend/containment.h"

struct ChangeTarget {
    const char *path;        // for the log, and the object when kept holds none
    const KeptObject *kept;  // may be null
};

inline ChangeTarget PathTarget(const char *path) { return ChangeTarget{path, nullptr}; }

// A handle of the target with access: opened again from the kept handle and
// confirmed to name the judged object (Wine opens the name again; another
// object answers ERROR_FILE_INVALID), else opened by path.  Links are
// opened as themselves.  INVALID_HANDLE_VALUE with the error set.
HANDLE OpenChangeTarget(const ChangeTarget &target, DWORD access);
// The target's Windows attributes (INVALID_FILE_ATTRIBUTES with the error
// set), and a change of them.
DWORD ChangeTargetAttributes(const ChangeTarget &target);
BOOL SetChangeTargetAttributes(const ChangeTarget &target, DWORD attributes);
// Makes the target's changes durable before a reply acknowledges them: its
// data and its record (size, times, attributes, extended attributes) are
// flushed through a handle opened for writing (the kept one when it was
// opened so, else one opened again).  A read-only file refuses
// one: its read-only attribute is lifted for the open and put back before
// the flush.  A target that cannot be opened for writing (refused, or held
// by a program that shares it with no writer), or that takes no flush of
// its own (a link the platform opens only as a name), has the folder that
// holds it flushed instead, which on journaled volumes commits the
// target's change with it.  FALSE with the error set when that fails too.
BOOL FlushChangeTarget(const ChangeTarget &target);
// FlushChangeTarget for the reply of the change: NFS_OK, else 5 (I/O
// error), logged.
uint32_t ChangeDurable(const ChangeTarget &target);
// FlushFileBuffers of the folder at path, opened as a folder for writing
// (never through a link it may have become).  FALSE with the error set.
BOOL FlushFolderAt(const char *folder);
