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
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "CommandLine.h"
#include "CoreFoundation.h"
#include "Dialogs.h"
#include "EffectSettings.h"
#include "DialogCamera.h"
#include "Display.h"
#include "MediaSink.h"
#include "media/Carried.h"
#include "media/Muxer.h"
#include "Interrupt.h"
#include "MediaSource.h"
#include "Pipeline.h"
#include "OutputFile.h"
#include "PluginHost.h"
#include "Processes.h"
#include "Progress.h"
#include "TemporaryFolder.h"
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

// A usage error found once the command is under way (a value out of range
// that only the clip could tell, a name the output cannot take).
int usage(const std::string& message)
{
    fail(message);
    return 2;
}

// Who the clip is in messages.
std::string clipName(const Options& options)
{
    return options.input.empty() ? std::string("the built-in clip") : quotedPath(options.input);
}

// The last words of a command that wrote `output`. A signal that came while
// it was put in place ends the command as the signal would, once it is done.
int reportWritten(const OutputFile& output, bool quiet)
{
    if (const int signal = Interrupt::stopSignal()) {
        fail("interrupted once the output was finished; wrote " + output.committed());
        return 128 + signal;
    }
    if (!quiet) std::cerr << "brimtone: wrote " << output.committed() << "\n";
    return 0;
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
    const std::string path = options.output.empty() ? "brimtone-demo.mp4" : options.output;
    // What cannot be written at all is said before anything is read or written.
    if (error = OutputFile::checkName(path, options.encoding); !error.empty()) return usage(error);
    if (options.to > 0 && options.to <= options.from)
        return usage("--to must come after --from");
    if (path == "-" && isatty(STDOUT_FILENO) == 1)
        return usage("standard output is a terminal; give -o FILE or send it on with '|'");
    auto source = openSource(options, error);
    if (!source) return fail(error);
    if ((options.from > 0 || options.to > 0) && !source->limit(options.from, options.to, error)) return fail(error);
    auto host = loadPlugin(options, error);
    if (!host) return fail(error);

    const int width = options.width ? options.width : source->width();
    const int height = options.height ? options.height : source->height();
    const int frameCount = std::min(options.frames.value_or(source->frameCount()), source->frameCount());
    if (frameCount <= 0) return fail(clipName(options) + " has no frames to render");
    const OutputRequest request{path, options.input == "-" ? std::string() : options.input, frameCount,
                                options.replace, options.encoding.format};

    SinkSpec spec;
    spec.width = width;
    spec.height = height;
    spec.rate = source->frameRate();
    spec.aspect = keepShape(source->pixelAspect(), source->width(), source->height(), width, height);
    // A quick render passes no sound through: a proxy has no sound track.
    spec.withAudio = source->hasAudio() && !source->soundIsCarried() && !options.proxy;
    spec.input = source->soundIsCarried() ? source.get() : nullptr;
    spec.withSound = !options.proxy;
    spec.encoding = options.encoding;
    spec.shownPath = request.path;
    auto output = OutputFile::open(request, error);
    if (!output) return fail(error);
    auto sink = MediaSink::open(output->writePath(), spec, error);
    if (!sink) return error.rfind("--", 0) == 0 ? usage(error) : fail(error);
    if (!options.quiet) {
        if (!sink->note().empty()) std::cerr << "brimtone: " << sink->note() << "\n";
        for (const std::string& line : sink->streamLines()) std::cerr << "brimtone: " << line << "\n";
    }

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
    if (stop && outcome.framesRendered < frameCount) {
        fail("stopped at frame " + std::to_string(outcome.framesRendered) + " of " + std::to_string(frameCount) +
             "; wrote " + output->committed());
        return 128 + stop;
    }
    if (Interrupt::stopSignal() == 0) progress.finish();
    return reportWritten(*output, options.quiet);
}

// The clip, the plug-in and the frame --at names, for the commands that
// work on one frame.
struct ClipAtFrame {
    std::unique_ptr<MediaSource> source;
    std::unique_ptr<PluginHost> host;
    int at = 0;
};

// 0 when all is well, else the exit status after the message for the user.
int openClipAtFrame(const Options& options, ClipAtFrame& clip)
{
    std::string error;
    clip.source = openSource(options, error);
    if (!clip.source) return fail(error);
    const int frameCount = clip.source->frameCount();
    if (frameCount <= 0) return fail(clipName(options) + " has no frames");
    clip.at = options.at.value_or(0);
    if (clip.at >= frameCount)
        return usage("--at " + std::to_string(clip.at) + " is past the last frame of " + clipName(options) +
                         ", frame " + std::to_string(frameCount - 1));
    clip.host = loadPlugin(options, error);
    if (!clip.host) return fail(error);
    return 0;
}

