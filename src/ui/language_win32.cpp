// Language texts into windows, controls and menus.
#include <cstring>

#include "ui/control_win32.h"
#include "ui/language.h"

void SetControlText(HWND window, int id, const char *key)
{
    char text[256];
    if (!LanguageValue(id != 0 ? "Control" : "Strings", key, text, sizeof(text)))
        return;
    if (id == 0)
        SetWindowTextA(window, text);
    else
        SetWindowTextA(GetDlgItem(window, id), text);
}

void SetControlTexts(HWND window, const ControlTextKey *keys, size_t count)
{
    for (size_t i = 0; i < count; i++)
        SetControlText(window, keys[i].id, keys[i].key);
}

void SetMenuText(HMENU menu, int position, int id, const char *key)
{
    char text[256];
    if (!LanguageValue("Menu", key, text, sizeof(text)))
        return;
    // Only the text changes: a pop-up keeps its submenu.
    MENUITEMINFOA item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STRING;
    item.dwTypeData = text;
    if (id != 0)
        SetMenuItemInfoA(menu, (UINT)id, FALSE, &item);
    else
        SetMenuItemInfoA(menu, (UINT)position, TRUE, &item);
}

void SetDialogTexts(HWND dialog, int resource)
{
    const DialogTextKeys *texts = FindDialogTexts(resource);
    if (texts == nullptr)
        return;
    SetControlText(dialog, 0, texts->captionKey);
    SetControlTexts(dialog, texts->controls, texts->count);
}
