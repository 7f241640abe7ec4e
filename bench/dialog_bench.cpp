// One step of a region drag in the dialog's HD window: the region moves, the
// 960x540 preview is rendered again and drawn, with its outline and handles,
// into the window's port, as the preview control does for every mouse move.
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
        CallPixelEffect(gConfigWorkSpace.SourceClip, gConfigWorkSpace.TheFXClip);
        DrawFrameContents(hd.window, hd.bounds);
    }
    state.counters["preview_w"] = width;
    state.counters["preview_h"] = height;
}
BENCHMARK(BM_RegionDragStepHD)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
