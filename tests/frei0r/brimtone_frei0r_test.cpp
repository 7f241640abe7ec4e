// The frei0r filter through its entry points, and the built brimtone.so in
// Debian's ffmpeg and melt against the brimtone host's lossless output.
#include "brimtone_frei0r.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "MacMemory.h"
#include "QuickDraw.h"
#include "effect/CallPixelFX.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;
using namespace brimtone::frei0r;

namespace {

class Frei0rTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-frei0r-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "config");
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        PrefsLoaderResetForTests();
    }
    void TearDown() override
    {
        PrefsLoaderResetForTests();
        fs::remove_all(dir_);
    }

    // The saved configuration that the host and the filter's defaults start from.
    static void SaveSettings(const pluginDataRec& config)
    {
        PrefsLoaderResetForTests();
        InitPreferences();
        ASSERT_TRUE(SaveConfig(&config));
    }

    fs::path dir_;
};

pluginDataRec Defaults()
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    return config;
}

// Owns one instance.
struct Filter {
    f0r_instance_t instance;
    Filter(unsigned width, unsigned height) : instance(f0r_construct(width, height)) {}
    ~Filter() { f0r_destruct(instance); }
    double Get(int index) const
    {
        double value = -99.0;
        f0r_get_param_value(instance, &value, index);
        return value;
    }
    void Set(int index, double value) { f0r_set_param_value(instance, &value, index); }
    void SetColour(int index, f0r_param_color_t colour) { f0r_set_param_value(instance, &colour, index); }
};

TEST_F(Frei0rTest, ConstructRefusesEmptyOrUnrepresentableFramesAndInstancesAreIndependent)
{
    for (const auto& [width, height] : {std::pair{0u, 10u}, {10u, 0u}, {32768u, 10u}, {UINT_MAX, UINT_MAX}})
        EXPECT_EQ(f0r_construct(width, height), nullptr) << width << "x" << height;
    f0r_instance_t widest = f0r_construct(32767, 1);
    EXPECT_NE(widest, nullptr);
    f0r_destruct(widest);
    f0r_destruct(nullptr);
    f0r_update(nullptr, 0.0, nullptr, nullptr);

    Filter a(48, 16);
    Filter b(48, 16);
    a.Set(kParamThreshold, 0.9);
    a.SetColour(kParamColour1, f0r_param_color_t{1, 0, 0});
    EXPECT_DOUBLE_EQ(b.Get(kParamThreshold), 0.17);
    f0r_param_color_t colour{-9, -9, -9};
    f0r_get_param_value(b.instance, &colour, kParamColour1);
    EXPECT_EQ(colour.r, 0.0f);
}

// One RGBA frame through f0r_update and the same picture as A, R, G, B bytes
// through the plug-in's driver: the same pixels, alpha kept outside the region.
TEST_F(Frei0rTest, UpdateMatchesThePlugInsDriverOnRandomFramesAndRegions)
{
    std::mt19937 random(2718);
    auto pick = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    for (int round = 0; round < 60; ++round) {
        const unsigned width = 1 + random() % 90;
        const unsigned height = 1 + random() % 50;
        std::vector<uint32_t> input(size_t(width) * height);
        for (uint32_t& pixel : input)
            pixel = uint32_t(random());
        Filter filter(width, height);
        ASSERT_NE(filter.instance, nullptr);
        pluginDataRec config = Defaults();
        config.StartRel = SetRelRect(pick(-0.1, 0.6), pick(-0.1, 0.6), pick(0.3, 1.1), pick(0.3, 1.1));
        config.Sliders[kThresholdSlider] = SInt16(random() % 101);
        config.Colors[kDarkColor] = RGBColor{UInt16(random() % 256 * 257), 0x4242, UInt16(random() % 256 * 257)};
        filter.Set(kParamThreshold, config.Sliders[kThresholdSlider] / 100.0);
        filter.SetColour(kParamColour1, f0r_param_color_t{(config.Colors[kDarkColor].red >> 8) / 255.0f,
                                                          0x42 / 255.0f,
                                                          (config.Colors[kDarkColor].blue >> 8) / 255.0f});
        filter.Set(kParamLeft, config.StartRel.left);
        filter.Set(kParamTop, config.StartRel.top);
        filter.Set(kParamRight, config.StartRel.right);
        filter.Set(kParamBottom, config.StartRel.bottom);

        std::vector<uint32_t> output(input.size(), 0);
        if (round % 5 == 0) { // in place
            output = input;
            f0r_update(filter.instance, 0.0, output.data(), output.data());
        } else {
            f0r_update(filter.instance, 0.0, input.data(), output.data());
        }

        Rect bounds{0, 0, SInt16(height), SInt16(width)};
        GWorldPtr source = nullptr, dest = nullptr;
        ASSERT_EQ(NewGWorld(&source, 32, &bounds, nullptr, nullptr, 0), 0);
        ASSERT_EQ(NewGWorld(&dest, 32, &bounds, nullptr, nullptr, 0), 0);
        const SInt32 rowBytes = GetPixRowBytes(GetGWorldPixMap(source));
        auto* sourceBytes = reinterpret_cast<UInt8*>(GetPixBaseAddr(GetGWorldPixMap(source)));
        const auto* destBytes = reinterpret_cast<const UInt8*>(GetPixBaseAddr(GetGWorldPixMap(dest)));
        const auto* in = reinterpret_cast<const UInt8*>(input.data());
        for (unsigned y = 0; y < height; ++y)
            for (unsigned x = 0; x < width; ++x) {
                const UInt8* p = in + (size_t(y) * width + x) * 4;
                UInt8* q = sourceBytes + size_t(y) * rowBytes + x * 4;
                q[0] = p[3], q[1] = p[0], q[2] = p[1], q[3] = p[2];
            }
        DoPixelEffect(source, dest, &config, 0, 1);

        const Rect region = Rel2Rect(config.StartRel, bounds);
        const auto* out = reinterpret_cast<const UInt8*>(output.data());
        for (unsigned y = 0; y < height; ++y)
            for (unsigned x = 0; x < width; ++x) {
                const UInt8* p = out + (size_t(y) * width + x) * 4;
                const UInt8* q = destBytes + size_t(y) * rowBytes + x * 4;
                const UInt8* s = in + (size_t(y) * width + x) * 4;
                const bool inside = SInt32(y) >= region.top && SInt32(y) < region.bottom &&
                                    SInt32(x) >= region.left && SInt32(x) < region.right;
                ASSERT_TRUE(p[0] == q[1] && p[1] == q[2] && p[2] == q[3])
                    << "round " << round << " at " << x << "," << y;
                ASSERT_EQ(p[3], inside ? 255 : s[3]) << "round " << round << " at " << x << "," << y;
            }
        DisposeGWorld(source);
        DisposeGWorld(dest);
    }
}

