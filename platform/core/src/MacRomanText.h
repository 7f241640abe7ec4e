// Conversion between Mac OS Roman bytes and UTF-8 text.
#pragma once

#include <string>

// Every Mac OS Roman byte has a Unicode counterpart, so this cannot fail.
std::string TBUTF8FromMacRoman(const std::string& macRoman);

// False when the text is not valid UTF-8 or holds a character that Mac OS
// Roman lacks.
bool TBMacRomanFromUTF8(const std::string& utf8, std::string& macRoman);
