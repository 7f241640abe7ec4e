// The effect's cost on 1920 × 1080 frames, as ratios to memcpy of the same
// buffer measured in the same run: the pixel pass alone, and one whole
// kPlugDoFrame through the entry point with a host whose frames are ready.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "Effects/AdjustColors/AdjustColors.h"
#include "MacMemory.h"
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

void BM_BrimtonePass(benchmark::State& state)
{
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

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BrimtonePass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DoFrame)->Unit(benchmark::kMicrosecond);

// Prints each result as usual and, at the end, its ratio to memcpy.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                fTimes[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto base = fTimes.find("BM_Memcpy");
        if (base == fTimes.end() || base->second <= 0)
            return;
        for (const auto& [name, time] : fTimes)
            if (name != "BM_Memcpy")
                std::printf("%-20s %.2fx memcpy\n", name.c_str(), time / base->second);
    }

private:
    std::map<std::string, double> fTimes;
};

}  // namespace

int main(int argc, char** argv)
{
    // The plug-in's start-up writes its preferences; keep them out of the user's folder.
    char folder[] = "/tmp/brimtone-bench-XXXXXX";
    if (mkdtemp(folder) != nullptr)
        setenv("XDG_CONFIG_HOME", folder, 1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
