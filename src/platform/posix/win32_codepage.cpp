// Code-page conversion of the POSIX build: UTF-8 (65001) and Windows-1252,
// which is also the ANSI code page (CP_ACP) here.  UTF-8 decoding replaces
// each maximal invalid subsequence with U+FFFD, as Windows does, or fails
// with ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS.
#include <cstring>

#include "platform/posix/win32_file_internal.h"

namespace {

// Windows-1252 0x80..0x9F; the five unassigned bytes map to the C1 controls
// of the same value, as Windows maps them.
const WCHAR kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

enum CodePageKind { CODEPAGE_NONE, CODEPAGE_1252, CODEPAGE_UTF8 };

CodePageKind KindOf(UINT codePage)
{
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == 1252)
        return CODEPAGE_1252;
    if (codePage == CP_UTF8)
        return CODEPAGE_UTF8;
    return CODEPAGE_NONE;
}

inline WCHAR WideOf1252(unsigned char c) { return (c >= 0x80 && c < 0xA0) ? kHigh1252[c - 0x80] : c; }

// The 1252 byte of a code point, or -1.
int ByteOf1252(uint32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (int i = 0; i < 32; i++)
        if (kHigh1252[i] == cp)
            return 0x80 + i;
    return -1;
}

// Decodes one UTF-8 character at text[*pos] (length bytes in all).  Returns
// the code point, or -1 for an invalid subsequence; *pos moves past what was
// consumed (the maximal subpart of an invalid sequence).
int32_t DecodeUtf8(const unsigned char *text, size_t length, size_t *pos)
{
    size_t i = *pos;
    unsigned char c = text[i++];
    if (c < 0x80) {
        *pos = i;
        return c;
    }
    int need;
    uint32_t cp;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        cp = c & 0x0F;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F; // no encoded surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        cp = c & 0x07;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        *pos = i;
        return -1;
    }
    for (int k = 0; k < need; k++) {
        if (i >= length || text[i] < low || text[i] > high) {
            *pos = i;
            return -1;
        }
        cp = (cp << 6) | (text[i++] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    *pos = i;
    return static_cast<int32_t>(cp);
}

size_t EncodeUtf8(uint32_t cp, char *out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Reads one code point from UTF-16; a lone surrogate gives -1.
int32_t DecodeUtf16(const WCHAR *wide, size_t length, size_t *pos)
{
    WCHAR w = wide[(*pos)++];
    if (w < 0xD800 || w > 0xDFFF)
        return w;
    if (w <= 0xDBFF && *pos < length && wide[*pos] >= 0xDC00 && wide[*pos] <= 0xDFFF) {
        WCHAR lowUnit = wide[(*pos)++];
        return 0x10000 + ((static_cast<int32_t>(w) - 0xD800) << 10) + (lowUnit - 0xDC00);
    }
    return -1;
}

} // namespace

UINT GetACP(void) { return 1252; }

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR wide, int wideLength)
{
    if (text == nullptr || textLength == 0 || textLength < -1 || wideLength < 0 ||
        (wideLength > 0 && wide == nullptr) || (wide != nullptr && wide == reinterpret_cast<LPCWSTR>(text))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    CodePageKind kind = KindOf(codePage);
    if (kind == CODEPAGE_NONE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((kind == CODEPAGE_UTF8 && (flags & ~MB_ERR_INVALID_CHARS) != 0) || (kind == CODEPAGE_1252 && (flags & ~0xFu) != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t length = textLength < 0 ? strlen(text) + 1 : static_cast<size_t>(textLength);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t produced = 0;
    size_t capacity = static_cast<size_t>(wideLength);
    auto put = [&](WCHAR w) {
        if (wideLength != 0 && produced < capacity)
            wide[produced] = w;
        produced++;
    };
    if (kind == CODEPAGE_1252) {
        for (size_t i = 0; i < length; i++)
            put(WideOf1252(bytes[i]));
    } else {
        for (size_t i = 0; i < length;) {
            int32_t cp = DecodeUtf8(bytes, length, &i);
            if (cp < 0) {
                if (flags & MB_ERR_INVALID_CHARS) {
                    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                    return 0;
                }
                put(0xFFFD);
            } else if (cp >= 0x10000) {
                put(static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10)));
                put(static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                put(static_cast<WCHAR>(cp));
            }
        }
    }
    if (wideLength != 0 && produced > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(produced);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text, int textLength,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    if (wide == nullptr || wideLength == 0 || wideLength < -1 || textLength < 0 ||
        (textLength > 0 && text == nullptr) || (text != nullptr && reinterpret_cast<LPCWSTR>(text) == wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    CodePageKind kind = KindOf(codePage);
    if (kind == CODEPAGE_NONE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (kind == CODEPAGE_UTF8) {
        // Windows refuses a default character for UTF-8.
        if (defaultChar != nullptr || usedDefaultChar != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
    }
    size_t length = 0;
    if (wideLength < 0) {
        while (wide[length] != 0)
            length++;
        length++;
    } else {
        length = static_cast<size_t>(wideLength);
    }
    size_t produced = 0;
    size_t capacity = static_cast<size_t>(textLength);
    auto put = [&](const char *bytes, size_t n) {
        for (size_t k = 0; k < n; k++) {
            if (textLength != 0 && produced < capacity)
                text[produced] = bytes[k];
            produced++;
        }
    };
    BOOL usedDefault = FALSE;
    for (size_t i = 0; i < length;) {
        int32_t cp = DecodeUtf16(wide, length, &i);
        if (kind == CODEPAGE_UTF8) {
            if (cp < 0) {
                if (flags & WC_ERR_INVALID_CHARS) {
                    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                    return 0;
                }
                cp = 0xFFFD;
            }
            char buffer[4];
            put(buffer, EncodeUtf8(static_cast<uint32_t>(cp), buffer));
        } else {
            int byte = cp < 0 ? -1 : ByteOf1252(static_cast<uint32_t>(cp));
            char c;
            if (byte < 0) {
                c = defaultChar != nullptr ? *defaultChar : '?';
                usedDefault = TRUE;
            } else {
                c = static_cast<char>(byte);
            }
            put(&c, 1);
        }
    }
    if (textLength != 0 && produced > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (usedDefaultChar != nullptr)
        *usedDefaultChar = usedDefault;
    return static_cast<int>(produced);
}

// ------------------------------------------------------ helpers of the layer
void Utf8FromAnsi(const char *ansi, std::string *utf8)
{
    utf8->clear();
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(ansi); *p != 0; p++) {
        if (*p < 0x80) {
            utf8->push_back(static_cast<char>(*p));
        } else {
            char buffer[4];
            utf8->append(buffer, EncodeUtf8(WideOf1252(*p), buffer));
        }
    }
}

int Utf8FromWide(const WCHAR *wide, std::string *utf8)
{
    utf8->clear();
    size_t length = 0;
    while (wide[length] != 0)
        length++;
    for (size_t i = 0; i < length;) {
        int32_t cp = DecodeUtf16(wide, length, &i);
        if (cp < 0)
            return 0;
        char buffer[4];
        utf8->append(buffer, EncodeUtf8(static_cast<uint32_t>(cp), buffer));
    }
    return 1;
}

void AnsiFromUtf8(const char *utf8, std::string *ansi)
{
    ansi->clear();
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(utf8);
    size_t length = strlen(utf8);
    for (size_t i = 0; i < length;) {
        int32_t cp = DecodeUtf8(bytes, length, &i);
        int byte = cp < 0 ? -1 : ByteOf1252(static_cast<uint32_t>(cp));
        ansi->push_back(byte < 0 ? '?' : static_cast<char>(byte));
    }
}

size_t WideFromUtf8(const char *utf8, WCHAR *wide, size_t capacity)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(utf8);
    size_t length = strlen(utf8);
    size_t produced = 0;
    for (size_t i = 0; i < length;) {
        int32_t cp = DecodeUtf8(bytes, length, &i);
        if (cp < 0)
            cp = 0xFFFD;
        if (cp >= 0x10000) {
            if (produced + 2 <= capacity) {
                wide[produced] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
                wide[produced + 1] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
            produced += 2;
        } else {
            if (produced < capacity)
                wide[produced] = static_cast<WCHAR>(cp);
            produced++;
        }
    }
    return produced;
}
