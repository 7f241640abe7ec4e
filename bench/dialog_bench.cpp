// The dialog's HD window, step by step as a hand moves the mouse:
// - a region drag: the region moves, the 960x540 preview is rendered again
//   and drawn, with its outline and handles, into the window's port;
// - scrubbing the frame slider over long-GOP 1080p H.264 (a key frame every
//   250 frames): each step fetches the frame at the preview's size, renders
//   and draws it. "exact" decodes the very frame each time (the slider before
//   it showed nearby frames), "nearby" what the moving slider asks for now.
//   The time of a step is how far the preview lags behind the mouse.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CFBundle.h"
#include "CFURL.h"
#include "Controls.h"
#include "IBCarbonRuntime.h"
#include "MacWindows.h"
#include "ToolboxUI.h"
#include "dialog/clipCTRL.h"
#include "dialog/colorCTRL.h"
#include "dialog/dlgUtils.h"
#include "dialog/pictCTRL.h"
#include "effect/CallPixelFX.h"
#include "graphics/CommonProcs.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/globals.h"

#include "MediaSource.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

namespace {

// The bundle built beside this program: build/bench/.. /Brimtone.bundle.
std::string builtBundle()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    std::string exe(path, size_t(length));
    exe = exe.substr(0, exe.rfind('/'));
    return exe.substr(0, exe.rfind('/')) + "/Brimtone.bundle";
}

// A frame with detail in every row, so the threshold splits it.
void FillFrame(GWorldPtr world)
{
    PixMapHandle pixels = GetGWorldPixMap(world);
    UInt8* base = reinterpret_cast<UInt8*>(GetPixBaseAddr(pixels));
    const SInt32 rowBytes = GetPixRowBytes(pixels);
    const Rect bounds = GetPortRect(world);
    for (int y = 0; y < bounds.bottom; ++y) {
        UInt8* pixel = base + size_t(y) * size_t(rowBytes);
        for (int x = 0; x < bounds.right; ++x, pixel += 4) {
            pixel[0] = 255;
            pixel[1] = UInt8(x * 255 / bounds.right);
            pixel[2] = UInt8(y * 255 / bounds.bottom);
            pixel[3] = UInt8((x ^ y) & 0xFF);
        }
    }
}

struct HDWindow {
    WindowRef window = nullptr;
    ControlRef preview = nullptr;
    Rect bounds{};
    pluginDataRec config{};

    bool Open()
    {
        TBEnsureApplication();
        TBInstallUIHooks();
        CFURLRef url = TBCFURLCreateWithPath(builtBundle(), true);
        CFBundleRef bundle = url ? CFBundleCreate(nullptr, url) : nullptr;
        if (url) CFRelease(url);
        if (!bundle) return false;
        RegisterColorBox();
        RegisterClipCtrl();
        RegisterPictureControl();
        IBNibRef nib = nullptr;
        const bool made = CreateNibReferenceWithCFBundle(bundle, CFSTR("brimtone"), &nib) == noErr &&
                          CreateWindowFromNib(nib, CFSTR("configHD"), &window) == noErr;
        if (nib) DisposeNibReference(nib);
        if (!made) return false;
        const ControlID clip{FOUR_CHAR_CODE("Clip"), 1};
        if (GetControlByID(window, &clip, &preview) != noErr || !preview) return false;
        GetControlBounds(preview, &bounds);

        ResetConfig(&config, true);
        const Rect frame{0, 0, 540, 960};
        gConfigWorkSpace.TheConfig = &config;
        gConfigWorkSpace.SourceClip = AllocateRectGWorld(frame);
        gConfigWorkSpace.TheFXClip = AllocateRectGWorld(frame);
        gConfigWorkSpace.TheFrameCtrl = preview;
        gConfigWorkSpace.TheWindow = window;
        gConfigWorkSpace.ActiveRel = 1;
        if (!gConfigWorkSpace.SourceClip || !gConfigWorkSpace.TheFXClip) return false;
        FillFrame(gConfigWorkSpace.SourceClip);
        return true;
    }

