#include "CFURL.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CFURL, FileURLsPercentEncodeThePathAndGiveItBack)
{
    const std::string path = "/tmp/cfurl/a b%c\xC3\xA9.pdf";
    CFURLRef url = TBCFURLCreateWithPath(path, false);
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(TBCFStringToUTF8(CFURLGetString(url)), "file:///tmp/cfurl/a%20b%25c%C3%A9.pdf");
    // The URL's own text gives the same file again.
    CFURLRef again = CFURLCreateWithString(nullptr, CFURLGetString(url), nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(TBCFURLGetPath(again), path);
    CFRelease(again);
    CFRelease(url);

    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("bad%2"), nullptr), nullptr);
    CFURLRef web = CFURLCreateWithString(nullptr, CFSTR("https://example.org/x?y=1"), nullptr);
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(TBCFURLGetPath(web), "");
    CFRelease(web);
    FSRef zero{};
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &zero), nullptr);
}

}  // namespace
