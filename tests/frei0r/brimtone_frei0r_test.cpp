// The frei0r filter through its entry points, and the built brimtone.so in
// Debian's ffmpeg against the brimtone host's lossless output.
#include "brimtone_frei0r.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;
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

// ffmpeg's test pattern as PNG frames, rendered by the host and by ffmpeg
// with the filter: with the host's saved settings given as parameters and
// taken with `saved`, and with the defaults against a host without saved
// settings. The saved threshold is out of range, so both must read it alike.
TEST_F(Frei0rTest, FfmpegMatchesTheHostWithParametersSavedSettingsAndDefaults)
{
    if (std::system("command -v ffmpeg >/dev/null") != 0)
        GTEST_SKIP() << "ffmpeg is not installed (apt-get install ffmpeg)";
    constexpr int kWidth = 320, kHeight = 240, kFrames = 5;  // a width ffmpeg hands over without padding
    const auto run = [this](const std::string& command) {
        const int status = std::system((command + " >/dev/null 2>'" + (dir_ / "err").string() + "'").c_str());
        const std::vector<uint8_t> text = ReadBytes(dir_ / "err");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << std::string(text.begin(), text.end());
    };
    const std::string source = "'" + (dir_ / "s%03d.png").string() + "'";
    const std::string ffmpeg = "FREI0R_PATH='" + fs::path(BRIMTONE_FREI0R_SO).parent_path().string() +
                               "' ffmpeg -nostdin -hide_banner -loglevel error ";
    const auto raw = [&](const std::string& input, const char* name) {
        run(ffmpeg + input + " -f rawvideo -pix_fmt rgba -y '" + (dir_ / name).string() + "'");
        return ReadBytes(dir_ / name);
    };
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

    // Every pixel's colour equals the host's; inside the region the pixel is
    // opaque and changed, outside it is the source's own.
    const Rect region = Rel2Rect(settings.StartRel, Rect{0, 0, kHeight, kWidth});
    const size_t inside = size_t(kFrames) * (region.bottom - region.top) * (region.right - region.left);
    const std::string parameters = "1.0|0x201080|0xFFE090|0.13|0.07|0.71|0.893";
    for (const std::string& filter : {"'frei0r=brimtone:" + parameters + "'", std::string("'frei0r=brimtone:0|0x000000|0x000000|0|0|0|0|y'")}) {
        const std::vector<uint8_t> frames = raw("-i " + source + " -vf " + filter, "ffmpeg.raw");
        ASSERT_EQ(frames.size(), withSaved.size()) << filter;
        size_t mismatches = 0, insideChanged = 0, outsideChanged = 0, opaqueInside = 0, light = 0;
        for (size_t i = 0; i < frames.size(); i += 4) {
            const int x = int(i / 4 % kWidth), y = int(i / 4 / kWidth % kHeight);
            const bool in = y >= region.top && y < region.bottom && x >= region.left && x < region.right;
            mismatches += std::memcmp(&frames[i], &withSaved[i], 3) != 0;
            (in ? insideChanged : outsideChanged) += std::memcmp(&frames[i], &original[i], 3) != 0;
            opaqueInside += in && frames[i + 3] == 255;
            light += in && frames[i] == 0xFF && frames[i + 1] == 0xE0 && frames[i + 2] == 0x90;
        }
        EXPECT_EQ(mismatches, 0u) << filter << " differs from the host";
        EXPECT_EQ(outsideChanged, 0u) << filter;
        EXPECT_GT(insideChanged, inside / 2) << filter << " left the region alone";
        EXPECT_EQ(opaqueInside, inside) << filter;
        EXPECT_GT(light, 0u) << "no white in the region: the threshold at 100 % is not tested";
    }
    const std::vector<uint8_t> frames = raw("-i " + source + " -vf frei0r=brimtone", "defaults.raw");
    EXPECT_TRUE(frames == withDefaults) << "the filter's defaults differ from the host's without saved settings";
    EXPECT_FALSE(frames == original);
}

}  // namespace