int thumbnail(const Options& options)
{
    ClipAtFrame clip;
    if (const int status = openClipAtFrame(options, clip)) return status;
    auto& [source, host, at] = clip;
    std::string error;

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
    const OutputRequest request{
        .path = options.output, .input = options.input, .replace = options.replace, .onePicture = true};
    auto output = OutputFile::open(request, error);
    if (!output) return fail(error);
    // The picture keeps the frame's shape, as a render's PNG frames do.
    const PixelAspect aspect = keepShape(source->pixelAspect(), source->width(), source->height(), width, height);
    auto sink = MediaSink::open(output->writePath(), width, height, source->frameRate(), false, error, aspect,
                                request.path);
    if (!sink || !sink->writeFrame(frame.pixels(), frame.rowBytes(), nullptr, error) || !sink->finish(error) ||
        !output->commit(1, error))
        return fail(error);
    return reportWritten(*output, false);
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

// Qt keeps its runtime files in $XDG_RUNTIME_DIR and warns without one (a
// session by ssh, a container): such a run gets a private one of its own.
std::unique_ptr<TemporaryFolder> privateRuntimeFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return nullptr;
    std::string error;
    auto folder = TemporaryFolder::makeRunFolder(error);
    if (folder) setenv("XDG_RUNTIME_DIR", folder->path().c_str(), 1);
    return folder;
}

int configure(const Options& options)
{
    // Without a screen the dialog would wait, unseen, for a click forever.
    if (options.screenshot.empty()) {
        if (const std::string problem = displayProblem(); !problem.empty())
            return fail(problem + "; configure needs a display, or --screenshot PNG");
    } else {
        useOffscreenUnlessDisplayReachable();
    }
    // The screenshot is an output like any other, checked before any work.
    std::string error;
    std::unique_ptr<OutputFile> picture;
    if (!options.screenshot.empty()) {
        const OutputRequest request{
            .path = options.screenshot, .input = options.input, .replace = options.replace, .onePicture = true};
        picture = OutputFile::open(request, error);
        if (!picture) return fail(error);
    }
    ClipAtFrame clip;
    if (const int status = openClipAtFrame(options, clip)) return status;
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

    const auto runtime = privateRuntimeFolder();
    TBEnsureApplication();
    const AlertWitness alerts;
    std::unique_ptr<DialogCamera> camera;
    if (picture) {
        const char* click = std::getenv("BRIMTONE_SCREENSHOT_CLICK");
        camera = std::make_unique<DialogCamera>(picture->writePath(), click ? click : "", picture->path());
    }
    host->params().renderFrame = at;
    host->allowNearbyFrames(true);
    useSavedSettingsFromNow();
    // The plug-in answers kPluginFailed when OK could not save the settings.
    std::string unsaved;
    if (host->call(kPlugCustomButtonClick) != kPluginOK)
        unsaved = alerts.lastCaution().empty() ? "the effect's settings could not be saved" : alerts.lastCaution();
    if (camera && camera->error().empty() && camera->written() && !picture->commit(1, error)) return fail(error);
    if (!unsaved.empty()) return fail(unsaved);
    if (!camera) return 0;
    if (!camera->error().empty()) return fail(camera->error());
    if (!camera->written()) return fail("the effect's dialog did not open");
    return reportWritten(*picture, false);
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

// What a render of INPUT keeps: one entry per stream, in order.
struct StreamFate {
    int index = 0;
    std::string kind, codec, language, action, detail;
};

std::string planStreams(const Options& options, std::vector<StreamFate>& fates, std::string& container)
{
    std::string error;
    auto source = MediaSource::openFile(options.input, error);
    if (!source) return error;
    const std::string output = options.output.empty() ? "out.mp4" : options.output;
    if (error = MediaSink::checkName(output, options.encoding); !error.empty()) return error;
    const AVOutputFormat* format = chooseContainer(output, options.encoding.format, error);
    const AVCodec* encoder = format ? chooseVideoEncoder(options.encoding, format, error) : nullptr;
    if (!encoder) return error;
    container = format->name;
    const AVFormatContext* input = source->container();
    const std::vector<CarriedStream> plan =
        planCarried(input, source->videoStream(), format, options.encoding, true, error);
    if (!error.empty()) return error;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        StreamFate fate;
        fate.index = int(i);
        fate.kind = av_get_media_type_string(stream->codecpar->codec_type) ? av_get_media_type_string(stream->codecpar->codec_type) : "unknown";
        fate.codec = codecName(stream->codecpar);
        if (const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0))
            fate.language = language->value;
        if (int(i) == source->videoStream()) {
            fate.action = "effect";
            fate.detail = std::string("the picture, through the effect, encoded with ") + encoder->name;
        }
        for (const CarriedStream& c : plan) {
            if (c.input != int(i)) continue;
            fate.action = c.action == CarriedStream::Action::Copy      ? "copy"
                          : c.action == CarriedStream::Action::Convert ? "convert"
                                                                       : "leave";
            const size_t why = c.line.find(": ");
            fate.detail = c.action == CarriedStream::Action::Copy ? "copied as it is"
                          : why == std::string::npos             ? c.line
                                                                 : c.line.substr(why + 2);
        }
        fates.push_back(fate);
    }
    return {};
}

