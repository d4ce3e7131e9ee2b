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

bool Utf8Mode() { return ServerSettings.CharSetActive == 2; }

// The characters that stand in a name on the volume as U+F000 plus their
// code (the Unicode private use area, as other Windows systems that hold
// Unix files keep them): the control codes and those Windows forbids, and a
// trailing dot or blank, which Windows would drop.
bool KeptAsPrivateUse(unsigned char c, bool last)
{
    return (c >= 1 && c < 32) || c == '"' || c == '*' || c == ':' || c == '<' || c == '>' || c == '?' ||
           c == '\\' || c == '|' || (last && (c == '.' || c == ' '));
}

// The UTF-8 form of U+F000 + c (c below 0x80): three bytes.
const size_t kPrivateUseLength = 3;
void PutPrivateUse(unsigned char c, char *out)
{
    out[0] = static_cast<char>(0xEF);
    out[1] = static_cast<char>(0x80 | (c >> 6));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
}

// The character that the three bytes at p stand for, 0 when they are no
// U+F000 + c of a character kept so.
unsigned char PrivateUseAt(const char *p, bool last)
{
    const unsigned char *b = reinterpret_cast<const unsigned char *>(p);
    if (b[0] != 0xEF || (b[1] & 0xFE) != 0x80 || (b[2] & 0xC0) != 0x80)
        return 0;
    const unsigned char c = static_cast<unsigned char>((b[1] & 1) << 6 | (b[2] & 0x3F));
    return KeptAsPrivateUse(c, last) ? c : 0;
}

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

int CheckName(char *name, size_t size, uint8_t subColon, uint8_t subQuestion)
{
    // A -sub: character must itself be fit for a file name; anything else
    // (a backslash, a slash) would split the name into a path.
    if (subColon != 0 && AllowedChar(subColon) == 0)
        subColon = 0;
    if (subQuestion != 0 && AllowedChar(subQuestion) == 0)
        subQuestion = 0;
    const bool ascii = AsciiMode();
    const bool utf8 = Utf8Mode();
    const bool special = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
    bool substituted = false;
    size_t length = strlen(name);
    for (size_t i = 0; i < length; i++) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80) {
            if (ascii)
                return 0;
            continue;
        }
        const bool last = i + 1 == length && !special;
        if (!ForbiddenAscii(c) && !(utf8 && last && KeptAsPrivateUse(c, true)))
            continue;
        unsigned char replacement = 0;
        if (c == ':' && subColon != 0)
            replacement = subColon;
        else if (c == '?' && subQuestion != 0)
            replacement = subQuestion;
        else
            replacement = CharMap[c];
        if (replacement != 0 && AllowedChar(replacement) != 0) {
            name[i] = static_cast<char>(replacement);
            substituted = true;
            // A substitute that Windows would drop at the end is kept as the
            // character itself is.
            if (!(utf8 && last && KeptAsPrivateUse(replacement, true)))
                continue;
        } else if (c == 127 && utf8) {
            continue;  // Windows takes DEL in names.
        } else if (!utf8 || !KeptAsPrivateUse(c, last)) {
            return 0;  // '/' above all
        }
        if (length + kPrivateUseLength - 1 >= size)
            return 0;
        const unsigned char kept = static_cast<unsigned char>(name[i]);
        memmove(name + i + kPrivateUseLength, name + i + 1, length - i);
        PutPrivateUse(kept, name + i);
        i += kPrivateUseLength - 1;
        length += kPrivateUseLength - 1;
    }
    // "::" with '.' standing for ':' would reach the parent folder.
    if (substituted && IsDotsOnly(name))
        return 0;
    return 1;
}

void RestoreName(char *out, const char *name, uint8_t subColon, uint8_t subQuestion)
{
    const bool utf8 = Utf8Mode();
    const size_t length = strlen(name);
    for (size_t i = 0; i < length; i++, out++) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const unsigned char kept =
            utf8 && i + kPrivateUseLength <= length ? PrivateUseAt(name + i, i + kPrivateUseLength == length) : 0;
        if (kept != 0) {
            *out = static_cast<char>(kept);
            i += kPrivateUseLength - 1;
        } else if (subColon != 0 && c == subColon) {
            *out = ':';
        } else if (subQuestion != 0 && c == subQuestion) {
            *out = '?';
        } else {
            *out = name[i];
        }
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
