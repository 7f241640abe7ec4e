#include "storage/prefsloader.h"

#include "common/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginGlue.h"

#include "Files.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "Resources.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<UInt8>;

constexpr ResType kPref = FOUR_CHAR_CODE("Pref");
constexpr ResType kText = FOUR_CHAR_CODE("TEXT");

struct Resource {
    ResType type;
    SInt16 id;
    std::string name;  // empty: no name
    Bytes data;
};
using ResourceFile = std::map<std::pair<ResType, SInt16>, std::pair<std::string, Bytes>>;

// ---- Records laid out by hand ------------------------------------------------

template <typename T>
void Store(Bytes& out, size_t offset, T value)
{
    std::memcpy(out.data() + offset, &value, sizeof(T));
}

Bytes PrefsBytes(SInt32 version)
{
    Bytes out(1036, 0);
    Store(out, 0, version);
    return out;
}

pluginDataRec DefaultConfig()
{
    pluginDataRec c{};
    ResetConfig(&c, true);
    return c;
}

pluginDataRec OddConfig()
{
    pluginDataRec c{};
    c.StartRel = {0.1, -1e300, 5e-324, -0.0};
    c.EndRel = {std::numeric_limits<double>::max(), -std::numeric_limits<double>::min(), 1.0 / 3.0,
                -7.25};
    for (int i = 0; i < cNumSliders; ++i)
        c.Sliders[i] = SInt16(i % 2 ? -32768 + i : 32767 - i);
    c.Sliders[kThresholdSlider] = 100;  // read back as stored only inside 0..100
    for (int i = 0; i < cNumColors; ++i)
        c.Colors[i] = {UInt16(65535 - i), UInt16(i * 4097), UInt16(i % 2 ? 65535 : 1)};
    c.FrameEndColor = {1, 32768, 65534};
    c.MediaType = -3;
    c.KeepProps = 1;
    return c;
}

// A saved configuration laid out by offset, independent of configsaverec.
Bytes ConfigBytes(const pluginDataRec& c, UInt32 size = 392, UInt32 version = 3)
{
    Bytes out(392, 0);
    Store(out, 0, size);
    Store(out, 4, version);
    Store(out, 8, c.StartRel);
    Store(out, 40, c.EndRel);
    std::memcpy(out.data() + 72, c.Colors, 36);
    std::memcpy(out.data() + 108, c.Sliders, 12);
    Store(out, 120, c.FrameStartColor);
    Store(out, 126, c.FrameEndColor);
    Store(out, 132, c.MediaType);
    out[134] = c.KeepProps;
    out[135] = c.TwoColors;
    const std::string misc = "Config save for Vell iMovie plug-in";
    out[136] = UInt8(misc.size());
    std::copy(misc.begin(), misc.end(), out.begin() + 137);
    return out;
}

// The saved fields compared bit for bit.
bool SameSavedFields(const pluginDataRec& a, const pluginDataRec& b)
{
    return ConfigBytes(a) == ConfigBytes(b);
}

// ---- Fixture ---------------------------------------------------------------

