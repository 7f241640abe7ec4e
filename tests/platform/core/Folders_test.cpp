#include "Files.h"
#include "Folders.h"
#include "MacErrors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// The folder FindFolder reports, as a host path; "" when it fails.
std::string PreferencesFolder(OSErr& err, Boolean create = kDontCreateFolder)
{
    SInt16 vRefNum = 0;
    SInt32 dirID = 0;
    err = FindFolder(kOnSystemDisk, kPreferencesFolderType, create, &vRefNum, &dirID);
    const auto probe = reinterpret_cast<ConstStr255Param>("\x05probe");
    FSSpec spec{};
    std::string path;
    if (err != noErr || FSMakeFSSpec(vRefNum, dirID, probe, &spec) != fnfErr || !TBPathFromFSSpec(spec, path))
        return "";
    return fs::path(path).parent_path().string();
}

TEST(Folders, PreferencesFolderFollowsXDGAndIsMadeOnlyWhenAsked)
{
    char pattern[] = "/tmp/brimtone-folders-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = fs::canonical(pattern).string();
    const std::string home = folder + "/home";
    fs::create_directories(home + "/.config");
    // This program runs only this test, so HOME and XDG_CONFIG_HOME stay changed.
    setenv("HOME", home.c_str(), 1);
    OSErr err = noErr;
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(PreferencesFolder(err), home + "/.config") << "an empty value counts as unset";
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(PreferencesFolder(err), home + "/.config") << "relative values are invalid";

    setenv("XDG_CONFIG_HOME", (folder + "/missing").c_str(), 1);
    PreferencesFolder(err);
    EXPECT_EQ(err, fnfErr);
    EXPECT_FALSE(fs::exists(folder + "/missing"));
    // Private whatever the umask, as the XDG rules ask.
    const mode_t umasked = umask(0);
    EXPECT_EQ(PreferencesFolder(err, kCreateFolder), folder + "/missing");
    umask(umasked);
    EXPECT_EQ(fs::status(folder + "/missing").permissions(), fs::perms::owner_all);

    setenv("XDG_CONFIG_HOME", (folder + "/no/such").c_str(), 1);
    PreferencesFolder(err, kCreateFolder);
    EXPECT_EQ(err, fnfErr) << "only the last step is made";
    EXPECT_FALSE(fs::exists(folder + "/no"));
    fs::remove_all(folder);
}

} // namespace
