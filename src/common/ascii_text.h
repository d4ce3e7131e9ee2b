// Comparisons of Windows paths and names, which the volume takes without
// regard to the case of ASCII letters (other characters compare as bytes).
#pragma once

#include <cstddef>

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
