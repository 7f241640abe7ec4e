// The brimtone host as a user runs it: the real executable, the real bundle,
// real files in a temporary folder and a private preferences folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "BrimtoneVersion.h"
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

// Whether frame `index` of the source decodes.
bool readPicture(MediaSource& source, int index)
{
    std::vector<uint8_t> pixels(size_t(source.width()) * source.height() * 4);
    std::string error;
    const bool read = source.readFrame(index, source.width(), source.height(), true, pixels.data(),
                                       source.width() * 4, error);
    EXPECT_TRUE(read) << error;
    return read;
}

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

    // Starts the host without waiting; its standard error goes to `err`.
    pid_t startHost(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> words{BRIMTONE_HOST_EXE};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const std::string err = (dir_ / "err").string();
        const pid_t pid = fork();
        if (pid == 0) {
            if (!freopen(err.c_str(), "w", stderr) || !freopen("/dev/null", "r", stdin)) _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    // Stops the host and waits until it is stopped, so that the signals sent
    // next are all pending when it goes on: they are then taken lowest number
    // first, whatever order they were sent in.
    static void stop(pid_t pid)
    {
        int status = 0;
        kill(pid, SIGSTOP);
        waitpid(pid, &status, WUNTRACED);
    }

    HostRun finish(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(dir_ / "err"), {}};
    }

    // Waits until `reached` holds while the host `pid` runs; kills it when
    // that never happens.
    bool waitUntil(pid_t pid, const std::function<bool()>& reached)
    {
        for (int tries = 0; tries < 12000; ++tries) {
            if (reached()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        kill(pid, SIGKILL);
        finish(pid);
        return false;
    }

    // What the host left in the test's folder (hidden names too, not the
    // test's own files), sorted.
    std::vector<std::string> listing()
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name != "err" && name != "out" && name != "kavlo-Prefs") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The host's temporary folders beside its outputs.
    std::vector<fs::path> scratchFolders()
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (entry.path().filename().string().find(".brimtone-") != std::string::npos) found.push_back(entry);
        return found;
    }

    // Waits until the render `pid` has written encoded frames into its
    // temporary folder; kills it when it never does.
    bool waitForFramesWritten(pid_t pid)
    {
        if (framesWritten()) return true;
        kill(pid, SIGKILL);
        finish(pid);
        return false;
    }

    // Whether a render's temporary folder holds two frames or more (a PNG
    // sequence's frames are written one file each).
    bool framesStarted()
    {
        for (const fs::path& folder : scratchFolders()) {
            std::error_code ec;
            if (std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator()) >= 2) return true;
        }
        return false;
    }

    bool framesWritten()
    {
        for (int tries = 0; tries < 600; ++tries) {
            for (const fs::path& folder : scratchFolders()) {
                std::error_code ec;
                for (const auto& entry : fs::directory_iterator(folder, ec))
                    if (fs::file_size(entry, ec) > 4096) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Runs the host on a pseudo-terminal, typing `answer` when it asks; what
    // the terminal showed comes back as `err`.
    HostRun runOnTerminal(const std::vector<std::string>& arguments, const std::string& answer)
    {
        std::vector<std::string> words{BRIMTONE_HOST_EXE};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        int terminal = -1;
        const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid == 0) {
            execv(argv[0], argv.data());
            _exit(127);
        }
        std::string screen;
        bool answered = false;
        for (pollfd ready{terminal, POLLIN, 0}; pid > 0 && poll(&ready, 1, 60000) > 0;) {
            char buffer[4096];
            const ssize_t got = read(terminal, buffer, sizeof buffer);
            if (got <= 0) break;  // the host has ended
            screen.append(buffer, size_t(got));
            if (!answered && screen.find("[y/N] ") != std::string::npos) {
                answered = true;
                EXPECT_EQ(write(terminal, answer.data(), answer.size()), ssize_t(answer.size()));
            }
        }
        int status = 0;
        waitpid(pid, &status, 0);
        close(terminal);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, screen, {}};
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

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

    // A quick render passes no sound through: no sound track at all.
    ASSERT_EQ(runHost("render --proxy --frames 3 --size 64x48 -o '" + path("proxy.mkv") + "'").status, 0);
    auto proxy = open("proxy.mkv");
    ASSERT_NE(proxy, nullptr);
    EXPECT_FALSE(proxy->hasAudio());

    // Squeezed to half its width, the clip's pixels are twice as wide; a
    // thumbnail of it keeps that shape, as a render's PNG frames do.
    ASSERT_EQ(runHost("render --frames 2 --size 360x480 -o '" + path("narrow.mkv") + "'").status, 0);
    for (const char* name : {"narrow.png", "narrow%d.png"}) {
        const std::string command = std::string(name) == "narrow.png" ? "thumbnail" : "render";
        ASSERT_EQ(runHost(command + " '" + path("narrow.mkv") + "' -o '" + path(name) + "'").status, 0) << name;
    }
    for (const char* name : {"narrow.mkv", "narrow.png", "narrow1.png"}) {
        auto narrow = open(name);
        ASSERT_NE(narrow, nullptr) << name;
        EXPECT_EQ(narrow->pixelAspect().num, 2 * narrow->pixelAspect().den) << name;
    }

    // A frame past the end is a bad value, said with the file it is not in.
    const HostRun past = runHost("thumbnail '" + path("clip.mkv") + "' --at 500 -o '" + path("past.png") + "'");
    EXPECT_EQ(past.status, 2);
    EXPECT_EQ(past.err, "brimtone: --at 500 is past the last frame of '" + path("clip.mkv") + "', frame 9\n");
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
    const std::string frames = " --frames 3 --size 64x48 -o '" + (dir_ / "x").string();
    const std::pair<std::string, std::string> cases[] = {
        {"render" + frames + ".png'", "holds one picture, not 3 frames; give a pattern such as"},
        {"render" + frames + "%5000d.png'", "a frame number has at most 10 digits"},
        {"render" + frames + "%03d-%s.png'", "write %% for a percent sign in a PNG sequence's name"},
        {"render" + frames + ".xyz'", "unknown output type"},
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
        {"settings clip.mp4", "settings takes no INPUT"},
        {"thumbnail", "thumbnail needs -o PNG"},
        {"thumbnail -o x.mp4", "-o writes a PNG picture: give a name ending in .png"},
        {"configure --screenshot x.jpg", "--screenshot writes a PNG picture: give a name ending in .png"},
        {"render --frames 0", "--frames needs a whole number from 1 to 2147483647"},
        {"thumbnail -o x.png --at 99999999999",
         "--at 99999999999 is too large: it takes a whole number from 0 to 2147483647"},
        {"--version extra", "--version takes nothing after it"},
    };
    for (const auto& [arguments, message] : mistakes) {
        const HostRun run = runHost(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_EQ(run.err.rfind("brimtone: " + message + "\n", 0), 0u) << run.err;
    }
    EXPECT_NE(runHost("info --at 3").err.find("\nusage: brimtone info [INPUT] [-o OUTPUT]"), std::string::npos);
    EXPECT_NE(runHost("thumbnail").err.find("\nusage: brimtone thumbnail [INPUT] -o PNG [-y] [-n]"), std::string::npos);
    for (const char* asking : {"--help", "thumbnail --help"}) {
        std::istringstream lines(runHost(asking).out);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    }
    EXPECT_EQ(runHost("thumbnail --help").out.find("even width"), std::string::npos) << "a PNG takes any size";

    // A value of BRIMTONE_PIXEL_PATH that means nothing is not passed over in silence.
    setenv("BRIMTONE_PIXEL_PATH", "fast", 1);
    EXPECT_NE(runHost("info").err.find("BRIMTONE_PIXEL_PATH='fast' is none of plain, sse2 and avx2"), std::string::npos);
    setenv("BRIMTONE_PIXEL_PATH", "plain", 1);
    EXPECT_EQ(runHost("info").err, "");
    unsetenv("BRIMTONE_PIXEL_PATH");

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

TEST_F(HostTest, OutputIsNeverTheInputWhateverPathNamesIt)
{
    ASSERT_EQ(runHost("render --frames 4 --size 64x48 -o '" + path("clip.mkv") + "'").status, 0);
    const std::string clip = readText(dir_ / "clip.mkv");
    fs::create_symlink("clip.mkv", dir_ / "link.mkv");
    fs::create_hard_link(dir_ / "clip.mkv", dir_ / "hard.mkv");
    for (const std::string& output : {path("clip.mkv"), dir_.string() + "/./clip.mkv", path("link.mkv"),
                                     path("hard.mkv")}) {
        const HostRun run = runHost("render '" + path("clip.mkv") + "' -y -o '" + output + "'");
        EXPECT_EQ(run.status, 1) << output;
        EXPECT_NE(run.err.find("cannot write '" + output + "': it is the input"), std::string::npos) << run.err;
        EXPECT_TRUE(readText(dir_ / "clip.mkv") == clip) << "the input was changed";
    }
    // Frames read and written through one PNG pattern.
    ASSERT_EQ(runHost("render --frames 3 --size 64x48 -o '" + path("f%03d.png") + "'").status, 0);
    const std::string frame = readText(dir_ / "f002.png");
    const HostRun frames = runHost("render '" + path("f%03d.png") + "' -y -o '" + path("f%03d.png") + "'");
    EXPECT_EQ(frames.status, 1);
    EXPECT_NE(frames.err.find("it is the input"), std::string::npos) << frames.err;
    EXPECT_TRUE(readText(dir_ / "f002.png") == frame) << "the input was changed";
    EXPECT_EQ(scratchFolders().size(), 0u);
}

TEST_F(HostTest, AnExistingOutputIsReplacedOnlyWhenTheUserSaysSo)
{
    const std::string old = path("old.mp4");
    std::ofstream(old) << "old";
    const std::string render = "render --frames 2 --size 64x48 ";
    const HostRun unasked = runHost(render + "-o '" + old + "'");
    EXPECT_EQ(unasked.status, 1);
    EXPECT_NE(unasked.err.find("'" + old + "' exists; give -y to replace it or -n to keep it"), std::string::npos)
        << unasked.err;
    EXPECT_EQ(runHost(render + "-n -o '" + old + "'").status, 1);
    EXPECT_EQ(readText(old), "old");

    const std::vector<std::string> asking{"render", "--frames", "2", "--size", "64x48", "-o", old};
    const HostRun no = runOnTerminal(asking, "n\n");
    EXPECT_EQ(no.status, 1);
    EXPECT_NE(no.err.find("'" + old + "' exists. Overwrite? [y/N] "), std::string::npos) << no.err;
    EXPECT_EQ(readText(old), "old");
    const HostRun yes = runOnTerminal(asking, "y\n");
    EXPECT_EQ(yes.status, 0) << yes.err;
    auto replaced = open("old.mp4");
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(replaced->frameCount(), 2);

    // Frames of a PNG pattern that exist count as the output.
    std::ofstream(dir_ / "f002.png") << "old";
    const std::string frames = "render --frames 3 --size 64x48 -o '" + path("f%03d.png") + "'";
    const HostRun pattern = runHost(frames);
    EXPECT_EQ(pattern.status, 1);
    EXPECT_NE(pattern.err.find("1 of its frames exist"), std::string::npos) << pattern.err;
    EXPECT_FALSE(fs::exists(dir_ / "f001.png"));
    EXPECT_EQ(runHost(frames + " -y").status, 0);
    EXPECT_NE(readText(dir_ / "f002.png"), "old");

    // A link is followed, also to a file yet to be made: the link stays.
    fs::create_symlink("made.mkv", dir_ / "link.mkv");
    EXPECT_EQ(runHost(render + "-y -o '" + path("link.mkv") + "'").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.mkv"));
    auto made = open("made.mkv");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->frameCount(), 2);
    EXPECT_EQ(scratchFolders().size(), 0u);
}

TEST_F(HostTest, SignalsKeepTheOldFileWholeOrFinishAShorterPlayableOne)
{
    const std::vector<std::string> endless{"render", "--frames", "1000000", "--size", "64x48", "-y", "-o"};
    const auto start = [&](const std::string& output) {
        std::vector<std::string> arguments = endless;
        arguments.push_back(path(output));
        return startHost(arguments);
    };

    // Killed outright, the render leaves the old file as it was.
    std::ofstream(dir_ / "old.mkv") << "old";
    pid_t pid = start("old.mkv");
    ASSERT_TRUE(waitForFramesWritten(pid));
    kill(pid, SIGKILL);
    finish(pid);
    EXPECT_EQ(readText(dir_ / "old.mkv"), "old");
    for (const fs::path& folder : scratchFolders()) fs::remove_all(folder);

    // Ctrl-C or SIGTERM finishes a shorter file that plays, and says where it stopped.
    for (const auto& [signal, status, output] : {std::tuple{SIGINT, 130, "int.mp4"}, {SIGTERM, 143, "term.mp4"}}) {
        pid = start(output);
        ASSERT_TRUE(waitForFramesWritten(pid));
        kill(pid, signal);
        const HostRun run = finish(pid);
        EXPECT_EQ(run.status, status);
        const std::string said = "stopped at frame ";
        const size_t at = run.err.find(said);
        ASSERT_NE(at, std::string::npos) << run.err;
        const int stoppedAt = std::atoi(run.err.c_str() + at + said.size());
        EXPECT_NE(run.err.find(std::to_string(stoppedAt) + " of 1000000", at), std::string::npos) << run.err;
        auto shorter = open(output);
        ASSERT_NE(shorter, nullptr);
        EXPECT_EQ(shorter->frameCount(), stoppedAt);
        EXPECT_TRUE(readPicture(*shorter, shorter->frameCount() - 1));
    }

    // A second signal while the first one is being handled abandons the
    // file at once. (Two SIGINTs sent to a stopped process would merge into one.)
    pid = start("twice.mkv");
    ASSERT_TRUE(waitForFramesWritten(pid));
    stop(pid);
    kill(pid, SIGINT);
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);
    const HostRun twice = finish(pid);
    EXPECT_EQ(twice.status, 143);
    EXPECT_NE(twice.err.find("interrupted; nothing written"), std::string::npos) << twice.err;
    EXPECT_FALSE(fs::exists(dir_ / "twice.mkv"));
    EXPECT_EQ(scratchFolders().size(), 0u);
}

TEST_F(HostTest, FramesThatCannotBeDecodedFailTheRunAndWriteNothing)
{
    // An MP4 states how many frames it holds; its second half is cut off.
    ASSERT_EQ(runHost("render --frames 30 --size 64x48 -o '" + path("clip.mp4") + "'").status, 0);
    const std::string whole = readText(dir_ / "clip.mp4");
    std::ofstream(dir_ / "cut.mp4", std::ios::binary) << whole.substr(0, whole.size() / 2);
    std::ofstream(dir_ / "take:2.mp4", std::ios::binary) << whole;
    std::ofstream(dir_ / "old.mkv") << "old";

    // Found before anything is written: the file holds fewer frames than it promises.
    const HostRun render = runHost("render '" + path("cut.mp4") + "' -y -o '" + path("old.mkv") + "'");
    EXPECT_EQ(render.status, 1);
    const std::string message = "brimtone: '" + path("cut.mp4") + "' ends after frame ";
    const size_t line = render.err.rfind(message);
    ASSERT_NE(line, std::string::npos) << render.err;
    EXPECT_NE(render.err.find(" of the 30 it promises", line), std::string::npos) << render.err;
    EXPECT_EQ(render.err.find('\n', line), render.err.size() - 1) << render.err;
    EXPECT_EQ(line, 0u) << "FFmpeg's own lines only with -v: " << render.err;
    const HostRun verbose = runHost("render '" + path("cut.mp4") + "' -v -y -o '" + path("old.mkv") + "'");
    EXPECT_NE(verbose.err.find("partial file"), std::string::npos) << verbose.err;
    EXPECT_EQ(readText(dir_ / "old.mkv"), "old");
    const HostRun thumbnail = runHost("thumbnail '" + path("cut.mp4") + "' --at 29 -o '" + path("cut.png") + "'");
    EXPECT_EQ(thumbnail.status, 1);
    EXPECT_NE(thumbnail.err.find("of the 30 it promises"), std::string::npos) << thumbnail.err;
    EXPECT_FALSE(fs::exists(dir_ / "cut.png"));
    EXPECT_EQ(scratchFolders().size(), 0u);

    // Through a FIFO, which cannot be indexed first, the render finds the
    // damage at the frame; on a terminal the error starts a line of its own after
    // the progress line.
    const std::string fifo = path("cut.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(std::system(("cat '" + path("cut.mp4") + "' > '" + fifo + "' &").c_str()), 0);
    HostRun shown = runOnTerminal({"render", fifo, "-o", path("new.mkv")}, "");
    for (size_t escape; (escape = shown.err.find('\x1b')) != std::string::npos;) {  // FFmpeg's colours
        const size_t end = shown.err.find('m', escape);
        shown.err.erase(escape, end == std::string::npos ? std::string::npos : end - escape + 1);
    }
    EXPECT_NE(shown.err.find("frame 1/30"), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("\nbrimtone: '" + fifo + "' is damaged at frame "), std::string::npos) << shown.err;
    std::istringstream lines(shown.err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.find(" fps ") == std::string::npos || line.find('[') == std::string::npos) << line;
    EXPECT_FALSE(fs::exists(dir_ / "new.mkv"));

    // The whole file renders, whatever its name looks like.
    const HostRun named = runHost("render '" + path("take:2.mp4") + "' -o '" + path("take:3.mkv") + "'");
    EXPECT_EQ(named.status, 0) << named.err;
    auto copy = open("take:3.mkv");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->frameCount(), 30);
}

TEST_F(HostTest, APercentSignInAVideoNameIsPartOfTheName)
{
    // A long name keeps its extension (and so its container) all the way.
    const std::string longName = std::string(200, 'n') + ".mp4";
    for (const std::string& name : {std::string("Holiday 100%.mp4"), std::string("seq%d.mkv"), longName}) {
        const HostRun run = runHost("render --frames 3 --size 64x48 -o '" + path(name) + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find(std::string("wrote ") + path(name) + "\n"), std::string::npos) << run.err;
        auto video = open(name);
        ASSERT_NE(video, nullptr) << name;
        EXPECT_EQ(video->frameCount(), 3) << name;
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"Holiday 100%.mp4", longName, "seq%d.mkv"}));
}

