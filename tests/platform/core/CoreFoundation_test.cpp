#include "CoreFoundation.h"

#include "CFURL.h"
#include "MacMemory.h"

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
        CFStringRef s = CFStringCreateWithPascalString(kCFAllocatorDefault, pascal, kCFStringEncodingMacRoman);
        ASSERT_NE(s, nullptr) << byte;
        const UniChar character = CFStringGetCharacterAtIndex(s, 0);
        characters.insert(character);
        EXPECT_TRUE(byte != 0xDB || character == 0x20AC) << "0xDB is the euro sign";
        Str255 back = {};
        ASSERT_TRUE(CFStringGetPascalString(s, back, sizeof back, kCFStringEncodingMacRoman));
        EXPECT_EQ(back[1], byte);
        CFRelease(s);
    }
    EXPECT_EQ(characters.size(), 256u) << "two bytes share a character";
}

TEST(MacRomanConversion, BufferSizeCountsTheLengthByteOrTheTerminatingZero)
{
    CFStringRef nine = FromUTF8("123456789");
    unsigned char small[10];
    EXPECT_TRUE(CFStringGetPascalString(nine, small, 10, kCFStringEncodingMacRoman));
    EXPECT_FALSE(CFStringGetPascalString(nine, small, 9, kCFStringEncodingMacRoman));
    EXPECT_EQ(small[0], 0);
    char cText[10];
    EXPECT_FALSE(CFStringGetCString(nine, cText, 9, kCFStringEncodingMacRoman));
    EXPECT_STREQ(cText, "");
    CFRelease(nine);
}

TEST(UTF8Conversion, MalformedTextIsRefusedAndSurrogatesPairUp)
{
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})  // cut, overlong, surrogate, big
        EXPECT_EQ(FromUTF8(bad), nullptr);
    CFStringRef s = FromUTF8("\xF0\x9F\x8E\xAC!");  // clapper board
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 3);
    EXPECT_EQ(TBCFStringToUTF8(s), "\xF0\x9F\x8E\xAC!");
    CFRelease(s);
}

// Each object a call makes failing in turn: the call gives nil and keeps
// nothing it made before (the sanitizer build checks for leaks).
TEST(CFObjects, ObjectsThatCannotBeMadeGiveNil)
{
    TBFailAllocationAfter(1);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "text", kCFStringEncodingMacRoman), nullptr);
    for (long n : {1L, 2L}) {
        TBFailAllocationAfter(n);
        EXPECT_EQ(TBCFURLCreateWithPath("/tmp/a file", false), nullptr) << n;
    }
    TBFailAllocationAfter(1);
    EXPECT_EQ(TBCFSTR("a constant made under pressure"), nullptr);
    TBFailAllocationAfter(0);
    EXPECT_EQ(TBCFStringToUTF8(TBCFSTR("a constant made under pressure")), "a constant made under pressure");
}

TEST(CFObjects, ReleasingAConstantStringLeavesItUsable)
{
    CFStringRef constant = CFSTR("Internal Notification:");
    CFRelease(constant);
    EXPECT_EQ(TBCFStringToUTF8(CFSTR("Internal Notification:")), "Internal Notification:");
}

}  // namespace
