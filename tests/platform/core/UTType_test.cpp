#include "UTType.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The identifier for a tag as text; "" for nil.
std::string Identifier(CFStringRef tagClass, const char* tag, CFStringRef within = nullptr)
{
    CFStringRef tagText = TBCFStringCreateWithUTF8(tag);
    CFStringRef made = UTTypeCreatePreferredIdentifierForTag(tagClass, tagText, within);
    CFRelease(tagText);
    const std::string result = TBCFStringToUTF8(made);
    CFRelease(made);
    return result;
}

bool ConformsTo(const std::string& type, const char* target)
{
    CFStringRef a = TBCFStringCreateWithUTF8(type);
    CFStringRef b = TBCFStringCreateWithUTF8(target);
    const bool result = UTTypeConformsTo(a, b);
    CFRelease(a);
    CFRelease(b);
    return result;
}

TEST(UTType, ExtensionsFindTheirTypesWithoutRegardToCaseFileTypesExactlyAndInTheirOwnOrder)
{
    EXPECT_EQ(Identifier(kUTTagClassFilenameExtension, "JPG"), "public.jpeg");
    EXPECT_EQ(Identifier(kUTTagClassFilenameExtension, "png", kUTTypeMovie), "");
    EXPECT_EQ(Identifier(kUTTagClassOSType, "PDF "), "com.adobe.pdf");
    CFStringRef text = UTCreateStringForOSType(FOUR_CHAR_CODE("PNGf"));
    EXPECT_EQ(TBCFStringToUTF8(text), "PNGf");  // not its bytes in memory order
    CFRelease(text);
    EXPECT_EQ(Identifier(kUTTagClassOSType, "PDF").rfind("dyn.", 0), 0u);
}

TEST(UTType, ConformanceFollowsTheWholeChainAndUnknownTagsAreStableDynamicData)
{
    EXPECT_TRUE(ConformsTo("PUBLIC.JPEG", "Public.Content"));
    EXPECT_TRUE(ConformsTo("com.apple.quicktime-movie", "public.audiovisual-content"));
    EXPECT_FALSE(ConformsTo("public.image", "public.png"));
    EXPECT_FALSE(ConformsTo("org.example.unknown", "public.data"));
    EXPECT_FALSE(UTTypeConformsTo(nullptr, kUTTypeData));

    const std::string made = Identifier(kUTTagClassFilenameExtension, "brimtone");
    EXPECT_EQ(made.rfind("dyn.", 0), 0u);
    EXPECT_EQ(Identifier(kUTTagClassFilenameExtension, "BRIMTONE"), made);
    EXPECT_NE(Identifier(kUTTagClassFilenameExtension, "brimtonf"), made);
    EXPECT_NE(Identifier(kUTTagClassOSType, "brim"), Identifier(kUTTagClassFilenameExtension, "brim"));
    EXPECT_TRUE(ConformsTo(made, "public.data"));
    EXPECT_FALSE(ConformsTo(made, "public.image"));
}

}  // namespace
