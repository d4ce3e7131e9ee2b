// A memory of the Unix records read from files, so that looking at a file
// again (GETATTR, LOOKUP, each entry of READDIRPLUS) needs no extended-
// attribute read while nothing has changed it.  A record is known by the
// file's volume and index and holds while the file's change time is the
// one it was read with; a write of a record by this server makes every
// record read before it unknown.  Only records read a safe margin after
// the file's change time are kept: a write by another program changes the
// change time (an extended attribute is part of the file's state), and a
// change in the same tick of the file system's clock as the time kept
// would leave it as it was.
#pragma once

#include <cstdint>

#include "backend/unix_attributes_store.h"
#include "platform/win32.h"

struct UnixRecordKey {
    DWORD volumeSerial;
    uint64_t fileIndex;   // 0: the file cannot be told apart (nothing kept)
    FILETIME changeTime;  // read with the file's index, by the same look
};

// The number that a record read now is kept under: taken before the read.
uint64_t UnixRecordsWritten();
// The record kept for key, when one is.
bool RecallUnixRecord(const UnixRecordKey &key, StoredUnixAttributes *record);
// Keeps the record read for key, when it was read at least the margin
// after the change time (readAfter: the time taken before the read) and no
// record was written since written (UnixRecordsWritten before the read).
void RememberUnixRecord(const UnixRecordKey &key, const StoredUnixAttributes &record, const FILETIME &readAfter,
                        uint64_t written);
// A record is being written: every record kept before is unknown.
void NoteUnixRecordWritten();
