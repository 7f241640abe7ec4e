// brimtone: a command-line video host for the Brimtone plug-in.
//
//   brimtone render    [INPUT] [-o OUTPUT] [--fade-in N] [--fade-out N] [--frames N]
//                      [--size WxH] [--proxy] [--plugin BUNDLE]
//   brimtone configure [INPUT] [--at FRAME] [--screenshot PNG] [--plugin BUNDLE]
//   brimtone thumbnail [INPUT] -o PNG [--at FRAME] [--plugin BUNDLE]
//   brimtone info      [--plugin BUNDLE]
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CoreFoundation.h"
#include "MediaSink.h"
#include "MediaSource.h"
#include "PluginHost.h"
#include "Progress.h"
#include "QuickDraw.h"
#include "ToolboxUI.h"

using namespace brimtone::host;

// Fontconfig, under Qt's fonts, keeps its caches until the process ends.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace {

constexpr const char* kUsage =
    "usage: brimtone render    [INPUT] [-o OUTPUT] [--fade-in N] [--fade-out N] [--frames N]\n"
    "                          [--size WxH] [--proxy] [--plugin BUNDLE]\n"
    "       brimtone configure [INPUT] [--at FRAME] [--screenshot PNG] [--plugin BUNDLE]\n"
    "       brimtone thumbnail [INPUT] -o PNG [--at FRAME] [--plugin BUNDLE]\n"
    "       brimtone info      [--plugin BUNDLE]\n"
    "\n"
    "Without INPUT the built-in test clip is used. OUTPUT is a video file (.mp4, .mkv,\n"
    ".mov) or a PNG pattern such as frames/%05d.png; render writes brimtone-demo.mp4\n"
    "when no -o is given. configure opens the effect's dialog on frame FRAME;\n"
    "--screenshot saves a picture of it and closes it as Cancel does.\n";

constexpr int kMaxSide = 8192;

struct Options {
    std::string command;
    std::string input;
    std::string output;
    std::string plugin;
    std::string screenshot;
    int fadeIn = 0;
    int fadeOut = 0;
    std::optional<int> frames;
    std::optional<int> at;
    int width = 0;
    int height = 0;
    bool proxy = false;
};

int fail(const std::string& message)
{
    std::cerr << "brimtone: " << message << "\n";
    return 1;
}

bool parseInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && stop == end;
}

bool parseSize(const std::string& text, int& width, int& height)
{
    const auto x = text.find('x');
    return x != std::string::npos && parseInt(text.substr(0, x), width) &&
           parseInt(text.substr(x + 1), height) && width > 0 && height > 0 &&
           width <= kMaxSide && height <= kMaxSide;
}

// Returns an error text, empty when the arguments are good.
std::string parseArguments(int argc, char** argv, Options& options)
{
    if (argc < 2) return "no command given";
    options.command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "-o" || arg == "--output") {
            if (!value(options.output)) return arg + " needs a file name";
        } else if (arg == "--screenshot") {
            if (!value(options.screenshot)) return "--screenshot needs a PNG file name";
        } else if (arg == "--plugin") {
            if (!value(options.plugin)) return "--plugin needs a bundle";
        } else if (arg == "--fade-in" || arg == "--fade-out" || arg == "--frames" || arg == "--at") {
            int number = 0;
            if (!value(text) || !parseInt(text, number) || number < 0)
                return arg + " needs a whole number of 0 or more";
            if (arg == "--fade-in") options.fadeIn = number;
            else if (arg == "--fade-out") options.fadeOut = number;
            else if (arg == "--frames") options.frames = number;
            else options.at = number;
        } else if (arg == "--size") {
            if (!value(text) || !parseSize(text, options.width, options.height))
                return "--size needs WIDTHxHEIGHT, each from 1 to " + std::to_string(kMaxSide);
        } else if (arg == "--proxy") {
            options.proxy = true;
        } else if (arg == "-h" || arg == "--help") {
            return "help";
        } else if (!arg.empty() && arg[0] == '-') {
            return "unknown option " + arg;
        } else if (options.input.empty()) {
            options.input = arg;
        } else {
            return "more than one input: " + options.input + " and " + arg;
        }
    }
    return {};
}

std::unique_ptr<MediaSource> openSource(const Options& options, std::string& error)
{
    // The built-in clip is as long as asked for, so long renders can be tried
    // without a file.
    if (options.input.empty()) return MediaSource::openBuiltin(options.frames.value_or(150));
    return MediaSource::openFile(options.input, error);
}