// Whenever a signal comes, a PNG sequence on disk is the old one whole or the
// new one whole: frames 1..N of this render and none of the old after them.
TEST_F(HostTest, ASequenceIsReplacedWholeWhateverMomentASignalComes)
{
    const auto frame = [&](int n) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d.png", n);
        return dir_ / name;
    };
    const auto writeOldSequence = [&] {
        for (int n = 1; n <= 5; ++n) std::ofstream(frame(n)) << "old";
    };
    const auto newFrames = [&] {
        int found = 0;
        for (int n = 1; n <= 5; ++n) found += readText(frame(n)).rfind("\x89PNG", 0) == 0;
        return found;
    };
    const auto oldFrames = [&] {
        int found = 0;
        for (int n = 1; n <= 5; ++n) found += readText(frame(n)) == "old";
        return found;
    };
    const auto onlyNewFrames = [&](int count) {
        std::vector<std::string> expected;
        for (int n = 1; n <= count; ++n) expected.push_back(frame(n).filename().string());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listing(), expected);
        EXPECT_EQ(newFrames(), std::min(count, 5));
    };
    const std::string pattern = path("f%03d.png");
    const std::vector<std::string> shortRender{"render", "--frames", "3", "--size", "64x48", "-y", "-o", pattern};
    const std::string replaced = "wrote " + pattern + " (3 frames; 2 old frames after them removed)\n";

    writeOldSequence();
    const HostRun plain = runHost("render --frames 3 --size 64x48 -y -o '" + pattern + "'");
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.err.find(replaced), std::string::npos) << plain.err;
    onlyNewFrames(3);

    // A pause between the steps of putting the frames in place lets the
    // signal land after each of them: the commit then finishes.
    setenv("BRIMTONE_COMMIT_PAUSE_MS", "100", 1);
    const std::pair<const char*, std::function<bool()>> moments[] = {
        {"the first frame has its name", [&] { return newFrames() >= 1; }},
        {"every new frame has its name", [&] { return newFrames() == 3; }},
        {"the last old frame is gone", [&] { return newFrames() == 3 && !fs::exists(frame(5)); }},
    };
    for (const auto& [moment, reached] : moments) {
        SCOPED_TRACE(moment);
        writeOldSequence();
        const pid_t pid = startHost(shortRender);
        ASSERT_TRUE(waitUntil(pid, reached));
        kill(pid, SIGTERM);
        const HostRun run = finish(pid);
        EXPECT_EQ(run.status, 143);
        EXPECT_NE(run.err.find("interrupted once the output was finished; " + replaced), std::string::npos) << run.err;
        onlyNewFrames(3);
    }
    unsetenv("BRIMTONE_COMMIT_PAUSE_MS");

    // Ctrl-C during a long render keeps the frames done, and only them; a
    // second signal keeps the old sequence.
    const std::vector<std::string> longRender{"render", "--frames", "1000000", "--size", "64x48", "-y", "-o", pattern};
    writeOldSequence();
    pid_t pid = startHost(longRender);
    ASSERT_TRUE(waitUntil(pid, [&] { return framesStarted(); }));
    kill(pid, SIGINT);
    HostRun run = finish(pid);
    EXPECT_EQ(run.status, 130);
    const size_t at = run.err.find("stopped at frame ");
    ASSERT_NE(at, std::string::npos) << run.err;
    const int done = std::atoi(run.err.c_str() + at + 17);
    EXPECT_GE(done, 1);
    onlyNewFrames(done);

    writeOldSequence();
    pid = startHost(longRender);
    ASSERT_TRUE(waitUntil(pid, [&] { return framesStarted(); }));
    stop(pid);
    kill(pid, SIGINT);
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);
    run = finish(pid);
    EXPECT_EQ(run.status, 143);
    EXPECT_NE(run.err.find("interrupted; nothing written"), std::string::npos) << run.err;
    EXPECT_EQ(oldFrames(), 5);
    EXPECT_EQ(listing().size(), 5u);
}

