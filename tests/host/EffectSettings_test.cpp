// The effect's settings through the real host: per-run options, the settings
// command and the preferences file they share, in a private folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MediaSource.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;
using brimtone::host::MediaSource;

namespace {

struct HostRun {
    int status;
    std::string out;
    std::string err;
};

std::string readBytes(const fs::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

size_t count(const std::string& text, const std::string& part)
{
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

class EffectSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "config");
        fs::create_directories(dir_ / "tmp");
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path prefs() const { return dir_ / "config" / "kavlo-Prefs"; }

    // Runs the host in the private folders (its temporary files go to dir_/tmp).
    HostRun runHost(const std::string& arguments, const std::string& environment = "", fs::path out = {})
    {
        if (out.empty()) out = dir_ / "out";
        const std::string command = "env QT_QPA_PLATFORM=offscreen TMPDIR='" + (dir_ / "tmp").string() +
                                    "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' " + environment + " '" +
                                    BRIMTONE_HOST_EXE + "' " + arguments + " >'" + out.string() +
                                    "' 2>'" + (dir_ / "err").string() + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readBytes(dir_ / "out"), readBytes(dir_ / "err")};
    }

    // Frame 3 of the built-in clip through the effect, as RGB bytes.
    std::vector<uint8_t> thumbnail(const std::string& settings, const std::string& name)
    {
        const HostRun run = runHost("thumbnail --at 3 -o '" + (dir_ / name).string() + "' " + settings);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string error;
        auto picture = MediaSource::openFile((dir_ / name).string(), error);
        std::vector<uint8_t> argb(size_t(kWidth) * kHeight * 4);
        if (!picture || !picture->readFrame(0, kWidth, kHeight, true, argb.data(), kWidth * 4, error))
            ADD_FAILURE() << name << ": " << error;
        return argb;
    }

    bool leftRunFolders() const
    {
        for (const auto& entry : fs::directory_iterator(dir_ / "tmp"))
            if (entry.path().filename().string().rfind("brimtone-run-", 0) == 0) return true;
        return false;
    }

    pluginDataRec saved()
    {
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        pluginDataRec config{};
        ResetConfig(&config, true);
        EXPECT_TRUE(ReadConfig(&config));
        return config;
    }

    static constexpr int kWidth = 720;
    static constexpr int kHeight = 480;
    fs::path dir_;
};

// The effect at threshold 60 with dark #203040 and light #e0d0c0, from the
// pixel it was made of.
bool madeFrom(const uint8_t* result, const uint8_t* original)
{
    const bool dark = original[1] + original[2] + original[3] < 3 * (60 * 255 / 100);
    const uint8_t expected[3] = {uint8_t(dark ? 0x20 : 0xe0), uint8_t(dark ? 0x30 : 0xd0), uint8_t(dark ? 0x40 : 0xc0)};
    return std::equal(expected, expected + 3, result + 1);
}

TEST_F(EffectSettings, PerRunSettingsGiveTheirPictureAndTheSavedOnesTheSame)
{
    ASSERT_EQ(runHost("settings --threshold 30 --dark 0x102030 --light '#f0e0d0'").status, 0);
    const std::string before = readBytes(prefs());
    const std::string looks = " --threshold 60 --dark 203040 --light '#E0D0C0'";

    // Each half is the effect where the other run left the frame as it was.
    const auto right = thumbnail(looks + " --region 0.5,0,1,1", "right.png");
    const auto left = thumbnail(looks + " --region 0,0,0.5,1", "left.png");
    size_t wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const size_t at = (size_t(y) * kWidth + x) * 4;
            const bool inRight = x >= kWidth / 2;
            if (!madeFrom(&(inRight ? right : left)[at], &(inRight ? left : right)[at])) ++wrong;
        }
    EXPECT_EQ(wrong, 0u);
    EXPECT_TRUE(readBytes(prefs()) == before) << "the saved file, byte for byte";
    EXPECT_FALSE(leftRunFolders()) << "the run's own preferences are removed";

    // Saved as the dialog saves them, they read back and render alike.
    const HostRun save = runHost("settings" + looks + " --region 0.5,0,1,1");
    ASSERT_EQ(save.status, 0) << save.err;
    const HostRun show = runHost("settings");
    EXPECT_EQ(show.out, save.out);
    EXPECT_NE(show.out.find("threshold: 60 %\ndark:      #203040\nlight:     #e0d0c0\n"
                            "region:    0.5,0,1,1 (left,top,right,bottom)\nformat:    NTSC (720x480)\n"
                            "from:      " + prefs().string() + "\n"),
              std::string::npos)
        << show.out;
    const pluginDataRec config = saved();
    EXPECT_EQ(config.Colors[kDarkColor].green, 0x3030);
    EXPECT_EQ(config.StartRel.left, 0.5);
    EXPECT_EQ(config.StartRel.right, 1.0);
    EXPECT_EQ(thumbnail("", "saved.png"), right);
    EXPECT_NE(runHost("info").out.find("  threshold: 60 %\n"), std::string::npos);
    // Scripts read the same as JSON, from settings and from info alike.
    const HostRun json = runHost("settings --json");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\n  \"threshold\": \"60 %\",\n  \"dark\": \"#203040\",\n  \"light\": \"#e0d0c0\",\n"
                        "  \"region\": \"0.5,0,1,1 (left,top,right,bottom)\",\n  \"format\": \"NTSC (720x480)\",\n"
                        "  \"from\": \"" + prefs().string() + "\"\n}\n");
    EXPECT_NE(runHost("info --json").out.find("  \"settings\": {\n    \"threshold\": \"60 %\",\n"), std::string::npos);

    const HostRun reset = runHost("settings --reset");
    ASSERT_EQ(reset.status, 0) << reset.err;
    EXPECT_NE(reset.out.find("threshold: 17 %\ndark:      #0000ff\nlight:     #ffffff\nregion:    0,0,1,1 "),
              std::string::npos)
        << reset.out;
}

