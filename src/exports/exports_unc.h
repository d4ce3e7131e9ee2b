// The UNC name of a path on a mapped network drive.
#pragma once

#include <cstddef>

// Writes the universal name of path into out; 1, or 0 when there is none.
int UniversalNameOf(const char *path, char *out, size_t size);