    ~HDWindow()
    {
        if (gConfigWorkSpace.SourceClip) DisposeGWorld(gConfigWorkSpace.SourceClip);
        if (gConfigWorkSpace.TheFXClip) DisposeGWorld(gConfigWorkSpace.TheFXClip);
        gConfigWorkSpace = pluginWorkSpace{};
        if (window) DisposeWindow(window);
        UnregisterClipCtrl();
        UnregisterColorBox();
        UnregisterPictureControl();
    }
};

void BM_RegionDragStepHD(benchmark::State& state)
{
    HDWindow hd;
    if (!hd.Open()) {
        state.SkipWithError("cannot open the HD dialog window of the built bundle");
        return;
    }
    const int width = hd.bounds.right - hd.bounds.left;
    const int height = hd.bounds.bottom - hd.bounds.top;
    Rect region{SInt16(hd.bounds.top + height / 4), SInt16(hd.bounds.left + width / 4),
                SInt16(hd.bounds.top + height * 3 / 4), SInt16(hd.bounds.left + width * 3 / 4)};
    int step = 0;
    for (auto _ : state) {
        // Back and forth over 64 pixels, as a hand drags.
        const SInt16 dx = (step++ / 64) % 2 == 0 ? 1 : -1;
        OffsetRect(&region, dx, 0);
        PutCurrentRel(Rect2Rel(region, hd.bounds));
        RenderPreview();
        DrawFrameContents(hd.window, hd.bounds);
    }
    state.counters["preview_w"] = width;
    state.counters["preview_h"] = height;
}
BENCHMARK(BM_RegionDragStepHD)->Unit(benchmark::kMillisecond);

// 12 s of 1080p25 H.264 with key frames at 0 and 250 only, made once beside
// this program with the ffmpeg command.
std::string longGopClip()
{
    const std::string path = builtBundle() + "/../bench/scrub-1080p-gop250.mp4";
    if (std::filesystem::exists(path)) return path;
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 12 -c:v libx264 "
                                "-preset veryfast -pix_fmt yuv420p -x264-params keyint=250:min-keyint=250:scenecut=0 '" +
                                path + ".part.mp4' && mv '" + path + ".part.mp4' '" + path + "'";
    return std::system(command.c_str()) == 0 ? path : std::string();
}

// A hand dragging the thumb across the clip and back: a step of 3 to 9
// frames per mouse event.
std::vector<int> scrubPath(int frameCount)
{
    std::vector<int> path;
    int at = 0;
    for (int step = 0; at < frameCount - 10; ++step) path.push_back(at += 3 + step % 7);
    for (int step = 0; at > 10; ++step) path.push_back(at -= 3 + step % 7);
    return path;
}

void BM_ScrubStep1080p(benchmark::State& state)
{
    const bool nearby = state.range(0) == 1;
    state.SetLabel(nearby ? "nearby" : "exact");
    const std::string clip = longGopClip();
    if (clip.empty()) {
        state.SkipWithError("cannot make the long-GOP clip with the ffmpeg command");
        return;
    }
    std::string error;
    auto source = brimtone::host::MediaSource::openFile(clip, error);
    HDWindow hd;
    if (!source || !hd.Open()) {
        state.SkipWithError(source ? "cannot open the HD dialog window of the built bundle" : error.c_str());
        return;
    }
    PixMapHandle pixels = GetGWorldPixMap(gConfigWorkSpace.SourceClip);
    auto* bytes = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pixels));
    const int rowBytes = GetPixRowBytes(pixels);
    const std::vector<int> path = scrubPath(source->frameCount());
    size_t next = 0;
    double worst = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int frame = path[next++ % path.size()];
        const bool read = nearby ? source->readNearbyFrame(frame, 960, 540, bytes, rowBytes, error)
                                 : source->readFrame(frame, 960, 540, true, bytes, rowBytes, error);
        if (!read) {
            state.SkipWithError(error.c_str());
            return;
        }
        RenderPreview();
        DrawFrameContents(hd.window, hd.bounds);
        worst = std::max(worst, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_ScrubStep1080p)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(120);

}  // namespace

BENCHMARK_MAIN();
