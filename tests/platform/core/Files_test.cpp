#include "Files.h"
#include "MacErrors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct PascalName {
    Str255 text;
    explicit PascalName(const std::string& s)
    {
        text[0] = UInt8(s.size());
        std::memcpy(text + 1, s.data(), s.size());
    }
};

std::string Pascal(ConstStr255Param s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = pattern;
        FSSpec probe{};
        ASSERT_EQ(TBFSSpecFromPath(mFolder + "/probe", &probe), fnfErr);
        mDirID = probe.parID;
    }

    void TearDown() override { fs::remove_all(mFolder); }

    std::string mFolder;
    SInt32 mDirID = 0;
};

TEST_F(FilesTest, MakeFSSpecTellsWhetherTheFileExists)
{
    std::ofstream(mFolder + "/kavlo-Prefs") << "";
    FSSpec spec{};
    const PascalName existing("kavlo-Prefs");
    EXPECT_EQ(FSMakeFSSpec(-1, mDirID, existing.text, &spec), noErr);
    EXPECT_EQ(spec.parID, mDirID);

    FSSpec missing{};
    const PascalName absent("absent");
    EXPECT_EQ(FSMakeFSSpec(-1, mDirID, absent.text, &missing), fnfErr);
    EXPECT_EQ(Pascal(missing.name), "absent") << "the file specification is filled for a file yet to be made";
    std::string path;
    ASSERT_TRUE(TBPathFromFSSpec(missing, path));
    EXPECT_EQ(path, fs::canonical(mFolder).string() + "/absent");

    fs::remove_all(mFolder);
    EXPECT_EQ(FSMakeFSSpec(-1, mDirID, existing.text, &spec), dirNFErr) << "the folder went away";
}

TEST_F(FilesTest, NamesMapBetweenMacRomanAndUTF8)
{
    // "Café/Bar" on the Mac is "Café:Bar" on Linux.
    const PascalName macName("Caf\x8E/Bar");
    FSSpec spec{};
    ASSERT_EQ(FSMakeFSSpec(-1, mDirID, macName.text, &spec), fnfErr);
    std::string path;
    ASSERT_TRUE(TBPathFromFSSpec(spec, path));
    EXPECT_EQ(fs::path(path).filename().string(), "Caf\xC3\xA9:Bar");

    FSSpec back{};
    EXPECT_EQ(TBFSSpecFromPath(path, &back), fnfErr);
    EXPECT_EQ(Pascal(back.name), "Caf\x8E/Bar");

    EXPECT_EQ(TBFSSpecFromPath(mFolder + "/\xE4\xB8\xAD", &back), bdNamErr) << "no Mac Roman form";
    EXPECT_EQ(TBFSSpecFromPath(mFolder + "/" + std::string(64, 'a'), &back), bdNamErr);
    const PascalName dots("..");
    EXPECT_EQ(FSMakeFSSpec(-1, mDirID, dots.text, &spec), bdNamErr);
}

TEST_F(FilesTest, DataForkReadsWritesAndPositions)
{
    FSSpec spec{};
    TBFSSpecFromPath(mFolder + "/fork", &spec);
    ASSERT_EQ(FSpCreate(&spec, 0, 0, smSystemScript), noErr);
    SInt16 refNum = 0;
    ASSERT_EQ(FSpOpenDF(&spec, fsRdWrPerm, &refNum), noErr);
    SInt32 count = 5;
    EXPECT_EQ(FSWrite(refNum, &count, "hello"), noErr);
    EXPECT_EQ(SetFPos(refNum, fsFromStart, 1), noErr);
    char buffer[8] = {};
    count = 8;
    EXPECT_EQ(FSRead(refNum, &count, buffer), eofErr);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::string(buffer, 4), "ello");
    EXPECT_EQ(SetFPos(refNum, fsFromStart, -1), posErr);
    EXPECT_EQ(SetFPos(refNum, fsFromLEOF, 3), eofErr);
    EXPECT_EQ(FSClose(refNum), noErr);
}

} // namespace
