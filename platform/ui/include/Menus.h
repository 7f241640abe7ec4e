// Menus, as far as popup buttons use them: a popup's menu lists the items
// of its Qt combo box.
#pragma once

#include "Events.h"
#include "MacTypes.h"

typedef UInt16 MenuItemIndex;

// Item 1 is the first; an item out of range gives the empty text.
TB_EXPORT void GetMenuItemText(MenuRef theMenu, MenuItemIndex item, Str255 itemString);
