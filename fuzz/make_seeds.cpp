// Writes the seed corpora of the fuzz targets into a folder (fuzz/corpus):
// preferences files and saved configurations made by our own writer, and
// inputs in each target's layout. Run: fuzz_make_seeds fuzz/corpus
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "Effects/AdjustColors/HostInterface.h"
#include "FuzzSupport.h"
#include "MacMemory.h"
#include "plugin/DataHandling.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;

namespace {

fs::path gOut;

void Seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes)
{
    fs::create_directories(gOut / target);
    FUZZ_CHECK(WriteWholeFile((gOut / target / name).string(), bytes.data(), bytes.size()));
}

std::vector<uint8_t> ReadWholeFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

template <typename T>
void Append(std::vector<uint8_t>& bytes, const T& value)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof value);
}

void DefaultConfig(pluginDataRec& config)
{
    std::memset(&config, 0, sizeof config);
    ResetConfig(&config, true);
}

std::vector<uint8_t> SavedConfigBytes(const pluginDataRec& config)
{
    Handle block = NewHandleClear(Size(sizeof(configsaverec)));
    FUZZ_CHECK(Config2Save(&config, reinterpret_cast<configSaveH>(block)));
    std::vector<uint8_t> bytes(*block, *block + sizeof(configsaverec));
    DisposeHandle(block);
    return bytes;
}

void ResourceFileSeeds()
{
    const fs::path folder = MakePrivatePrefsFolder();
    const fs::path file = folder / "kavlo-Prefs";
    prefsH prefs = NewPrefs();
    DefaultPrefs(prefs);
    FUZZ_CHECK(SavePreferences(prefs));
    Seed("fuzz_resource_file", "prefs-only", ReadWholeFile(file));

    pluginDataRec config;
    DefaultConfig(config);
    FUZZ_CHECK(SaveConfig(&config));
    const std::vector<uint8_t> whole = ReadWholeFile(file);
    Seed("fuzz_resource_file", "prefs-and-config", whole);
    Seed("fuzz_resource_file", "truncated",
         std::vector<uint8_t>(whole.begin(), whole.begin() + long(whole.size() / 2)));
    Seed("fuzz_resource_file", "empty", {});

    (*prefs)->PrefVersion = 2;
    (*prefs)->Reserved[0] = 0x42;
    FUZZ_CHECK(SavePreferences(prefs));
    Seed("fuzz_resource_file", "old-version-with-config", ReadWholeFile(file));
    DisposeHandle(reinterpret_cast<Handle>(prefs));
    fs::remove_all(folder);
}

void SavedConfigSeeds()
{
    pluginDataRec config;
    DefaultConfig(config);
    const std::vector<uint8_t> defaults = SavedConfigBytes(config);
    Seed("fuzz_saved_config", "defaults", defaults);
    Seed("fuzz_saved_config", "short", std::vector<uint8_t>(defaults.begin(), defaults.begin() + 100));

    config.StartRel = {0.25, 0.75, 0.1, 0.9};
    config.EndRel = {-0.5, 1.5, 1.0, 0.0};
    config.MediaType = 3;
    config.TwoColors = true;
    Seed("fuzz_saved_config", "edited", SavedConfigBytes(config));

    std::vector<uint8_t> oldVersion = defaults;
    oldVersion[offsetof(configsaverec, Version)] ^= 1;
    Seed("fuzz_saved_config", "other-version", oldVersion);
}

void RegionSeeds()
{
    auto region = [](const std::string& name, relRect rel, relPoint point, Rect frame, Rect rect,
                     Point pixel, double value, SInt16 origin) {
        std::vector<uint8_t> bytes;
        Append(bytes, rel);
        Append(bytes, point);
        Append(bytes, frame);
        Append(bytes, rect);
        Append(bytes, pixel);
        Append(bytes, value);
        Append(bytes, origin);
        Seed("fuzz_regions", name, bytes);
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    region("ntsc", {0.1, 0.9, 0.2, 0.8}, {0.5, 0.5}, {0, 0, 480, 720}, {20, 10, 100, 200}, {6, 5},
           12.7, 3);
    region("offset-frame", {0, 1, 0, 1}, {1, 1}, {-100, 50, 380, 770}, {0, 0, 0, 0}, {50, -100},
           -0.5, -1);
    region("extremes", {-1e300, 1e300, nan, inf}, {-inf, nan}, {-32768, -32768, 32767, 32767},
           {32767, 32767, -32768, -32768}, {-32768, 32767}, 1e18, 32767);
    region("inverted", {1, 0, 1, 0}, {2, -1}, {480, 720, 0, 0}, {0, 0, 1, 1}, {1, 1}, nan, 0);
}

void PluginEntrySeeds()
{
    // All zeros: a plain pass with the usual values throughout.
    Seed("fuzz_plugin_entry", "plain-pass", std::vector<uint8_t>(64, 0));
    // Eight frames of a 10-frame clip with fades of 5 and 5.
    std::vector<uint8_t> fades(96, 0);
    fades[10] = 30 ^ 10;  // frameCount 10
    fades[50] = 3 ^ 8;    // eight frames
    Seed("fuzz_plugin_entry", "fades", fades);
    // The first allocation of the pass fails.
    std::vector<uint8_t> noMemory(52, 0);
    noMemory.insert(noMemory.end(), {0, 0, 1});
    Seed("fuzz_plugin_entry", "no-memory", noMemory);
    // Placeholder, info, then frames with a failing GetFrame.
    std::vector<uint8_t> mixed(52, 0);
    mixed[50] = 3 ^ 2;
    mixed.insert(mixed.end(), {kPlugFilePlaceHolder, 0, 0, 0, 0, 0, 0, 0, 0, kPlugGetInfo, 0,
                               0, 0, 0, 0, 0, 0, 1 | (4 << 2), 0});
    Seed("fuzz_plugin_entry", "placeholder-and-failures", mixed);
}

void StringSeeds()
{
    auto text = [](const std::string& name, double real, SInt32 number, UInt32 command,
                   const std::string& chars) {
        std::vector<uint8_t> bytes;
        Append(bytes, real);
        Append(bytes, number);
        Append(bytes, command);
        bytes.insert(bytes.end(), chars.begin(), chars.end());
        Seed("fuzz_strings", name, bytes);
    };
    text("decimal", 12.5, 42, 0x496E666F, "12.5cm");
    text("comma-negative", -0.25, -2147483647 - 1, 0, "-,25");
    text("command", 9.99999, 2147483647, 0x20202020, "Info");
    text("not-a-number", 1e300, -1, 0xFFFFFFFF, "abc");
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high.push_back(char(c));
    text("mac-roman", 0.00005, 0, 0x80FF7F00, high);
    text("long-digits", -1e-310, 7, 0x31323334, std::string(255, '9'));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    gOut = argv[1];
    ResourceFileSeeds();
    SavedConfigSeeds();
    RegionSeeds();
    PluginEntrySeeds();
    StringSeeds();
    return 0;
}
