#include "CoreFoundation.h"

#include "MacMemory.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

struct OpaqueCFString : TBCFObject {
    explicit OpaqueCFString(std::u16string text) : chars(std::move(text)) {}

    bool Equals(const TBCFObject& other) const override
    {
        const auto* string = dynamic_cast<const OpaqueCFString*>(&other);
        return string != nullptr && string->chars == chars;
    }

    std::u16string chars;
};

TBCFObject::~TBCFObject() = default;

bool TBCFObject::Equals(const TBCFObject& other) const
{
    return this == &other;
}

namespace {

// Unicode code points of the Mac OS Roman bytes 0x80 to 0xFF; bytes below
// 0x80 are ASCII, control characters included.
constexpr char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // 0xA0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // 0xA8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // 0xB0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // 0xB8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // 0xC0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // 0xC8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // 0xD0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xD8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // 0xE0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // 0xE8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // 0xF0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // 0xF8
};

bool MacRomanByte(char16_t c, unsigned char& byte)
{
    if (c < 0x80) {
        byte = static_cast<unsigned char>(c);
        return true;
    }
    const auto* end = kMacRomanHigh + 128;
    const auto* found = std::find(kMacRomanHigh, end, c);
    if (found == end)
        return false;
    byte = static_cast<unsigned char>(0x80 + (found - kMacRomanHigh));
    return true;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendCodePoint(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// Strict UTF-8: no overlong forms, surrogates or values above U+10FFFF.
bool DecodeUTF8(const unsigned char* bytes, size_t count, std::u16string& out)
{
    size_t pos = 0;
    while (pos < count) {
        const unsigned char lead = bytes[pos];
        char32_t c;
        size_t extra;
        if (lead < 0x80) {
            c = lead;
            extra = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            c = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            c = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            c = lead & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (count - pos - 1 < extra)
            return false;
        for (size_t i = 1; i <= extra; ++i) {
            const unsigned char next = bytes[pos + i];
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        AppendCodePoint(out, c);
        pos += extra + 1;
    }
    return true;
}

void AppendUTF8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Unpaired surrogates fail, or become U+FFFD when lenient.
bool EncodeUTF8(const std::u16string& text, std::string& out, bool lenient)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUTF8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            if (!lenient)
                return false;
            AppendUTF8(out, 0xFFFD);
        } else {
            AppendUTF8(out, c);
        }
    }
    return true;
}

bool Decode(const unsigned char* bytes, size_t count, CFStringEncoding encoding,
            std::u16string& out)
{
    switch (encoding) {
    case kCFStringEncodingMacRoman:
        for (size_t i = 0; i < count; ++i)
            out += bytes[i] < 0x80 ? char16_t(bytes[i]) : kMacRomanHigh[bytes[i] - 0x80];
        return true;
    case kCFStringEncodingISOLatin1:
        for (size_t i = 0; i < count; ++i)
            out += char16_t(bytes[i]);
        return true;
    case kCFStringEncodingASCII:
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] >= 0x80)
                return false;
            out += char16_t(bytes[i]);
        }
        return true;
    case kCFStringEncodingUTF8:
        return DecodeUTF8(bytes, count, out);
    default:
        return false;
    }
}

bool Encode(const std::u16string& text, CFStringEncoding encoding, std::string& out)
{
    switch (encoding) {
    case kCFStringEncodingMacRoman:
        for (char16_t c : text) {
            unsigned char byte;
            if (!MacRomanByte(c, byte))
                return false;
            out += static_cast<char>(byte);
        }
        return true;
    case kCFStringEncodingISOLatin1:
    case kCFStringEncodingASCII: {
        const char16_t limit = encoding == kCFStringEncodingASCII ? 0x80 : 0x100;
        for (char16_t c : text) {
            if (c >= limit)
                return false;
            out += static_cast<char>(c);
        }
        return true;
    }
    case kCFStringEncodingUTF8:
        return EncodeUTF8(text, out, false);
    default:
        return false;
    }
}

const TBCFObject* AsObject(CFTypeRef cf)
{
    return static_cast<const TBCFObject*>(cf);
}

CFStringRef NewString(std::u16string text)
{
    return TBNew<OpaqueCFString>(std::move(text));
}

CFStringRef CreateFromBytes(const unsigned char* bytes, size_t count, CFStringEncoding encoding)
{
    std::u16string text;
    if (!Decode(bytes, count, encoding, text))
        return nullptr;
    return NewString(std::move(text));
}

// Writes the encoded text when it fits in `room` bytes.
bool EncodeInto(CFStringRef theString, CFStringEncoding encoding, size_t room, std::string& out)
{
    return theString != nullptr && Encode(theString->chars, encoding, out) && out.size() <= room;
}