// ---- The built filter in the real tools ------------------------------------

std::string FindTool(const char* name)
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<UInt8> ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<UInt8>(std::istreambuf_iterator<char>(in), {});
}

// A small clip of ffmpeg's test pattern as PNG frames, the host's render of it
// with the saved settings, and both as raw RGBA for pixel comparison.
class Frei0rToolsTest : public Frei0rTest {
protected:
    static constexpr int kWidth = 320;  // a multiple of 16: ffmpeg hands over unpadded rows
    static constexpr int kHeight = 240;
    static constexpr int kFrames = 5;

    void SetUp() override
    {
        Frei0rTest::SetUp();
        ffmpeg_ = FindTool("ffmpeg");
        if (ffmpeg_.empty())
            GTEST_SKIP() << "ffmpeg is not installed (apt-get install ffmpeg)";
        fs::create_directories(dir_ / "source");
        fs::create_directories(dir_ / "host");
        ASSERT_EQ(Run(Quote(ffmpeg_) + " -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=" +
                      std::to_string(kWidth) + "x" + std::to_string(kHeight) + ":rate=25 -frames:v " +
                      std::to_string(kFrames) + " " + Quote((dir_ / "source/%03d.png").string())),
                  0);

        settings_ = Defaults();
        settings_.StartRel = SetRelRect(0.13, 0.07, 0.71, 0.893);  // edges fall between pixels
        settings_.Sliders[kThresholdSlider] = 60;
        settings_.Colors[kDarkColor] = RGBColor{0x2000, 0x1000, 0x8000};
        settings_.Colors[kLightColor] = RGBColor{0xFF00, 0xE000, 0x9000};
        SaveSettings(settings_);

        ASSERT_EQ(Run(Quote(BRIMTONE_HOST_EXE) + " render " + Quote((dir_ / "source/%03d.png").string()) +
                      " -o " + Quote((dir_ / "host/%03d.png").string()) + " --size " + std::to_string(kWidth) +
                      "x" + std::to_string(kHeight) + " --frames " + std::to_string(kFrames)),
                  0);
        source_ = ToRaw(dir_ / "source/%03d.png", "source.raw");
        host_ = ToRaw(dir_ / "host/%03d.png", "host.raw");
        ASSERT_EQ(source_.size(), size_t(kWidth) * kHeight * 4 * kFrames);
        ASSERT_EQ(host_.size(), source_.size());
    }

    int Run(const std::string& command)
    {
        const fs::path errors = dir_ / "stderr.txt";
        const int status = std::system((command + " </dev/null >/dev/null 2>" + Quote(errors.string())).c_str());
        const std::vector<UInt8> text = ReadBytes(errors);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        EXPECT_EQ(code, 0) << command << "\n" << std::string(text.begin(), text.end());
        return code;
    }