// How much memory the process `pid` has used at most so far, in KiB.
long peakMemory(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// No work in proportion to the frames a clip claims comes before its first
// frame: an AVI whose header claims 2^31 frames (it holds 5), and the
// built-in clip as long as the folder has room for.
TEST_F(HostTest, AClaimOfBillionsOfFramesCostsNothingBeforeTheFirstFrame)
{
    const std::string avi = path("claim.avi");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 5 -c:v mjpeg '" +
                           avi + "'").c_str()),
              0);
    std::string bytes = readText(avi);
    for (const char* chunk : {"avih", "strh"}) {
        // dwTotalFrames of the main header, dwLength of the stream header.
        const size_t at = bytes.find(chunk) + (std::string(chunk) == "avih" ? 24 : 40);
        ASSERT_LT(at + 4, bytes.size());
        bytes.replace(at, 4, std::string("\0\0\0\x80", 4));
    }
    std::ofstream(avi, std::ios::binary) << bytes;
    for (const char* output : {"claim%010d.png", "claim.mkv"}) {
        const pid_t pid = startHost({"render", avi, "-o", path(output)});
        int status = 0;
        rusage usage{};
        ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
        EXPECT_EQ(WEXITSTATUS(status), 1) << output << ": " << readText(dir_ / "err");
        EXPECT_LT(usage.ru_maxrss, 100 * 1024) << output;
    }
    EXPECT_EQ(listing(), std::vector<std::string>{"claim.avi"});

    struct statvfs room {};
    ASSERT_EQ(statvfs(dir_.c_str(), &room), 0);
    if (room.f_files != 0 && room.f_favail < 100000) GTEST_SKIP() << "the file system has too few files left";
    const unsigned long most = 1ul << 24;  // the built-in clip's longest
    const unsigned long frames = room.f_files == 0 ? most : std::min<unsigned long>(most, room.f_favail - 10000);
    const pid_t pid = startHost({"render", "--frames", std::to_string(frames), "--size", "64x48", "-o", path("many%08d.png")});
    ASSERT_TRUE(waitUntil(pid, [&] {
        std::error_code ec;
        for (const fs::path& folder : scratchFolders())
            if (!fs::is_empty(folder, ec)) return true;
        return false;
    }));
    const long peak = peakMemory(pid);
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 100 * 1024);
    kill(pid, SIGINT);
    EXPECT_EQ(finish(pid).status, 130);
}