char16_t FoldASCII(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

}  // namespace

CFTypeRef CFRetain(CFTypeRef cf)
{
    if (cf != nullptr && !AsObject(cf)->immortal)
        const_cast<TBCFObject*>(AsObject(cf))->retainCount.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf)
{
    if (cf == nullptr)
        return;
    auto* object = const_cast<TBCFObject*>(AsObject(cf));
    if (object->immortal)
        return;
    if (object->retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete object;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2)
{
    if (cf1 == nullptr || cf2 == nullptr)
        return false;
    return cf1 == cf2 || AsObject(cf1)->Equals(*AsObject(cf2));
}

CFStringRef TBCFSTR(const char* cStr)
{
    static std::mutex lock;
    static auto* constants = new std::unordered_map<std::string, OpaqueCFString*>;
    if (cStr == nullptr)
        return nullptr;
    const std::lock_guard<std::mutex> guard(lock);
    auto& entry = (*constants)[cStr];
    if (entry == nullptr) {
        std::u16string text;
        // Text that is not UTF-8 is read as Mac OS Roman, which accepts any byte.
        if (!DecodeUTF8(reinterpret_cast<const unsigned char*>(cStr), std::strlen(cStr), text)) {
            text.clear();
            Decode(reinterpret_cast<const unsigned char*>(cStr), std::strlen(cStr),
                   kCFStringEncodingMacRoman, text);
        }
        entry = TBNew<OpaqueCFString>(std::move(text));
        if (entry == nullptr) {
            constants->erase(cStr);
            return nullptr;
        }
        entry->immortal = true;
    }
    return entry;
}

CFStringRef CFStringCreateWithPascalString(CFAllocatorRef, ConstStr255Param pStr,
                                           CFStringEncoding encoding)
{
    if (pStr == nullptr)
        return nullptr;
    return CreateFromBytes(pStr + 1, pStr[0], encoding);
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding)
{
    if (cStr == nullptr)
        return nullptr;
    return CreateFromBytes(reinterpret_cast<const unsigned char*>(cStr), std::strlen(cStr),
                           encoding);
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString)
{
    return static_cast<CFStringRef>(CFRetain(theString));
}

CFIndex CFStringGetLength(CFStringRef theString)
{
    return theString == nullptr ? 0 : static_cast<CFIndex>(theString->chars.size());
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx)
{
    if (idx < 0 || idx >= CFStringGetLength(theString))
        return 0;
    return theString->chars[static_cast<size_t>(idx)];
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer)
{
    const CFIndex length = CFStringGetLength(theString);
    if (buffer == nullptr || range.location < 0 || range.length < 0 ||
        range.location > length || range.length > length - range.location)
        return;
    std::copy_n(theString->chars.begin() + range.location, range.length, buffer);
}

Boolean CFStringGetPascalString(CFStringRef theString, StringPtr buffer, CFIndex bufferSize,
                                CFStringEncoding encoding)
{
    if (buffer == nullptr || bufferSize < 1)
        return false;
    std::string bytes;
    const size_t room = static_cast<size_t>(std::min<CFIndex>(bufferSize - 1, 255));
    if (!EncodeInto(theString, encoding, room, bytes)) {
        buffer[0] = 0;
        return false;
    }
    buffer[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(buffer + 1, bytes.data(), bytes.size());
    return true;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding)
{
    if (buffer == nullptr || bufferSize < 1)
        return false;
    std::string bytes;
    if (!EncodeInto(theString, encoding, static_cast<size_t>(bufferSize - 1), bytes)) {
        buffer[0] = 0;
        return false;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    buffer[bytes.size()] = 0;
    return true;
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions)
{
    static const std::u16string kEmpty;
    const std::u16string& a = theString1 != nullptr ? theString1->chars : kEmpty;
    const std::u16string& b = theString2 != nullptr ? theString2->chars : kEmpty;
    const bool fold = (compareOptions & kCFCompareCaseInsensitive) != 0;
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const char16_t x = fold ? FoldASCII(a[i]) : a[i];
        const char16_t y = fold ? FoldASCII(b[i]) : b[i];
        if (x != y)
            return x < y ? kCFCompareLessThan : kCFCompareGreaterThan;
    }
    if (a.size() == b.size())
        return kCFCompareEqualTo;
    return a.size() < b.size() ? kCFCompareLessThan : kCFCompareGreaterThan;
}

std::string TBCFStringToUTF8(CFStringRef theString)
{
    std::string out;
    if (theString != nullptr)
        EncodeUTF8(theString->chars, out, true);
    return out;
}

CFStringRef TBCFStringCreateWithUTF8(const std::string& utf8)
{
    return CreateFromBytes(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(),
                           kCFStringEncodingUTF8);
}
