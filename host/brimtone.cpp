// brimtone: a command-line video host for the Brimtone plug-in. Its commands
// and their options are in CommandLine.cpp.

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

#include "CommandLine.h"
#include "CoreFoundation.h"
#include "Dialogs.h"
#include "EffectSettings.h"
#include "DialogCamera.h"
#include "Display.h"
#include "MediaSink.h"
#include "Interrupt.h"
#include "MediaSource.h"
#include "Pipeline.h"
#include "OutputFile.h"
#include "PluginHost.h"
#include "Progress.h"
#include "QuickDraw.h"
#include "ToolboxUI.h"

extern "C" {
#include <libavutil/log.h>
}

using namespace brimtone::host;

// Fontconfig, under Qt's fonts, keeps its caches until the process ends.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace {

int fail(const std::string& message)
{
    Progress::breakLine();
    std::cerr << "brimtone: " << message << "\n";
    return 1;
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
    // The plug-in reads its settings when it starts, on the first call.
    if (!prepareRunSettings(options.settings, options.command == "configure", error)) return nullptr;
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
    return pluginFailure(host, step, result);
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
    const OutputRequest request{options.output.empty() ? "brimtone-demo.mp4" : options.output, options.input,
                                frameCount, options.replace};

    const PixelAspect aspect = keepShape(source->pixelAspect(), source->width(), source->height(), width, height);
    auto output = OutputFile::open(request, error);
    if (!output) return fail(error);
    auto sink = MediaSink::open(output->writePath(), width, height, source->frameRate(), source->hasAudio(), error,
                                aspect, request.path);
    if (!sink) return fail(error);

    host->attach(source.get(), FilterSettings{options.fadeIn, options.fadeOut});
    const SInt32 result = askForInfo(*host, frameCount);
    if (result != kPluginOK) return fail(pluginError(*host, "describing the effect", result));

    Progress progress(frameCount, std::cerr, Progress::modeFor(options.quiet));
    RenderJob job;
    job.frameCount = frameCount;
    job.width = width;
    job.height = height;
    job.proxy = options.proxy;
    job.stopRequested = [] { return Interrupt::stopSignal() != 0; };
    job.progress = [&progress](int done) { progress.update(done); };
    Interrupt::setStoppable(true);
    const RenderOutcome outcome = renderPipelined(*host, *source, *sink, job);
    // From here a signal abandons the output at once.
    Interrupt::setStoppable(false);
    if (!outcome.failure.empty()) return fail(outcome.failure);
    const int stop = Interrupt::stopSignal();
    if (stop && outcome.framesRendered == 0) {
        output->discard();
        fail("stopped before the first frame; nothing written");
        return 128 + stop;
    }
    if (!sink->finish(error) || !output->commit(sink->framesWritten(), error)) return fail(error);
    if (stop) {
        Progress::breakLine();
        std::cerr << "brimtone: stopped at frame " << outcome.framesRendered << " of " << frameCount << "; wrote "
                  << request.path << "\n";
        return 128 + stop;
    }
    progress.finish();
    if (!options.quiet) std::cerr << "brimtone: wrote " << request.path << "\n";
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
    const OutputRequest request{options.output, options.input, 1, options.replace};
    auto output = OutputFile::open(request, error);
    if (!output) return fail(error);
    auto sink = MediaSink::open(output->writePath(), width, height, source->frameRate(), false, error, PixelAspect{},
                                request.path);
    if (!sink || !sink->writeFrame(frame.pixels(), frame.rowBytes(), nullptr, error) || !sink->finish(error) ||
        !output->commit(1, error))
        return fail(error);
    std::cerr << "brimtone: wrote " << options.output << "\n";
    return 0;
}

// The caution alerts the plug-in shows while it lives, passed on to be shown:
// a failure the plug-in reports to the host is told on standard error with
// the alert's own words.
class AlertWitness {
public:
    AlertWitness() { shown_ = TBSetStandardAlertRunner(note); }
    ~AlertWitness() { TBSetStandardAlertRunner(shown_); }
    AlertWitness(const AlertWitness&) = delete;
    AlertWitness& operator=(const AlertWitness&) = delete;
    static const std::string& lastCaution() { return lastCaution_; }

private:
    static DialogItemIndex note(const TBAlertRequest& request)
    {
        if (request.type == kAlertCautionAlert) lastCaution_ = request.text;
        return shown_ ? shown_(request) : request.defaultButton;
    }
    static inline TBAlertRunner shown_ = nullptr;
    static inline std::string lastCaution_;
};

int configure(const Options& options)
{
    // Without a screen the dialog would wait, unseen, for a click forever.
    if (options.screenshot.empty()) {
        if (const std::string problem = displayProblem(); !problem.empty())
            return fail(problem + "; configure needs a display, or --screenshot PNG");
    } else {
        useOffscreenUnlessDisplayReachable();
    }
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
    const AlertWitness alerts;
    std::unique_ptr<DialogCamera> camera;
    if (!options.screenshot.empty()) {
        const char* click = std::getenv("BRIMTONE_SCREENSHOT_CLICK");
        camera = std::make_unique<DialogCamera>(options.screenshot, click ? click : "");
    }
    host->params().renderFrame = at;
    host->allowNearbyFrames(true);
    useSavedSettingsFromNow();
    // The plug-in answers kPluginFailed when OK could not save the settings.
    if (host->call(kPlugCustomButtonClick) != kPluginOK)
        return fail(alerts.lastCaution().empty() ? "the effect's settings could not be saved" : alerts.lastCaution());
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
    std::printf("settings in use:\n");
    const std::string settings = describeSettingsInUse();
    for (size_t start = 0; start < settings.size();) {
        const size_t end = settings.find('\n', start);
        std::printf("  %s\n", settings.substr(start, end - start).c_str());
        start = end + 1;
    }
    return 0;
}

}  // namespace

// FFmpeg's own messages start a line of their own, never the end of the
// progress line.
static void logOnItsOwnLine(void* context, int level, const char* format, va_list arguments)
{
    if (level <= av_log_get_level()) Progress::breakLine();
    av_log_default_callback(context, level, format, arguments);
}

int main(int argc, char** argv)
{
    setMediaLogQuiet(true);
    av_log_set_callback(logOnItsOwnLine);
    // The plug-in's alerts, text and commands go through Qt, as in an editor.
    TBInstallUIHooks();
    const Parsed parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    int status = 2;
    if (parsed.action == Parsed::Action::UsageError) {
        std::cerr << parsed.text;
    } else if (parsed.action == Parsed::Action::Show) {
        std::cout << parsed.text;
        status = 0;
    } else {
        const Options& options = parsed.options;
        if (options.command == "render" || options.command == "thumbnail") Interrupt::install();
        if (options.command == "render") status = render(options);
        else if (options.command == "configure") status = configure(options);
        else if (options.command == "thumbnail") status = thumbnail(options);
        else if (options.command == "info") status = info(options);
        else if (options.command == "settings") status = runSettingsCommand(options.settings, options.reset);
    }
    // A full disk or a closed pipe behind standard output is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout.flush()) {
        std::cerr << "brimtone: cannot write to standard output: " << std::strerror(errno) << "\n";
        return 1;
    }
    return status;
}
