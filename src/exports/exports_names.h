// Checks and conversions of single names, and code page conversion of texts.
#pragma once

#include <cstddef>
#include <cstdint>

// c when c may stand in a Windows file name (every byte from 0x80 up and the
// printable ASCII characters except " * / : < > ? \ |) and, with the ASCII
// character set, c is below 0x80; else 0.
int AllowedChar(int c);

// Makes a client's name fit for the Windows volume, in place (name holds
// size bytes).  ':' and '?' become the export's -sub: characters when set;
// other forbidden characters (and ':' or '?' without a -sub: character)
// become their CharMap substitute.  With the UTF-8 character set, a control
// code or a character Windows forbids that has no substitute, and a last
// character '.' or ' ' (which Windows would drop; "." and ".." excepted), is
// kept as U+F000 plus its code ("a:b." becomes "a\uF03Ab\uF02E"), and DEL
// as itself.  Returns 1 when accepted, 0 when a character has no substitute
// ('/' never has one in UTF-8 mode), a byte from 0x80 up meets the ASCII
// character set, the result would not fit, or substitution would turn the
// name into dots only ("::" with '.' as substitute would name the parent
// folder).
int CheckName(char *name, size_t size, uint8_t subColon, uint8_t subQuestion);

// Copies a name as found on the volume back into the client's form: the
// -sub: characters become ':' and '?', and with the UTF-8 character set the
// private use characters that CheckName makes become what they stand for
// (U+F02E and U+F020 only at the end).  out holds strlen(name) + 1 bytes.
void RestoreName(char *out, const char *name, uint8_t subColon, uint8_t subQuestion);

// True when the character set is not ASCII or every byte is below 0x80.
int IsAsciiName(const char *name);
// True for an empty name and for names made only of dots.
int IsDotsOnly(const char *name);

// Converts text in place between the Windows code page codePage (0: the
// system's ANSI code page) and UTF-8: toUtf8 non-zero converts to UTF-8.  At
// most size bytes, terminator included, are written.  Returns the length of
// the result, or 0 with the text unchanged when no work buffer was had.
uint32_t ConvertCodePage(int toUtf8, uint32_t codePage, char *text, uint32_t size);
