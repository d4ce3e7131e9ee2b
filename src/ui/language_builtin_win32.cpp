// The built-in texts from the string table of the program's resources.
#include "platform/win32.h"
#include "ui/language.h"

const char *BuiltinText(int id)
{
    // LoadStringA copies; one buffer per id keeps each returned text valid.
    static char texts[128][256];
    if (id <= 0 || id >= 128)
        return nullptr;
    if (LoadStringA(GetModuleHandleA(nullptr), (UINT)id, texts[id], sizeof(texts[id])) <= 0)
        return nullptr;
    return texts[id];
}

namespace {
int UserDefaultLanguage(void) { return GetUserDefaultLangID(); }
}  // namespace

int (*UserLanguageId)(void) = UserDefaultLanguage;
