// Language files: every text of the control window by key, from the
// language file in force (an INI file in ProgramDirectory\Languages\) or, when
// there is none or it lacks the key, from the built-in English texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's folder (language files, help), ending in a backslash.
#define PROGRAM_DIRECTORY_SIZE 896
extern char ProgramDirectory[PROGRAM_DIRECTORY_SIZE];

#define LANGUAGE_TITLE_SIZE 64

struct LanguageState {
    char path[PROGRAM_DIRECTORY_SIZE + 80];  // the file in force; empty: built-in texts
    char title[LANGUAGE_TITLE_SIZE];        // main window caption, tray tip, message box caption
    char failed[64];                        // "Failed to create dialog"
};
extern LanguageState Language;

// Reads the per-user choice "Language" (empty: "deutsch.ini" for a German
// user, else none) and makes that file the one in force when it names its
// language in [Common] LANGUAGE; sets the title and the failure text.
void LoadLanguage();

// The text of a key of [Strings] (escapes resolved) when a file is in force
// and has it; else the built-in text of id (none when id is 0: returns 0 and
// leaves the buffer empty).  Returns the length.
uint32_t GetText(int id, const char *key, char *buffer, uint32_t size);
std::string Text(int id, const char *key);

// The value of key in section of the language file in force, escapes resolved
// unless the section is "Menu"; false (buffer empty) when there is no file or
// the value is missing or empty.  At most 255 characters are read.
bool LanguageValue(const char *section, const char *key, char *buffer, uint32_t size);

// Resolves the escapes of a language value in place: "\n" line feed, "\t"
// tab, a backslash before any other character stands for that character, a
// backslash at the very end is dropped.
void ResolveEscapes(char *text);

// The built-in English text of a string id (the resources on Windows), or
// null when there is none.
const char *BuiltinText(int id);
// Every built-in string id with its key (language files, tests).
struct BuiltinTextEntry {
    int id;
    const char *key;   // key in [Strings]
    const char *text;  // the English text
};
extern const BuiltinTextEntry BuiltinTexts[];
extern const size_t BuiltinTextCount;

// The user's default language id (GetUserDefaultLangID; replaceable by tests).
extern int (*UserLanguageId)(void);

// One row of the Language page's list.
struct LanguageRow {
    std::string file;      // file name, first letter upper-cased; "English" for the built-in texts
    std::string language;  // [Common] LANGUAGE
    std::string version;   // [Common] VERSION
};
// The language files of ProgramDirectory\Languages\ (those that name their
// language), sorted by file name, plus the built-in English row unless a file
// declares English itself.
std::vector<LanguageRow> ListLanguages();
// [Common] AUTHOR of a file in the Languages folder; empty for the built-in
// row or a file without it.
std::string LanguageAuthor(const std::string &file);
// [Common] LANGUAGE of the file in force, or "English".
std::string CurrentLanguageName();
