// The host's conversions on 1920 x 1080 frames, as ratios to memcpy of an
// A, R, G, B frame measured in the same run: Y'CbCr to A, R, G, B and back in
// every layout our loops take, on every path the processor has, beside
// swscale doing the same job as the host would ask it (its default flags to
// A, R, G, B; accurate rounding and full chroma from A, R, G, B), so that
// each layout's loops can be weighed against handing it to swscale.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "media/Convert.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

using namespace brimtone::host;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kRowBytes = kWidth * 4;
constexpr AVPixelFormat kLayouts[] = {AV_PIX_FMT_YUV420P,   AV_PIX_FMT_YUV422P,   AV_PIX_FMT_YUV444P,
                                      AV_PIX_FMT_YUV420P10, AV_PIX_FMT_YUV422P10, AV_PIX_FMT_YUV444P10};

std::vector<uint8_t> randomBytes(size_t count)
{
    std::vector<uint8_t> bytes(count);
    std::mt19937 random(1);
    for (uint8_t& b : bytes) b = uint8_t(random());
    return bytes;
}

// An encoder's frame of the format.
FramePtr emptyFrame(AVPixelFormat format)
{
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = kWidth;
    frame->height = kHeight;
    av_frame_get_buffer(frame.get(), 0);
    return frame;
}

// A frame of the format with random samples of its depth.
FramePtr randomFrame(AVPixelFormat format)
{
    FramePtr frame = emptyFrame(format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int depth = desc->comp[0].depth;
    std::mt19937 random(2);
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < frame->linesize[p] * (p ? kHeight >> desc->log2_chroma_h : kHeight);
             i += depth > 8 ? 2 : 1) {
            const int value = int(random() % (1u << depth));
            frame->data[p][i] = uint8_t(value);
            if (depth > 8) frame->data[p][i + 1] = uint8_t(value >> 8);
        }
    return frame;
}

// A, R, G, B frames live in the toolbox's buffers; these are as large.
void BM_Memcpy(benchmark::State& state)
{
    const std::vector<uint8_t> source = randomBytes(size_t(kRowBytes) * kHeight);
    std::vector<uint8_t> dest(source.size());
    for (auto _ : state) {
        std::memcpy(dest.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
}

void BM_ToArgb(benchmark::State& state, AVPixelFormat format, ConvertPath path)
{
    const ConvertPath initial = currentConvertPath();
    useConvertPath(path);
    const FramePtr frame = randomFrame(format);
    std::vector<uint8_t> argb(size_t(kRowBytes) * kHeight);
    ToArgb convert;
    std::string error;
    const Picture picture{frame->data, frame->linesize, kWidth, kHeight, format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG};
    for (auto _ : state) {
        if (!convert.convert(picture, kWidth, kHeight, true, argb.data(), kRowBytes, error))
            state.SkipWithError(error.c_str());
        benchmark::ClobberMemory();
    }
    useConvertPath(initial);
}

// What swscale gives the host for the same picture: B, G, R, A with its
// default flags (it has no fast path to A, R, G, B), then each pixel's bytes
// turned around.
void BM_ToArgbSwscale(benchmark::State& state, AVPixelFormat format)
{
    const FramePtr frame = randomFrame(format);
    std::vector<uint8_t> argb(size_t(kRowBytes) * kHeight);
    SwsPtr sws(sws_getContext(kWidth, kHeight, format, kWidth, kHeight, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr,
                              nullptr, nullptr));
    sws_setColorspaceDetails(sws.get(), sws_getCoefficients(SWS_CS_ITU709), 0, sws_getCoefficients(SWS_CS_DEFAULT),
                             1, 0, 1 << 16, 1 << 16);
    uint8_t* planes[4] = {argb.data()};
    const int strides[4] = {kRowBytes};
    for (auto _ : state) {
        sws_scale(sws.get(), frame->data, frame->linesize, 0, kHeight, planes, strides);
        for (size_t i = 0; i < argb.size(); i += 4) {
            uint32_t pixel;
            std::memcpy(&pixel, &argb[i], 4);
            pixel = __builtin_bswap32(pixel);
            std::memcpy(&argb[i], &pixel, 4);
        }
        benchmark::ClobberMemory();
    }
}

void BM_FromArgb(benchmark::State& state, AVPixelFormat format, ConvertPath path)
{
    const ConvertPath initial = currentConvertPath();
    useConvertPath(path);
    const std::vector<uint8_t> argb = randomBytes(size_t(kRowBytes) * kHeight);
    const FramePtr frame = emptyFrame(format);
    FromArgb convert;
    std::string error;
    if (!convert.open(kWidth, kHeight, format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, error))
        state.SkipWithError(error.c_str());
    for (auto _ : state) {
        convert.convert(argb.data(), kRowBytes, frame.get());
        benchmark::ClobberMemory();
    }
    useConvertPath(initial);
}

// swscale from A, R, G, B with the flags that keep a deep output free of bands.
void BM_FromArgbSwscale(benchmark::State& state, AVPixelFormat format)
{
    const std::vector<uint8_t> argb = randomBytes(size_t(kRowBytes) * kHeight);
    const FramePtr frame = emptyFrame(format);
    SwsPtr sws(sws_getContext(kWidth, kHeight, AV_PIX_FMT_0RGB, kWidth, kHeight, format,
                              SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr));
    sws_setColorspaceDetails(sws.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709),
                             0, 0, 1 << 16, 1 << 16);
    const uint8_t* planes[4] = {argb.data()};
    const int strides[4] = {kRowBytes};
    for (auto _ : state) {
        sws_scale(sws.get(), planes, strides, 0, kHeight, frame->data, frame->linesize);
        benchmark::ClobberMemory();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)->Unit(benchmark::kMicrosecond);
    for (AVPixelFormat format : kLayouts) {
        const std::string name = av_get_pix_fmt_name(format);
        for (ConvertPath path : {ConvertPath::Plain, ConvertPath::SSE2, ConvertPath::AVX2})
            if (convertPathAvailable(path)) {
                benchmark::RegisterBenchmark(("BM_ToArgb/" + name + "/" + convertPathName(path)).c_str(), BM_ToArgb,
                                             format, path)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(("BM_FromArgb/" + name + "/" + convertPathName(path)).c_str(),
                                             BM_FromArgb, format, path)
                    ->Unit(benchmark::kMicrosecond);
            }
        benchmark::RegisterBenchmark(("BM_ToArgb/" + name + "/swscale").c_str(), BM_ToArgbSwscale, format)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BM_FromArgb/" + name + "/swscale").c_str(), BM_FromArgbSwscale, format)
            ->Unit(benchmark::kMicrosecond);
    }
    brimtone::bench::RunWithRatios(argc, argv, std::string("conversion path ") + convertPathName(currentConvertPath()));
    return 0;
}
