#include "UTType.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct KnownType {
    const char* identifier;
    std::vector<const char*> parents;
    std::vector<const char*> extensions;
    std::vector<OSType> fileTypes;
};

const std::vector<KnownType>& Types()
{
    static const std::vector<KnownType> types = {
        {"public.item", {}, {}, {}},
        {"public.content", {}, {}, {}},
        {"public.data", {"public.item"}, {}, {}},
        {"public.directory", {"public.item"}, {}, {}},
        {"public.folder", {"public.directory"}, {}, {}},
        {"public.composite-content", {"public.content"}, {}, {}},
        {"public.image", {"public.data", "public.content"}, {}, {}},
        {"public.jpeg", {"public.image"}, {"jpg", "jpeg", "jpe"}, {FOUR_CHAR_CODE("JPEG")}},
        {"public.png", {"public.image"}, {"png"}, {FOUR_CHAR_CODE("PNGf")}},
        {"public.tiff", {"public.image"}, {"tif", "tiff"}, {FOUR_CHAR_CODE("TIFF")}},
        {"com.compuserve.gif", {"public.image"}, {"gif"}, {FOUR_CHAR_CODE("GIFf")}},
        {"com.microsoft.bmp", {"public.image"}, {"bmp"}, {FOUR_CHAR_CODE("BMPf")}},
        {"com.apple.pict", {"public.image"}, {"pict", "pct", "pic"}, {FOUR_CHAR_CODE("PICT")}},
        {"com.adobe.pdf", {"public.data", "public.composite-content"}, {"pdf"},
         {FOUR_CHAR_CODE("PDF ")}},
        {"public.audiovisual-content", {"public.data", "public.content"}, {}, {}},
        {"public.movie", {"public.audiovisual-content"}, {}, {}},
        {"public.video", {"public.movie"}, {}, {}},
        {"public.audio", {"public.audiovisual-content"}, {}, {}},
        {"public.mpeg", {"public.movie"}, {"mpg", "mpeg"}, {FOUR_CHAR_CODE("MPG ")}},
        {"public.mpeg-4", {"public.movie"}, {"mp4", "mpg4"}, {FOUR_CHAR_CODE("mpg4")}},
        {"com.apple.quicktime-movie", {"public.movie"}, {"mov", "qt"}, {FOUR_CHAR_CODE("MooV")}},
        {"public.avi", {"public.movie"}, {"avi"}, {FOUR_CHAR_CODE("VfW ")}},
        {"public.mp3", {"public.audio"}, {"mp3"}, {FOUR_CHAR_CODE("MPG3")}},
        {"public.aiff-audio", {"public.audio"}, {"aiff", "aif"}, {FOUR_CHAR_CODE("AIFF")}},
        {"com.microsoft.waveform-audio", {"public.audio"}, {"wav", "wave"}, {FOUR_CHAR_CODE("WAVE")}},
        {"public.text", {"public.data", "public.content"}, {}, {}},
        {"public.plain-text", {"public.text"}, {"txt", "text"}, {FOUR_CHAR_CODE("TEXT")}},
        {"public.utf8-plain-text", {"public.plain-text"}, {}, {}},
        {"public.rtf", {"public.text"}, {"rtf"}, {FOUR_CHAR_CODE("RTF ")}},
        {"public.html", {"public.text"}, {"html", "htm"}, {FOUR_CHAR_CODE("HTML")}},
        {"public.xml", {"public.text"}, {"xml"}, {}},
    };
    return types;
}

constexpr const char* kDynamicPrefix = "dyn.";

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return text;
}

const KnownType* Find(const std::string& identifier)
{
    const std::string key = Lower(identifier);
    for (const KnownType& type : Types()) {
        if (key == type.identifier)
            return &type;
    }
    return nullptr;
}

bool Conforms(const std::string& identifier, const std::string& target, int depth)
{
    if (Lower(identifier) == Lower(target))
        return true;
    if (Lower(identifier).starts_with(kDynamicPrefix))
        return Conforms("public.data", target, depth + 1);
    const KnownType* type = Find(identifier);
    if (type == nullptr || depth > 16)
        return false;
    for (const char* parent : type->parents) {
        if (Conforms(parent, target, depth + 1))
            return true;
    }
    return false;
}

// A stable identifier for an unknown tag: its bytes in hexadecimal.
std::string DynamicIdentifier(char tagClass, const std::string& tag)
{
    std::string identifier = std::string(kDynamicPrefix) + tagClass;
    for (unsigned char c : tag) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", c);
        identifier += digits;
    }
    return identifier;
}

bool OSTypeFromText(CFStringRef text, OSType& code)
{
    Str255 bytes;
    if (!CFStringGetPascalString(text, bytes, sizeof bytes, kCFStringEncodingMacRoman) || bytes[0] != 4)
        return false;
    code = (OSType(bytes[1]) << 24) | (OSType(bytes[2]) << 16) | (OSType(bytes[3]) << 8) | bytes[4];
    return true;
}

}  // namespace

CFStringRef UTTypeCreatePreferredIdentifierForTag(CFStringRef inTagClass, CFStringRef inTag,
                                                  CFStringRef inConformingToUTI)
{
    if (inTagClass == nullptr || inTag == nullptr || CFStringGetLength(inTag) == 0)
        return nullptr;
    const bool byExtension = CFEqual(inTagClass, kUTTagClassFilenameExtension);
    const bool byOSType = CFEqual(inTagClass, kUTTagClassOSType);
    if (!byExtension && !byOSType)
        return nullptr;
    const std::string tag = TBCFStringToUTF8(inTag);
    const std::string extension = Lower(tag);
    OSType code = 0;
    const bool hasCode = byOSType && OSTypeFromText(inTag, code);
    const std::string within =
        inConformingToUTI != nullptr ? TBCFStringToUTF8(inConformingToUTI) : std::string();
    for (const KnownType& type : Types()) {
        const bool carries =
            byExtension ? std::any_of(type.extensions.begin(), type.extensions.end(),
                                      [&](const char* e) { return extension == e; })
                        : hasCode && std::find(type.fileTypes.begin(), type.fileTypes.end(), code) !=
                                         type.fileTypes.end();
        if (carries && (within.empty() || Conforms(type.identifier, within, 0)))
            return TBCFStringCreateWithUTF8(type.identifier);
    }
    const std::string dynamic = DynamicIdentifier(byExtension ? 'e' : 'o', byExtension ? extension : tag);
    if (!within.empty() && !Conforms(dynamic, within, 0))
        return nullptr;
    return TBCFStringCreateWithUTF8(dynamic);
}

CFStringRef UTCreateStringForOSType(OSType inOSType)
{
    Str255 text = {0};
    if (inOSType != 0) {
        text[0] = 4;
        for (int i = 0; i < 4; ++i)
            text[1 + i] = UInt8(inOSType >> (24 - 8 * i));
    }
    return CFStringCreateWithPascalString(kCFAllocatorDefault, text, kCFStringEncodingMacRoman);
}

Boolean UTTypeConformsTo(CFStringRef inUTI, CFStringRef inConformsToUTI)
{
    if (inUTI == nullptr || inConformsToUTI == nullptr)
        return false;
    return Conforms(TBCFStringToUTF8(inUTI), TBCFStringToUTF8(inConformsToUTI), 0);
}
