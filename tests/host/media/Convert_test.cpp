// The conversions: every path gives the plain path's bytes on random pictures
// of odd sizes in every layout our loops take; the plain loops give the
// textbook values on flat colours, agree with swscale's accurate conversion
// and bring a picture back from a round trip; the switch forces each path.
#include "media/Convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

using namespace brimtone::host;

namespace {

constexpr AVPixelFormat kLayouts[] = {AV_PIX_FMT_YUV420P,   AV_PIX_FMT_YUV422P,   AV_PIX_FMT_YUV444P,
                                      AV_PIX_FMT_YUV420P10, AV_PIX_FMT_YUV422P10, AV_PIX_FMT_YUV444P10};

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

const AVPixFmtDescriptor& describe(AVPixelFormat format) { return *av_pix_fmt_desc_get(format); }

// Samples of a plane are bytes, or 16-bit words for deep formats.
int bytesPerSample(AVPixelFormat format) { return describe(format).comp[0].step; }

FramePtr makeFrame(AVPixelFormat format, int w, int h)
{
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = w;
    frame->height = h;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    return frame;
}

int planeWidth(const AVFrame* f, int plane)
{
    const int shift = plane ? describe(AVPixelFormat(f->format)).log2_chroma_w : 0;
    return -((-f->width) >> shift);
}

int planeHeight(const AVFrame* f, int plane)
{
    const int shift = plane ? describe(AVPixelFormat(f->format)).log2_chroma_h : 0;
    return -((-f->height) >> shift);
}

// The samples of a frame's planes, without the rows' padding.
std::vector<uint8_t> visibleBytes(const AVFrame* f)
{
    std::vector<uint8_t> bytes;
    const int step = bytesPerSample(AVPixelFormat(f->format));
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < planeHeight(f, p); ++y)
            bytes.insert(bytes.end(), f->data[p] + y * f->linesize[p],
                         f->data[p] + y * f->linesize[p] + planeWidth(f, p) * step);
    return bytes;
}

// A sample of plane p, whatever its size.
int sampleAt(const AVFrame* f, int p, int x, int y)
{
    const uint8_t* row = f->data[p] + y * f->linesize[p];
    return bytesPerSample(AVPixelFormat(f->format)) == 1 ? row[x] : reinterpret_cast<const uint16_t*>(row)[x];
}

Picture pictureOf(const AVFrame* f, AVColorSpace space, AVColorRange range)
{
    return Picture{f->data, f->linesize, f->width, f->height, AVPixelFormat(f->format), space, range};
}

struct Argb {
    int w = 0, h = 0, rowBytes = 0;
    std::vector<uint8_t> bytes;
    Argb(int width, int height, int padding = 0) : w(width), h(height), rowBytes(width * 4 + padding)
    {
        bytes.assign(size_t(rowBytes) * h, 0x5a);
    }
    uint8_t* at(int x, int y) { return bytes.data() + size_t(y) * rowBytes + 4 * x; }
};

Argb toArgb(const AVFrame* f, AVColorSpace space, AVColorRange range, int padding = 0)
{
    Argb out(f->width, f->height, padding);
    ToArgb convert;
    std::string error;
    EXPECT_TRUE(convert.convert(pictureOf(f, space, range), f->width, f->height, true, out.bytes.data(),
                                out.rowBytes, error))
        << error;
    return out;
}

FramePtr fromArgb(Argb& in, AVPixelFormat format, AVColorSpace space, AVColorRange range)
{
    FramePtr out = makeFrame(format, in.w, in.h);
    FromArgb convert;
    std::string error;
    EXPECT_TRUE(convert.open(in.w, in.h, format, space, range, error)) << error;
    convert.convert(in.bytes.data(), in.rowBytes, out.get());
    return out;
}

// A picture with smooth ramps in both directions and a few hard edges, as
// video has; its chroma varies from row to row, so misplaced chroma shows.
Argb scene(int w, int h)
{
    Argb picture(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = picture.at(x, y);
            const bool box = x > w / 3 && x < w / 2 && y > h / 4 && y < h / 2;
            p[0] = 255;
            p[1] = box ? 230 : uint8_t(40 + 180 * x / w);
            p[2] = box ? 30 : uint8_t(30 + 200 * y / h);
            p[3] = uint8_t(128 + 100 * std::sin(x * 0.05 + y * 0.08));
        }
    return picture;
}

double psnr(const Argb& a, const Argb& b)
{
    double sum = 0;
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < 4 * a.w; ++x)
            if (x % 4) {
                const int d = a.bytes[size_t(y) * a.rowBytes + x] - b.bytes[size_t(y) * b.rowBytes + x];
                sum += d * d;
            }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * 3 * a.w * a.h / sum);
}

