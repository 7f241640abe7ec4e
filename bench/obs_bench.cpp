// Time per 1080p frame of the OBS filter against OBS's own colour correction
// filter, in the same libobs on the same renderer (Mesa's software OpenGL
// under Xvfb): a source with one filter (or none), drawn into a texture and
// read back, as OBS's screenshots do. A filter's own cost is its time less
// the time without. Two sources: OBS's image source, which colour
// correction draws directly, in one pass; and a camera's frames, which
// every filter draws in two (the frame into a texture, then the filter).
#include "obs/ObsTestSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace brimtone::obs_testing;

namespace {

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;

void RenderFrames(benchmark::State& state, obs_source_t* image, const char* filterId)
{
    obs_source_t* filter = nullptr;
    if (filterId != nullptr) {
        filter = obs_source_create_private(filterId, filterId, nullptr);
        if (filter == nullptr) {
            state.SkipWithError("the filter cannot be made");
            return;
        }
        obs_source_filter_add(image, filter);
    }
    SourceReader reader(kWidth, kHeight);
    Image frame;
    for (auto _ : state) {
        if (!reader.Read(image, frame)) {
            state.SkipWithError("the frame cannot be read back");
            break;
        }
        benchmark::DoNotOptimize(frame.rgba.data());
    }
    if (filter != nullptr) {
        obs_source_filter_remove(image, filter);
        obs_source_release(filter);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::string why;
    std::unique_ptr<ObsSession> session = ObsSession::Start(kWidth, kHeight, why);
    if (session == nullptr) {
        std::fprintf(stderr, "obs_bench: %s\n", why.c_str());
        return 1;
    }
    const std::filesystem::path png = std::filesystem::temp_directory_path() / "brimtone-obs-bench.png";
    const std::string make = "ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=1920x1080 -frames:v 1 -y '" +
                             png.string() + "'";
    obs_source_t* image = std::system(make.c_str()) == 0 ? ImageSource(png) : nullptr;
    std::filesystem::remove(png);
    if (image == nullptr) {
        std::fprintf(stderr, "obs_bench: no 1080p picture (is ffmpeg installed?)\n");
        return 1;
    }
    obs_source_t* camera = session->Camera(RenderSource(image));
    if (camera == nullptr) {
        std::fprintf(stderr, "obs_bench: the camera shows no picture\n");
        return 1;
    }
    for (const auto& [sourceName, source] : {std::pair{"Image", image}, {"Camera", camera}}) {
        for (const auto& [filterName, filterId] : {std::pair<const char*, const char*>{"NoFilter", nullptr},
                                                   {"ColourCorrection", "color_filter_v2"},
                                                   {"Brimtone", "brimtone_filter"}})
            benchmark::RegisterBenchmark((std::string(sourceName) + "/" + filterName).c_str(), RenderFrames, source,
                                         filterId)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(2.0);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    obs_source_release(camera);
    obs_source_release(image);
    return 0;
}
