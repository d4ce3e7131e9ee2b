// Devices, fifos and sockets kept as small files holding a 32-byte record
// (little-endian): u32 0, "specdata", u32 0, u32 type (3 block, 4 character,
// 6 socket, 7 fifo), u32 major, u32 minor, u32 permission bits.  Such a file
// carries exactly the system attribute.
#pragma once

#include <cstdint>

#include "backend/change_target.h"
#include "backend/unix_mode.h"

#define SPECIAL_RECORD_SIZE 32u

// Builds the record of a special file.
void EncodeSpecialRecord(uint32_t type, uint32_t major, uint32_t minor, uint32_t mode,
                         uint8_t record[SPECIAL_RECORD_SIZE]);

// The special-file record of a file with the system attribute: type
// SPECIAL_UNREADABLE when it cannot be read, SPECIAL_NO_RECORD (mode 0100666)
// when it holds none, else the record's, with the file-type bits added.
SpecialRecord SpecialRecordOf(const ChangeTarget &target);

// Stores the permission bits (mode & 07777) in the special-file record of the
// target.  False with the Windows error set when it cannot be done.
bool WriteSpecialRecordMode(const ChangeTarget &target, uint32_t mode);
