#include "CoreFoundation.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// A Pascal string of the given bytes.
std::basic_string<unsigned char> Pascal(const std::basic_string<unsigned char>& bytes)
{
    std::basic_string<unsigned char> p(1, static_cast<unsigned char>(bytes.size()));
    return p + bytes;
}

CFStringRef FromMacRoman(const std::basic_string<unsigned char>& bytes)
{
    return CFStringCreateWithPascalString(kCFAllocatorDefault, Pascal(bytes).c_str(),
                                          kCFStringEncodingMacRoman);
}

CFStringRef FromUTF8(const char* text)
{
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

TEST(MacRomanConversion, EveryByteRoundTripsThroughItsOwnCharacter)
{
    std::set<UniChar> characters;
    for (int byte = 0; byte < 256; ++byte) {
        CFStringRef s = FromMacRoman({static_cast<unsigned char>(byte)});
        ASSERT_NE(s, nullptr) << byte;
        ASSERT_EQ(CFStringGetLength(s), 1);
        characters.insert(CFStringGetCharacterAtIndex(s, 0));
        Str255 back = {};
        ASSERT_TRUE(CFStringGetPascalString(s, back, sizeof back, kCFStringEncodingMacRoman));
        EXPECT_EQ(back[0], 1);
        EXPECT_EQ(back[1], byte);
        CFRelease(s);
    }
    EXPECT_EQ(characters.size(), 256u) << "two bytes share a character";
}

TEST(MacRomanConversion, BytesMapToTheirUnicodeCharacters)
{
    const struct {
        unsigned char byte;
        UniChar character;
    } known[] = {
        {0x41, 0x0041}, {0x11, 0x0011}, {0x14, 0x0014}, {0x7F, 0x007F}, {0x80, 0x00C4},
        {0x8E, 0x00E9}, {0xA5, 0x2022}, {0xAA, 0x2122}, {0xBD, 0x03A9}, {0xCA, 0x00A0},
        {0xD7, 0x25CA}, {0xDB, 0x20AC}, {0xDE, 0xFB01}, {0xF0, 0xF8FF}, {0xF5, 0x0131},
        {0xFF, 0x02C7},
    };
    for (const auto& k : known) {
        CFStringRef s = FromMacRoman({k.byte});
        EXPECT_EQ(CFStringGetCharacterAtIndex(s, 0), k.character) << int(k.byte);
        CFRelease(s);
    }
}

TEST(MacRomanConversion, AgreesWithUTF8Text)
{
    CFStringRef roman = FromMacRoman({'C', 'a', 'f', 0x8E, ' ', 0xDB, '5'});
    char utf8[32];
    ASSERT_TRUE(CFStringGetCString(roman, utf8, sizeof utf8, kCFStringEncodingUTF8));
    EXPECT_STREQ(utf8, "Caf\xC3\xA9 \xE2\x82\xAC"
                       "5");
    CFStringRef fromUTF8 = FromUTF8(utf8);
    EXPECT_TRUE(CFEqual(roman, fromUTF8));
    CFRelease(roman);
    CFRelease(fromUTF8);
}

TEST(MacRomanConversion, TextLongerThanTheBufferIsRefused)
{
    const std::string longText(300, 'x');
    CFStringRef s = FromUTF8(longText.c_str());
    Str255 buffer;
    buffer[0] = 7;
    EXPECT_FALSE(CFStringGetPascalString(s, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_EQ(buffer[0], 0);
    CFRelease(s);

    CFStringRef full = FromUTF8(std::string(255, 'y').c_str());
    EXPECT_TRUE(CFStringGetPascalString(full, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_EQ(buffer[0], 255);
    EXPECT_EQ(buffer[255], 'y');
    CFRelease(full);

    // bufferSize counts the length byte.
    CFStringRef nine = FromUTF8("123456789");
    unsigned char small[10];
    EXPECT_TRUE(CFStringGetPascalString(nine, small, 10, kCFStringEncodingMacRoman));
    EXPECT_FALSE(CFStringGetPascalString(nine, small, 9, kCFStringEncodingMacRoman));
    char cText[10];
    EXPECT_TRUE(CFStringGetCString(nine, cText, 10, kCFStringEncodingMacRoman));
    EXPECT_FALSE(CFStringGetCString(nine, cText, 9, kCFStringEncodingMacRoman));
    EXPECT_STREQ(cText, "");
    CFRelease(nine);
}

TEST(MacRomanConversion, CharacterOutsideMacRomanIsRefused)
{
    CFStringRef s = FromUTF8("a\xC4\x81");  // a, a with macron
    ASSERT_NE(s, nullptr);
    Str255 buffer;
    EXPECT_FALSE(CFStringGetPascalString(s, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_EQ(buffer[0], 0);
    char utf8[8];
    EXPECT_TRUE(CFStringGetCString(s, utf8, sizeof utf8, kCFStringEncodingUTF8));
    CFRelease(s);
}

TEST(UTF8Conversion, MalformedTextMakesNoString)
{
    EXPECT_EQ(FromUTF8("\xC3"), nullptr);              // cut short
    EXPECT_EQ(FromUTF8("\xC0\xAF"), nullptr);          // overlong slash
    EXPECT_EQ(FromUTF8("\xED\xA0\x80"), nullptr);      // surrogate
    EXPECT_EQ(FromUTF8("\xF4\x90\x80\x80"), nullptr);  // above U+10FFFF
    EXPECT_EQ(FromUTF8("\xFF"), nullptr);
}

TEST(UTF8Conversion, CharactersBeyondTheBasicPlaneTakeTwoUnits)
{
    CFStringRef s = FromUTF8("\xF0\x9F\x8E\xAC!");  // clapper board
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 3);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 0), 0xD83C);
    EXPECT_EQ(TBCFStringToUTF8(s), "\xF0\x9F\x8E\xAC!");
    UniChar units[2] = {};
    CFStringGetCharacters(s, CFRangeMake(1, 2), units);
    EXPECT_EQ(units[0], 0xDFAC);
    EXPECT_EQ(units[1], u'!');
    CFRelease(s);
}

TEST(UTF8Conversion, UnpairedSurrogateCannotBeEncoded)
{
    const UniChar lone[] = {u'a', 0xD800};
    CFStringRef s = CFStringCreateWithCharacters(kCFAllocatorDefault, lone, 2);
    char buffer[16];
    EXPECT_FALSE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8));
    EXPECT_EQ(TBCFStringToUTF8(s), "a\xEF\xBF\xBD");
    CFRelease(s);
}

TEST(CFObjects, ReleaseFreesAtTheLastReference)
{
    CFStringRef s = FromUTF8("counted");
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_EQ(CFRetain(s), s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFStringRef copy = CFStringCreateCopy(kCFAllocatorDefault, s);
    EXPECT_EQ(copy, s);
    EXPECT_EQ(CFGetRetainCount(s), 3);
    CFRelease(copy);
    CFRelease(s);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);  // the sanitizer build reports a leak or double free here
    CFRelease(nullptr);
}

TEST(CFObjects, ConstantStringsAreSharedAndOutliveReleases)
{
    CFStringRef a = CFSTR("Internal Notification:");
    CFStringRef b = CFSTR("Internal Notification:");
    EXPECT_EQ(a, b);
    CFRelease(a);
    CFRelease(a);
    EXPECT_EQ(TBCFStringToUTF8(b), "Internal Notification:");
    EXPECT_NE(CFSTR("ok"), a);
}

TEST(CFObjects, EqualityAndComparisonFollowTheCharacters)
{
    CFStringRef made = FromUTF8("Info");
    EXPECT_TRUE(CFEqual(made, CFSTR("Info")));
    EXPECT_FALSE(CFEqual(made, CFSTR("info")));
    EXPECT_FALSE(CFEqual(made, nullptr));
    EXPECT_EQ(CFStringCompare(made, CFSTR("info"), 0), kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(made, CFSTR("info"), kCFCompareCaseInsensitive), kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompare(made, CFSTR("Inf"), 0), kCFCompareGreaterThan);
    CFRelease(made);
}

}  // namespace
