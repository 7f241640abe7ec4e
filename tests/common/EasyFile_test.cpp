#include "common/EasyFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "MacErrors.h"
#include "common/CommonProcs.h"

namespace {

namespace fs = std::filesystem;

class EasyFileOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "easyfile-XXXXXX").string();
        fFolder = mkdtemp(pattern.data());
        ASSERT_EQ(TBFSSpecFromPath((fFolder / "out.txt").string(), &fSpec), fnfErr);
    }
    void TearDown() override { fs::remove_all(fFolder); }
    std::string Contents() const
    {
        std::ifstream in(fFolder / "out.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path fFolder;
    FSSpec fSpec{};
};

TEST_F(EasyFileOutput, LinesEndInACarriageReturnAndAFullLineLosesItsLastCharacter)
{
    SInt16 ref = 0;
    PSPRewrite(ref, fSpec, FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"));
    ASSERT_NE(ref, 0);
    FileWriteLn(ref, PStr("abc"));
    FileWrite(ref, PStr(""));
    FileWriteLn(ref, PStr(std::string(255, 'x').c_str()));
    FSClose(ref);
    EXPECT_EQ(Contents(), "abc\r" + std::string(254, 'x') + "\r");

    PSPRewrite(ref, fSpec, FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"));
    FileWrite(ref, PStr("new"));
    FSClose(ref);
    EXPECT_EQ(Contents(), "new");

    PSPOpenFile(ref, fSpec);
    FileWrite(ref, PStr("N"));
    FSClose(ref);
    EXPECT_EQ(Contents(), "New");
}

}  // namespace
