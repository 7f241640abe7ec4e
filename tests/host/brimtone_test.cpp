// The brimtone host as a user runs it: the real executable, the real bundle,
// real files in a temporary folder and a private preferences folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MediaSink.h"
#include "MediaSource.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;
using brimtone::host::MediaSink;
using brimtone::host::MediaSource;

namespace {

struct HostRun {
    int status;
    std::string err;
    std::string out;
};

std::string readText(const fs::path& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// What a command's help says beside an option: its row and the rows that
// continue it, or empty.
std::string optionHelp(const std::string& help, const std::string& option)
{
    size_t at = help.find("\n  " + option + " ");
    if (at == std::string::npos) return {};
    std::string text;
    do {
        const size_t end = help.find('\n', at + 1);
        text += help.substr(at + 1, end - at - 1);
        at = end;
    } while (at != std::string::npos && help.compare(at + 1, 8, std::string(8, ' ')) == 0);
    return text;
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override
    {
        if (!std::getenv("BRIMTONE_UPDATE_GOLDEN")) fs::remove_all(dir_);  // else kept to be looked at
    }

    // Runs the host with the arguments (already quoted where needed).
    HostRun runHost(const std::string& arguments, std::string out = {})
    {
        if (out.empty()) out = (dir_ / "out").string();
        const int status = std::system((std::string("'") + BRIMTONE_HOST_EXE + "' " + arguments + " >'" + out +
                                        "' 2>'" + (dir_ / "err").string() + "' </dev/null").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(dir_ / "err"), readText(dir_ / "out")};
    }

    std::unique_ptr<MediaSource> open(const std::string& name)
    {
        std::string error;
        auto source = MediaSource::openFile((dir_ / name).string(), error);
        EXPECT_NE(source, nullptr) << error;
        return source;
    }

    fs::path dir_;
};

TEST_F(HostTest, RenderedFramesMatchTheCheckedReference)
{
    ForgetHeldPrefsForTests();
    InitPreferences();
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.StartRel = SetRelRect(0.125, 0.05, 0.75, 0.875);
    config.Sliders[kThresholdSlider] = 60;
    config.Colors[kDarkColor] = RGBColor{0x2000, 0x1000, 0x8000};
    config.Colors[kLightColor] = RGBColor{0xFF00, 0xE000, 0x9000};
    ASSERT_TRUE(SaveConfig(&config));
    const HostRun run = runHost("render --size 160x120 --frames 12 --fade-in 3 --fade-out 4 -o '" +
                                (dir_ / "f%03d.png").string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;

    // One checksum per frame over its RGB bytes (FNV-1a); alpha is not part of the picture.
    std::vector<std::string> sums;
    auto source = open("f%03d.png");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->frameCount(), 12);
    std::vector<uint8_t> pixels(160 * 120 * 4);
    std::string error;
    for (int index = 0; index < source->frameCount(); ++index) {
        EXPECT_TRUE(source->readFrame(index, 160, 120, true, pixels.data(), 160 * 4, error)) << error;
        uint64_t hash = 0xcbf29ce484222325ull;
        for (size_t i = 0; i < pixels.size(); ++i)
            if (i % 4 != 0) hash = (hash ^ pixels[i]) * 0x100000001b3ull;
        char line[64];
        std::snprintf(line, sizeof line, "%03d %016llx", index, static_cast<unsigned long long>(hash));
        sums.push_back(line);
    }

    const fs::path golden = fs::path(BRIMTONE_GOLDEN_DIR) / "render_160x120_fades.txt";
    if (std::getenv("BRIMTONE_UPDATE_GOLDEN")) {
        std::ofstream out(golden);
        out << "# brimtone render --size 160x120 --frames 12 --fade-in 3 --fade-out 4, region (0.125, 0.05)-(0.75, 0.875), threshold 60\n";
        for (const auto& line : sums) out << line << "\n";
        GTEST_SKIP() << "reference written to " << golden << "; look at the frames in " << dir_ << " first";
    }
    std::vector<std::string> reference;
    std::ifstream in(golden);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') reference.push_back(line);
    EXPECT_EQ(sums, reference);
}

TEST_F(HostTest, VideoOutputKeepsTheSoundAndThumbnailsHaveTheClipsSize)
{
    const HostRun render = runHost("render --frames 10 --fade-in 2 --fade-out 2 -o '" + (dir_ / "clip.mkv").string() + "'");
    ASSERT_EQ(render.status, 0) << render.err;
    auto clip = open("clip.mkv");
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->frameCount(), 10);
    EXPECT_EQ(clip->width(), 720);
    EXPECT_TRUE(clip->hasAudio()) << "the frames' own sound is mixed into the output";

    const HostRun thumb = runHost("thumbnail --at 5 -o '" + (dir_ / "thumb.png").string() + "'");
    ASSERT_EQ(thumb.status, 0) << thumb.err;
    auto picture = open("thumb.png");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width(), 720);
    EXPECT_EQ(picture->height(), 480);
}