// No temporary folder outlives a signal the host can see; those of a run
// killed outright (beside the output, and its settings in $TMPDIR) go at the
// next render, once their process has ended, and only the user's own.
TEST_F(HostTest, TemporariesGoWithEverySignalAndAfterAKilledRun)
{
    const fs::path tmp = dir_ / "tmp";
    fs::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    const std::vector<std::string> render{"render", "--threshold", "40", "--frames", "1000000", "--size", "64x48",
                                          "-y", "-o", path("x%03d.png")};
    const auto temporaries = [&] {
        std::vector<std::string> found;
        for (const std::string& name : listing())
            if (name != "tmp" && name.rfind("x", 0) != 0) found.push_back(name);
        for (const auto& entry : fs::directory_iterator(tmp)) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    // The terminal closed, SIGTERM, and a second signal while the first is
    // handled: SIGHUP is taken first, so SIGINT ends the run.
    const std::pair<std::vector<int>, int> cases[] = {{{SIGHUP}, 129}, {{SIGTERM}, 143}, {{SIGINT, SIGHUP}, 130}};
    for (const auto& [signals, status] : cases) {
        const pid_t pid = startHost(render);
        ASSERT_TRUE(waitUntil(pid, [&] { return framesStarted(); }));
        stop(pid);
        for (int signal : signals) kill(pid, signal);
        kill(pid, SIGCONT);
        const HostRun run = finish(pid);
        EXPECT_EQ(run.status, status) << run.err;
        EXPECT_EQ(temporaries(), std::vector<std::string>{}) << "after status " << status;
    }

    const pid_t killed = startHost(render);
    ASSERT_TRUE(waitUntil(killed, [&] { return framesStarted(); }));
    kill(killed, SIGKILL);
    finish(killed);
    EXPECT_EQ(temporaries().size(), 2u);
    // Folders of this (running) test process, and one of another user.
    const std::string running = std::to_string(getpid()) + "-abcdef";
    const std::vector<std::string> kept{".y.png.brimtone-" + running, "brimtone-run-" + running};
    fs::create_directory(dir_ / kept[0]);
    fs::create_directory(tmp / kept[1]);
    if (geteuid() == 0) {
        const fs::path theirs = tmp / ("brimtone-run-" + std::to_string(killed) + "-ghijkl");
        fs::create_directory(theirs);
        ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    }
    const HostRun next = runHost("render --frames 2 --size 64x48 -y -o '" + path("x%03d.png") + "'");
    unsetenv("TMPDIR");
    EXPECT_EQ(next.status, 0) << next.err;
    std::vector<std::string> left = kept;
    if (geteuid() == 0) left.push_back("brimtone-run-" + std::to_string(killed) + "-ghijkl");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(temporaries(), left);
}

// configure --screenshot writes its picture as every output is written.
TEST_F(HostTest, TheScreenshotIsWrittenAsEveryOutputIs)
{
    const fs::path tmp = dir_ / "tmp";
    fs::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string sessionRuntime = runtime ? runtime : "";
    unsetenv("XDG_RUNTIME_DIR");
    const std::string shot = path("shot.png");
    const std::string configure = "configure --screenshot '" + shot + "'";

    // Said in one line, without Qt's complaint about a missing runtime folder.
    const HostRun made = runHost(configure);
    EXPECT_EQ(made.status, 0);
    EXPECT_EQ(made.err.rfind("brimtone: wrote " + shot + "\n", 0), 0u) << made.err;
    EXPECT_EQ(made.err.find("QStandardPaths"), std::string::npos) << made.err;
    const std::string first = readText(shot);
    EXPECT_EQ(first.rfind("\x89PNG", 0), 0u);

    const HostRun unasked = runHost(configure);
    EXPECT_EQ(unasked.status, 1);
    EXPECT_NE(unasked.err.find("'" + shot + "' exists; give -y to replace it or -n to keep it"), std::string::npos)
        << unasked.err;
    EXPECT_EQ(runHost(configure + " -n").status, 1);
    const HostRun no = runOnTerminal({"configure", "--screenshot", shot}, "n\n");
    EXPECT_EQ(no.status, 1);
    EXPECT_NE(no.err.find("'" + shot + "' exists. Overwrite? [y/N] "), std::string::npos) << no.err;
    EXPECT_TRUE(readText(shot) == first);

    // Replaced by a rename: a hard link to the old picture still has it.
    std::ofstream(shot, std::ios::trunc) << "old";
    fs::create_hard_link(shot, dir_ / "kept.png");
    EXPECT_EQ(runHost(configure + " -y").status, 0);
    EXPECT_EQ(readText(dir_ / "kept.png"), "old");
    EXPECT_EQ(readText(shot).rfind("\x89PNG", 0), 0u);

    // Never the input, by any name.
    fs::remove(dir_ / "kept.png");
    fs::create_symlink("shot.png", dir_ / "link.png");
    const std::string picture = readText(shot);
    for (const std::string& output : {shot, path("link.png")}) {
        const HostRun run = runHost("configure '" + shot + "' -y --screenshot '" + output + "'");
        EXPECT_EQ(run.status, 1) << output;
        EXPECT_NE(run.err.find("cannot write '" + output + "': it is the input"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(readText(shot) == picture);
    EXPECT_EQ(scratchFolders().size(), 0u);
    EXPECT_TRUE(fs::is_empty(tmp)) << "the run's own runtime folder is gone";
    unsetenv("TMPDIR");
    if (!sessionRuntime.empty()) setenv("XDG_RUNTIME_DIR", sessionRuntime.c_str(), 1);
}

}  // namespace