std::unique_ptr<PluginHost> loadPlugin(const Options& options, std::string& error)
{
    const std::string bundle = options.plugin.empty() ? PluginHost::defaultBundlePath() : options.plugin;
    return PluginHost::load(bundle, error);
}

// The editor asks for the description first, as when it lists its effects.
SInt32 askForInfo(PluginHost& host, int selectedFrames)
{
    host.params().getInfo2.selectedFrames = selectedFrames;
    return host.call(kPlugGetInfo);
}

std::string pluginError(const PluginHost& host, const char* step, SInt32 result)
{
    std::string message = std::string(step) + " failed: the plug-in answered " + resultName(result);
    if (result == kPluginCantGetNeededFrame && !host.lastFrameError().empty())
        message += " (" + host.lastFrameError() + ")";
    return message;
}

// An output frame of the wanted size, owned by the host for the whole pass.
struct OutputFrame {
    GWorldPtr world = nullptr;
    explicit OutputFrame(int width, int height)
    {
        const Rect bounds{0, 0, SInt16(height), SInt16(width)};
        if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr) world = nullptr;
    }
    ~OutputFrame()
    {
        if (world) DisposeGWorld(world);
    }
    const uint8_t* pixels() const { return reinterpret_cast<const uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(world))); }
    int rowBytes() const { return GetPixRowBytes(GetGWorldPixMap(world)); }
};

void prepareFrameParams(PluginHost& host, const OutputFrame& frame, int width, int height,
                        int frameCount, bool proxy)
{
    PluginParams& params = host.params();
    params.startFrame = 0;
    params.frameCount = frameCount;
    params.proxyOnly = proxy;
    params.frameRect = Rect{0, 0, SInt16(height), SInt16(width)};
    params.frame = frame.world;
}

int render(const Options& options)
{
    std::string error;
    auto source = openSource(options, error);
    if (!source) return fail(error);
    auto host = loadPlugin(options, error);
    if (!host) return fail(error);

    const int width = options.width ? options.width : source->width();
    const int height = options.height ? options.height : source->height();
    const int frameCount = std::min(options.frames.value_or(source->frameCount()), source->frameCount());
    if (frameCount <= 0) return fail("'" + source->description() + "' has no frames to render");
    const std::string output = options.output.empty() ? "brimtone-demo.mp4" : options.output;

    OutputFrame frame(width, height);
    if (!frame.world) return fail("not enough memory for a " + std::to_string(width) + "x" +
                                  std::to_string(height) + " frame");
    auto sink = MediaSink::open(output, width, height, source->frameRate(), source->hasAudio(), error);
    if (!sink) return fail(error);

    host->attach(source.get(), FilterSettings{options.fadeIn, options.fadeOut});
    SInt32 result = askForInfo(*host, frameCount);
    if (result != kPluginOK) return fail(pluginError(*host, "describing the effect", result));
    prepareFrameParams(*host, frame, width, height, frameCount, options.proxy);

    result = host->call(kPlugInitialize);
    if (result != kPluginOK) {
        host->call(kPlugTerminate);
        return fail(pluginError(*host, "starting the render", result));
    }

    Progress progress(frameCount, std::cerr, Progress::stderrIsTerminal());
    std::string failure;
    for (int index = 0; index < frameCount && failure.empty(); ++index) {
        host->params().renderFrame = index;
        result = host->call(kPlugDoFrame);
        if (result != kPluginOK) {
            failure = pluginError(*host, ("rendering frame " + std::to_string(index)).c_str(), result);
            break;
        }
        const std::vector<float> audio = host->takeMixedAudio();
        if (!sink->writeFrame(frame.pixels(), frame.rowBytes(), audio.empty() ? nullptr : &audio, error))
            failure = error;
        progress.update(index + 1);
    }
    host->call(kPlugTerminate);
    if (!failure.empty()) return fail(failure);
    if (!sink->finish(error)) return fail(error);
    progress.finish();
    std::cerr << "brimtone: wrote " << output << "\n";
    return 0;
}

// The clip, the plug-in and the frame --at names, for the commands that
// work on one frame.
struct ClipAtFrame {
    std::unique_ptr<MediaSource> source;
    std::unique_ptr<PluginHost> host;
    int at = 0;
};

