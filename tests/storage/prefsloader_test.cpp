#include "storage/prefsloader.h"

#include "common/CommonProcs.h"
#include "plugin/DataHandling.h"

#include "Files.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "Resources.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
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
        PrefsLoaderResetForTests();
    }
    void TearDown() override
    {
        PrefsLoaderResetForTests();
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
        fs::remove(PrefsPath());
        FSSpec location{};
        TBFSSpecFromPath(PrefsPath(), &location);
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
    ResourceFile Resources() const
    {
        ResourceFile result;
        const SInt16 file = TBOpenResFileAtPath(PrefsPath().c_str(), fsRdPerm);
        EXPECT_NE(file, -1) << "no resource file";
        for (ResType type : {kPref, kText})
            for (SInt16 i = 1; file != -1 && i <= Count1Resources(type); ++i) {
                Handle data = Get1IndResource(type, i);
                SInt16 id = 0;
                ResType same;
                Str255 name;
                GetResInfo(data, &id, &same, name);
                result[{type, id}] = {std::string(name + 1, name + 1 + name[0]),
                                      Bytes(*data, *data + GetHandleSize(data))};
            }
        if (file != -1)
            CloseResFile(file);
        return result;
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
        InitPreferences();
        pluginDataRec config = DefaultConfig();
        EXPECT_FALSE(ReadConfig(&config));
        EXPECT_TRUE(SameSavedFields(config, DefaultConfig()));
        // The next save replaces it with a whole record.
        ASSERT_TRUE(SaveConfig(&config));
        EXPECT_EQ(Resources().at({kPref, 1}).second, ConfigBytes(DefaultConfig()));
    }
}

TEST_F(PrefsLoader, UnreadablePrefsFileIsRebuiltKeepingOnlyTheConfiguration)
{
    const Bytes config = ConfigBytes(OddConfig());
    WriteResources({{kText, 5, "Other", {9, 9}},
                    {kPref, 1, "Config Settings", config},
                    {kPref, 7, "Stray", {1}}});
    InitPreferences();
    ResourceFile file = Resources();
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file.at({kPref, 0}).second, PrefsBytes(196608));
    EXPECT_EQ(file.at({kPref, 1}).first, "Config Settings *");
    EXPECT_EQ(file.at({kPref, 1}).second, config);

    // Garbage is no resource file: rebuilt with the defaults and nothing else.
    WriteFile(Bytes(300, 0x5A));
    InitPreferences();
    file = Resources();
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file.at({kPref, 0}).second, PrefsBytes(196608));
}

TEST_F(PrefsLoader, MissingPreferencesFolderTouchesNothing)
{
    const std::string missing = fFolder + "/absent";
    setenv("XDG_CONFIG_HOME", missing.c_str(), 1);
    prefsH prefs = nullptr;
    EXPECT_FALSE(ReadPreferences(prefs));
    EXPECT_EQ(prefs, nullptr);
    InitPreferences();
    pluginDataRec config = DefaultConfig();
    EXPECT_FALSE(SaveConfig(&config));
    EXPECT_FALSE(ReadConfig(&config));
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_TRUE(fs::is_empty(fFolder));
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
