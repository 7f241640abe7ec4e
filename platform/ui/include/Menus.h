// Menus, as far as popup buttons use them: a popup's menu lists the items
// of its Qt combo box.
#pragma once

#include "Events.h"
#include "MacTypes.h"

typedef UInt16 MenuItemIndex;

// Item 1 is the first; an item out of range gives the empty text.
void GetMenuItemText(MenuRef theMenu, MenuItemIndex item, Str255 itemString);
void SetMenuItemText(MenuRef theMenu, MenuItemIndex item, ConstStr255Param itemString);
UInt16 CountMenuItems(MenuRef theMenu);
void AppendMenuItemText(MenuRef theMenu, ConstStr255Param inString);
void DeleteMenuItem(MenuRef theMenu, MenuItemIndex item);
