#include "storage/prefsloader.h"

#include "Files.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<UInt8>;

constexpr ResType kPref = FOUR_CHAR_CODE("Pref");
constexpr ResType kText = FOUR_CHAR_CODE("TEXT");

// ---- A resource file written and read by hand, big-endian ------------------

struct HandResource {
    ResType type;
    SInt16 id;
    std::string name;  // empty: no name
    Bytes data;
};

void Put(Bytes& out, UInt32 value, int byteCount)
{
    for (int shift = 8 * (byteCount - 1); shift >= 0; shift -= 8)
        out.push_back(UInt8(value >> shift));
}

UInt32 Get(const Bytes& in, size_t offset, int byteCount)
{
    UInt32 value = 0;
    for (int i = 0; i < byteCount; ++i)
        value = (value << 8) | in.at(offset + i);
    return value;
}

Bytes BuildResourceFile(const std::vector<HandResource>& resources)
{
    Bytes data, names, typeList, refLists;
    std::vector<ResType> types;
    for (const HandResource& r : resources)
        if (std::find(types.begin(), types.end(), r.type) == types.end())
            types.push_back(r.type);
    Put(typeList, UInt32(types.size() - 1), 2);
    for (ResType type : types) {
        UInt32 count = 0;
        const UInt32 refOffset = 2 + 8 * UInt32(types.size()) + UInt32(refLists.size());
        for (const HandResource& r : resources) {
            if (r.type != type)
                continue;
            ++count;
            Put(refLists, UInt32(UInt16(r.id)), 2);
            Put(refLists, r.name.empty() ? 0xFFFF : UInt32(names.size()), 2);
            if (!r.name.empty()) {
                names.push_back(UInt8(r.name.size()));
                names.insert(names.end(), r.name.begin(), r.name.end());
            }
            Put(refLists, UInt32(data.size()), 4);  // attributes 0, 3-byte offset
            Put(refLists, 0, 4);
            Put(data, UInt32(r.data.size()), 4);
            data.insert(data.end(), r.data.begin(), r.data.end());
        }
        Put(typeList, type, 4);
        Put(typeList, count - 1, 2);
        Put(typeList, refOffset, 2);
    }
    constexpr UInt32 kDataStart = 256;
    Bytes header;
    Put(header, kDataStart, 4);
    Put(header, kDataStart + UInt32(data.size()), 4);
    Put(header, UInt32(data.size()), 4);
    Put(header, UInt32(28 + typeList.size() + refLists.size() + names.size()), 4);

    Bytes file = header;
    file.resize(kDataStart, 0);
    file.insert(file.end(), data.begin(), data.end());
    file.insert(file.end(), header.begin(), header.end());
    Put(file, 0, 4);  // handle to next map
    Put(file, 0, 4);  // file reference number, attributes
    Put(file, 28, 2);
    Put(file, UInt32(28 + typeList.size() + refLists.size()), 2);
    for (const Bytes* part : {&typeList, &refLists, &names})
        file.insert(file.end(), part->begin(), part->end());
    return file;
}

struct ParsedResource {
    std::string name;
    Bytes data;
};
using ParsedFile = std::map<std::pair<ResType, SInt16>, ParsedResource>;

// Throws (and so fails the test) on a malformed file.
ParsedFile ParseResourceFile(const Bytes& file)
{
    ParsedFile result;
    const UInt32 dataStart = Get(file, 0, 4);
    const UInt32 mapStart = Get(file, 4, 4);
    const UInt32 typeList = mapStart + Get(file, mapStart + 24, 2);
    const UInt32 nameList = mapStart + Get(file, mapStart + 26, 2);
    const UInt32 typeCount = (Get(file, typeList, 2) + 1) & 0xFFFF;
    for (UInt32 t = 0; t < typeCount; ++t) {
        const size_t entry = typeList + 2 + 8 * t;
        const UInt32 count = Get(file, entry + 4, 2) + 1;
        for (UInt32 i = 0; i < count; ++i) {
            const size_t ref = typeList + Get(file, entry + 6, 2) + 12 * i;
            ParsedResource r;
            if (const UInt32 nameOffset = Get(file, ref + 2, 2); nameOffset != 0xFFFF) {
                const size_t at = nameList + nameOffset;
                r.name.assign(reinterpret_cast<const char*>(&file.at(at + 1)), file.at(at));
            }
            const size_t dataAt = dataStart + Get(file, ref + 5, 3);
            r.data.assign(&file.at(dataAt + 4), &file.at(dataAt + 4) + Get(file, dataAt, 4));
            result[{Get(file, entry, 4), SInt16(Get(file, ref, 2))}] = r;
        }
    }
    return result;
}

