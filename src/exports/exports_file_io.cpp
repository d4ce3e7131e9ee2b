#include "exports/exports_file_io.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/checksum.h"

#include "platform/win32.h"
#include "settings/settings.h"

namespace {

#ifndef _WIN32
// Host path of a Windows path (drive Z: is the root); 0 when there is none.
int HostPath(const char *windowsPath, char *out, size_t size)
{
    return PosixPathFromWindows(windowsPath, out, size);
}
#endif

// A path with a suffix; empty when it does not fit.
bool WithSuffix(const char *path, const char *suffix, char *out, size_t size)
{
    int n = snprintf(out, size, "%s%s", path, suffix);
    return n >= 0 && static_cast<size_t>(n) < size;
}

// Moves a file over another in one step.
bool MoveOver(const char *from, const char *to)
{
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
#else
    char source[4096];
    char target[4096];
    return HostPath(from, source, sizeof(source)) && HostPath(to, target, sizeof(target)) &&
           rename(source, target) == 0;
#endif
}

bool SyncStream(FILE *stream)
{
    if (fflush(stream) != 0)
        return false;
#ifdef _WIN32
    return _commit(_fileno(stream)) == 0;
#else
    return fsync(fileno(stream)) == 0;
#endif
}

// Reads one whole line, its "\n" included when there is one, into a buffer
// that grows as needed.  Returns its length; 0 at the end of the file.
size_t ReadWholeLine(FILE *file, char **buffer, size_t *size)
{
    size_t length = 0;
    for (;;) {
        if (*size - length < 2) {
            size_t grown = *size == 0 ? 2048 : *size * 2;
            char *bigger = static_cast<char *>(realloc(*buffer, grown));
            if (bigger == nullptr)
                return length;
            *buffer = bigger;
            *size = grown;
        }
        if (fgets(*buffer + length, static_cast<int>(*size - length), file) == nullptr)
            return length;
        length += strlen(*buffer + length);
        if (length > 0 && (*buffer)[length - 1] == '\n')
            return length;
    }
}

} // namespace

int DataFilePath(const char *name, char *out, size_t size)
{
    int n = snprintf(out, size, "%s%s", DataDirectory, name);
    return n >= 0 && static_cast<size_t>(n) < size;
}

FILE *OpenDataFile(const char *windowsPath, const char *mode)
{
#ifdef _WIN32
    return fopen(windowsPath, mode);
#else
    char path[4096];
    if (!HostPath(windowsPath, path, sizeof(path)))
        return nullptr;
    return fopen(path, mode);
#endif
}

int RemoveDataFile(const char *windowsPath)
{
#ifdef _WIN32
    return remove(windowsPath) == 0;
#else
    char path[4096];
    return HostPath(windowsPath, path, sizeof(path)) && remove(path) == 0;
#endif
}

int WriteTextLine(FILE *stream, const char *text, size_t length)
{
    if (length > 0 && text[length - 1] == '\n')
        length--;
    if (length > 0 && text[length - 1] == '\r')
        length--;
    if (length > 0 && fwrite(text, 1, length, stream) != length)
        return 0;
#ifdef _WIN32
    return fputc('\n', stream) != EOF;
#else
    return fputs("\r\n", stream) != EOF;
#endif
}

DataFileFingerprint FingerprintDataFile(const char *windowsPath)
{
    DataFileFingerprint fingerprint;
    FILE *file = OpenDataFile(windowsPath, "rb");
    if (file == nullptr)
        return fingerprint;
    fingerprint.exists = true;
    fingerprint.crc = 0xFFFFFFFFu;
    unsigned char block[8192];
    size_t n;
    while ((n = fread(block, 1, sizeof(block), file)) > 0) {
        fingerprint.crc = Crc32Update(fingerprint.crc, block, n);
        fingerprint.size += n;
    }
    fclose(file);
    return fingerprint;
}

int ReplaceDataFile(const char *windowsPath, const char *backupPath, const char *mode,
                    int (*write)(FILE *out, void *context), void *context)
{
    char fresh[1200];
    char backupFresh[1200];
    if (!WithSuffix(windowsPath, ".new", fresh, sizeof(fresh)) ||
        (backupPath != nullptr && !WithSuffix(backupPath, ".new", backupFresh, sizeof(backupFresh))))
        return 0;
    FILE *out = OpenDataFile(fresh, mode);
    if (out == nullptr)
        return 0;
    bool ok = write(out, context) != 0;
    ok = ok && ferror(out) == 0 && SyncStream(out);
    if (fclose(out) != 0)
        ok = false;
    // The backup is made beside its place and moved there, so that it too is
    // either the previous file whole or the older backup.
    if (ok && backupPath != nullptr && GetFileAttributesA(windowsPath) != INVALID_FILE_ATTRIBUTES)
        ok = CopyFileA(windowsPath, backupFresh, FALSE) && MoveOver(backupFresh, backupPath);
    ok = ok && MoveOver(fresh, windowsPath);
    if (!ok) {
        RemoveDataFile(fresh);
        if (backupPath != nullptr)
            RemoveDataFile(backupFresh);
    }
    return ok ? 1 : 0;
}

int CopyLeadingCommentLines(FILE *from, FILE *out)
{
    char *line = nullptr;
    size_t size = 0;
    int ok = 1;
    size_t length;
    while ((length = ReadWholeLine(from, &line, &size)) > 0 && line[0] == '#')
        if (!WriteTextLine(out, line, length)) {
            ok = 0;
            break;
        }
    free(line);
    return ok;
}
