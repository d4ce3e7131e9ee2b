// Windows paths and names, which the volume takes without regard to the
// case of ASCII letters (other characters compare as bytes).
#pragma once

#include <cstddef>
#include <cstring>

// c, with an ASCII capital letter made small.
inline char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when a and b are equal apart from the case of ASCII letters.
inline bool SameTextNoCase(const char *a, const char *b)
{
    for (;; a++, b++) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
        if (*a == '\0')
            return true;
    }
}

// True when the first length bytes of text equal prefix (same rule); text
// shorter than length never matches.
inline bool SamePrefixNoCase(const char *text, const char *prefix, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (text[i] == '\0' || LowerAscii(text[i]) != LowerAscii(prefix[i]))
            return false;
    return true;
}

// True when text begins with the whole of prefix (same rule).
inline bool StartsWithNoCase(const char *text, const char *prefix)
{
    for (; *prefix != '\0'; text++, prefix++)
        if (LowerAscii(*text) != LowerAscii(*prefix))
            return false;
    return true;
}

// A name or path as an export that lowers names shows it, in place.
inline void LowerAsciiInPlace(char *text)
{
    for (; *text != '\0'; text++)
        *text = LowerAscii(*text);
}

// The rest of path below root (same rule, at a component boundary, without
// the separator), or null when path is not below root.
inline const char *BelowRoot(const char *path, const char *root)
{
    const size_t length = strlen(root);
    if (length == 0 || strlen(path) < length || !SamePrefixNoCase(path, root, length))
        return nullptr;
    if (root[length - 1] == '\\' || path[length] == '\0')
        return path + length;
    return path[length] == '\\' ? path + length + 1 : nullptr;
}
