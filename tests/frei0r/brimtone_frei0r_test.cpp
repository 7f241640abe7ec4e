// The frei0r filter through its entry points; the built brimtone.so in
// Debian's ffmpeg, GStreamer and melt against the brimtone host's lossless
// output; the Kdenlive and Shotcut descriptions against the filter.
#include "brimtone_frei0r.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;
using namespace brimtone;
using namespace brimtone::frei0r;

namespace {

// Each test starts without saved settings, in its own preferences folder.
class Frei0rTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-frei0r-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        ForgetHeldPrefsForTests();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

double Get(f0r_instance_t instance, int index)
{
    double value = -99.0;
    f0r_get_param_value(instance, &value, index);
    return value;
}

void Set(f0r_instance_t instance, int index, double value)
{
    f0r_set_param_value(instance, &value, index);
}

TEST_F(Frei0rTest, ConstructRefusesUnrepresentableFramesAndInstancesAreIndependent)
{
    for (const auto& [width, height] : {std::pair{0u, 10u}, {10u, 0u}, {32768u, 10u}, {UINT_MAX, UINT_MAX}})
        EXPECT_EQ(f0r_construct(width, height), nullptr) << width << "x" << height;
    f0r_instance_t widest = f0r_construct(32767, 1);
    EXPECT_NE(widest, nullptr);
    f0r_destruct(widest);
    f0r_destruct(nullptr);
    f0r_update(nullptr, 0.0, nullptr, nullptr);

    f0r_instance_t a = f0r_construct(48, 16);
    f0r_instance_t b = f0r_construct(48, 16);
    Set(a, kParamThreshold, 0.9);
    EXPECT_DOUBLE_EQ(Get(a, kParamThreshold), 0.9);
    EXPECT_DOUBLE_EQ(Get(b, kParamThreshold), 0.17);
    f0r_destruct(a);
    f0r_destruct(b);
}

// Hosts list the table's parameters by name and type; values beyond the
// table's range are held at its ends, NaN changes nothing.
TEST_F(Frei0rTest, InfoAndClampsFollowTheParameterTable)
{
    f0r_plugin_info_t plugin{};
    f0r_get_plugin_info(&plugin);
    EXPECT_EQ(plugin.num_params, kParamCount);
    f0r_instance_t filter = f0r_construct(8, 8);
    for (int index = 0; index < kParamCount; ++index) {
        const EffectParameter& row = kEffectParameters[size_t(index)];
        SCOPED_TRACE(row.name);
        f0r_param_info_t info{};
        f0r_get_param_info(&info, index);
        EXPECT_STREQ(info.name, row.name);
        EXPECT_EQ(info.type, row.kind == ParameterKind::Percent  ? F0R_PARAM_DOUBLE
                             : row.kind == ParameterKind::Colour ? F0R_PARAM_COLOR
                                                                 : F0R_PARAM_BOOL);
        EXPECT_EQ(std::string(info.explanation).rfind(row.help, 0), 0u);
        if (row.kind != ParameterKind::Percent)
            continue;
        Set(filter, index, -0.5);
        EXPECT_DOUBLE_EQ(Get(filter, index), row.minimum / kPercentPerFraction);
        Set(filter, index, std::nan(""));
        EXPECT_DOUBLE_EQ(Get(filter, index), row.minimum / kPercentPerFraction);
        Set(filter, index, 7.0);
        EXPECT_DOUBLE_EQ(Get(filter, index), row.maximum / kPercentPerFraction);
    }
    f0r_destruct(filter);
}

// RGBA bytes, rows width × 4 apart, filtered in place: inside the region each
// pixel takes one of the two colours and is opaque, outside it is untouched.
TEST_F(Frei0rTest, UpdatePaintsTheRegionOpaqueInRGBAOrderAndLeavesTheRestAlone)
{
    f0r_instance_t filter = f0r_construct(5, 2);
    ASSERT_NE(filter, nullptr);
    Set(filter, kParamThreshold, 0.5);
    f0r_param_color_t colours[] = {{0.2f, 0.4f, 0.6f}, {1.0f, 0.8f, 0.0f}};
    f0r_set_param_value(filter, &colours[0], kParamColour1);
    f0r_set_param_value(filter, &colours[1], kParamColour2);
    const double region[] = {0.2, 0.5, 0.6, 1.0};  // columns 1 and 2 of row 1
    for (int edge = 0; edge < 4; ++edge)
        Set(filter, kParamLeft + edge, region[edge]);

    std::vector<uint8_t> frame;
    for (int i = 0; i < 10; ++i)
        frame.insert(frame.end(), {uint8_t(i % 2 ? 250 : 5), uint8_t(i % 2 ? 250 : 5), uint8_t(i % 2 ? 250 : 5), 7});
    const std::vector<uint8_t> before = frame;
    f0r_update(filter, 0.0, reinterpret_cast<const uint32_t*>(frame.data()), reinterpret_cast<uint32_t*>(frame.data()));
    f0r_destruct(filter);
    for (int i = 0; i < 10; ++i) {
        std::vector<uint8_t> want(before.begin() + i * 4, before.begin() + i * 4 + 4);
        if (i == 6 || i == 7)
            want = i % 2 ? std::vector<uint8_t>{255, 204, 0, 255} : std::vector<uint8_t>{51, 102, 153, 255};
        EXPECT_EQ(std::vector<uint8_t>(frame.begin() + i * 4, frame.begin() + i * 4 + 4), want) << "pixel " << i;
    }
}

// Saved settings that differ from the defaults in every parameter.
pluginDataRec SavedSettings(SInt16 threshold)
{
    pluginDataRec settings{};
    ResetConfig(&settings, true);
    settings.StartRel = SetRelRect(0.13, 0.07, 0.71, 0.893);  // edges fall between pixels
    settings.Sliders[kThresholdSlider] = threshold;
    settings.Colors[kDarkColor] = RGBColor{0x2000, 0x1000, 0x8000};
    settings.Colors[kLightColor] = RGBColor{0xFF00, 0xE000, 0x9000};
    return settings;
}

// A project or command line renders alike on every machine: the saved
// settings count only when asked for.
TEST_F(Frei0rTest, DefaultsAreTheConfigurationsOwnAndSavedOptsIntoTheDialogsSettings)
{
    InitPreferences();
    const pluginDataRec saved = SavedSettings(60);
    ASSERT_TRUE(SaveConfig(&saved));

    f0r_instance_t filter = f0r_construct(10, 10);
    ASSERT_NE(filter, nullptr);
    const double defaults[] = {0.17, -1, -1, 0.0, 0.0, 1.0, 1.0, 0.0};
    for (int index : {kParamThreshold, kParamLeft, kParamTop, kParamRight, kParamBottom, kParamSaved})
        EXPECT_DOUBLE_EQ(Get(filter, index), defaults[index]) << "parameter " << index;
    for (const auto& [index, want] : {std::pair{kParamColour1, f0r_param_color_t{0, 0, 1}},
                                      std::pair{kParamColour2, f0r_param_color_t{1, 1, 1}}}) {
        f0r_param_color_t colour{-1, -1, -1};
        f0r_get_param_value(filter, &colour, index);
        EXPECT_EQ(std::tie(colour.r, colour.g, colour.b), std::tie(want.r, want.g, want.b)) << "parameter " << index;
    }

    // Grey 100 (39 %): light by default, dark under the saved 60 % inside
    // the saved region.
    const std::vector<uint32_t> grey(100, 0xFF646464u);
    const auto render = [&] {
        std::vector<uint32_t> out(100);
        f0r_update(filter, 0.0, grey.data(), out.data());
        return out;
    };
    const std::vector<uint32_t> allLight(100, 0xFFFFFFFFu);
    EXPECT_EQ(render(), allLight);
    Set(filter, kParamSaved, 1.0);
    EXPECT_DOUBLE_EQ(Get(filter, kParamSaved), 1.0);
    Set(filter, kParamThreshold, 0.0);  // parameters give way to the saved settings
    const Rect region = Rel2Rect(saved.StartRel, Rect{0, 0, 10, 10});
    ASSERT_GT(region.left, 0);
    std::vector<uint32_t> want = grey;
    for (int y = region.top; y < region.bottom; ++y)
        for (int x = region.left; x < region.right; ++x)
            want[size_t(y * 10 + x)] = 0xFF801020u;
    EXPECT_EQ(render(), want);
    Set(filter, kParamSaved, 0.0);
    EXPECT_EQ(render(), allLight) << "threshold 0: every pixel light";
    f0r_destruct(filter);
}

// Video hosts make, run and drop filter instances on several threads at once,
// some reading the one saved configuration; each must render as it would alone.
TEST_F(Frei0rTest, InstancesOnSeveralThreadsAtOnceRenderAsAlone)
{
    pluginDataRec saved{};
    ResetConfig(&saved, true);
    saved.StartRel = SetRelRect(0.1, 0.2, 0.9, 0.8);
    InitPreferences();
    ASSERT_TRUE(SaveConfig(&saved));

    constexpr unsigned kWidth = 40, kHeight = 30;
    constexpr int kThreads = 6, kRounds = 20;
    std::vector<uint32_t> source(kWidth * kHeight);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = uint32_t(i * 2654435761u);
    const auto render = [&](int thread) {
        std::vector<uint32_t> out(source.size());
        f0r_instance_t filter = f0r_construct(kWidth, kHeight);
        if (filter == nullptr)
            return out;
        if (thread % 2 == 0)
            Set(filter, kParamSaved, 1.0);
        else
            Set(filter, kParamThreshold, 0.1 + 0.13 * thread);
        f0r_update(filter, 0.0, source.data(), out.data());
        f0r_destruct(filter);
        return out;
    };
    std::vector<std::vector<uint32_t>> alone;
    for (int thread = 0; thread < kThreads; ++thread)
        alone.push_back(render(thread));
    ASSERT_NE(alone[0], alone[kThreads - 1]);
    ASSERT_EQ(alone[0][0], source[0]);  // the saved region, not the whole frame

    int mismatches[kThreads] = {};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back([&, thread] {
            for (int round = 0; round < kRounds; ++round)
                mismatches[thread] += render(thread) != alone[thread];
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int thread = 0; thread < kThreads; ++thread)
        EXPECT_EQ(mismatches[thread], 0) << "thread " << thread;
}

std::vector<uint8_t> ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const fs::path& path)
{
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool Installed(const char* tool)
{
    return std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) == 0;
}

const std::string kFrei0rPath = "FREI0R_PATH='" + fs::path(BRIMTONE_FREI0R_SO).parent_path().string() + "' ";
const std::string kFfmpeg = kFrei0rPath + "ffmpeg -nostdin -hide_banner -loglevel error ";

// A command that must succeed; its errors go to dir/err.
void Shell(const fs::path& dir, const std::string& command)
{
    const int status = std::system((command + " >/dev/null 2>'" + (dir / "err").string() + "'").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << ReadText(dir / "err");
}

// What ffmpeg makes of input (its options and file), as RGBA bytes.
std::vector<uint8_t> Raw(const fs::path& dir, const std::string& input, const char* name)
{
    Shell(dir, kFfmpeg + input + " -f rawvideo -pix_fmt rgba -y '" + (dir / name).string() + "'");
    return ReadBytes(dir / name);
}

// dir/s000.png .. s<frames - 1>.png through melt's frei0r.brimtone with
// properties, as RGBA bytes. real_time=0: every frame is rendered, none
// dropped on a busy machine. Debian 12's melt (7.12) now and then stops
// before its consumer writes a frame, or never stops, even for a plain colour
// clip without any filter: such a run is tried again.
std::vector<uint8_t> Melt(const fs::path& dir, const std::string& properties, int width, int height, int frames)
{
    std::ofstream(dir / "profile") << "description=test\nframe_rate_num=25\nframe_rate_den=1\nwidth=" << width
                                   << "\nheight=" << height << "\nprogressive=1\nsample_aspect_num=1\n"
                                   << "sample_aspect_den=1\ndisplay_aspect_num=" << width
                                   << "\ndisplay_aspect_den=" << height << "\ncolorspace=601\n";
    std::vector<uint8_t> bytes;
    const size_t size = size_t(width) * height * 4 * frames;
    for (int attempt = 0; attempt < 4 && bytes.size() != size; ++attempt) {
        fs::remove(dir / "melt.raw");
        const int status = std::system((kFrei0rPath + "timeout 30 melt -quiet -profile '" + (dir / "profile").string() +
                                        "' 'avformat:" + (dir / "s%03d.png").string() + "' out=" +
                                        std::to_string(frames - 1) + " -filter frei0r.brimtone " + properties +
                                        " -consumer 'avformat:" + (dir / "melt.raw").string() +
                                        "' f=rawvideo pix_fmt=rgba real_time=0 </dev/null >/dev/null 2>'" +
                                        (dir / "err").string() + "'").c_str());
        if (status == 0)
            bytes = ReadBytes(dir / "melt.raw");
    }
    return bytes;
}

// The filter called here on each frame of frames, with the values of
// settings(frame) as each parameter's fraction (colours keep their defaults).
std::vector<uint8_t> Filtered(const std::vector<uint8_t>& frames, unsigned width, unsigned height,
                              const std::function<std::map<int, double>(int)>& settings)
{
    std::vector<uint8_t> out(frames.size());
    const size_t frameBytes = size_t(width) * height * 4;
    for (size_t at = 0; at + frameBytes <= frames.size(); at += frameBytes) {
        f0r_instance_t filter = f0r_construct(width, height);
        for (const auto& [index, value] : settings(int(at / frameBytes))) {
            double fraction = value;
            f0r_set_param_value(filter, &fraction, index);
        }
        f0r_update(filter, 0.0, reinterpret_cast<const uint32_t*>(&frames[at]), reinterpret_cast<uint32_t*>(&out[at]));
        f0r_destruct(filter);
    }
    return out;
}

// The filter's value of every parameter on a fresh instance, as text in the
// form the editors write: doubles as decimals, colours as 0xRRGGBB.
std::map<std::string, std::string> FilterDefaults()
{
    std::map<std::string, std::string> defaults;
    f0r_instance_t filter = f0r_construct(8, 8);
    for (int index = 0; index < kParamCount; ++index) {
        f0r_param_info_t info{};
        f0r_get_param_info(&info, index);
        char text[32];
        if (info.type == F0R_PARAM_COLOR) {
            f0r_param_color_t colour{};
            f0r_get_param_value(filter, &colour, index);
            std::snprintf(text, sizeof text, "0x%02lx%02lx%02lx", std::lround(colour.r * 255),
                          std::lround(colour.g * 255), std::lround(colour.b * 255));
        } else {
            std::snprintf(text, sizeof text, "%g", Get(filter, index));
        }
        defaults[info.name] = text;
    }
    f0r_destruct(filter);
    return defaults;
}

// Kdenlive lists the filter by this description: every parameter, by the
// filter's own name, with a control of its type and the filter's default.
TEST_F(Frei0rTest, KdenliveDescriptionMapsEveryParameterWithTheFiltersDefault)
{
    const std::string path = BRIMTONE_EDITORS_DIR "/kdenlive/frei0r_brimtone.xml";
    if (Installed("xmllint")) {
        EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << "not well-formed";
    }
    const std::string xml = ReadText(path);
    std::map<std::string, std::string> defaults, types;
    // The elements' start tags, and an attribute's value within one.
    const auto elements = [&xml](const std::string& name) {
        std::vector<std::string> found;
        for (size_t at = xml.find("<" + name + " "); at != std::string::npos; at = xml.find("<" + name + " ", at + 1))
            found.push_back(xml.substr(at, xml.find('>', at) - at));
        return found;
    };
    const auto attribute = [](const std::string& element, const std::string& name) {
        const size_t start = element.find(" " + name + "=\"");
        if (start == std::string::npos)
            return std::string();
        const size_t value = start + name.size() + 3;
        return element.substr(value, element.find('"', value) - value);
    };
    ASSERT_EQ(elements("effect").size(), 1u);
    const std::string tag = attribute(elements("effect")[0], "tag");
    for (const std::string& element : elements("parameter")) {
        const std::string name = attribute(element, "name");
        EXPECT_EQ(defaults.count(name), 0u) << name << " twice";
        std::string value = attribute(element, "default");
        if (value.size() == 10 && value.starts_with("0x"))
            value.resize(8);  // 0xRRGGBBAA: the filter has no alpha
        defaults[name] = value;
        types[name] = attribute(element, "type");
    }
    EXPECT_EQ(tag, "frei0r.brimtone");
    std::map<std::string, std::string> filterDefaults = FilterDefaults();
    for (auto& [name, value] : filterDefaults) {
        SCOPED_TRACE(name);
        ASSERT_EQ(defaults.count(name), 1u) << "no control";
        EXPECT_DOUBLE_EQ(std::stod(defaults[name]), std::stod(value));
        EXPECT_EQ(types[name], value.starts_with("0x") ? "color" : name == "saved" ? "bool" : "animated");
    }
    EXPECT_EQ(defaults.size(), filterDefaults.size()) << "a control for no parameter";
}

// Shotcut's `in` as the harness's stand-ins spell it (QML cannot declare it).
std::string RenameIn(std::string text)
{
    for (const std::string object : {"filter", "producer"}) {
        const std::string from = object + ".in";
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
            const size_t end = at + from.size();
            if (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
                continue;
            text.insert(end, "Point");
        }
    }
    return text;
}

// Shotcut's panel and monitor control, loaded by Debian's Qt Quick with
// Shotcut's own controls (and stand-ins for the types Shotcut makes in C++),
// as built from the parameter table: a new filter gets the filter's defaults;
// dragging the monitor's rectangle writes the edges as the panel's sliders
// would (plain, at a keyframe, as simple keyframes); the eyedropper switches
// the filter off while it picks.
TEST_F(Frei0rTest, ShotcutFilterSetsTheDefaultsAndItsMonitorRectangleWritesTheRegion)
{
    const fs::path shotcut = "/usr/share/shotcut/qml/modules/Shotcut/Controls";
    if (!Installed("qmlscene") || !fs::exists(shotcut / "qmldir"))
        GTEST_SKIP() << "qmlscene or Shotcut is not installed (apt-get install qmlscene shotcut)";
    const fs::path qml = BRIMTONE_SOURCE_DIR "/tests/frei0r/qml";
    const fs::path controls = dir_ / "imports/Shotcut/Controls";
    const fs::path built = BRIMTONE_EDITORS_DIR "/shotcut/brimtone";
    fs::create_directories(controls);
    fs::create_directories(dir_ / "filter");
    for (const auto& file : fs::directory_iterator(built))
        std::ofstream(dir_ / "filter" / file.path().filename()) << RenameIn(ReadText(file.path()));
    {
        // Shotcut's controls by relative path, with the stand-ins beside them.
        std::ifstream in(shotcut / "qmldir");
        std::ofstream out(controls / "qmldir");
        for (std::string line; std::getline(in, line);) {
            const size_t space = line.rfind(' ');
            if (line.starts_with("module") || space == std::string::npos || !line.ends_with(".qml")) {
                out << line << "\n";
            } else if (line.starts_with("KeyframableFilter ")) {
                std::ofstream(controls / "KeyframableFilter.qml") << RenameIn(ReadText(shotcut / "KeyframableFilter.qml"));
                out << line << "\n";
            } else {
                out << line.substr(0, space + 1) << fs::relative(shotcut, controls).string() << "/"
                    << line.substr(space + 1) << "\n";
            }
        }
        for (const char* stand_in : {"EditContextMenu", "ColorPickerItem"}) {
            fs::copy_file(qml / "ShotcutControls" / (std::string(stand_in) + ".qml"),
                          controls / (std::string(stand_in) + ".qml"));
            out << stand_in << " 1.0 " << stand_in << ".qml\n";
        }
    }
    std::string harness = std::string(ReadText(qml / "harness.qml.in"));
    const std::string placeholder = "@BRIMTONE_SHOTCUT_FILTER_DIR@";
    harness.replace(harness.find(placeholder), placeholder.size(), (dir_ / "filter").string());
    std::ofstream(dir_ / "harness.qml") << harness;

    const std::string command = "QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software XDG_RUNTIME_DIR='" + dir_.string() +
                                "' timeout 60 qmlscene -I '" + qml.string() + "' -I '" + (dir_ / "imports").string() +
                                "' '" + (dir_ / "harness.qml").string() + "' >'" + (dir_ / "log").string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::map<std::string, std::string> seen;
    std::istringstream log(ReadText(dir_ / "log"));
    for (std::string line; std::getline(log, line);) {
        if (line.starts_with("qml: ") && line.find('=') != std::string::npos)
            seen[line.substr(5, line.find('=') - 5)] = line.substr(line.find('=') + 1);
        else if (line.find("Cannot open: qrc:///icons/") == std::string::npos)
            ADD_FAILURE() << line;  // the icons are in Shotcut's program
    }
    EXPECT_EQ(seen["mlt_service"], "frei0r.brimtone");
    EXPECT_EQ(seen["vui"], "vui.qml");
    EXPECT_EQ(seen["keyframes"], "threshold,left,top,right,bottom");
    EXPECT_EQ(seen["simple"], "threshold,left,top,right,bottom");
    EXPECT_EQ(seen["animate"], "true,true");
    for (auto& [name, value] : FilterDefaults()) {
        SCOPED_TRACE(name);
        ASSERT_EQ(seen.count("new " + name), 1u) << "not set";
        if (value.starts_with("0x"))
            EXPECT_EQ(seen["new " + name], "#" + value.substr(2));
        else
            EXPECT_DOUBLE_EQ(std::stod(seen["new " + name]), std::stod(value));
    }
    const std::vector<std::pair<std::string, std::string>> region = {
        {"dragged left", "0.25"}, {"dragged top", "0.1"}, {"dragged right", "0.75"}, {"dragged bottom", "0.9"},
        // the moved edges at the playhead where they have keyframes, else for the clip
        {"keyframed left", "0.25"}, {"keyframed top", "0=0.2;50=0.4"}, {"keyframed bottom", "0.9"},
        // animate in from the defaults; a drag at the start moves the start values
        {"animated left", "0=0;9=0.25"}, {"animated top", "0=0.1;9=0.1"}, {"animated right", "0=0.5;9=0.75"},
        {"animated bottom", "0=0.9;9=0.9"},
        {"picking disable", "1"}, {"picked disable", "0"}};
    for (const auto& [key, want] : region)
        EXPECT_EQ(seen[key], want) << key;
}

// ffmpeg's test pattern as PNG frames, rendered by the host and by the
// filter in ffmpeg, GStreamer and melt: with the host's saved settings given
// as parameters (in the forms Kdenlive and Shotcut write them for melt) and
// taken with `saved`; and with the defaults against a host without saved
// settings. The saved threshold is out of range, so both must read it alike.
TEST_F(Frei0rTest, FfmpegGStreamerAndMeltMatchTheHostWithParametersSavedSettingsAndDefaults)
{
    if (!Installed("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed (apt-get install ffmpeg)";
    constexpr int kWidth = 320, kHeight = 240, kFrames = 5;  // a width ffmpeg hands over without padding
    const auto run = [this](const std::string& command) { Shell(dir_, command); };
    const std::string plugins = fs::path(BRIMTONE_FREI0R_SO).parent_path().string();
    const std::string source = "'" + (dir_ / "s%03d.png").string() + "'";
    const std::string ffmpeg = kFfmpeg;
    const auto raw = [this](const std::string& input, const char* name) { return Raw(dir_, input, name); };
    const auto host = [&](const std::string& environment, const char* name) {
        run(environment + " '" + BRIMTONE_HOST_EXE + "' render " + source + " -o '" + (dir_ / name).string() +
            "%03d.png' --size 320x240 --frames 5");
        return raw("-i '" + (dir_ / name).string() + "%03d.png'", name);
    };
    // A white box, which only a threshold of 100 % or more leaves light.
    run(ffmpeg + "-f lavfi -i 'testsrc2=size=320x240:rate=25,drawbox=x=100:y=60:w=60:h=40:color=white:t=fill' "
                 "-frames:v 5 " + source);

    const pluginDataRec settings = SavedSettings(150);
    InitPreferences();
    ASSERT_TRUE(SaveConfig(&settings));
    const std::vector<uint8_t> withSaved = host("", "h");
    const std::vector<uint8_t> withDefaults = host("XDG_CONFIG_HOME='" + (dir_ / "none").string() + "'", "d");
    const std::vector<uint8_t> original = raw("-i " + source, "source.raw");
    ASSERT_EQ(original.size(), size_t(kWidth) * kHeight * 4 * kFrames);
    ASSERT_EQ(withSaved.size(), original.size());
    ASSERT_EQ(withDefaults.size(), original.size());

    std::vector<std::pair<std::string, std::vector<uint8_t>>> renders;
    const std::string parameters = "1.0|0x201080|0xFFE090|0.13|0.07|0.71|0.893";
    for (const std::string& filter : {"'frei0r=brimtone:" + parameters + "'",
                                      std::string("'frei0r=brimtone:0|0x000000|0x000000|0|0|0|0|y'")})
        renders.emplace_back(filter, raw("-i " + source + " -vf " + filter, "ffmpeg.raw"));
    if (Installed("gst-launch-1.0")) {
        std::string colours;
        for (const auto& [name, rgb] : {std::pair{"colour1", std::array{0x20, 0x10, 0x80}}, {"colour2", {0xFF, 0xE0, 0x90}}})
            for (int i = 0; i < 3; ++i)
                colours += std::string(" ") + name + "-" + "rgb"[i] + "=" + std::to_string(rgb[size_t(i)] / 255.0);
        run("GST_REGISTRY='" + (dir_ / "gst-registry.bin").string() + "' FREI0R_PATH='" + plugins +
            "' gst-launch-1.0 -q multifilesrc location=" + source + " start-index=1 stop-index=5 "
            "caps=image/png,framerate=25/1 ! pngdec ! videoconvert ! video/x-raw,format=RGBA ! "
            "frei0r-filter-brimtone threshold=1.0 left=0.13 top=0.07 right=0.71 bottom=0.893" + colours +
            " ! filesink location='" + (dir_ / "gst.raw").string() + "'");
        renders.emplace_back("GStreamer", ReadBytes(dir_ / "gst.raw"));
    }
    if (Installed("melt")) {
        const std::string region = " left=0.13 top=0.07 right=0.71 bottom=0.893";
        for (const auto& [editor, properties] :
             {std::pair{"Kdenlive", "threshold=00:00:00.000=1 colour1=0x201080ff colour2=0xffe090ff" + region},
              std::pair{"Shotcut", "threshold=1 colour1=#201080 colour2=#ffe090 saved=0" + region}})
            renders.emplace_back(std::string("melt as ") + editor + " sets it",
                                 Melt(dir_, properties, kWidth, kHeight, kFrames));
    }

    // Every pixel's colour equals the host's; inside the region the pixel is
    // opaque and changed, outside it is the source's own.
    const Rect region = Rel2Rect(settings.StartRel, Rect{0, 0, kHeight, kWidth});
    const size_t inside = size_t(kFrames) * (region.bottom - region.top) * (region.right - region.left);
    for (const auto& [renderer, frames] : renders) {
        ASSERT_EQ(frames.size(), withSaved.size()) << renderer;
        size_t mismatches = 0, insideChanged = 0, outsideChanged = 0, opaqueInside = 0, light = 0;
        for (size_t i = 0; i < frames.size(); i += 4) {
            const int x = int(i / 4 % kWidth), y = int(i / 4 / kWidth % kHeight);
            const bool in = y >= region.top && y < region.bottom && x >= region.left && x < region.right;
            mismatches += std::memcmp(&frames[i], &withSaved[i], 3) != 0;
            (in ? insideChanged : outsideChanged) += std::memcmp(&frames[i], &original[i], 3) != 0;
            opaqueInside += in && frames[i + 3] == 255;
            light += in && frames[i] == 0xFF && frames[i + 1] == 0xE0 && frames[i + 2] == 0x90;
        }
        EXPECT_EQ(mismatches, 0u) << renderer << " differs from the host";
        EXPECT_EQ(outsideChanged, 0u) << renderer;
        EXPECT_GT(insideChanged, inside / 2) << renderer << " left the region alone";
        EXPECT_EQ(opaqueInside, inside) << renderer;
        EXPECT_GT(light, 0u) << renderer << ": no white in the region, the threshold at 100 % is not tested";
    }
    const std::vector<uint8_t> frames = raw("-i " + source + " -vf frei0r=brimtone", "defaults.raw");
    EXPECT_TRUE(frames == withDefaults) << "the filter's defaults differ from the host's without saved settings";
    EXPECT_FALSE(frames == original);
}

// Keyframes as Shotcut and Kdenlive write them (times, linear in between):
// melt renders each frame with the values in between. With the filter's
// `threads` set, MLT cuts each frame into bands and makes one filter per band,
// constructed with the band's height and told nothing of where it lies: the
// region then applies to each band as if it were a frame. The editors' files
// never set `threads`; the README says why.
TEST_F(Frei0rTest, MeltRendersKeyframesAsTheEditorsWriteThemAndThreadsApplyTheRegionPerBand)
{
    if (!Installed("ffmpeg") || !Installed("melt"))
        GTEST_SKIP() << "ffmpeg or melt is not installed (apt-get install ffmpeg melt)";
    constexpr int kWidth = 160, kHeight = 120, kFrames = 5;
    const std::string source = "'" + (dir_ / "s%03d.png").string() + "'";
    Shell(dir_, kFfmpeg + "-f lavfi -i testsrc2=size=160x120:rate=25 -frames:v 5 " + source);
    const std::vector<uint8_t> original = Raw(dir_, "-i " + source, "source.raw");
    ASSERT_EQ(original.size(), size_t(kWidth) * kHeight * 4 * kFrames);
    const auto mismatches = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
        size_t count = a.size() == b.size() ? 0 : SIZE_MAX;
        for (size_t i = 0; count != SIZE_MAX && i < a.size(); i += 4)
            count += std::memcmp(&a[i], &b[i], 4) != 0;
        return count;
    };

    // 0.16 s is frame 4 at 25 frames a second.
    const std::vector<uint8_t> keyframed =
        Melt(dir_, "threshold='00:00:00.000=0.1;00:00:00.160=0.9' left='00:00:00.000=0;00:00:00.160=0.4' bottom=0.8",
             kWidth, kHeight, kFrames);
    const std::vector<uint8_t> between = Filtered(original, kWidth, kHeight, [](int frame) {
        const double progress = frame / 4.0;
        return std::map<int, double>{
            {kParamThreshold, 0.1 + (0.9 - 0.1) * progress}, {kParamLeft, 0.4 * progress}, {kParamBottom, 0.8}};
    });
    EXPECT_EQ(mismatches(keyframed, between), 0u);
    const size_t frameBytes = original.size() / kFrames;
    ASSERT_NE(std::vector<uint8_t>(between.begin(), between.begin() + frameBytes),
              std::vector<uint8_t>(between.end() - frameBytes, between.end()));

    const auto lowerHalf = [](int) { return std::map<int, double>{{kParamTop, 0.5}, {kParamThreshold, 0.5}}; };
    const std::vector<uint8_t> sliced = Melt(dir_, "top=0.5 threshold=0.5 threads=2", kWidth, kHeight, kFrames);
    // Every frame's two halves filtered as frames of their own.
    EXPECT_EQ(mismatches(sliced, Filtered(original, kWidth, kHeight / 2, lowerHalf)), 0u);
    EXPECT_GT(mismatches(sliced, Filtered(original, kWidth, kHeight, lowerHalf)), 0u);
}

}  // namespace