class PrefsLoader : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "prefsloader-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        fFolder = pattern;
        setenv("XDG_CONFIG_HOME", fFolder.c_str(), 1);
        ForgetHeldPrefsForTests();
    }
    void TearDown() override
    {
        ForgetHeldPrefsForTests();
        std::error_code ignored;
        fs::remove_all(fFolder, ignored);
    }

    std::string PrefsPath() const { return fFolder + "/kavlo-Prefs"; }
    Bytes FileBytes() const
    {
        std::ifstream in(PrefsPath(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void WriteFile(const Bytes& bytes) const
    {
        std::ofstream out(PrefsPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    // The file as the Resource Manager (tested on its own) writes and reads it.
    void WriteResources(const std::vector<Resource>& resources) const
    {
        WriteResourcesAt(PrefsPath(), resources);
    }
    static void WriteResourcesAt(const std::string& path, const std::vector<Resource>& resources)
    {
        fs::remove(path);
        FSSpec location{};
        TBFSSpecFromPath(path, &location);
        FSpCreateResFile(&location, 0, 0, smSystemScript);
        const SInt16 file = FSpOpenResFile(&location, fsRdWrPerm);
        ASSERT_NE(file, -1);
        for (const Resource& r : resources) {
            Handle data = NewHandle(Size(r.data.size()));
            std::copy(r.data.begin(), r.data.end(), *data);
            AddResource(data, r.type, r.id, PStr(r.name.c_str()));
        }
        CloseResFile(file);
    }
    ResourceFile Resources() const { return ResourcesAt(PrefsPath()); }
    static ResourceFile ResourcesAt(const std::string& path)
    {
        ResourceFile result;
        const SInt16 file = TBOpenResFileAtPath(path.c_str(), fsRdPerm);
        EXPECT_NE(file, -1) << "no resource file";
        // Every id of both types, so that a stray resource shows too.
        for (ResType type : {kPref, kText})
            for (SInt32 id = -32768; file != -1 && id <= 32767; ++id) {
                Handle data = Get1Resource(type, SInt16(id));
                if (data == nullptr)
                    continue;
                SInt16 same;
                ResType sameType;
                Str255 name;
                GetResInfo(data, &same, &sameType, name);
                result[{type, SInt16(id)}] = {std::string(name + 1, name + 1 + name[0]),
                                              Bytes(*data, *data + GetHandleSize(data))};
            }
        if (file != -1)
            CloseResFile(file);
        return result;
    }

    // Every entry below the folder: its kind, a link's text and a file's
    // bytes. Links are not followed and FIFOs are not opened.
    std::map<std::string, std::string> Listing() const
    {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(fFolder)) {
            const std::string name = entry.path().lexically_relative(fFolder).string();
            const auto status = entry.symlink_status();
            if (fs::is_symlink(status)) {
                entries[name] = "link " + fs::read_symlink(entry.path()).string();
            } else if (fs::is_regular_file(status)) {
                std::ifstream in(entry.path(), std::ios::binary);
                entries[name] = "file " + std::string(std::istreambuf_iterator<char>(in), {});
            } else {
                entries[name] = "type " + std::to_string(int(status.type()));
            }
        }
        return entries;
    }
    // A start of the plug-in as it reads and repairs the file.
    static pluginDataRec Start()
    {
        InitPreferences();
        pluginDataRec config{};
        InitPluginData(&config);
        return config;
    }

    std::string fFolder;
};

// ---- Tests -----------------------------------------------------------------

TEST_F(PrefsLoader, FirstStartCreatesPrefsThenSavedConfigurationWithExactBytes)
{
    prefsH fresh = nullptr;
    ASSERT_TRUE(ReadPreferences(fresh));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(fresh)), 1036);
    EXPECT_EQ((*fresh)->PrefVersion, 196608);
    DisposeHandle(reinterpret_cast<Handle>(fresh));
    EXPECT_FALSE(fs::exists(PrefsPath())) << "reading never creates the file";

    InitPreferences();
    ResourceFile file = Resources();
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file.at({kPref, 0}).first, "Prefs Settings");
    EXPECT_EQ(file.at({kPref, 0}).second, PrefsBytes(196608));

    pluginDataRec config = DefaultConfig();
    EXPECT_FALSE(ReadConfig(&config));
    EXPECT_TRUE(SameSavedFields(config, DefaultConfig()));
    ASSERT_TRUE(SaveConfig(&config));

    file = Resources();
    EXPECT_EQ(file.at({kPref, 1}).first, "Config Settings");
    EXPECT_EQ(file.at({kPref, 1}).second, ConfigBytes(config)) << "layout, MiscString and zero padding";
    EXPECT_EQ(file.at({kPref, 0}).second, PrefsBytes(196608)) << "saving the configuration keeps the record";

    // A start that finds a file it can read writes nothing.
    const auto before = fs::last_write_time(PrefsPath());
    struct stat old;
    ASSERT_EQ(stat(PrefsPath().c_str(), &old), 0);
    Start();
    struct stat now;
    ASSERT_EQ(stat(PrefsPath().c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, old.st_ino);
    EXPECT_EQ(fs::last_write_time(PrefsPath()), before);
}

TEST_F(PrefsLoader, AnExistingFileIsKeptAndEveryFieldRoundTripsBitForBit)
{
    const pluginDataRec stored = OddConfig();
    Bytes prefs = PrefsBytes(196608);
    prefs[500] = 0xAB;
    WriteResources({{kPref, 0, "Prefs Settings", prefs},
                    {kPref, 1, "Config Settings *", ConfigBytes(stored)},
                    {kText, 5, "", {1, 2, 3}}});
    const Bytes before = FileBytes();
    InitPreferences();
    EXPECT_EQ(FileBytes(), before);
    ASSERT_NE(PrefsLoaderHeldPrefs(), nullptr);
    EXPECT_EQ((*PrefsLoaderHeldPrefs())->Reserved[496], 0xAB);

    pluginDataRec read = DefaultConfig();
    read.Sync = 7;
    read.ClipActive = 9;
    read.TheRendered = reinterpret_cast<CGImageRef>(std::uintptr_t(0x2000));
    ASSERT_TRUE(ReadConfig(&read));
    EXPECT_TRUE(SameSavedFields(read, stored));  // bit for bit: -0.0, denormals, extremes
    // Fields that are not saved stay as they were.
    EXPECT_EQ(read.Sync, 7);
    EXPECT_EQ(read.ClipActive, 9);
    EXPECT_EQ(read.TheRendered, reinterpret_cast<CGImageRef>(std::uintptr_t(0x2000)));

    ASSERT_TRUE(SaveConfig(&read));
    const ResourceFile file = Resources();
    EXPECT_EQ(file.at({kPref, 1}).second, ConfigBytes(stored));
    EXPECT_EQ(file.at({kPref, 1}).first, "Config Settings");
    EXPECT_EQ(file.at({kPref, 0}).second, prefs);
}

TEST_F(PrefsLoader, ForeignPrefsRecordIsKeptAsItIsAndNotTakenForAnOldLayout)
{
    Bytes foreignPrefs = PrefsBytes(196608);
    std::reverse(foreignPrefs.begin(), foreignPrefs.begin() + 4);  // reads as 768
    WriteResources({{kPref, 0, "Prefs Settings", foreignPrefs}});
    InitPreferences();
    ASSERT_NE(PrefsLoaderHeldPrefs(), nullptr);
    EXPECT_EQ((*PrefsLoaderHeldPrefs())->PrefVersion, 768);
    const pluginDataRec config = DefaultConfig();
    ASSERT_TRUE(SaveConfig(&config));
    EXPECT_EQ(Resources().at({kPref, 0}).second, foreignPrefs);
}

TEST_F(PrefsLoader, NaNShortWrongSizeOrVersionAndForeignByteOrderConfigurationsAreRefused)
{
    pluginDataRec withNaN = OddConfig();
    withNaN.StartRel.left = std::numeric_limits<double>::quiet_NaN();
    Bytes tooShort = ConfigBytes(OddConfig());
    tooShort.resize(391);
    Bytes foreign = ConfigBytes(OddConfig());
    std::reverse(foreign.begin(), foreign.begin() + 4);  // size and version
    std::reverse(foreign.begin() + 4, foreign.begin() + 8);
    const struct {
        const char* what;
        Bytes data;
    } cases[] = {
        {"NaN", ConfigBytes(withNaN)},
        {"391 bytes", tooShort},
        {"size field 393", ConfigBytes(OddConfig(), 393, 3)},
        {"version 4", ConfigBytes(OddConfig(), 392, 4)},
        {"other byte order", foreign},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteResources({{kPref, 0, "Prefs Settings", PrefsBytes(196608)},
                        {kPref, 1, "Config Settings", c.data}});
        pluginDataRec config = DefaultConfig();
        EXPECT_FALSE(ReadConfig(&config));
        // A start runs on the defaults and writes them over it.
        config = Start();
        EXPECT_TRUE(SameSavedFields(config, DefaultConfig()));
        EXPECT_EQ(Resources().at({kPref, 1}).second, ConfigBytes(DefaultConfig()));
    }
}

// Every reader of the saved configuration (plug-in, dialog, frei0r filter)
// sees the same threshold, whatever a file holds.
TEST_F(PrefsLoader, SavedThresholdIsReadIntoTheSlidersPercentRange)
{
    for (const auto& [stored, read] : {std::pair<SInt16, SInt16>{-32768, 0}, {-1, 0}, {0, 0}, {17, 17},
                                       {100, 100}, {101, 100}, {150, 100}, {32767, 100}}) {
        SCOPED_TRACE(stored);
        pluginDataRec config = OddConfig();
        config.Sliders[kThresholdSlider] = stored;
        WriteResources({{kPref, 0, "Prefs Settings", PrefsBytes(196608)},
                        {kPref, 1, "Config Settings", ConfigBytes(config)}});
        pluginDataRec result = DefaultConfig();
        ASSERT_TRUE(ReadConfig(&result));
        EXPECT_EQ(result.Sliders[kThresholdSlider], read);
        EXPECT_EQ(result.Sliders[1], config.Sliders[1]) << "the other sliders are kept as they are";
    }
}

TEST_F(PrefsLoader, UnreadableFileIsKeptAsBadThenRebuiltKeepingOnlyTheConfiguration)
{
    const Bytes config = ConfigBytes(OddConfig());
    WriteResources({{kText, 5, "Other", {9, 9}},
                    {kPref, 1, "Config Settings", config},
                    {kPref, 7, "Stray", {1}}});
    // Left by saves killed half way, of this version and of earlier ones.
    std::ofstream(fFolder + "/.kavlo-Prefs.saving-Xy12Zq") << "half";
    std::ofstream(fFolder + "/kavlo-Prefs.saving") << "half";
    std::ofstream(fFolder + "/.kavlo-Prefs.saving-mine") << "not one of ours";
    EXPECT_TRUE(SameSavedFields(Start(), OddConfig()));
    ResourceFile file = Resources();
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file.at({kPref, 0}).second, PrefsBytes(196608));
    EXPECT_EQ(file.at({kPref, 1}).first, "Config Settings *");
    EXPECT_EQ(file.at({kPref, 1}).second, config);
    EXPECT_FALSE(fs::exists(fFolder + "/.kavlo-Prefs.saving-Xy12Zq"));
    EXPECT_FALSE(fs::exists(fFolder + "/kavlo-Prefs.saving"));
    EXPECT_TRUE(fs::exists(fFolder + "/.kavlo-Prefs.saving-mine"));

    // Garbage is no resource file: rebuilt with the defaults and nothing
    // else; the bad file of the latest start is kept.
    const std::string bad = PrefsPath() + ".bad";
    for (UInt8 fill : {0x5A, 0x3C}) {
        WriteFile(Bytes(300, fill));
        Start();
        file = Resources();
        ASSERT_EQ(file.size(), 2u);
        EXPECT_EQ(file.at({kPref, 1}).second, ConfigBytes(DefaultConfig()));
        std::ifstream in(bad, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), Bytes(300, fill));
    }

    // A file that cannot be kept is not rebuilt either.
    fs::remove(bad);
    fs::create_directory(bad);
    fs::create_directory(bad + "/inside");
    WriteFile(Bytes(20, 1));
    EXPECT_TRUE(SameSavedFields(Start(), DefaultConfig()));
    EXPECT_EQ(FileBytes(), Bytes(20, 1));
}

