#include "CFURL.h"

#include "MacErrors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Text(CFStringRef string)
{
    return TBCFStringToUTF8(string);
}

class CFURLTest : public ::testing::Test {
protected:
    CFURLTest()
    {
        char pattern[] = "/tmp/cfurl-XXXXXX";
        folder_ = mkdtemp(pattern);
    }
    ~CFURLTest() override { std::filesystem::remove_all(folder_); }

    std::string folder_;
};

TEST_F(CFURLTest, FileURLsPercentEncodeThePathAndGiveItBack)
{
    const std::string path = folder_ + "/a b%c\xC3\xA9.pdf";
    CFStringRef pathString = TBCFStringCreateWithUTF8(path);
    CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, pathString, kCFURLPOSIXPathStyle, false);
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(Text(CFURLGetString(url)), "file://" + folder_ + "/a%20b%25c%C3%A9.pdf");
    CFStringRef back = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
    EXPECT_EQ(Text(back), path);

    // The URL's own text gives the same file again.
    CFURLRef again = CFURLCreateWithString(nullptr, CFURLGetString(url), nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(TBCFURLGetPath(again), path);
    UInt8 small[8];
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(url, true, small, sizeof small));
    CFRelease(back);
    CFRelease(again);
    CFRelease(url);
    CFRelease(pathString);
}

TEST_F(CFURLTest, TextsThatAreNoURLGiveNil)
{
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("has blank"), nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("bad%2"), nullptr), nullptr);
    CFURLRef web = CFURLCreateWithString(nullptr, CFSTR("https://example.org/x?y=1"), nullptr);
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(CFURLCopyFileSystemPath(web, kCFURLPOSIXPathStyle), nullptr);
    CFRelease(web);
}

TEST_F(CFURLTest, FSRefsNameExistingItemsOnly)
{
    const std::string file = folder_ + "/doc.txt";
    std::ofstream(file) << "x";
    FSRef ref;
    Boolean isDirectory = true;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(file.c_str()), &ref, &isDirectory), noErr);
    EXPECT_FALSE(isDirectory);
    UInt8 path[1024];
    ASSERT_EQ(FSRefMakePath(&ref, path, sizeof path), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(path)), file);
    EXPECT_EQ(FSRefMakePath(&ref, path, 4), paramErr);

    const std::string missing = folder_ + "/none";
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(missing.c_str()), &ref, nullptr), fnfErr);
    FSRef zero{};
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &zero), nullptr);
}

}  // namespace
