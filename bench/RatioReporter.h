// Google Benchmark's console report, and at its end each benchmark's ratios
// to BM_Memcpy of the same run: of the median times (wall and CPU), and the
// spread of its repetitions' wall times against memcpy's median. Run with
// repetitions interleaved, so that load from elsewhere on the machine falls
// on every benchmark alike.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace brimtone::bench {

inline std::string ProcessorName()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2);
    return "unknown processor";
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // `about` goes on the summary's first line, after the processor's name.
    explicit RatioReporter(std::string about) : fAbout(std::move(about)) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                fWall[run.run_name.str()].push_back(run.GetAdjustedRealTime());
                fCPU[run.run_name.str()].push_back(run.GetAdjustedCPUTime());
            }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto median = [](std::vector<double> times) {
            std::sort(times.begin(), times.end());
            return times[times.size() / 2];
        };
        if (fWall.count("BM_Memcpy") == 0)
            return;
        const double wallBase = median(fWall["BM_Memcpy"]);
        const double cpuBase = median(fCPU["BM_Memcpy"]);
        std::printf("%s, %s, %zu repetitions\n", ProcessorName().c_str(), fAbout.c_str(), fWall["BM_Memcpy"].size());
        std::printf("%-30s %8s %8s %8s %8s   (x memcpy)\n", "", "wall", "cpu", "best", "worst");
        for (const auto& [name, times] : fWall) {
            const auto [best, worst] = std::minmax_element(times.begin(), times.end());
            std::printf("%-30s %8.2f %8.2f %8.2f %8.2f\n", name.c_str(), median(times) / wallBase,
                        median(fCPU[name]) / cpuBase, *best / wallBase, *worst / wallBase);
        }
    }

private:
    std::string fAbout;
    std::map<std::string, std::vector<double>> fWall;
    std::map<std::string, std::vector<double>> fCPU;
};

// Runs the registered benchmarks with ten interleaved repetitions unless the
// command line says otherwise.
inline void RunWithRatios(int argc, char** argv, const std::string& about)
{
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=10";
    char interleaving[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, {repetitions, interleaving});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter(about);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

}  // namespace brimtone::bench
