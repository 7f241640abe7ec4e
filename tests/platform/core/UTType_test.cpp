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

bool ConformsTo(const char* type, const char* target)
{
    CFStringRef a = TBCFStringCreateWithUTF8(type);
    CFStringRef b = TBCFStringCreateWithUTF8(target);
    const bool result = UTTypeConformsTo(a, b);
    CFRelease(a);
    CFRelease(b);
    return result;
}

std::string TypeText(OSType code)
{
    CFStringRef text = UTCreateStringForOSType(code);
    const std::string result = TBCFStringToUTF8(text);
    CFRelease(text);
    return result;
}

TEST(UTType, ExtensionsFindTheirTypesWithoutRegardToCase)
{
    EXPECT_EQ(Identifier(kUTTagClassFilenameExtension, "png"), "public.png");
    EXPECT_EQ(Identifier(kUTTagClassFilenameExtension, "JPG"), "public.jpeg");
    EXPECT_EQ(Identifier(kUTTagClassFilenameExtension, "png", kUTTypeMovie), "");
    CFStringRef empty = TBCFStringCreateWithUTF8("");
    EXPECT_EQ(UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, empty, nullptr), nullptr);
    CFRelease(empty);
}

TEST(UTType, FileTypesRoundTripThroughTheirText)
{
    EXPECT_EQ(TypeText(FOUR_CHAR_CODE("PDF ")), "PDF ");
    EXPECT_EQ(TypeText(0), "");
    EXPECT_EQ(Identifier(kUTTagClassOSType, "PDF "), "com.adobe.pdf");
    // An OSType tag is exact: case and length matter.
    EXPECT_EQ(Identifier(kUTTagClassOSType, "text").rfind("dyn.", 0), 0u);
    EXPECT_EQ(Identifier(kUTTagClassOSType, "PDF").rfind("dyn.", 0), 0u);
}

TEST(UTType, ConformanceFollowsTheWholeChain)
{
    EXPECT_TRUE(ConformsTo("public.jpeg", "public.item"));
    EXPECT_TRUE(ConformsTo("PUBLIC.JPEG", "Public.Content"));
    EXPECT_TRUE(ConformsTo("com.apple.quicktime-movie", "public.audiovisual-content"));
    EXPECT_TRUE(ConformsTo("org.example.unknown", "org.example.unknown"));
    EXPECT_FALSE(ConformsTo("public.image", "public.png"));
    EXPECT_FALSE(ConformsTo("org.example.unknown", "public.data"));
    EXPECT_FALSE(UTTypeConformsTo(nullptr, kUTTypeData));
}

TEST(UTType, UnknownTagsGiveStableDynamicDataTypes)
{
    const std::string made = Identifier(kUTTagClassFilenameExtension, "brimtone");
    EXPECT_EQ(made.rfind("dyn.", 0), 0u);
    EXPECT_EQ(Identifier(kUTTagClassFilenameExtension, "BRIMTONE"), made);
    EXPECT_NE(Identifier(kUTTagClassFilenameExtension, "brimtonf"), made);
    EXPECT_NE(Identifier(kUTTagClassOSType, "brim"), Identifier(kUTTagClassFilenameExtension, "brim"));
    EXPECT_TRUE(ConformsTo(made.c_str(), "public.data"));
    EXPECT_FALSE(ConformsTo(made.c_str(), "public.image"));
}

}  // namespace
