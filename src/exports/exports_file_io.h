// Files of the data directory, named by their Windows paths.  The C library
// streams give the exports file its text mode: on Windows line ends are CR LF
// on disk; the POSIX build writes the same bytes (WriteTextLine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// DataDirectory followed by name; 0 when it does not fit.
int DataFilePath(const char *name, char *out, size_t size);

// fopen of a Windows path, in text mode ("r", "w").
FILE *OpenDataFile(const char *windowsPath, const char *mode);
// remove() of a Windows path: 1 on success.
int RemoveDataFile(const char *windowsPath);

// Writes text (one line, its "\n" at most at the end; a missing "\n" is
// added) with the line end of a text-mode stream on Windows.  Returns 1, or
// 0 on a write error.
int WriteTextLine(FILE *stream, const char *text, size_t length);

// What a data file holds, to tell whether it changed: whether it exists, its
// size and the CRC-32 of its bytes.
struct DataFileFingerprint {
    bool exists = false;
    uint64_t size = 0;
    uint32_t crc = 0;
    bool operator==(const DataFileFingerprint &other) const
    {
        return exists == other.exists && size == other.size && crc == other.crc;
    }
};
DataFileFingerprint FingerprintDataFile(const char *windowsPath);

// Replaces a data file in one step: write(out, context) fills a new file
// beside it ("<path>.new", opened with mode "w" or "wb"); only when that
// succeeded and reached the disk does the current file (when there is one)
// become backupPath (when not null) and the new file take its place.  A crash
// or a full disk leaves the old file or the new one, never part of each.
// Returns 1, or 0 with the file (and the backup) as they were.
int ReplaceDataFile(const char *windowsPath, const char *backupPath, const char *mode,
                    int (*write)(FILE *out, void *context), void *context);

// Copies the lines at the head of a file that begin with '#' (each whole,
// however long, and ended by a line end).  Returns 0 on a write error.
int CopyLeadingCommentLines(FILE *from, FILE *out);
