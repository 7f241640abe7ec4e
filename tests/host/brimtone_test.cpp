// The brimtone host as a user runs it: the real executable, the real bundle,
// real files in a temporary folder and a private preferences folder.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MediaSource.h"
#include "PluginHost.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;
using namespace brimtone::host;

namespace {

struct HostRun {
    int status = -1;
    std::string err;
    std::string out;
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "config");
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the host with the arguments (already quoted where needed).
    HostRun runHost(const std::string& arguments)
    {
        HostRun run;
        const auto errFile = dir_ / "stderr.txt";
        const std::string command = std::string("'") + BRIMTONE_HOST_EXE + "' " + arguments + " 2>'" +
                                    errFile.string() + "'";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return run;
        std::array<char, 4096> buffer;
        size_t got;
        while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), got);
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(errFile);
        std::stringstream text;
        text << in.rdbuf();
        run.err = text.str();
        return run;
    }

    // The configuration the next host run starts from.
    void saveConfiguration(const relRect& region, SInt16 threshold)
    {
        PrefsLoaderResetForTests();
        InitPreferences();
        pluginDataRec config{};
        ResetConfig(&config, true);
        config.StartRel = region;
        config.Sliders[kThresholdSlider] = threshold;
        config.Colors[kDarkColor] = RGBColor{0x2000, 0x1000, 0x8000};
        config.Colors[kLightColor] = RGBColor{0xFF00, 0xE000, 0x9000};
        ASSERT_TRUE(SaveConfig(&config));
    }

    fs::path dir_;
};

// One checksum per frame of a PNG sequence, over its RGB bytes (FNV-1a).
std::vector<std::string> frameChecksums(const std::string& pattern, int expectedFrames, int width, int height)
{
    std::vector<std::string> sums;
    std::string error;
    auto source = MediaSource::openFile(pattern, error);
    EXPECT_NE(source, nullptr) << error;
    if (!source) return sums;
    EXPECT_EQ(source->frameCount(), expectedFrames);
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (int index = 0; index < source->frameCount(); ++index) {
        EXPECT_TRUE(source->readFrame(index, width, height, true, pixels.data(), width * 4, error)) << error;
        uint64_t hash = 0xcbf29ce484222325ull;
        for (size_t i = 0; i < pixels.size(); ++i) {
            if (i % 4 == 0) continue;  // alpha is not part of the picture
            hash = (hash ^ pixels[i]) * 0x100000001b3ull;
        }
        char line[64];
        std::snprintf(line, sizeof line, "%03d %016llx", index, static_cast<unsigned long long>(hash));
        sums.push_back(line);
    }
    return sums;
}

std::vector<std::string> readLines(const fs::path& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
}

TEST_F(HostTest, RenderedFramesMatchTheCheckedReference)
{
    saveConfiguration(SetRelRect(0.125, 0.05, 0.75, 0.875), 60);
    const std::string pattern = (dir_ / "f%03d.png").string();
    const HostRun run = runHost("render --size 160x120 --frames 12 --fade-in 3 --fade-out 4 -o '" + pattern + "'");
    ASSERT_EQ(run.status, 0) << run.err;

    const auto sums = frameChecksums(pattern, 12, 160, 120);
    const fs::path golden = fs::path(BRIMTONE_GOLDEN_DIR) / "render_160x120_fades.txt";
    if (std::getenv("BRIMTONE_UPDATE_GOLDEN")) {
        std::ofstream out(golden);
        out << "# brimtone render --size 160x120 --frames 12 --fade-in 3 --fade-out 4, region (0.125, 0.05)-(0.75, 0.875), threshold 60\n";
        for (const auto& line : sums) out << line << "\n";
        // Keep the frames so whoever writes the reference looks at them.
        if (const char* keep = std::getenv("BRIMTONE_GOLDEN_FRAMES"))
            for (const auto& entry : fs::directory_iterator(dir_))
                if (entry.path().extension() == ".png")
                    fs::copy_file(entry.path(), fs::path(keep) / entry.path().filename(),
                                  fs::copy_options::overwrite_existing);
        GTEST_SKIP() << "reference written to " << golden;
    }
    EXPECT_EQ(sums, readLines(golden));
}

TEST_F(HostTest, RegionOutsideStaysAsDecodedAndFadeFramesDiffer)
{
    saveConfiguration(SetRelRect(0.5, 0.0, 1.0, 1.0), 100);
    const std::string effect = (dir_ / "e%03d.png").string();
    ASSERT_EQ(runHost("render --size 64x48 --frames 6 --fade-in 2 -o '" + effect + "'").status, 0);

    std::string error;
    auto rendered = MediaSource::openFile(effect, error);
    auto original = MediaSource::openBuiltin(6);
    ASSERT_NE(rendered, nullptr) << error;
    std::vector<uint8_t> a(64 * 48 * 4), b(64 * 48 * 4);
    for (int index = 0; index < 6; ++index) {
        ASSERT_TRUE(rendered->readFrame(index, 64, 48, true, a.data(), 64 * 4, error)) << error;
        ASSERT_TRUE(original->readFrame(index, 64, 48, true, b.data(), 64 * 4, error)) << error;
        int leftDiffers = 0, rightPainted = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint8_t* p = &a[(y * 64 + x) * 4];
                const uint8_t* q = &b[(y * 64 + x) * 4];
                if (x < 32) {
                    leftDiffers += p[1] != q[1] || p[2] != q[2] || p[3] != q[3];
                } else {
                    // Threshold 100 paints all but pure white in the first colour.
                    rightPainted += p[1] == 0x20 && p[2] == 0x10 && p[3] == 0x80;
                }
            }
        EXPECT_EQ(leftDiffers, 0) << "frame " << index;
        if (index == 0) {
            EXPECT_EQ(rightPainted, 0) << "the first fade-in frame is the untouched frame";
        }
        if (index >= 2) {
            EXPECT_EQ(rightPainted, 32 * 48) << "frame " << index;
        }
    }
}