// Empty when all is well, else the message for the user.
std::string openClipAtFrame(const Options& options, ClipAtFrame& clip)
{
    std::string error;
    clip.source = openSource(options, error);
    if (!clip.source) return error;
    clip.host = loadPlugin(options, error);
    if (!clip.host) return error;
    const int frameCount = clip.source->frameCount();
    if (frameCount <= 0) return "'" + clip.source->description() + "' has no frames";
    clip.at = options.at.value_or(0);
    if (clip.at >= frameCount)
        return "--at " + std::to_string(clip.at) + " is past the clip's last frame " +
               std::to_string(frameCount - 1);
    return {};
}

int thumbnail(const Options& options)
{
    if (options.output.empty()) return fail("thumbnail needs -o PNG");
    ClipAtFrame clip;
    std::string error = openClipAtFrame(options, clip);
    if (!error.empty()) return fail(error);
    auto& [source, host, at] = clip;

    const int width = options.width ? options.width : source->width();
    const int height = options.height ? options.height : source->height();
    const int frameCount = source->frameCount();
    OutputFrame frame(width, height);
    if (!frame.world) return fail("not enough memory for the thumbnail");

    host->attach(source.get(), FilterSettings{});
    SInt32 result = askForInfo(*host, frameCount);
    if (result != kPluginOK) return fail(pluginError(*host, "describing the effect", result));
    prepareFrameParams(*host, frame, width, height, frameCount, false);
    host->params().getInfo.bestThumbOffset = at;
    result = host->call(kPlugFilePlaceHolder);
    if (result != kPluginOK) return fail(pluginError(*host, "making the thumbnail", result));
    auto sink = MediaSink::open(options.output, width, height, source->frameRate(), false, error);
    if (!sink || !sink->writeFrame(frame.pixels(), frame.rowBytes(), nullptr, error) || !sink->finish(error))
        return fail(error);
    std::cerr << "brimtone: wrote " << options.output << "\n";
    return 0;
}

// Takes the picture of the plug-in's dialog once it is up and closes it with
// Escape, as a user cancels it. BRIMTONE_SCREENSHOT_CLICK names the command
// of a dialog button to click first (as "Info" for About); the picture is
// then of the window that the click opens.
class DialogCamera {
public:
    DialogCamera(std::string path, std::string click) : path_(std::move(path)), click_(std::move(click))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start(0);
    }

    bool written() const { return written_; }
    const std::string& error() const { return error_; }

private:
    // The window in front: the innermost modal one, else any shown window.
    static QWidget* frontWindow()
    {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) return modal;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->isWindow()) return widget;
        return nullptr;
    }

    static QAbstractButton* buttonWithCommand(QWidget* window, const std::string& command)
    {
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->property("commandID").toString().toStdString() == command && button->isVisible())
                return button;
        return nullptr;
    }

    void look()
    {
        QWidget* window = frontWindow();
        if (!window) {
            seen_ = nullptr;
            return;
        }
        // A window is taken on the second look, once its layout and first
        // paint requests have been handled.
        if (window != seen_) {
            seen_ = window;
            return;
        }
        if (done_) {
            cancel(window);
            return;
        }
        if (!click_.empty() && !clicked_) {
            QAbstractButton* button = buttonWithCommand(window, click_);
            clicked_ = true;
            opener_ = window;
            if (!button) {
                error_ = "the dialog has no button with the command '" + click_ + "'";
                done_ = true;
                cancel(window);
                return;
            }
            QTimer::singleShot(0, button, [button] { button->click(); });
            return;
        }
        if (clicked_ && window == opener_) return;
        const QPixmap picture = window->grab();
        written_ = picture.save(QString::fromStdString(path_), "PNG");
        if (!written_) error_ = "cannot write the screenshot " + path_;
        done_ = true;
        cancel(window);
    }

    void cancel(QWidget* window)
    {
        if (cancelled_.contains(window)) return;
        cancelled_.append(window);
        QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    }

    std::string path_;
    std::string click_;
    QTimer timer_;
    QPointer<QWidget> seen_;
    QPointer<QWidget> opener_;
    QList<QPointer<QWidget>> cancelled_;
    bool clicked_ = false;
    bool done_ = false;
    bool written_ = false;
    std::string error_;
};

