// Language files and the built-in texts.
#include "ui/language.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/win32.h"
#include "settings/settings.h"
#include "ui/ui_strings.h"

char ProgramDirectory[PROGRAM_DIRECTORY_SIZE];
LanguageState Language;

const BuiltinTextEntry BuiltinTexts[] = {
    {4, "FAILED", STR_4},         {5, "LINE", STR_5},           {6, "FOLDER", STR_6},
    {7, "OPTIONS", STR_7},        {8, "CLIENT", STR_8},         {9, "PROGRAM", STR_9},
    {10, "VERSION", STR_10},      {11, "PORT", STR_11},         {12, "PROT", STR_12},
    {13, "TCP", STR_13},          {14, "UDP", STR_14},          {15, "CLIENTS", STR_15},
    {16, "MOUNT", STR_16},        {18, "LANGUAGE", STR_18},     {19, "MODULE", STR_19},
    {21, "EXIT", STR_21},         {22, "ENTRIES", STR_22},      {23, "EXP_ERROR_1", STR_23},
    {24, "EXP_ERROR_2", STR_24},  {25, "EXP_ERROR_3", STR_25},  {26, "EXP_ERROR_4", STR_26},
    {27, "EXP_ERROR_5", STR_27},  {28, "EXP_ERROR_6", STR_28},  {29, "EXP_ERROR_7", STR_29},
    {30, "EXP_ERROR_8", STR_30},  {32, "READY", STR_32},        {34, "NFS_ERROR_1", STR_34},
    {35, "NFS_ERROR_2", STR_35},  {36, "NFS_ERROR_3", STR_36},  {37, "NFS_ERROR_4", STR_37},
    {39, "NFS_ERROR_6", STR_39},  {41, "TYPE", STR_41},         {42, "INSERT", STR_42},
    {43, "EDIT", STR_43},         {44, "REMOVE", STR_44},       {45, "DISCONNECT", STR_45},
    {46, "DIR_TITLE", STR_46},    {47, "NOTEXISTS", STR_47},    {48, "NOTUNC", STR_48},
    {49, "NOOPTARG", STR_49},     {50, "CHANGED", STR_50},      {51, "NOTSAVED", STR_51},
    {52, "SERVICE", STR_52},      {53, "SVC_START", STR_53},    {54, "SVC_STOP", STR_54},
    {55, "SVC_ERROR", STR_55},
    {56, "PORT_TAKEN", STR_56},   {57, "NUMBER_RANGE", STR_57},
    {58, "SERVICE_NAME", STR_58},   {59, "OPEN", STR_59},
    {60, "REMOVE_ASK", STR_60},   {61, "DISCARD_ASK", STR_61},
    {62, "EXP_REFUSED", STR_62},  {63, "RESTART_ASK", STR_63},
    {70, "SVC_RESTART", STR_70},  {71, "SVC_SERVES", STR_71},   {72, "SVC_STOPPED", STR_72},
    {73, "SVC_RESTARTING", STR_73},
};
const size_t BuiltinTextCount = sizeof(BuiltinTexts) / sizeof(BuiltinTexts[0]);

namespace {

const char BUILTIN_LANGUAGE_VERSION[] = UI_VERSION;

// Reads one value of the file in force (at most 255 characters).
bool ReadValue(const char *path, const char *section, const char *key, char *buffer, uint32_t size)
{
    if (size == 0)
        return false;
    buffer[0] = '\0';
    if (path[0] == '\0')
        return false;
    char value[256];
    GetPrivateProfileStringA(section, key, "", value, sizeof(value), path);
    if (value[0] == '\0')
        return false;
    snprintf(buffer, size, "%s", value);
    return true;
}

std::string LanguagesFolder() { return std::string(ProgramDirectory) + "Languages\\"; }

std::string CommonValue(const std::string &path, const char *key, size_t size)
{
    char value[256];
    GetPrivateProfileStringA("Common", key, "", value, (DWORD)std::min(size, sizeof(value)), path.c_str());
    return value;
}

bool SameNoCase(const std::string &a, const char *b)
{
    if (a.size() != strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return false;
    return true;
}

}  // namespace

void ResolveEscapes(char *text)
{
    char *out = text;
    for (const char *in = text; *in != '\0'; in++) {
        if (*in != '\\') {
            *out++ = *in;
            continue;
        }
        in++;
        if (*in == '\0')
            break;
        *out++ = *in == 'n' ? '\n' : *in == 't' ? '\t' : *in;
    }
    *out = '\0';
}

bool LanguageValue(const char *section, const char *key, char *buffer, uint32_t size)
{
    if (!ReadValue(Language.path, section, key, buffer, size))
        return false;
    if (strcmp(section, "Menu") != 0)
        ResolveEscapes(buffer);
    return buffer[0] != '\0';
}

uint32_t GetText(int id, const char *key, char *buffer, uint32_t size)
{
    if (size == 0)
        return 0;
    buffer[0] = '\0';
    if (key != nullptr && LanguageValue("Strings", key, buffer, size))
        return (uint32_t)strlen(buffer);
    if (id == 0)
        return 0;
    const char *builtin = BuiltinText(id);
    if (builtin == nullptr)
        return 0;
    snprintf(buffer, size, "%s", builtin);
    return (uint32_t)strlen(buffer);
}

std::string Text(int id, const char *key)
{
    char buffer[1024];
    GetText(id, key, buffer, sizeof(buffer));
    return buffer;
}

void LoadLanguage()
{
    char name[65];
    ReadUserString("nfsd", "Language", "", name, sizeof(name));
    Language.path[0] = '\0';
    snprintf(Language.title, sizeof(Language.title), "%s", UI_TITLE);
    if (name[0] == '\0' && (UserLanguageId() & 0x3FF) == 0x07)
        snprintf(name, sizeof(name), "deutsch.ini");
    if (name[0] != '\0') {
        snprintf(Language.path, sizeof(Language.path), "%sLanguages\\%s", ProgramDirectory, name);
        char value[64];
        if (!ReadValue(Language.path, "Common", "LANGUAGE", value, sizeof(value)))
            Language.path[0] = '\0';
        else if (ReadValue(Language.path, "Common", "Title", value, sizeof(value)))
            snprintf(Language.title, sizeof(Language.title), "%s", value);
    }
    GetText(4, "FAILED", Language.failed, sizeof(Language.failed));
}

std::vector<LanguageRow> ListLanguages()
{
    std::vector<LanguageRow> rows;
    bool english = false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((LanguagesFolder() + "*.ini").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            std::string path = LanguagesFolder() + found.cFileName;
            LanguageRow row{found.cFileName, CommonValue(path, "LANGUAGE", 32), CommonValue(path, "VERSION", 32)};
            if (row.language.empty())
                continue;
            row.file[0] = (char)toupper((unsigned char)row.file[0]);
            english = english || SameNoCase(row.language, "English");
            rows.push_back(row);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (!english)
        rows.push_back({"English", "English", BUILTIN_LANGUAGE_VERSION});
    std::sort(rows.begin(), rows.end(), [](const LanguageRow &a, const LanguageRow &b) { return a.file < b.file; });
    return rows;
}

std::string LanguageAuthor(const std::string &file)
{
    std::string path = LanguagesFolder() + file;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return "";
    return CommonValue(path, "AUTHOR", 64);
}

std::string CurrentLanguageName()
{
    char value[64];
    if (ReadValue(Language.path, "Common", "LANGUAGE", value, sizeof(value)))
        return value;
    return "English";
}
