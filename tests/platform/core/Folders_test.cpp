#include "Files.h"
#include "Folders.h"
#include "MacErrors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

class SavedVariable {
public:
    explicit SavedVariable(const char* name) : mName(name)
    {
        if (const char* value = std::getenv(name))
            mValue = value;
    }
    ~SavedVariable()
    {
        if (mValue)
            setenv(mName, mValue->c_str(), 1);
        else
            unsetenv(mName);
    }

private:
    const char* mName;
    std::optional<std::string> mValue;
};

class FoldersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-folders-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = fs::canonical(pattern).string();
    }

    void TearDown() override { fs::remove_all(mFolder); }

    // The folder FindFolder reports, as a host path.
    std::string FoundPreferencesFolder(OSErr& err, Boolean create = kDontCreateFolder)
    {
        SInt16 vRefNum = 0;
        SInt32 dirID = 0;
        err = FindFolder(kOnSystemDisk, kPreferencesFolderType, create, &vRefNum, &dirID);
        if (err != noErr)
            return "";
        Str255 name;
        std::memcpy(name, "\x05probe", 6);
        FSSpec spec{};
        EXPECT_EQ(FSMakeFSSpec(vRefNum, dirID, name, &spec), fnfErr);
        std::string path;
        EXPECT_TRUE(TBPathFromFSSpec(spec, path));
        return fs::path(path).parent_path().string();
    }

    SavedVariable mConfigHome{"XDG_CONFIG_HOME"};
    SavedVariable mHome{"HOME"};
    std::string mFolder;
};

TEST_F(FoldersTest, PreferencesFolderFollowsXDGAndIsNeverCreated)
{
    fs::create_directories(mFolder + "/home/.config");
    setenv("HOME", (mFolder + "/home").c_str(), 1);
    OSErr err = noErr;
    setenv("XDG_CONFIG_HOME", (mFolder + "/home").c_str(), 1);
    EXPECT_EQ(FoundPreferencesFolder(err), mFolder + "/home");
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(FoundPreferencesFolder(err), mFolder + "/home/.config") << "an empty value counts as unset";
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(FoundPreferencesFolder(err), mFolder + "/home/.config") << "relative values are invalid";

    setenv("XDG_CONFIG_HOME", (mFolder + "/missing").c_str(), 1);
    FoundPreferencesFolder(err, kCreateFolder);
    EXPECT_EQ(err, fnfErr);
    EXPECT_FALSE(fs::exists(mFolder + "/missing"));

    // A regular file where the folder should be.
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", mFolder.c_str(), 1);
    std::FILE* file = std::fopen((mFolder + "/.config").c_str(), "w");
    std::fclose(file);
    FoundPreferencesFolder(err, kCreateFolder);
    EXPECT_EQ(err, fnfErr);
}

} // namespace
