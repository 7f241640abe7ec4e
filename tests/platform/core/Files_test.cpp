#include "Files.h"
#include "MacErrors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

ConstStr255Param Name(const char* lengthFirst) { return reinterpret_cast<ConstStr255Param>(lengthFirst); }
std::string Pascal(ConstStr255Param s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = fs::canonical(pattern).string();
        FSSpec probe{};
        ASSERT_EQ(TBFSSpecFromPath(mFolder + "/probe", &probe), fnfErr);
        mDirID = probe.parID;
    }
    void TearDown() override { fs::remove_all(mFolder); }

    std::string mFolder;
    SInt32 mDirID = 0;
};

TEST_F(FilesTest, NamesMapBetweenMacRomanAndUTF8)
{
    // "Café/Bar" on the Mac is "Café:Bar" on Linux.
    FSSpec spec{};
    ASSERT_EQ(FSMakeFSSpec(-1, mDirID, Name("\x08" "Caf\x8E/Bar"), &spec), fnfErr);
    std::string path;
    ASSERT_TRUE(TBPathFromFSSpec(spec, path));
    EXPECT_EQ(fs::path(path).filename().string(), "Caf\xC3\xA9:Bar");
    FSSpec back{};
    EXPECT_EQ(TBFSSpecFromPath(path, &back), fnfErr);
    EXPECT_EQ(Pascal(back.name), "Caf\x8E/Bar");

    EXPECT_EQ(TBFSSpecFromPath(mFolder + "/\xE4\xB8\xAD", &back), bdNamErr) << "no Mac Roman form";
    EXPECT_EQ(TBFSSpecFromPath(mFolder + "/" + std::string(64, 'a'), &back), bdNamErr);
    EXPECT_EQ(FSMakeFSSpec(-1, mDirID, Name("\x02.."), &spec), bdNamErr);
}

TEST_F(FilesTest, DataForkPositionsStayInsideTheFork)
{
    FSSpec spec{};
    TBFSSpecFromPath(mFolder + "/fork", &spec);
    ASSERT_EQ(FSpCreate(&spec, 0, 0, smSystemScript), noErr);
    SInt16 refNum = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &refNum), noErr);
    SInt32 count = 5;
    EXPECT_EQ(FSWrite(refNum, &count, "hello"), noErr);
    EXPECT_EQ(SetFPos(refNum, fsFromStart, -1), posErr);
    EXPECT_EQ(SetFPos(refNum, fsFromLEOF, 3), eofErr);
    EXPECT_EQ(SetFPos(refNum, fsFromStart, 1), noErr);
    count = 1;
    EXPECT_EQ(FSWrite(refNum, &count, "E"), noErr);
    EXPECT_EQ(FSClose(refNum), noErr);
    std::string text;
    std::getline(std::ifstream(mFolder + "/fork"), text);
    EXPECT_EQ(text, "hEllo");
}

} // namespace
