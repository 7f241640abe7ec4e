// Pictures between the decoder's and encoder's formats and the plug-in's
// buffers (A, R, G, B bytes per pixel). Planar Y'CbCr of 8 or 10 bits, 4:2:0,
// 4:2:2 or 4:4:4, has loops of our own, each with a plain version beside the
// vector ones; everything else goes through swscale.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Ffmpeg.h"

namespace brimtone::host {

// The implementations of the conversion loops, plainest first. Each gives the
// same bytes as the plain one.
enum class ConvertPath { Plain, SSE2, AVX2 };

const char* convertPathName(ConvertPath path);
bool convertPathAvailable(ConvertPath path);
// The fastest available path no faster than `limit` names ("plain", "sse2",
// "avx2"); nil or unknown limits nothing. The process starts on
// chooseConvertPath(getenv("BRIMTONE_CONVERT_PATH")), and says on standard
// error what convertPathWarning() says of an unknown name.
ConvertPath chooseConvertPath(const char* limit);
std::string convertPathWarning(const char* limit);
ConvertPath currentConvertPath();
// For tests and benchmarks: ignored when the path is not available.
void useConvertPath(ConvertPath path);

// Sizes that take BT.709 colour when a stream does not say; smaller ones BT.601.
bool isHighDefinition(int width, int height);

// A decoded picture, as the converters read it.
struct Picture {
    const uint8_t* const* planes = nullptr;
    const int* strides = nullptr;
    int width = 0, height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    AVColorSpace colorSpace = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

// Any picture into the caller's A, R, G, B buffer at any size, alpha 255.
// Planar Y'CbCr at its own size takes our loops (bicubic chroma, the
// picture's real edges for the threshold); the rest swscale, kept between calls.
class ToArgb {
public:
    ToArgb();
    ~ToArgb();
    ToArgb(const ToArgb&) = delete;
    ToArgb& operator=(const ToArgb&) = delete;

    bool convert(const Picture& in, int dstW, int dstH, bool highQuality, uint8_t* dst, int rowBytes,
                 std::string& error);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// A, R, G, B rows into an encoder's frame. Planar Y'CbCr takes our loops
// (the BT.709, BT.601 or BT.2020 matrix, either range, bicubic chroma without
// ringing at the effect's hard edges, 10-bit values rounded from exact sums
// so that a deeper output has no bands); other formats (RGB, packed, other
// matrices) swscale with accurate rounding.
class FromArgb {
public:
    FromArgb();
    ~FromArgb();
    FromArgb(const FromArgb&) = delete;
    FromArgb& operator=(const FromArgb&) = delete;

    bool open(int width, int height, AVPixelFormat format, AVColorSpace space, AVColorRange range,
              std::string& error);
    // `out` has the size and format given to open().
    void convert(const uint8_t* argb, int rowBytes, AVFrame* out);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Quarter turns and a mirror, as a display matrix asks: the source
// (width x height) turned clockwise by `quarterTurns` after a left-right flip.
void turnArgb(const uint8_t* src, int srcRowBytes, int width, int height, int quarterTurns, bool flip,
              uint8_t* dst, int dstRowBytes);

}  // namespace brimtone::host
