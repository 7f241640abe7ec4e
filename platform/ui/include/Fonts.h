// Font families, by name, from the fonts Qt knows.
#pragma once

#include "MacTypes.h"

typedef SInt16 FMFontFamily;
enum { kInvalidFontFamily = -1 };

// A number for the named family (0 is the system font, "System"); the same
// name gives the same number within the process; kInvalidFontFamily for an
// unknown name.
TB_EXPORT FMFontFamily FMGetFontFamilyFromName(ConstStr255Param iName);
