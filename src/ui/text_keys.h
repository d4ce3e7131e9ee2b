// Which language key gives the text of each control, menu item and dialog
// caption.  The windows set their texts from these tables, and the tests walk
// them to check that a language file covers every text.
#pragma once

#include <cstddef>

struct ControlTextKey {
    int id;           // control id, menu command id or top-level menu position
    const char *key;  // key in [Control] (controls) or [Menu] (menus)
};

struct DialogTextKeys {
    int resource;             // dialog resource id
    const char *captionKey;   // key in [Strings] of the caption or tab title
    const ControlTextKey *controls;
    size_t count;
};

// Every dialog of the control window with its caption key and control keys.
extern const DialogTextKeys DialogTexts[];
extern const size_t DialogTextCount;
const DialogTextKeys *FindDialogTexts(int resource);

// The menu bar: the four top-level menus by position, the items by command id.
extern const ControlTextKey TopMenuKeys[];
extern const size_t TopMenuKeyCount;
extern const ControlTextKey MenuItemKeys[];
extern const size_t MenuItemKeyCount;
