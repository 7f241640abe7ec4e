// CopyBits on HD frames: a same-size copy against a plain memcpy of the same
// bytes (the ratio is printed at the end), and a 2:1 shrink for information.

#include "QuickDraw.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr SInt16 kWidth = 1920;
constexpr SInt16 kHeight = 1080;

struct Worlds {
    GWorldPtr source = nullptr;
    GWorldPtr target = nullptr;

    Worlds(SInt16 targetWidth, SInt16 targetHeight)
    {
        const Rect sourceBounds = {0, 0, kHeight, kWidth};
        const Rect targetBounds = {0, 0, targetHeight, targetWidth};
        NewGWorld(&source, 32, &sourceBounds, nullptr, nullptr, 0);
        NewGWorld(&target, 32, &targetBounds, nullptr, nullptr, 0);
        if (source != nullptr) {
            PixMapHandle pm = GetGWorldPixMap(source);
            Ptr base = GetPixBaseAddr(pm);
            const size_t bytes = size_t(GetPixRowBytes(pm)) * kHeight;
            for (size_t i = 0; i < bytes; ++i)
                base[i] = char(i * 7 + (i >> 12));
        }
    }
    ~Worlds()
    {
        DisposeGWorld(source);
        DisposeGWorld(target);
    }
    bool Ready() const { return source != nullptr && target != nullptr; }
};

void Copy(const Worlds& worlds, benchmark::State& state)
{
    Rect from, to;
    GetPortBounds(worlds.source, &from);
    GetPortBounds(worlds.target, &to);
    const BitMap* src = GetPortBitMapForCopyBits(worlds.source);
    const BitMap* dst = GetPortBitMapForCopyBits(worlds.target);
    for (auto _ : state) {
        CopyBits(src, dst, &from, &to, srcCopy, nullptr);
        benchmark::ClobberMemory();
    }
}

void BM_CopyBitsSameSize(benchmark::State& state)
{
    Worlds worlds(kWidth, kHeight);
    if (!worlds.Ready()) {
        state.SkipWithError("no memory for the graphics worlds");
        return;
    }
    Copy(worlds, state);
    state.SetBytesProcessed(state.iterations() * int64_t(kWidth) * kHeight * 4);
}
BENCHMARK(BM_CopyBitsSameSize)->Unit(benchmark::kMicrosecond);

void BM_Memcpy(benchmark::State& state)
{
    const size_t bytes = size_t(kWidth) * kHeight * 4;
    std::vector<char> source(bytes, 1), target(bytes, 0);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);

void BM_CopyBitsShrinkHalf(benchmark::State& state)
{
    Worlds worlds(kWidth / 2, kHeight / 2);
    if (!worlds.Ready()) {
        state.SkipWithError("no memory for the graphics worlds");
        return;
    }
    Copy(worlds, state);
}
BENCHMARK(BM_CopyBitsShrinkHalf)->Unit(benchmark::kMillisecond);

// Shows the runs as usual and keeps each one's time per iteration.
class TimeKeeper : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TimeKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto copy = reporter.times.find("BM_CopyBitsSameSize");
    const auto plain = reporter.times.find("BM_Memcpy");
    if (copy != reporter.times.end() && plain != reporter.times.end() && plain->second > 0)
        std::printf("CopyBits/memcpy ratio: %.2f\n", copy->second / plain->second);
    benchmark::Shutdown();
    return 0;
}
