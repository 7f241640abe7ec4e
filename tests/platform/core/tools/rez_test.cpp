#include "MacErrors.h"
#include "MacMemory.h"
#include "Resources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

// The build puts the tool and the bundle's resources beside the tests'
// folder; BRIMTONE_REZ names another tool.
const fs::path kBuild = fs::canonical("/proc/self/exe").parent_path().parent_path();

fs::path RezTool()
{
    const char* tool = std::getenv("BRIMTONE_REZ");
    return tool && *tool ? fs::path(tool) : kBuild / "platform" / "core" / "brimtone-rez";
}

std::string ListEntry(SInt16 list, SInt16 index)
{
    Str255 text;
    GetIndString(text, list, index);
    return std::string(reinterpret_cast<const char*>(text + 1), text[0]);
}

class RezTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(RezTool())) << RezTool() << " is missing: build the target brimtone-rez";
        char pattern[] = "/tmp/brimtone-rez-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = pattern;
    }

    void TearDown() override
    {
        while (CurResFile() != 0)
            CloseResFile(CurResFile());
        fs::remove_all(mFolder);
    }

    // Compiles source into out.rsrc; the exit status, with the messages in mMessages.
    int Compile(const std::string& source)
    {
        std::ofstream(mFolder / "in.r") << source;
        const std::string command = "'" + RezTool().string() + "' '" + (mFolder / "in.r").string() + "' -o '" +
                                    Output() + "' 2>'" + (mFolder / "messages").string() + "'";
        const int status = std::system(command.c_str());
        std::ifstream messages(mFolder / "messages");
        mMessages.assign(std::istreambuf_iterator<char>(messages), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Output() const { return (mFolder / "out.rsrc").string(); }

    fs::path mFolder;
    std::string mMessages;
};

TEST_F(RezTest, CompilesStringListsAndHexData)
{
    ASSERT_EQ(Compile("# comment\n"
                      "resource 'STR#' 128 \"Slider names\" {\n"
                      "    \"Threshold\";\n"
                      "    \"Say \\\"caf\xC3\xA9\\\" \\\\ \" \"joined\";  // two parts\n"
                      "    \"\";\n"
                      "}\n"
                      "data 'Pref' -2 \"Raw\" $\"0003 00\" $\"0a\";\n"
                      "data 'ABCD' 5 $\"\";\n"),
              0)
        << mMessages;
    ASSERT_NE(TBOpenResFileAtPath(Output().c_str(), fsRdPerm), -1) << ResError();
    EXPECT_EQ(ListEntry(128, 1), "Threshold");
    EXPECT_EQ(ListEntry(128, 2), "Say \"caf\x8E\" \\ joined");
    EXPECT_EQ(ListEntry(128, 3), "");
    EXPECT_EQ(GetHandleSize(Get1Resource(FOUR_CHAR_CODE("STR#"), 128)), 2 + 10 + 20 + 1);
    Handle raw = Get1Resource(FOUR_CHAR_CODE("Pref"), -2);
    ASSERT_TRUE(raw != nullptr && GetHandleSize(raw) == 4);
    EXPECT_EQ(std::memcmp(*raw, "\x00\x03\x00\x0a", 4), 0);
    EXPECT_EQ(GetHandleSize(Get1Resource(FOUR_CHAR_CODE("ABCD"), 5)), 0);
}

TEST_F(RezTest, ErrorsNameTheLineAndLeaveNoOutput)
{
    const struct {
        const char* source;
        const char* message;
    } cases[] = {
        {"resource 'STR#' 1 {\n  \"open;\n}\n", "in.r:2:"},
        {"data 'Pref' 0 $\"123\";\n", "in.r:1:"},
        {"data 'Pref' 0 $\"00\";\n\ndata 'Pref' 0 $\"01\";\n", "in.r:3:"},
        {"data 'Pref' 40000 $\"00\";\n", "in.r:1:"},
        {"\n\nresource 'STR#' 1 { \"\xE4\xB8\xAD\"; }\n", "in.r:3:"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(Compile(c.source), 0) << c.source;
        EXPECT_NE(mMessages.find(c.message), std::string::npos) << c.source << " said: " << mMessages;
        EXPECT_FALSE(fs::exists(Output())) << c.source;
    }
}

TEST_F(RezTest, BundleStringListsFitTheHostFields)
{
    const fs::path bundle = kBuild / "bundle" / "Brimtone.rsrc";
    ASSERT_TRUE(fs::exists(bundle)) << bundle << " is missing: build the target brimtone_rsrc";
    ASSERT_NE(TBOpenResFileAtPath(bundle.c_str(), fsRdPerm), -1) << ResError();
    for (SInt16 slider = 1; slider <= 3; ++slider) {
        EXPECT_FALSE(ListEntry(128, slider).empty()) << slider;
        EXPECT_LE(ListEntry(128, slider).size(), 127u);
    }
    EXPECT_FALSE(ListEntry(130, 1).empty());
    EXPECT_LE(ListEntry(130, 1).size(), 31u) << "the button title has 31 characters at most";
}

} // namespace