// ---- Records in native and foreign byte order ---------------------------------

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
    c.StartRel = {0.0, 1.0, 0.0, 1.0};
    c.EndRel = {0.0, 1.0, 0.0, 1.0};
    c.Sliders[0] = 17;
    c.Colors[0] = {0, 0, 65535};
    c.Colors[1] = {65535, 65535, 65535};
    c.FrameStartColor = {65535, 0, 0};
    c.MediaType = 1;
    c.Outside = true;
    c.TwoColors = true;
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

// The nine saved fields compared bit for bit.
bool SameSavedFields(const pluginDataRec& a, const pluginDataRec& b)
{
    return std::memcmp(&a.StartRel, &b.StartRel, sizeof a.StartRel) == 0 &&
           std::memcmp(&a.EndRel, &b.EndRel, sizeof a.EndRel) == 0 &&
           std::memcmp(a.Colors, b.Colors, sizeof a.Colors) == 0 &&
           std::memcmp(a.Sliders, b.Sliders, sizeof a.Sliders) == 0 &&
           std::memcmp(&a.FrameStartColor, &b.FrameStartColor, sizeof(RGBColor)) == 0 &&
           std::memcmp(&a.FrameEndColor, &b.FrameEndColor, sizeof(RGBColor)) == 0 &&
           a.MediaType == b.MediaType && a.KeepProps == b.KeepProps &&
           a.TwoColors == b.TwoColors;
}

bool SameRecord(const pluginDataRec& a, const pluginDataRec& b)
{
    return SameSavedFields(a, b) && a.Sync == b.Sync && a.Outside == b.Outside &&
           a.ClipActive == b.ClipActive && a.TheOriginalImage == b.TheOriginalImage &&
           a.TheRendered == b.TheRendered;
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

// Every multi-byte field reversed, as a machine of the other byte order
// would have written it.
Bytes Swapped(const Bytes& native)
{
    Bytes out = native;
    auto reverse = [&](size_t offset, size_t length) {
        std::reverse(out.begin() + offset, out.begin() + offset + length);
    };
    reverse(0, 4);
    reverse(4, 4);
    for (size_t at = 8; at < 72; at += 8)
        reverse(at, 8);
    for (size_t at = 72; at < 134; at += 2)
        reverse(at, 2);
    return out;
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
    void WriteResources(const std::vector<HandResource>& resources) const
    {
        WriteFile(BuildResourceFile(resources));
    }

    std::string fFolder;
};

// ---- Tests -----------------------------------------------------------------

TEST_F(PrefsLoader, SavedConfigurationRoundTripsBitForBit)
{
    InitPreferences();
    const pluginDataRec saved = OddConfig();
    ASSERT_TRUE(SaveConfig(&saved));

    pluginDataRec read = DefaultConfig();
    read.Sync = 7;
    read.ClipActive = 9;
    read.TheRendered = reinterpret_cast<CGImageRef>(std::uintptr_t(0x2000));
    const pluginDataRec before = read;
    ASSERT_TRUE(ReadConfig(&read));
    EXPECT_TRUE(SameSavedFields(read, saved));
    EXPECT_TRUE(std::signbit(read.StartRel.bottom));
    EXPECT_EQ(read.StartRel.top, 5e-324);
    // Fields that are not saved stay as they were.
    EXPECT_EQ(read.Sync, before.Sync);
    EXPECT_EQ(read.ClipActive, before.ClipActive);
    EXPECT_EQ(read.TheRendered, before.TheRendered);
}

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
    ParsedFile file = ParseResourceFile(FileBytes());
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file.at({kPref, 0}).name, "Prefs Settings");
    EXPECT_EQ(file.at({kPref, 0}).data, PrefsBytes(196608));

    pluginDataRec config = DefaultConfig();
    EXPECT_FALSE(ReadConfig(&config));
    EXPECT_TRUE(SameRecord(config, DefaultConfig()));
    ASSERT_TRUE(SaveConfig(&config));

    file = ParseResourceFile(FileBytes());
    EXPECT_EQ(file.at({kPref, 1}).name, "Config Settings");
    EXPECT_EQ(file.at({kPref, 1}).data, ConfigBytes(config)) << "layout, MiscString and zero padding";
    EXPECT_EQ(file.at({kPref, 0}).data, PrefsBytes(196608)) << "saving the configuration keeps the record";
}