TEST_F(HostTest, VideoOutputAndThumbnailAndInfo)
{
    const HostRun render = runHost("render --frames 10 --fade-in 2 --fade-out 2 -o '" + (dir_ / "clip.mkv").string() + "'");
    ASSERT_EQ(render.status, 0) << render.err;
    std::string error;
    auto clip = MediaSource::openFile((dir_ / "clip.mkv").string(), error);
    ASSERT_NE(clip, nullptr) << error;
    EXPECT_EQ(clip->frameCount(), 10);
    EXPECT_EQ(clip->width(), 720);
    EXPECT_TRUE(clip->hasAudio()) << "the frames' own sound is mixed into the output";

    const HostRun thumb = runHost("thumbnail --at 5 -o '" + (dir_ / "thumb.png").string() + "'");
    ASSERT_EQ(thumb.status, 0) << thumb.err;
    auto picture = MediaSource::openFile((dir_ / "thumb.png").string(), error);
    ASSERT_NE(picture, nullptr) << error;
    EXPECT_EQ(picture->width(), 720);
    EXPECT_EQ(picture->height(), 480);

    const HostRun info = runHost("info");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("type:     105 (filter)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("button:   Configure…"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("memory:   50000 bytes"), std::string::npos) << info.out;
}

TEST_F(HostTest, BadInputGetsOneLineNamingTheFileAndTheCause)
{
    const auto oneLine = [](const HostRun& run) {
        return run.err.find('\n') == run.err.size() - 1 ? run.err.substr(0, run.err.size() - 1) : run.err;
    };
    const std::string missing = (dir_ / "missing.mov").string();
    HostRun run = runHost("render '" + missing + "' -o '" + (dir_ / "out.mp4").string() + "'");
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(oneLine(run), "brimtone: cannot open '" + missing + "': No such file or directory");

    const auto text = dir_ / "notes.txt";
    std::ofstream(text) << "not a video\n";
    run = runHost("render '" + text.string() + "' -o '" + (dir_ / "out.mp4").string() + "'");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(oneLine(run).find(text.string()), std::string::npos) << run.err;

    const std::string unwritable = (dir_ / "no-such-folder" / "out.mp4").string();
    run = runHost("render --frames 2 -o '" + unwritable + "'");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(oneLine(run).find(unwritable), std::string::npos) << run.err;

    const auto bundle = dir_ / "NoMain.bundle";
    fs::create_directories(bundle / "Contents" / "Linux");
    fs::copy_file(BRIMTONE_NOMAIN_SO, bundle / "Contents" / "Linux" / "NoMain.so");
    run = runHost("info --plugin '" + bundle.string() + "'");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(oneLine(run).find("has no entry point 'main'"), std::string::npos) << run.err;

    run = runHost("info --plugin '" + (dir_ / "Nothing.bundle").string() + "'");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(oneLine(run).find("Nothing.bundle"), std::string::npos) << run.err;

    run = runHost("render --size 12xabc");
    EXPECT_EQ(run.status, 2);
}

// A long pass must not grow: every frame's buffers, cookies and sound are
// given back. Measured in process through the host's own classes.
TEST_F(HostTest, LongRenderKeepsMemoryFlat)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator hides heap figures";
#else
    std::string error;
    auto plugin = PluginHost::load(PluginHost::defaultBundlePath(), error);
    ASSERT_NE(plugin, nullptr) << error;
    auto source = MediaSource::openBuiltin(2000);
    plugin->attach(source.get(), FilterSettings{30, 30});

    const Rect bounds{0, 0, 48, 64};
    GWorldPtr frame = nullptr;
    ASSERT_EQ(NewGWorld(&frame, 32, &bounds, nullptr, nullptr, 0), noErr);
    PluginParams& params = plugin->params();
    params.frameCount = 2000;
    params.frameRect = bounds;
    params.frame = frame;
    ASSERT_EQ(plugin->call(kPlugInitialize), kPluginOK);
    size_t afterWarmUp = 0;
    for (int index = 0; index < 2000; ++index) {
        params.renderFrame = index;
        ASSERT_EQ(plugin->call(kPlugDoFrame), kPluginOK) << "frame " << index;
        EXPECT_FALSE(plugin->takeMixedAudio().empty());
        if (index == 199) afterWarmUp = mallinfo2().uordblks;
    }
    const size_t atEnd = mallinfo2().uordblks;
    EXPECT_EQ(plugin->outstandingFrames(), 0u);
    EXPECT_EQ(plugin->call(kPlugTerminate), kPluginOK);
    DisposeGWorld(frame);
    EXPECT_LT(atEnd, afterWarmUp + 64 * 1024) << "heap grew by " << (atEnd - afterWarmUp) << " bytes over 1800 frames";
#endif
}

}  // namespace