    std::vector<UInt8> ToRaw(const fs::path& pattern, const std::string& name)
    {
        Run(Quote(ffmpeg_) + " -nostdin -hide_banner -loglevel error -i " + Quote(pattern.string()) +
            " -f rawvideo -pix_fmt rgba -y " + Quote((dir_ / name).string()));
        return ReadBytes(dir_ / name);
    }

    static std::string Frei0rEnvironment()
    {
        return "FREI0R_PATH=" + Quote(fs::path(BRIMTONE_FREI0R_SO).parent_path().string()) + " ";
    }

    // Every pixel's colour equals the host's; inside the region the pixel is
    // opaque and one of the two colours, outside it is the source's own.
    void ExpectSameAsHost(const std::vector<UInt8>& frames, const char* tool)
    {
        ASSERT_EQ(frames.size(), host_.size()) << tool;
        const Rect region = Rel2Rect(settings_.StartRel, Rect{0, 0, kHeight, kWidth});
        size_t mismatches = 0, insideChanged = 0, outsideChanged = 0, opaqueInside = 0, inside = 0;
        for (size_t i = 0; i < frames.size(); i += 4) {
            const int x = int(i / 4 % kWidth);
            const int y = int(i / 4 / kWidth % kHeight);
            const bool in = y >= region.top && y < region.bottom && x >= region.left && x < region.right;
            mismatches += std::memcmp(&frames[i], &host_[i], 3) != 0;
            const bool changed = std::memcmp(&frames[i], &source_[i], 3) != 0;
            (in ? insideChanged : outsideChanged) += changed;
            inside += in;
            opaqueInside += in && frames[i + 3] == 255;
        }
        EXPECT_EQ(mismatches, 0u) << tool << " differs from the host";
        EXPECT_EQ(outsideChanged, 0u) << tool;
        EXPECT_GT(insideChanged, inside / 2) << tool << " left the region alone";
        EXPECT_EQ(opaqueInside, inside) << tool;
        EXPECT_EQ(inside, size_t(kFrames) * (region.bottom - region.top) * (region.right - region.left));
    }

    std::string ffmpeg_;
    pluginDataRec settings_{};
    std::vector<UInt8> source_;
    std::vector<UInt8> host_;
};

TEST_F(Frei0rToolsTest, FfmpegMatchesTheHostWithParametersAndWithTheSavedDefaults)
{
    const std::string input = " -nostdin -hide_banner -loglevel error -i " + Quote((dir_ / "source/%03d.png").string());
    const std::string output = " -f rawvideo -pix_fmt rgba -y ";
    ASSERT_EQ(Run(Frei0rEnvironment() + Quote(ffmpeg_) + input +
                  " -vf 'frei0r=brimtone:0.6|0x201080|0xFFE090|0.13|0.07|0.71|0.893'" + output +
                  Quote((dir_ / "ffmpeg.raw").string())),
              0);
    ExpectSameAsHost(ReadBytes(dir_ / "ffmpeg.raw"), "ffmpeg");

    ASSERT_EQ(Run(Frei0rEnvironment() + Quote(ffmpeg_) + input + " -vf frei0r=brimtone" + output +
                  Quote((dir_ / "defaults.raw").string())),
              0);
    ExpectSameAsHost(ReadBytes(dir_ / "defaults.raw"), "ffmpeg with the saved configuration");
}

TEST_F(Frei0rToolsTest, MeltMatchesTheHost)
{
    const std::string melt = FindTool("melt");
    if (melt.empty())
        GTEST_SKIP() << "melt is not installed (apt-get install melt)";
    {
        std::ofstream profile(dir_ / "profile");
        profile << "description=brimtone test\nframe_rate_num=25\nframe_rate_den=1\nwidth=" << kWidth
                << "\nheight=" << kHeight
                << "\nprogressive=1\nsample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num=4\n"
                   "display_aspect_den=3\ncolorspace=601\n";
    }
    // The avformat producer needs no display; out= bounds the clip to its frames.
    ASSERT_EQ(Run(Frei0rEnvironment() + Quote(melt) + " -quiet -profile " + Quote((dir_ / "profile").string()) +
                  " " + Quote("avformat:" + (dir_ / "source/%03d.png").string()) + " out=" +
                  std::to_string(kFrames - 1) +
                  " -filter frei0r.brimtone 0=0.6 1=0x201080ff 2=0xffe090ff 3=0.13 4=0.07 5=0.71 6=0.893"
                  " -consumer " + Quote("avformat:" + (dir_ / "melt.raw").string()) +
                  " f=rawvideo pix_fmt=rgba"),
              0);
    ExpectSameAsHost(ReadBytes(dir_ / "melt.raw"), "melt");
}

}  // namespace