TEST_F(EffectSettings, ValuesOutOfRangeAreUsageErrorsNamingTheOption)
{
    const std::pair<const char*, const char*> cases[] = {
        {"--threshold 101", "--threshold needs a whole percent from 0 to 100"},
        {"--threshold 2.5", "--threshold needs"},
        {"--dark 12345", "--dark needs a colour #rrggbb"},
        {"--light '#1234567'", "--light needs"},
        {"--region 0.5,0,0.4,1", "--region needs LEFT,TOP,RIGHT,BOTTOM: fractions from 0 to 1"},
        {"--region 0,0,1", "--region needs"},
        {"--region 0,0,1,1.5", "--region needs"},
        {"--reset --threshold 5", "--reset saves the defaults"},
    };
    for (const auto& [arguments, message] : cases) {
        const HostRun run = runHost(std::string("settings ") + arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.err.rfind(std::string("brimtone: ") + message, 0), 0u) << run.err;
    }
    EXPECT_EQ(runHost("render --frames 1 --threshold 200 -o x.png").status, 2);
    EXPECT_FALSE(fs::exists(prefs())) << "nothing saved";
}

TEST_F(EffectSettings, ConfigureStartsOnTheRunsSettingsAndOKSavesThem)
{
    ASSERT_EQ(runHost("settings --light 0x405060 --region 0.25,0.25,0.75,0.75").status, 0);
    // The dialog's OK is clicked once it is up; the host then finds no window to take.
    runHost("configure --screenshot '" + (dir_ / "dialog.png").string() + "' --threshold 90 --dark ff0000",
            "BRIMTONE_SCREENSHOT_CLICK='ok  '");
    const pluginDataRec config = saved();
    EXPECT_EQ(config.Sliders[kThresholdSlider], 90);
    EXPECT_EQ(config.Colors[kDarkColor].red, 0xFFFF);
    EXPECT_EQ(config.Colors[kLightColor].blue, 0x6060);
    EXPECT_EQ(config.StartRel.left, 0.25);
    EXPECT_FALSE(leftRunFolders());
}

TEST_F(EffectSettings, APathThatIsLeftAloneIsExplainedOnceAndNeverWritten)
{
    fs::create_symlink("/dev/null", prefs());
    const std::string why = prefs().string() + " is a link to /dev/null, a device";
    const HostRun render = runHost("thumbnail --threshold 50 -o '" + (dir_ / "t.png").string() + "'");
    EXPECT_EQ(render.status, 0) << render.err;
    EXPECT_EQ(count(render.err, "brimtone: settings are not saved: " + why), 1u) << render.err;

    const HostRun save = runHost("settings --threshold 3");
    EXPECT_EQ(save.status, 1);
    EXPECT_NE(save.err.find(why), std::string::npos) << save.err;
    EXPECT_NE(runHost("settings").out.find("from:      the defaults, because " + why), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(prefs()));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// A brand-new account has no ~/.config: the first save makes it, private.
TEST_F(EffectSettings, AFreshAccountsFirstSaveMakesItsPreferencesFolder)
{
    const fs::path home = dir_ / "home";
    fs::create_directories(home);
    const std::string fresh = "XDG_CONFIG_HOME= HOME='" + home.string() + "'";
    // Standard output that cannot take the settings shown does not undo the save.
    const HostRun save = runHost("settings --threshold 40", fresh, "/dev/full");
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_NE(save.err.find("the settings are saved in " + (home / ".config" / "kavlo-Prefs").string() +
                            ", but cannot be shown"),
              std::string::npos)
        << save.err;
    EXPECT_EQ(fs::status(home / ".config").permissions(), fs::perms::owner_all);
    EXPECT_NE(runHost("settings", fresh).out.find("threshold: 40 %\n"), std::string::npos);

    // The plug-in's own start does the same, so the dialog's OK has a file to save into.
    fs::remove_all(home / ".config");
    const HostRun info = runHost("info", fresh);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(fs::is_regular_file(home / ".config" / "kavlo-Prefs"));
}

// A preferences folder that cannot be written: the save fails naming the
// folder and why, not a file that "has gone". Root writes anywhere, so there
// the folder is a read-only mount of its own.
TEST_F(EffectSettings, AFolderThatCannotBeWrittenIsNamedWhenTheSaveFails)
{
    const std::string config = (dir_ / "config").string();
    std::string wrap;
    if (geteuid() == 0)
        wrap = "unshare -m sh -c 'mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"' '" +
               config + "'";
    else
        fs::permissions(dir_ / "config", fs::perms::owner_write, fs::perm_options::remove);
    const HostRun save = runHost("settings --threshold 30", wrap);
    fs::permissions(dir_ / "config", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(save.status, 1);
    EXPECT_NE(save.err.find("cannot save the settings in " + prefs().string() + ": its folder " + config +
                            " cannot be written: "),
              std::string::npos)
        << save.err;
    EXPECT_FALSE(fs::exists(prefs()));
}

}  // namespace