int configure(const Options& options)
{
    // Without a screen the dialog would wait, unseen, for a click forever.
    if (options.screenshot.empty() && !TBHasDisplay())
        return fail("configure needs a display (DISPLAY or WAYLAND_DISPLAY), or --screenshot PNG");
    ClipAtFrame clip;
    std::string error = openClipAtFrame(options, clip);
    if (!error.empty()) return fail(error);
    auto& [source, host, at] = clip;

    const int width = source->width();
    const int height = source->height();
    const int frameCount = source->frameCount();
    OutputFrame frame(width, height);
    if (!frame.world) return fail("not enough memory for the viewer frame");

    // The editor shows the frame in its viewer first, which tells the plug-in
    // where the clip starts and how long it is.
    host->attach(source.get(), FilterSettings{});
    SInt32 result = askForInfo(*host, frameCount);
    if (result != kPluginOK) return fail(pluginError(*host, "describing the effect", result));
    prepareFrameParams(*host, frame, width, height, frameCount, false);
    result = host->call(kPlugInitialize);
    if (result == kPluginOK) {
        host->params().renderFrame = at;
        result = host->call(kPlugDoFrame);
    }
    host->call(kPlugTerminate);
    if (result != kPluginOK) return fail(pluginError(*host, "showing the frame", result));
    host->takeMixedAudio();

    TBEnsureApplication();
    std::unique_ptr<DialogCamera> camera;
    if (!options.screenshot.empty()) {
        const char* click = std::getenv("BRIMTONE_SCREENSHOT_CLICK");
        camera = std::make_unique<DialogCamera>(options.screenshot, click ? click : "");
    }
    host->params().renderFrame = at;
    host->call(kPlugCustomButtonClick);
    if (!camera) return 0;
    if (!camera->error().empty()) return fail(camera->error());
    if (!camera->written()) return fail("the effect's dialog did not open");
    std::cerr << "brimtone: wrote " << options.screenshot << "\n";
    return 0;
}

// A fixed text field of the plug-in (Mac OS Roman, up to its NUL, never past
// its end) as UTF-8 for the terminal.
std::string field(const char* text, size_t size)
{
    Str255 pascal;
    const size_t length = std::min<size_t>(strnlen(text, size), 255);
    pascal[0] = UInt8(length);
    std::memcpy(pascal + 1, text, length);
    CFStringRef string = CFStringCreateWithPascalString(kCFAllocatorDefault, pascal, kCFStringEncodingMacRoman);
    if (!string) return std::string(text, length);
    char utf8[1024];
    const bool converted = CFStringGetCString(string, utf8, sizeof utf8, kCFStringEncodingUTF8);
    CFRelease(string);
    return converted ? std::string(utf8) : std::string(text, length);
}

int info(const Options& options)
{
    std::string error;
    auto host = loadPlugin(options, error);
    if (!host) return fail(error);
    const SInt32 result = askForInfo(*host, 0);
    if (result != kPluginOK) return fail(pluginError(*host, "describing the effect", result));

    const PluginParams& params = host->params();
    const auto& info2 = params.getInfo2;
    std::printf("bundle:   %s\n", host->bundlePath().c_str());
    std::printf("type:     %d%s\n", params.getInfo.pluginType,
                params.getInfo.pluginType == kPluginFilterType ? " (filter)" : "");
    std::printf("group:    %s\n", field(info2.group, sizeof info2.group).c_str());
    for (int n = 0; n < 3; ++n) {
        const auto& slider = info2.filterSliders[n];
        std::printf("slider %d: %s [%s .. %s] default %.2f\n", n + 1,
                    field(slider.label, sizeof slider.label).c_str(),
                    field(slider.minLabel, sizeof slider.minLabel).c_str(),
                    field(slider.maxLabel, sizeof slider.maxLabel).c_str(), double(slider.defaultValue));
    }
    std::printf("button:   %s\n", field(params.getInfo3.buttonTitle, sizeof params.getInfo3.buttonTitle).c_str());
    std::printf("flags:    0x%08x\n", unsigned(params.getInfo.pluginFlags));
    std::printf("memory:   %d bytes\n", int(info2.baseMemoryNeeded));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    setMediaLogQuiet(true);
    Options options;
    const std::string problem = parseArguments(argc, argv, options);
    if (problem == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (!problem.empty()) {
        std::cerr << "brimtone: " << problem << "\n" << kUsage;
        return 2;
    }
    if (options.command == "render") return render(options);
    if (options.command == "configure") return configure(options);
    if (options.command == "thumbnail") return thumbnail(options);
    if (options.command == "info") return info(options);
    std::cerr << "brimtone: unknown command '" << options.command << "'\n" << kUsage;
    return 2;
}
