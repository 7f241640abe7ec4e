#include "MacRomanText.h"

#include <algorithm>
#include <vector>

#include "CoreFoundation.h"

// Both directions go through CFString, which owns the one Mac OS Roman table.

std::string TBUTF8FromMacRoman(const std::string& macRoman)
{
    std::string utf8;
    // Pascal strings carry at most 255 bytes; Mac OS Roman is one byte a
    // character, so the text converts piece by piece.
    for (size_t start = 0; start < macRoman.size(); start += 255) {
        const size_t length = std::min<size_t>(255, macRoman.size() - start);
        Str255 piece;
        piece[0] = static_cast<unsigned char>(length);
        std::copy_n(macRoman.data() + start, length, piece + 1);
        CFStringRef text = CFStringCreateWithPascalString(kCFAllocatorDefault, piece, kCFStringEncodingMacRoman);
        if (!text) return utf8;
        utf8 += TBCFStringToUTF8(text);
        CFRelease(text);
    }
    return utf8;
}

bool TBMacRomanFromUTF8(const std::string& utf8, std::string& macRoman)
{
    if (utf8.find('\0') != std::string::npos) return false;
    CFStringRef text = TBCFStringCreateWithUTF8(utf8);
    if (!text) return false;
    // Never more Mac OS Roman bytes than UTF-8 bytes, plus the terminator.
    std::vector<char> buffer(utf8.size() + 1);
    const bool converted =
        CFStringGetCString(text, buffer.data(), CFIndex(buffer.size()), kCFStringEncodingMacRoman);
    CFRelease(text);
    if (converted) macRoman.assign(buffer.data());
    return converted;
}