int info(const Options& options)
{
    std::string error;
    std::vector<StreamFate> fates;
    std::string container;
    if (!options.input.empty()) {
        error = planStreams(options, fates, container);
        if (!error.empty()) return fail(error);
    }
    auto host = loadPlugin(options, error);
    if (!host) return fail(error);
    const SInt32 result = askForInfo(*host, 0);
    if (result != kPluginOK) return fail(pluginError(*host, "describing the effect", result));

    const PluginParams& params = host->params();
    const auto& info2 = params.getInfo2;
    if (options.json) {
        std::printf("{\n  \"bundle\": %s,\n  \"type\": %d,\n  \"group\": %s,\n  \"sliders\": [",
                    jsonString(host->bundlePath()).c_str(), int(params.getInfo.pluginType),
                    jsonString(field(info2.group, sizeof info2.group)).c_str());
        for (int n = 0; n < 3; ++n) {
            const auto& slider = info2.filterSliders[n];
            std::printf("%s\n    {\"label\": %s, \"min\": %s, \"max\": %s, \"default\": %.2f}", n ? "," : "",
                        jsonString(field(slider.label, sizeof slider.label)).c_str(),
                        jsonString(field(slider.minLabel, sizeof slider.minLabel)).c_str(),
                        jsonString(field(slider.maxLabel, sizeof slider.maxLabel)).c_str(), double(slider.defaultValue));
        }
        std::printf("\n  ],\n  \"button\": %s,\n  \"flags\": %u,\n  \"memory\": %d,\n  \"settings\": %s",
                    jsonString(field(params.getInfo3.buttonTitle, sizeof params.getInfo3.buttonTitle)).c_str(),
                    unsigned(params.getInfo.pluginFlags), int(info2.baseMemoryNeeded),
                    describeSettingsInUse(true, 2).c_str());
        if (!options.input.empty()) {
            std::printf(",\n  \"input\": %s,\n  \"container\": %s,\n  \"streams\": [",
                        jsonString(options.input).c_str(), jsonString(container).c_str());
            for (size_t i = 0; i < fates.size(); ++i)
                std::printf("%s\n    {\"index\": %d, \"type\": %s, \"codec\": %s, \"language\": %s, \"action\": %s, "
                            "\"why\": %s}",
                            i ? "," : "", fates[i].index, jsonString(fates[i].kind).c_str(),
                            jsonString(fates[i].codec).c_str(), jsonString(fates[i].language).c_str(),
                            jsonString(fates[i].action).c_str(), jsonString(fates[i].detail).c_str());
            std::printf("\n  ]");
        }
        std::printf("\n}\n");
        return 0;
    }
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
    std::istringstream settings(describeSettingsInUse());
    for (std::string line; std::getline(settings, line);) std::printf("  %s\n", line.c_str());
    if (!options.input.empty()) {
        std::printf("a render of %s into %s:\n", options.input.c_str(), container.c_str());
        for (const StreamFate& fate : fates)
            std::printf("  stream #%d (%s %s%s): %s\n", fate.index, fate.kind.c_str(), fate.codec.c_str(),
                        fate.language.empty() ? "" : (", " + fate.language).c_str(), fate.detail.c_str());
    }
    return 0;
}

}  // namespace

// A value the plug-in does not know limits nothing; say so rather than let
// a misspelt switch go unnoticed.
static void warnOfUnknownPixelPath()
{
    const char* path = std::getenv("BRIMTONE_PIXEL_PATH");
    if (!path) return;
    for (const char* known : {"plain", "sse2", "avx2"})
        if (std::strcmp(path, known) == 0) return;
    std::cerr << "brimtone: BRIMTONE_PIXEL_PATH='" << path
              << "' is none of plain, sse2 and avx2; the fastest pixel path is used\n";
}

int main(int argc, char** argv)
{
    // FFmpeg's own lines would come before our one line that says what
    // failed; -v shows them. (The errors the media layer reports are
    // caught whatever the level.)
    av_log_set_level(AV_LOG_QUIET);
    // FFmpeg's own messages start a line of their own, never the end of the
    // progress line.
    setMediaLogHook([] { Progress::breakLine(); });
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
        if (options.verbose) av_log_set_level(AV_LOG_WARNING);
        warnOfUnknownPixelPath();
        // Every command may make temporary folders that no way out may leave behind.
        Interrupt::install();
        TBSetExitToShellHook(Interrupt::removeTemporaries);
        if (options.command == "render") status = render(options);
        else if (options.command == "configure") status = configure(options);
        else if (options.command == "thumbnail") status = thumbnail(options);
        else if (options.command == "info") status = info(options);
        else if (options.command == "settings") status = runSettingsCommand(options.settings, options.reset, options.json);
    }
    // A full disk or a closed pipe behind standard output is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout.flush()) {
        std::cerr << "brimtone: cannot write to standard output: " << std::strerror(errno) << "\n";
        return 1;
    }
    return status;
}
