#include "exports/exports_names.h"

#include <cstdlib>
#include <cstring>

#include "platform/win32.h"
#include "settings/settings.h"

namespace {

// The characters Windows forbids in file names besides the control codes.
bool ForbiddenAscii(unsigned char c)
{
    return c < 32 || c == 127 || c == '"' || c == '*' || c == '/' || c == ':' || c == '<' || c == '>' ||
           c == '?' || c == '\\' || c == '|';
}

bool AsciiMode() { return ServerSettings.CharSetActive == 0; }

} // namespace

int AllowedChar(int c)
{
    if (c <= 0 || c > 255)
        return 0;
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80)
        return AsciiMode() ? 0 : c;
    return ForbiddenAscii(byte) ? 0 : c;
}

int CheckName(char *name, uint8_t subColon, uint8_t subQuestion)
{
    // A -sub: character must itself be fit for a file name; anything else
    // (a backslash, a slash) would split the name into a path.
    if (subColon != 0 && AllowedChar(subColon) == 0)
        subColon = 0;
    if (subQuestion != 0 && AllowedChar(subQuestion) == 0)
        subQuestion = 0;
    const bool ascii = AsciiMode();
    bool substituted = false;
    for (char *p = name; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x80) {
            if (ascii)
                return 0;
            continue;
        }
        if (!ForbiddenAscii(c))
            continue;
        unsigned char replacement = 0;
        if (c == ':' && subColon != 0)
            replacement = subColon;
        else if (c == '?' && subQuestion != 0)
            replacement = subQuestion;
        else
            replacement = CharMap[c];
        if (replacement == 0 || AllowedChar(replacement) == 0)
            return 0;
        *p = static_cast<char>(replacement);
        substituted = true;
    }
    // "::" with '.' standing for ':' would reach the parent folder.
    if (substituted && IsDotsOnly(name))
        return 0;
    return 1;
}

void RestoreName(char *out, const char *name, uint8_t subColon, uint8_t subQuestion)
{
    for (; *name; name++, out++) {
        unsigned char c = static_cast<unsigned char>(*name);
        if (subColon != 0 && c == subColon)
            *out = ':';
        else if (subQuestion != 0 && c == subQuestion)
            *out = '?';
        else
            *out = *name;
    }
    *out = 0;
}

int IsAsciiName(const char *name)
{
    if (!AsciiMode())
        return 1;
    for (; *name; name++)
        if (static_cast<unsigned char>(*name) >= 0x80)
            return 0;
    return 1;
}

int IsDotsOnly(const char *name)
{
    for (; *name; name++)
        if (*name != '.')
            return 0;
    return 1;
}

uint32_t ConvertCodePage(int toUtf8, uint32_t codePage, char *text, uint32_t size)
{
    if (size == 0)
        return 0;
    const UINT from = toUtf8 ? codePage : CP_UTF8;
    const UINT to = toUtf8 ? CP_UTF8 : codePage;
    const int wideCount = static_cast<int>(2 * size);
    WCHAR *wide = static_cast<WCHAR *>(malloc(sizeof(WCHAR) * static_cast<size_t>(wideCount)));
    if (wide == nullptr)
        return 0;
    // The text may be longer than the buffer claims only when the caller has
    // broken it; never read past size.
    size_t length = strnlen(text, size);
    int units = 0;
    if (length > 0)
        units = MultiByteToWideChar(from, 0, text, static_cast<int>(length), wide, wideCount);
    int bytes = 0;
    if (units > 0)
        bytes = WideCharToMultiByte(to, 0, wide, units, text, static_cast<int>(size), nullptr, nullptr);
    if (bytes <= 0 && units > 0) {
        // The result does not fit: convert into a buffer of its full size and
        // keep what fits.
        int needed = WideCharToMultiByte(to, 0, wide, units, nullptr, 0, nullptr, nullptr);
        if (needed > 0) {
            char *all = static_cast<char *>(malloc(static_cast<size_t>(needed)));
            if (all != nullptr) {
                WideCharToMultiByte(to, 0, wide, units, all, needed, nullptr, nullptr);
                bytes = needed < static_cast<int>(size) ? needed : static_cast<int>(size);
                memcpy(text, all, static_cast<size_t>(bytes));
                free(all);
            }
        }
    }
    free(wide);
    if (bytes < 0)
        bytes = 0;
    if (static_cast<uint32_t>(bytes) >= size) {
        bytes = static_cast<int>(size) - 1;
        // Do not leave half a UTF-8 sequence at the cut.
        if (to == CP_UTF8)
            while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
                bytes--;
    }
    text[bytes] = 0;
    return static_cast<uint32_t>(bytes);
}
