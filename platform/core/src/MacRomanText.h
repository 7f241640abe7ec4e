// Conversion between Mac OS Roman bytes and UTF-8 text.
#pragma once

#include <string>

#include "MacTypes.h"

// Every Mac OS Roman byte has a Unicode counterpart, so this cannot fail.
std::string TBUTF8FromMacRoman(const std::string& macRoman);

// False when the text is not valid UTF-8 or holds a character that Mac OS
// Roman lacks. Exported for the resource compiler.
TB_EXPORT bool TBMacRomanFromUTF8(const std::string& utf8, std::string& macRoman);