TEST_F(PrefsLoader, StartUpKeepsAHandBuiltFileAndReadsItsConfiguration)
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

    pluginDataRec config = DefaultConfig();
    ASSERT_TRUE(ReadConfig(&config));
    EXPECT_TRUE(SameSavedFields(config, stored));
}

TEST_F(PrefsLoader, ForeignByteOrderIsRefusedAndReplacedByDefaultsAtStartUp)
{
    Bytes foreignPrefs = PrefsBytes(196608);
    std::reverse(foreignPrefs.begin(), foreignPrefs.begin() + 4);  // reads as 768
    WriteResources({{kPref, 0, "Prefs Settings", foreignPrefs},
                    {kPref, 1, "Config Settings", Swapped(ConfigBytes(OddConfig()))}});

    InitPreferences();
    ASSERT_NE(PrefsLoaderHeldPrefs(), nullptr);
    EXPECT_EQ((*PrefsLoaderHeldPrefs())->PrefVersion, 768) << "not taken for an old layout";

    pluginDataRec config = DefaultConfig();
    EXPECT_FALSE(ReadConfig(&config));
    EXPECT_TRUE(SameRecord(config, DefaultConfig()));
    ASSERT_TRUE(SaveConfig(&config));
    const ParsedFile file = ParseResourceFile(FileBytes());
    EXPECT_EQ(file.at({kPref, 1}).data, ConfigBytes(DefaultConfig()));
    EXPECT_EQ(file.at({kPref, 0}).data, foreignPrefs);
}

TEST_F(PrefsLoader, NaNAndShortSavedConfigurationsAreRefused)
{
    pluginDataRec withNaN = OddConfig();
    withNaN.StartRel.left = std::numeric_limits<double>::quiet_NaN();
    Bytes tooShort = ConfigBytes(OddConfig());
    tooShort.resize(391);
    const struct {
        const char* what;
        Bytes data;
    } cases[] = {
        {"NaN", ConfigBytes(withNaN)},
        {"391 bytes", tooShort},
        {"size field 393", ConfigBytes(OddConfig(), 393, 3)},
        {"version 4", ConfigBytes(OddConfig(), 392, 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteResources({{kPref, 0, "Prefs Settings", PrefsBytes(196608)},
                        {kPref, 1, "Config Settings", c.data}});
        pluginDataRec config = DefaultConfig();
        EXPECT_FALSE(ReadConfig(&config));
        EXPECT_TRUE(SameRecord(config, DefaultConfig()));
    }
}

TEST_F(PrefsLoader, ConvertingWithoutARecordOrMemoryEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    prefsH converted = nullptr;
    EXPECT_EXIT(Old2NewPrefs(nullptr, converted), ::testing::ExitedWithCode(1),
                "Assertion failed in: No theOldPrefs in Old2NewPrefs");
    Handle old = NewHandleClear(1036);
    EXPECT_EXIT(
        {
            TBFailAllocationAfter(1);
            Old2NewPrefs(reinterpret_cast<prefsH>(old), converted);
        },
        ::testing::ExitedWithCode(1), "Assertion failed in: Failed to allocate theNewPrefs in Old2NewPrefs");
    DisposeHandle(old);
}

TEST_F(PrefsLoader, UnreadablePrefsFileIsRebuiltKeepingOnlyTheConfiguration)
{
    const Bytes config = ConfigBytes(OddConfig());
    WriteResources({{kText, 5, "Other", {9, 9}},
                    {kPref, 1, "Config Settings", config},
                    {kPref, 7, "Stray", {1}}});
    InitPreferences();
    ParsedFile file = ParseResourceFile(FileBytes());
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file.at({kPref, 0}).data, PrefsBytes(196608));
    EXPECT_EQ(file.at({kPref, 1}).name, "Config Settings *");
    EXPECT_EQ(file.at({kPref, 1}).data, config);

    // The next save names it plainly again.
    pluginDataRec read = DefaultConfig();
    ASSERT_TRUE(ReadConfig(&read));
    ASSERT_TRUE(SaveConfig(&read));
    EXPECT_EQ(ParseResourceFile(FileBytes()).at({kPref, 1}).name, "Config Settings");

    // Garbage is no resource file: rebuilt with the defaults and nothing else.
    WriteFile(Bytes(300, 0x5A));
    InitPreferences();
    file = ParseResourceFile(FileBytes());
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(file.at({kPref, 0}).data, PrefsBytes(196608));
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
