// Every conversion path gives the plain path's bytes, on random pictures of
// odd sizes, and the switch forces the plain one.
#include "media/Convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace brimtone::host;

namespace {

std::vector<ConvertPath> availablePaths()
{
    std::vector<ConvertPath> paths;
    for (ConvertPath path : {ConvertPath::Plain, ConvertPath::SSE2, ConvertPath::AVX2})
        if (convertPathAvailable(path)) paths.push_back(path);
    return paths;
}

struct PathGuard {
    ConvertPath was = currentConvertPath();
    ~PathGuard() { useConvertPath(was); }
};

TEST(ConvertPaths, YuvToArgbGivesThePlainBytesOnRandomPicturesOfAnySize)
{
    PathGuard guard;
    std::mt19937 random(7);
    for (const auto& [w, h] : {std::pair{1, 1}, {2, 2}, {15, 7}, {16, 16}, {17, 9}, {33, 31}, {64, 48}, {101, 3}}) {
        const int cw = (w + 1) / 2, ch = (h + 1) / 2, pad = 13;
        std::vector<uint8_t> y(size_t(w + pad) * h), u(size_t(cw + pad) * ch), v(size_t(cw + pad) * ch);
        for (auto* plane : {&y, &u, &v})
            for (uint8_t& b : *plane) b = uint8_t(random());
        const uint8_t* planes[4] = {y.data(), u.data(), v.data(), nullptr};
        const int strides[4] = {w + pad, cw + pad, cw + pad, 0};
        for (const AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
            const Picture picture{planes, strides, w, h, AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, range};
            std::vector<std::vector<uint8_t>> outputs;
            for (ConvertPath path : availablePaths()) {
                useConvertPath(path);
                ToArgb convert;
                const int rowBytes = w * 4 + 8;
                std::vector<uint8_t> out(size_t(rowBytes) * h, 0x5a);
                std::string error;
                ASSERT_TRUE(convert.convert(picture, w, h, true, out.data(), rowBytes, error)) << error;
                for (int row = 0; row < h; ++row)
                    for (int b = w * 4; b < rowBytes; ++b) ASSERT_EQ(out[size_t(row) * rowBytes + b], 0x5a);
                outputs.push_back(out);
            }
            for (size_t i = 1; i < outputs.size(); ++i)
                EXPECT_EQ(outputs[i], outputs[0]) << convertPathName(availablePaths()[i]) << " at " << w << "x" << h;
        }
    }
}

TEST(ConvertPaths, ArgbToYuvGivesThePlainBytesAndTheSwitchForcesThePlainPath)
{
    EXPECT_EQ(currentConvertPath(), chooseConvertPath(std::getenv("BRIMTONE_CONVERT_PATH")));
    PathGuard guard;
    std::mt19937 random(11);
    for (const auto& [w, h] : {std::pair{2, 2}, {18, 6}, {34, 30}, {66, 50}}) {
        std::vector<uint8_t> argb(size_t(w) * h * 4);
        for (uint8_t& b : argb) b = uint8_t(random());
        std::vector<std::vector<uint8_t>> outputs;
        for (ConvertPath path : availablePaths()) {
            useConvertPath(path);
            FromArgb convert;
            std::string error;
            ASSERT_TRUE(convert.open(w, h, AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, error)) << error;
            AVFrame* frame = av_frame_alloc();
            frame->format = AV_PIX_FMT_YUV420P;
            frame->width = w;
            frame->height = h;
            ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
            convert.convert(argb.data(), w * 4, frame);
            std::vector<uint8_t> bytes;
            for (int p = 0; p < 3; ++p)
                for (int row = 0; row < (p ? h / 2 : h); ++row)
                    bytes.insert(bytes.end(), frame->data[p] + row * frame->linesize[p],
                                 frame->data[p] + row * frame->linesize[p] + (p ? w / 2 : w));
            av_frame_free(&frame);
            outputs.push_back(bytes);
        }
        for (size_t i = 1; i < outputs.size(); ++i) EXPECT_EQ(outputs[i], outputs[0]) << w << "x" << h;
    }
    EXPECT_EQ(chooseConvertPath("plain"), ConvertPath::Plain);
    EXPECT_EQ(chooseConvertPath(nullptr), availablePaths().back());
    EXPECT_EQ(chooseConvertPath("nonsense"), availablePaths().back());
}

}  // namespace