const std::pair<int, int> kOddSizes[] = {{1, 1}, {2, 2}, {15, 7}, {17, 9}, {33, 31}, {50, 5}, {64, 48}, {101, 3}};

// Planes in buffers of their own with rows packed tight (odd strides at odd
// widths), so that a loop reading past a row or a plane's end is caught by
// the sanitizers.
struct TightPlanes {
    std::vector<uint8_t> bytes[3];
    const uint8_t* planes[4] = {};
    int strides[4] = {};

    TightPlanes(AVPixelFormat format, int w, int h, std::mt19937& random)
    {
        const AVPixFmtDescriptor& d = describe(format);
        for (int p = 0; p < 3; ++p) {
            const int pw = p ? -((-w) >> d.log2_chroma_w) : w, ph = p ? -((-h) >> d.log2_chroma_h) : h;
            strides[p] = pw * bytesPerSample(format);
            // Deep samples take every 16-bit value: bits past the tenth are noise to ignore alike.
            bytes[p].resize(size_t(strides[p]) * ph);
            for (uint8_t& b : bytes[p]) b = uint8_t(random());
            planes[p] = bytes[p].data();
        }
    }
};

TEST(ConvertPaths, YuvToArgbGivesThePlainBytesOnRandomPicturesOfEveryLayoutAndSize)
{
    PathGuard guard;
    std::mt19937 random(7);
    for (AVPixelFormat format : kLayouts)
        for (const auto& [w, h] : kOddSizes) {
            const TightPlanes in(format, w, h, random);
            for (const AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
                const Picture picture{in.planes, in.strides, w, h, format, AVCOL_SPC_BT709, range};
                std::vector<std::vector<uint8_t>> outputs;
                for (ConvertPath path : availablePaths()) {
                    useConvertPath(path);
                    Argb out(w, h, 8);
                    ToArgb convert;
                    std::string error;
                    ASSERT_TRUE(convert.convert(picture, w, h, true, out.bytes.data(), out.rowBytes, error)) << error;
                    for (int row = 0; row < h; ++row)
                        for (int b = w * 4; b < out.rowBytes; ++b)
                            ASSERT_EQ(out.bytes[size_t(row) * out.rowBytes + b], 0x5a) << "written past the row";
                    outputs.push_back(out.bytes);
                }
                for (size_t i = 1; i < outputs.size(); ++i)
                    EXPECT_EQ(outputs[i], outputs[0]) << convertPathName(availablePaths()[i]) << " "
                                                      << describe(format).name << " " << w << "x" << h;
            }
        }
}

TEST(ConvertPaths, ArgbToYuvGivesThePlainBytesOnRandomPicturesOfEveryLayoutAndSize)
{
    PathGuard guard;
    std::mt19937 random(11);
    for (AVPixelFormat format : kLayouts)
        for (auto [w, h] : kOddSizes) {
            // Halved chroma needs even sizes, as the encoder does.
            w += describe(format).log2_chroma_w ? w % 2 : 0;
            h += describe(format).log2_chroma_h ? h % 2 : 0;
            Argb argb(w, h, 12);
            for (uint8_t& b : argb.bytes) b = uint8_t(random());
            for (const AVColorSpace space : {AVCOL_SPC_BT709, AVCOL_SPC_SMPTE170M, AVCOL_SPC_BT2020_NCL})
                for (const AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
                    std::vector<std::vector<uint8_t>> outputs;
                    for (ConvertPath path : availablePaths()) {
                        useConvertPath(path);
                        outputs.push_back(visibleBytes(fromArgb(argb, format, space, range).get()));
                    }
                    for (size_t i = 1; i < outputs.size(); ++i)
                        EXPECT_EQ(outputs[i], outputs[0]) << convertPathName(availablePaths()[i]) << " "
                                                          << describe(format).name << " " << w << "x" << h;
                }
        }
}