TEST_F(PrefsLoader, LinksAndSpecialFilesAtThePathAreLeftAlone)
{
    const std::string other = fFolder + "/other";
    const std::string notes = other + "/notes.txt";
    const std::string fifo = other + "/fifo";
    const std::string empty = other + "/empty";
    const struct {
        const char* what;
        std::function<bool()> make;  // false: cannot be made here
        const char* why;
    } cases[] = {
        {"FIFO", [&] { return mkfifo(PrefsPath().c_str(), 0600) == 0; }, "is a FIFO"},
        {"folder", [&] { return fs::create_directory(PrefsPath()); }, "is a folder"},
        {"device", [&] { return mknod(PrefsPath().c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; },
         "is a device"},
        {"link to /dev/null", [&] { fs::create_symlink("/dev/null", PrefsPath()); return true; },
         "is a link to /dev/null, a device"},
        {"link to a text file", [&] { fs::create_symlink("other/notes.txt", PrefsPath()); return true; },
         "is a link to other/notes.txt, which is not a preferences file"},
        {"link to an empty file", [&] { fs::create_symlink(empty, PrefsPath()); return true; },
         "which is not a preferences file"},
        {"dangling link", [&] { fs::create_symlink(other + "/gone", PrefsPath()); return true; },
         "which does not exist"},
        {"link to a FIFO", [&] { fs::create_symlink(fifo, PrefsPath()); return true; }, ", a FIFO"},
        {"link to a folder", [&] { fs::create_symlink(other, PrefsPath()); return true; }, ", a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(PrefsPath());
        fs::remove_all(other);
        fs::create_directory(other);
        std::ofstream(notes) << "my notes\n";
        std::ofstream(empty).flush();
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        if (!c.make()) {
            std::printf("skipped: a %s cannot be made here\n", c.what);
            continue;
        }
        const auto before = Listing();

        const PrefsFileInfo info = InspectPrefsFile();
        EXPECT_EQ(info.place, PrefsPlace::leftAlone);
        EXPECT_NE(info.why.find(PrefsPath() + " "), std::string::npos) << info.why;
        EXPECT_NE(info.why.find(c.why), std::string::npos) << info.why;
        EXPECT_TRUE(SameSavedFields(Start(), DefaultConfig()));
        const pluginDataRec odd = OddConfig();
        EXPECT_FALSE(SaveConfig(&odd));
        EXPECT_FALSE(SavePreferences(PrefsLoaderHeldPrefs()));
        EXPECT_EQ(Listing(), before) << "nothing made, changed or removed";
        struct stat null;
        ASSERT_EQ(stat("/dev/null", &null), 0);
        EXPECT_TRUE(S_ISCHR(null.st_mode));
    }
}

TEST_F(PrefsLoader, ALinkToPreferencesIsFollowedAndItsTargetReplacedInItsOwnFolder)
{
    const std::string dots = fFolder + "/dots";
    const std::string target = dots + "/brimtone-prefs";
    fs::create_directory(dots);
    WriteResourcesAt(target, {{kPref, 0, "Prefs Settings", PrefsBytes(196608)},
                              {kPref, 1, "Config Settings", ConfigBytes(DefaultConfig())}});
    fs::create_symlink("dots/brimtone-prefs", PrefsPath());
    std::ofstream(dots + "/.brimtone-prefs.saving-AbC123") << "half";

    const PrefsFileInfo info = InspectPrefsFile();
    EXPECT_EQ(info.place, PrefsPlace::linkToFile);
    EXPECT_EQ(info.target, target);
    Start();
    const pluginDataRec odd = OddConfig();
    ASSERT_TRUE(SaveConfig(&odd));
    ASSERT_TRUE(SavePreferences(PrefsLoaderHeldPrefs()));
    EXPECT_EQ(ResourcesAt(target).at({kPref, 1}).second, ConfigBytes(odd));
    pluginDataRec read = DefaultConfig();
    ASSERT_TRUE(ReadConfig(&read));
    EXPECT_TRUE(SameSavedFields(read, odd));

    const auto listing = Listing();
    EXPECT_EQ(listing.at("kavlo-Prefs"), "link dots/brimtone-prefs");
    EXPECT_EQ(listing.size(), 3u) << "the link, its folder and its target; no temporary file";
}

TEST_F(PrefsLoader, AMissingPreferencesFolderIsMadePrivateByTheFirstSaveOnly)
{
    const std::string missing = fFolder + "/absent";
    setenv("XDG_CONFIG_HOME", missing.c_str(), 1);
    prefsH prefs = nullptr;
    EXPECT_FALSE(ReadPreferences(prefs));
    EXPECT_EQ(prefs, nullptr);
    pluginDataRec config = OddConfig();
    EXPECT_FALSE(ReadConfig(&config));
    EXPECT_FALSE(fs::exists(missing)) << "reading makes nothing";

    // A start makes the folder and the file, so that the dialog's OK keeps its settings.
    InitPreferences();
    ASSERT_TRUE(fs::is_directory(missing));
    EXPECT_EQ(fs::status(missing).permissions(), fs::perms::owner_all);
    EXPECT_TRUE(SaveConfig(&config));
    pluginDataRec read = DefaultConfig();
    EXPECT_TRUE(ReadConfig(&read));
    EXPECT_EQ(read.Sliders[kThresholdSlider], config.Sliders[kThresholdSlider]);

    // Only the last step of the path is made.
    const std::string deeper = fFolder + "/no/such/place";
    setenv("XDG_CONFIG_HOME", deeper.c_str(), 1);
    InitPreferences();
    EXPECT_FALSE(SaveConfig(&config));
    EXPECT_FALSE(fs::exists(fFolder + "/no"));
}

TEST_F(PrefsLoader, KilledSaverAlwaysLeavesOneWholeConfiguration)
{
    const pluginDataRec first = OddConfig();
    pluginDataRec second = DefaultConfig();
    second.StartRel = {0.25, 0.75, 0.125, 0.875};
    second.Sliders[0] = 99;

    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> delayMicros(0, 20000);
    InitPreferences();
    ASSERT_TRUE(SaveConfig(&first));
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            for (int i = 0; i < 400; ++i) {
                SaveConfig(i % 2 ? &second : &first);
                if (i % 5 == 4)
                    SavePreferences(PrefsLoaderHeldPrefs());
            }
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        pluginDataRec read = DefaultConfig();
        read.Sliders[0] = -1;
        ASSERT_TRUE(ReadConfig(&read));
        EXPECT_TRUE(SameSavedFields(read, first) || SameSavedFields(read, second));
        prefsH prefs = nullptr;
        ASSERT_TRUE(ReadPreferences(prefs));
        EXPECT_EQ((*prefs)->PrefVersion, 196608);
        DisposeHandle(reinterpret_cast<Handle>(prefs));
    }
}

}  // namespace
