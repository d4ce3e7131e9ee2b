// Conversions between the Windows form of a path and the form clients see,
// and the checks of export paths.  Paths are 8-bit strings in the clients'
// character set.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 when the path has the form of an export path: after an optional "\\?\",
// a drive letter and ':', or "Volume{...}", or "\\" and a server name, each
// followed by the end or a backslash.
int CheckPathSyntax(const char *path);

// Rewrites an export path in place: slashes become backslashes, the drive
// letter is upper-cased, a bare root gets its backslash ("C:" -> "C:\"),
// other trailing backslashes go.  Returns the length of the volume root part
// with its backslash ("C:\" 3, "\\srv\share\" 12), or 0 when the path has no
// root (empty after the prefix, UNC without share, or no room in size bytes).
uint32_t NormaliseRoot(char *path, size_t size);

// "C:\data\" -> "/c/data" (drive letter lower-cased when the Lowercase
// setting is on), "C:\" -> "/c", "\\srv\share" -> "//srv/share".  The result
// is never longer than the input.  out may equal windowsPath.  Returns 1, or
// 0 (out empty) when it does not fit in size bytes.
int ToClientPath(const char *windowsPath, char *out, size_t size);

// "/c/data" -> "c:\data", "/c" -> "c:\", "//srv/share/dir" -> "\\srv\share\dir".
// out may equal clientPath.  Returns 1, or 0 (out empty) when the result does
// not fit in size bytes.
int ToWindowsPath(const char *clientPath, char *out, size_t size);
