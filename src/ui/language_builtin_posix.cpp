// The built-in texts without resources: the table the resource script is
// built from, and an English-speaking user.
#include "ui/language.h"

const char *BuiltinText(int id)
{
    for (size_t i = 0; i < BuiltinTextCount; i++)
        if (BuiltinTexts[i].id == id)
            return BuiltinTexts[i].text;
    return nullptr;
}

namespace {
int EnglishUser(void) { return 0x409; }
}  // namespace

int (*UserLanguageId)(void) = EnglishUser;