// Flat colours through both conversions against the matrices computed in
// doubles: each value within half a step of the exact one (plus a hair).
TEST(ConvertLoops, FlatColoursTakeTheTextbookValuesAtEachDepthRangeAndMatrix)
{
    PathGuard guard;
    useConvertPath(ConvertPath::Plain);
    const uint32_t colours[] = {0x000000, 0xffffff, 0xff0000, 0x00ff00, 0x0000ff, 0x808080, 0x3c9ad2, 0xf0e68c};
    const struct { AVColorSpace space; double kr, kb; } matrices[] = {
        {AVCOL_SPC_BT709, 0.2126, 0.0722}, {AVCOL_SPC_BT470BG, 0.299, 0.114}, {AVCOL_SPC_BT2020_NCL, 0.2627, 0.0593}};
    for (AVPixelFormat format : kLayouts)
        for (const auto& m : matrices)
            for (const AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG})
                for (uint32_t colour : colours) {
                    const int bits = describe(format).comp[0].depth, top = (1 << bits) - 1;
                    const bool full = range == AVCOL_RANGE_JPEG;
                    const double r = (colour >> 16) / 255.0, g = (colour >> 8 & 0xff) / 255.0, b = (colour & 0xff) / 255.0;
                    const double luma = m.kr * r + (1 - m.kr - m.kb) * g + m.kb * b;
                    const double unit = full ? top : 1 << (bits - 8);
                    const double y = full ? luma * top : unit * (16 + 219 * luma);
                    const double cb = (full ? 1 << (bits - 1) : unit * 128) + (full ? top : unit * 224) * (b - luma) / (2 - 2 * m.kb);
                    const double cr = (full ? 1 << (bits - 1) : unit * 128) + (full ? top : unit * 224) * (r - luma) / (2 - 2 * m.kr);
                    Argb argb(6, 4);
                    for (int i = 0; i < 6 * 4; ++i)
                        argb.at(i % 6, i / 6)[1] = uint8_t(colour >> 16), argb.at(i % 6, i / 6)[2] = uint8_t(colour >> 8),
                        argb.at(i % 6, i / 6)[3] = uint8_t(colour);
                    const FramePtr frame = fromArgb(argb, format, m.space, range);
                    const std::string what = std::string(describe(format).name) + " " + av_color_space_name(m.space) +
                                             (full ? " full " : " limited ") + std::to_string(colour);
                    EXPECT_NEAR(sampleAt(frame.get(), 0, 3, 2), y, 0.52) << what;
                    EXPECT_NEAR(sampleAt(frame.get(), 1, 1, 1), cb, 0.52) << what;
                    EXPECT_NEAR(sampleAt(frame.get(), 2, 1, 1), cr, 0.52) << what;
                    // And back: the colour again, within the rounding of both ways.
                    const Argb back = toArgb(frame.get(), m.space, range);
                    for (int c = 0; c < 3; ++c)
                        EXPECT_NEAR(back.bytes[4 * 9 + 1 + c], int(colour >> (16 - 8 * c) & 0xff), bits == 8 ? 1 : 0)
                            << what << " channel " << c;
                }
}

// Smooth pictures with hard edges: our loops are as close to swscale's slow,
// accurate conversion (bicubic chroma, accurate rounding) as its rounding, in
// every layout; and a round trip through each layout keeps the picture.
TEST(ConvertLoops, PicturesAgreeWithSwscalesAccurateConversionAndSurviveTheRoundTrip)
{
    PathGuard guard;
    useConvertPath(ConvertPath::Plain);
    const int w = 96, h = 64;
    Argb picture = scene(w, h);
    for (AVPixelFormat format : kLayouts) {
        const FramePtr frame = fromArgb(picture, format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG);
        const Argb ours = toArgb(frame.get(), AVCOL_SPC_BT709, AVCOL_RANGE_MPEG);
        Argb accurate(w, h);
        SwsContext* sws = sws_getContext(w, h, format, w, h, AV_PIX_FMT_ARGB,
                                         SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
        sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_ITU709), 0, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 0, 1 << 16, 1 << 16);
        uint8_t* planes[4] = {accurate.bytes.data()};
        const int strides[4] = {accurate.rowBytes};
        sws_scale(sws, frame->data, frame->linesize, 0, h, planes, strides);
        sws_freeContext(sws);
        EXPECT_GE(psnr(ours, accurate), 60.0) << describe(format).name;
        // Halved chroma loses the colour of single pixels at the box's edges and in the waves.
        const double kept = describe(format).log2_chroma_h ? 35.0 : describe(format).log2_chroma_w ? 37.5 : 50.0;
        EXPECT_GE(psnr(ours, picture), kept) << describe(format).name;
    }
}

TEST(ConvertPaths, TheSwitchForcesEachPathAndNamesAValueItDoesNotKnow)
{
    EXPECT_EQ(currentConvertPath(), chooseConvertPath(std::getenv("BRIMTONE_CONVERT_PATH")));
    const std::vector<ConvertPath> paths = availablePaths();
    for (ConvertPath path : paths) {
        EXPECT_EQ(chooseConvertPath(convertPathName(path)), path);
        EXPECT_EQ(convertPathWarning(convertPathName(path)), "");
    }
    EXPECT_EQ(chooseConvertPath(nullptr), paths.back());
    EXPECT_EQ(convertPathWarning(nullptr), "");
    EXPECT_EQ(chooseConvertPath("fastest"), paths.back());
    EXPECT_NE(convertPathWarning("fastest").find("BRIMTONE_CONVERT_PATH=fastest is not"), std::string::npos);
}

}  // namespace
