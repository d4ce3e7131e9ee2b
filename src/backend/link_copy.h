// The stand-in for a hard link where copies take their place: a new file
// with the bytes of a judged one.
#pragma once

#include <cstdint>

#include "exports/export_context.h"

// Copies the file at from, which a containment check judged, to a new file
// at to (which must not exist).  What is copied is the object opened by the
// name, itself and never what a link leads to; it must still lie exactly at
// from inside the export, so a link or another file swapped in for the name
// after the check is never read.  The copy keeps the file's last-write time,
// its Unix record and the attributes in keep; a copy that fails is removed.
// An NFS status.
uint32_t CopyJudgedFile(const ExportContext *context, const char *from, const char *to, uint32_t keep);
