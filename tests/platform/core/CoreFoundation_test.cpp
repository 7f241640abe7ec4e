#include "CoreFoundation.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

CFStringRef FromUTF8(const char* text)
{
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

TEST(MacRomanConversion, EveryByteRoundTripsThroughItsOwnCharacter)
{
    std::set<UniChar> characters;
    for (int byte = 0; byte < 256; ++byte) {
        const unsigned char pascal[2] = {1, static_cast<unsigned char>(byte)};
        CFStringRef s = CFStringCreateWithPascalString(kCFAllocatorDefault, pascal,
                                                       kCFStringEncodingMacRoman);
        ASSERT_NE(s, nullptr) << byte;
        characters.insert(CFStringGetCharacterAtIndex(s, 0));
        if (byte == 0xDB) {
            EXPECT_EQ(CFStringGetCharacterAtIndex(s, 0), 0x20AC);
        }
        Str255 back = {};
        ASSERT_TRUE(CFStringGetPascalString(s, back, sizeof back, kCFStringEncodingMacRoman));
        EXPECT_EQ(back[1], byte);
        CFRelease(s);
    }
    EXPECT_EQ(characters.size(), 256u) << "two bytes share a character";
}

TEST(MacRomanConversion, TooLongOrUnmappableTextIsRefused)
{
    CFStringRef s = FromUTF8(std::string(256, 'x').c_str());
    Str255 buffer;
    buffer[0] = 7;
    EXPECT_FALSE(CFStringGetPascalString(s, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_EQ(buffer[0], 0);
    CFRelease(s);

    // bufferSize counts the length byte, or the terminating zero.
    CFStringRef nine = FromUTF8("123456789");
    unsigned char small[10];
    EXPECT_TRUE(CFStringGetPascalString(nine, small, 10, kCFStringEncodingMacRoman));
    EXPECT_FALSE(CFStringGetPascalString(nine, small, 9, kCFStringEncodingMacRoman));
    char cText[10];
    EXPECT_FALSE(CFStringGetCString(nine, cText, 9, kCFStringEncodingMacRoman));
    EXPECT_STREQ(cText, "");
    CFRelease(nine);

    CFStringRef macron = FromUTF8("a\xC4\x81");
    EXPECT_FALSE(CFStringGetPascalString(macron, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    CFRelease(macron);
}

TEST(UTF8Conversion, MalformedTextAndSurrogates)
{
    EXPECT_EQ(FromUTF8("\xC3"), nullptr);              // cut short
    EXPECT_EQ(FromUTF8("\xC0\xAF"), nullptr);          // overlong slash
    EXPECT_EQ(FromUTF8("\xED\xA0\x80"), nullptr);      // surrogate
    EXPECT_EQ(FromUTF8("\xF4\x90\x80\x80"), nullptr);  // above U+10FFFF

    CFStringRef s = FromUTF8("\xF0\x9F\x8E\xAC!");  // clapper board
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 3);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 0), 0xD83C);
    EXPECT_EQ(TBCFStringToUTF8(s), "\xF0\x9F\x8E\xAC!");
    CFRelease(s);

    const UniChar lone[] = {u'a', 0xD800};
    CFStringRef unpaired = CFStringCreateWithCharacters(kCFAllocatorDefault, lone, 2);
    char buffer[16];
    EXPECT_FALSE(CFStringGetCString(unpaired, buffer, sizeof buffer, kCFStringEncodingUTF8));
    EXPECT_EQ(TBCFStringToUTF8(unpaired), "a\xEF\xBF\xBD");
    CFRelease(unpaired);
}

TEST(CFObjects, ReleaseFreesAtTheLastReference)
{
    CFStringRef s = FromUTF8("counted");
    CFRetain(s);
    CFStringRef copy = CFStringCreateCopy(kCFAllocatorDefault, s);
    EXPECT_EQ(CFGetRetainCount(s), 3);
    CFRelease(copy);
    CFRelease(s);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);  // the sanitizer build reports a leak or double free here
    CFStringRef constant = CFSTR("Internal Notification:");
    CFRelease(constant);
    EXPECT_EQ(TBCFStringToUTF8(CFSTR("Internal Notification:")), "Internal Notification:");
}

}  // namespace
