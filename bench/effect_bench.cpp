// The effect's cost on 1920 × 1080 frames, as ratios to memcpy of the same
// buffer measured in the same run: the pixel pass alone on every path the
// processor has, and one whole kPlugDoFrame through the entry point with a
// host whose frames are ready. Repetitions run interleaved, so that load from
// elsewhere on the machine falls on all of them alike.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Effects/AdjustColors/AdjustColors.h"
#include "MacMemory.h"
#include "RatioReporter.h"
#include "effect/pixelEffect.h"
#include "plugin/DataHandling.h"

namespace {

constexpr SInt16 kWidth = 1920;
constexpr SInt16 kHeight = 1080;

GWorldPtr NewFrame()
{
    Rect bounds{0, 0, kHeight, kWidth};
    GWorldPtr frame = nullptr;
    NewGWorld(&frame, 32, &bounds, nullptr, nullptr, 0);
    std::mt19937 random(1);
    PixMapHandle pm = GetGWorldPixMap(frame);
    UInt8* base = reinterpret_cast<UInt8*>(GetPixBaseAddr(pm));
    for (SInt32 i = 0; i < GetPixRowBytes(pm) * kHeight; ++i)
        base[i] = UInt8(random());
    return frame;
}

size_t FrameBytes(GWorldPtr frame)
{
    return size_t(GetPixRowBytes(GetGWorldPixMap(frame))) * kHeight;
}

void BM_Memcpy(benchmark::State& state)
{
    GWorldPtr source = NewFrame();
    GWorldPtr dest = NewFrame();
    const size_t bytes = FrameBytes(source);
    for (auto _ : state) {
        std::memcpy(GetPixBaseAddr(GetGWorldPixMap(dest)), GetPixBaseAddr(GetGWorldPixMap(source)), bytes);
        benchmark::ClobberMemory();
    }
    DisposeGWorld(source);
    DisposeGWorld(dest);
}

void BM_BrimtonePass(benchmark::State& state, PixelPath path)
{
    const PixelPath initial = CurrentPixelPath();
    UsePixelPath(path);
    GWorldPtr source = NewFrame();
    GWorldPtr dest = NewFrame();
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.Sliders[kThresholdSlider] = 50;
    const Rect whole{0, 0, kHeight, kWidth};
    for (auto _ : state) {
        Brimtone(source, dest, whole, true, &config);
        benchmark::ClobberMemory();
    }
    DisposeGWorld(source);
    DisposeGWorld(dest);
    UsePixelPath(initial);
}

// A host whose clip frame is made once and handed out again for every index.
GWorldPtr gReadyFrame = nullptr;

Ptr BenchNewPtrClear(SInt32 size) { return NewPtrClear(size); }
HYPluginResult BenchDisposePtr(Ptr p)
{
    DisposePtr(p);
    return kPluginOK;
}
HYPluginResult BenchGetFrame(void*, SInt32, GWorldPtr* outFrame, SInt16, SInt16, HYRefDVQuality,
                             SInt16* volume, void** cookie)
{
    *outFrame = gReadyFrame;
    *volume = 256;
    *cookie = gReadyFrame;
    return kPluginOK;
}
HYPluginResult BenchReleaseFrame(void*, void*) { return kPluginOK; }
HYPluginResult BenchMixAudio(void*, void*, SInt16) { return kPluginOK; }
HYPluginFilterInfo gFilterInfo{{0.5f, 0.5f, 0.5f}, 0, 0};
HYPluginResult BenchGetFilterInfo(void*, HYPluginFilterInfo** info)
{
    *info = &gFilterInfo;
    return kPluginOK;
}
HYPluginResult BenchReleaseFilterInfo(void*, HYPluginFilterInfo*) { return kPluginOK; }

void BM_DoFrame(benchmark::State& state)
{
    gReadyFrame = NewFrame();
    GWorldPtr output = NewFrame();
    HYProcs procs{};
    procs.NewPtrClear = BenchNewPtrClear;
    procs.DisposePtr = BenchDisposePtr;
    procs.GetFrame = BenchGetFrame;
    procs.ReleaseFrame = BenchReleaseFrame;
    procs.MixAudio = BenchMixAudio;
    procs.GetFilterInfo = BenchGetFilterInfo;
    procs.ReleaseFilterInfo = BenchReleaseFilterInfo;
    PluginParams params{};
    params.interfaceVersion = 4;
    params.procs = &procs;
    params.frameCount = 1000;
    params.frame = output;
    params.frameRect = Rect{0, 0, kHeight, kWidth};
    params.selector = kPlugInitialize;
    if (BrimtoneMain(0, &params) != kPluginOK)
        state.SkipWithError("the pass did not begin");
    params.selector = kPlugDoFrame;
    SInt32 frame = 0;
    for (auto _ : state) {
        params.renderFrame = frame++ % 1000;
        if (BrimtoneMain(0, &params) != kPluginOK) {
            state.SkipWithError("a frame failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    params.selector = kPlugTerminate;
    BrimtoneMain(0, &params);
    DisposeGWorld(output);
    DisposeGWorld(gReadyFrame);
}

}  // namespace

int main(int argc, char** argv)
{
    // The plug-in's start-up writes its preferences; keep them out of the user's folder.
    char folder[] = "/tmp/brimtone-bench-XXXXXX";
    if (mkdtemp(folder) != nullptr)
        setenv("XDG_CONFIG_HOME", folder, 1);
    benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)->Unit(benchmark::kMicrosecond);
    for (const PixelPath path : {PixelPath::Plain, PixelPath::SSE2, PixelPath::AVX2})
        if (PixelPathAvailable(path))
            benchmark::RegisterBenchmark((std::string("BM_BrimtonePass/") + PixelPathName(path)).c_str(),
                                         BM_BrimtonePass, path)
                ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_DoFrame", BM_DoFrame)->Unit(benchmark::kMicrosecond);

    brimtone::bench::RunWithRatios(argc, argv, std::string("pixel path ") + PixelPathName(CurrentPixelPath()));
    return 0;
}