TEST_F(HostTest, BadInputGetsOneLineNamingTheFileAndTheCause)
{
    const std::string missing = (dir_ / "missing.mov").string();
    const auto text = dir_ / "notes.txt";
    std::ofstream(text) << "not a video\n";
    const std::string unwritable = (dir_ / "no-such-folder" / "out.mp4").string();
    const auto bundle = dir_ / "NoMain.bundle";
    fs::create_directories(bundle / "Contents" / "Linux");
    fs::copy_file(BRIMTONE_NOMAIN_SO, bundle / "Contents" / "Linux" / "NoMain.so");
    const std::string out = " -o '" + (dir_ / "out.mp4").string() + "'";
    const std::pair<std::string, std::string> cases[] = {
        {"render '" + missing + "'" + out, "brimtone: cannot open '" + missing + "': No such file or directory"},
        {"render '" + text.string() + "'" + out, text.string()},
        {"render --frames 2 -o '" + unwritable + "'", unwritable},
        {"info --plugin '" + bundle.string() + "'", "has no entry point 'main'"},
        {"info --plugin '" + (dir_ / "Nothing.bundle").string() + "'", "Nothing.bundle"},
        {"info --plugin '" + text.string() + "'", "'" + text.string() + "': not a bundle"},
    };
    for (const auto& [arguments, message] : cases) {
        const HostRun run = runHost(arguments);
        EXPECT_NE(run.status, 0) << arguments;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
}

TEST_F(HostTest, CommandLineHelpsOnStandardOutputAndRefusesWhatACommandDoesNotTake)
{
    for (const char* asking : {"--help", "-h", "help"}) {
        const HostRun run = runHost(asking);
        EXPECT_EQ(run.status, 0) << asking;
        EXPECT_EQ(run.err, "") << asking;
        for (const char* command : {"render ", "thumbnail ", "configure ", "info "})
            EXPECT_NE(run.out.find(command), std::string::npos) << asking << " lists " << command;
    }
    // Each command explains its own options, each beside its name.
    const HostRun render = runHost("render --help");
    EXPECT_EQ(render.status, 0);
    EXPECT_NE(optionHelp(render.out, "--fade-in N").find("frames"), std::string::npos) << render.out;
    EXPECT_NE(optionHelp(render.out, "--size WxH").find("stretched"), std::string::npos) << render.out;
    EXPECT_NE(optionHelp(render.out, "--proxy").find("quick preview"), std::string::npos) << render.out;
    EXPECT_EQ(render.out.find("--screenshot"), std::string::npos);
    const HostRun configure = runHost("help configure");
    EXPECT_NE(optionHelp(configure.out, "--screenshot PNG").find("Cancel"), std::string::npos) << configure.out;
    EXPECT_EQ(configure.out.find("--fade-in"), std::string::npos);
    EXPECT_EQ(runHost("--version").out, std::string("brimtone ") + BRIMTONE_VERSION + "\n");

    const std::pair<std::string, std::string> mistakes[] = {
        {"rendr", "unknown command 'rendr'; did you mean 'render'?"},
        {"--frames 3", "unknown option --frames; options come after the command"},
        {"info --at 3", "info does not take --at"},
        {"configure --frames 3", "configure does not take --frames"},
        {"render --fade-ot 3", "unknown option --fade-ot; did you mean --fade-out?"},
        {"render --size 12xabc", "--size needs WIDTHxHEIGHT, each from 1 to 8192"},
        {"render --fade-in", "--fade-in needs N"},
        {"render -q=1", "unknown option -q=1"},
        {"render --quiet=yes", "--quiet takes no value"},
        {"thumbnail -y -n", "-y and -n contradict each other"},
        {"info clip.mp4", "info takes no INPUT"},
    };
    for (const auto& [arguments, message] : mistakes) {
        const HostRun run = runHost(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_EQ(run.err.rfind("brimtone: " + message + "\n", 0), 0u) << run.err;
    }
    EXPECT_NE(runHost("info --at 3").err.find("\nusage: brimtone info [--plugin BUNDLE]\n"), std::string::npos);

    // Standard output that cannot take the text is a failure.
    const HostRun full = runHost("info", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot write to standard output"), std::string::npos) << full.err;

    // Quiet renders say nothing; others say what they wrote.
    const std::string out = " --frames 2 --size 64x48 -o '" + (dir_ / "q.mkv").string() + "'";
    EXPECT_NE(runHost("render" + out).err, "");
    fs::remove(dir_ / "q.mkv");
    const HostRun quiet = runHost("render -q" + out);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}

TEST_F(HostTest, PipelinedRenderKeepsEveryFrameAndItsSoundInPlace)
{
    // A clip whose frames each sound at their own level, so a frame's sound
    // moved or lost shows; pictures are the moving built-in clip.
    const int frames = 30, w = 96, h = 64;
    const auto level = [](int frame) { return 0.05f * float(1 + frame * 3 % 8); };
    {
        auto builtin = MediaSource::openBuiltin(frames);
        std::string error;
        auto sink = MediaSink::open((dir_ / "in.mkv").string(), w, h, builtin->frameRate(), true, error);
        ASSERT_TRUE(sink) << error;
        std::vector<uint8_t> pixels(w * h * 4);
        std::vector<float> sound;
        for (int i = 0; i < frames; ++i) {
            ASSERT_TRUE(builtin->readFrame(i, w, h, true, pixels.data(), w * 4, error)) << error;
            ASSERT_TRUE(builtin->readAudio(i, sound, error)) << error;
            for (size_t k = 0; k < sound.size(); ++k)
                sound[k] = level(i) * std::sin(float(k / 2) * 0.0576f);
            ASSERT_TRUE(sink->writeFrame(pixels.data(), w * 4, &sound, error)) << error;
        }
        ASSERT_TRUE(sink->finish(error)) << error;
    }
    const std::string input = "'" + (dir_ / "in.mkv").string() + "'";
    for (const char* output : {"out.mkv", "f%03d.png"}) {
        const HostRun run = runHost("render " + input + " --fade-in 3 --fade-out 3 -o '" + (dir_ / output).string() + "'");
        ASSERT_EQ(run.status, 0) << run.err;
    }

    auto in = open("in.mkv"), out = open("out.mkv"), png = open("f%03d.png");
    ASSERT_TRUE(in && out && png);
    EXPECT_EQ(png->frameCount(), frames);
    ASSERT_EQ(out->frameCount(), frames);
    std::string error;
    const auto rms = [&](MediaSource& source, int frame) {
        std::vector<float> sound;
        EXPECT_TRUE(source.readAudio(frame, sound, error)) << error;
        double sum = 0;
        for (float s : sound) sum += double(s) * s;
        return sound.empty() ? 0.0 : std::sqrt(sum / sound.size());
    };
    for (int i = 1; i < frames - 1; ++i)
        EXPECT_NEAR(rms(*out, i), rms(*in, i), 0.01) << "frame " << i;

    // The first frame is the untouched picture; the others are what the
    // plug-in makes of that frame alone (a thumbnail renders it with no pipeline).
    const auto pixels = [&](MediaSource& source, int frame) {
        std::vector<uint8_t> picture(w * h * 4);
        EXPECT_TRUE(source.readFrame(frame, w, h, true, picture.data(), w * 4, error)) << error;
        return picture;
    };
    EXPECT_EQ(pixels(*png, 0), pixels(*in, 0));
    for (int i : {4, 13, 14, 25}) {
        const std::string thumb = (dir_ / ("t" + std::to_string(i) + ".png")).string();
        const HostRun run = runHost("thumbnail " + input + " --at " + std::to_string(i) + " -o '" + thumb + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        auto picture = open("t" + std::to_string(i) + ".png");
        ASSERT_TRUE(picture);
        EXPECT_EQ(pixels(*png, i), pixels(*picture, 0)) << "frame " << i;
    }
}

}  // namespace
