#include "Convert.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace brimtone::host {

const char* convertPathName(ConvertPath path)
{
    switch (path) {
    case ConvertPath::AVX2: return "avx2";
    case ConvertPath::SSE2: return "sse2";
    default: return "plain";
    }
}

bool convertPathAvailable(ConvertPath path)
{
    switch (path) {
    case ConvertPath::Plain: return true;
#if defined(__SSE2__)
    case ConvertPath::SSE2: return true;
#endif
#if defined(__x86_64__)
    case ConvertPath::AVX2: return __builtin_cpu_supports("avx2");
#endif
    default: return false;
    }
}

ConvertPath chooseConvertPath(const char* limit)
{
    ConvertPath ceiling = ConvertPath::AVX2;
    for (ConvertPath path : {ConvertPath::Plain, ConvertPath::SSE2, ConvertPath::AVX2})
        if (limit && std::strcmp(limit, convertPathName(path)) == 0)
            ceiling = path;
    for (ConvertPath path : {ConvertPath::AVX2, ConvertPath::SSE2, ConvertPath::Plain})
        if (path <= ceiling && convertPathAvailable(path))
            return path;
    return ConvertPath::Plain;
}

namespace {

// The one dispatch point, chosen when the first picture is converted.
std::atomic<ConvertPath>& activePath()
{
    static std::atomic<ConvertPath> path{chooseConvertPath(std::getenv("BRIMTONE_CONVERT_PATH"))};
    return path;
}

}  // namespace

ConvertPath currentConvertPath()
{
    return activePath().load();
}

void useConvertPath(ConvertPath path)
{
    if (convertPathAvailable(path))
        activePath().store(path);
}

bool isHighDefinition(int width, int height)
{
    return width >= 1280 || height > 576;
}

namespace {

// The swscale matrix for a stream's colour space. Streams that do not say
// are taken as players take them: BT.709 at HD sizes, BT.601 below.
int swsMatrix(AVColorSpace space, int width, int height)
{
    switch (space) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return isHighDefinition(width, height) ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

// B, G, R, A pixels turned into A, R, G, B in place: each 32-bit pixel's
// bytes reversed, four pixels at a time.
void reverseBytes(uint8_t* row, int pixels)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i middle = _mm_set1_epi32(0x00ff0000), inner = _mm_set1_epi32(0x0000ff00);
    for (; x + 4 <= pixels; x += 4) {
        auto* at = reinterpret_cast<__m128i*>(row + 4 * x);
        const __m128i p = _mm_loadu_si128(at);
        const __m128i outer = _mm_or_si128(_mm_slli_epi32(p, 24), _mm_srli_epi32(p, 24));
        const __m128i mid = _mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 8), middle),
                                         _mm_and_si128(_mm_srli_epi32(p, 8), inner));
        _mm_storeu_si128(at, _mm_or_si128(outer, mid));
    }
#endif
    for (; x < pixels; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, row + 4 * x, 4);
        pixel = __builtin_bswap32(pixel);
        std::memcpy(row + 4 * x, &pixel, 4);
    }
}

int16_t saturate16(int32_t v)
{
    return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

// Y'CbCr 4:2:0 to A, R, G, B at the same size, as swscale's accurate path
// converts (chroma sited at the centre of each 2x2 block and brought up by
// its bicubic, B = 0 and C = 0.6) but at about the speed of its default
// path, which only repeats chroma: the threshold sees the picture's real
// edges. Fixed point; chroma carries 6 fraction bits. The vector path takes
// 16 pixels at a time with the same arithmetic as the plain one.
class Yuv420ToArgb {
public:
    // coefficients: swscale's for the matrix (Cr to R, Cb to B, Cb and Cr to
    // G, in 16.16, for limited-range chroma).
    void convert(const Picture& in, const int coefficients[4], bool fullRange, uint8_t* dst, int rowBytes,
                 ConvertPath path)
    {
        setMatrix(coefficients, fullRange);
        const int width = in.width, height = in.height;
        const int chromaW = (width + 1) / 2, chromaH = (height + 1) / 2;
        // Two repeated samples before the row; after it, room for whole blocks read past its end.
        cb_.resize(static_cast<size_t>((chromaW + 7) / 8) * 8 + 16);
        cr_.resize(cb_.size());
#if defined(__SSE2__)
        const bool vector = path != ConvertPath::Plain;
#else
        const bool vector = false;
        (void)path;
#endif
        for (int y = 0; y < height; ++y) {
            // Luma row 2i sits a quarter of a chroma row above chroma row i, 2i+1 a quarter below.
            const int top = (y & 1) ? y / 2 - 1 : y / 2 - 2;
            const int16_t* w = (y & 1) ? kOdd : kEven;
            ptrdiff_t rows[4];
            for (int k = 0; k < 4; ++k)
                rows[k] = std::clamp(top + k, 0, chromaH - 1);
            filterRows(in.planes[1], in.strides[1], rows, w, chromaW, cb_, vector);
            filterRows(in.planes[2], in.strides[2], rows, w, chromaW, cr_, vector);
            const uint8_t* luma = in.planes[0] + static_cast<ptrdiff_t>(y) * in.strides[0];
            uint8_t* out = dst + static_cast<ptrdiff_t>(y) * rowBytes;
            int x = 0;
#if defined(__SSE2__)
            if (vector) {
                for (; x + 16 <= width; x += 16)
                    block(luma + x, cb_.data() + x / 2, cr_.data() + x / 2, out + 4 * x);
                if (x < width) { // the same arithmetic on a copy of the rest
                    uint8_t lumaRest[16] = {}, outRest[64];
                    std::memcpy(lumaRest, luma + x, static_cast<size_t>(width - x));
                    block(lumaRest, cb_.data() + x / 2, cr_.data() + x / 2, outRest);
                    std::memcpy(out + 4 * x, outRest, static_cast<size_t>(width - x) * 4);
                }
                continue;
            }
#endif
            for (; x < width; ++x)
                plainPixel(luma[x], x, out + 4 * x);
        }
    }

private:
    // The bicubic at a quarter and three quarters of a sample, to 12 bits.
    static constexpr int16_t kEven[4] = {-115, 986, 3571, -346};
    static constexpr int16_t kOdd[4] = {-346, 3571, 986, -115};
    static constexpr int kBias = 32 - (128 << 12);

    // Each colour is (4 Y * luma + chroma terms + offset) >> 16.
    void setMatrix(const int coefficients[4], bool fullRange)
    {
        const double chroma = (fullRange ? 224.0 / 255.0 : 1.0) / 64.0;
        const double luma = fullRange ? 1.0 : 255.0 / 219.0;
        const auto term = [&](int c) { return static_cast<int16_t>(std::lround(c * chroma)); };
        luma_ = static_cast<int16_t>(std::lround(luma * (1 << 14)));
        crToR_ = term(coefficients[0]);
        cbToB_ = term(coefficients[1]);
        cbToG_ = static_cast<int16_t>(-term(coefficients[2]));
        crToG_ = static_cast<int16_t>(-term(coefficients[3]));
        offset_ = static_cast<int32_t>(std::lround((fullRange ? 0.0 : -16.0 * luma) * 65536.0)) + 32768;
#if defined(__SSE2__)
        lumaCrToRv_ = interleave(luma_, crToR_);
        lumaCbToBv_ = interleave(luma_, cbToB_);
        lumaCbToGv_ = interleave(luma_, cbToG_);
        crToGv_ = interleave(crToG_, 0);
        offsetv_ = _mm_set1_epi32(offset_);
#endif
    }

    // One chroma row, less 128, from four, with its ends repeated.
    static void filterRows(const uint8_t* plane, int stride, const ptrdiff_t rows[4], const int16_t* w, int chromaW,
                           std::vector<int16_t>& padded, bool vector)
    {
        const uint8_t* r[4];
        for (int k = 0; k < 4; ++k)
            r[k] = plane + rows[k] * stride;
        int16_t* out = padded.data() + 2;
        int x = 0;
#if defined(__SSE2__)
        if (vector) {
            const __m128i w01 = pairs(w, 0), w23 = pairs(w, 2);
            const __m128i bias = _mm_set1_epi32(kBias), zero = _mm_setzero_si128();
            const auto load = [&](int k, int at) {
                return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r[k] + at)), zero);
            };
            for (; x + 8 <= chromaW; x += 8) {
                const __m128i a = load(0, x), b = load(1, x), c = load(2, x), d = load(3, x);
                const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), w01),
                                                 _mm_madd_epi16(_mm_unpacklo_epi16(c, d), w23));
                const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), w01),
                                                 _mm_madd_epi16(_mm_unpackhi_epi16(c, d), w23));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                                 _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, bias), 6),
                                                 _mm_srai_epi32(_mm_add_epi32(hi, bias), 6)));
            }
        }
#else
        (void)vector;
#endif
        for (; x < chromaW; ++x)
            out[x] = saturate16((w[0] * r[0][x] + w[1] * r[1][x] + w[2] * r[2][x] + w[3] * r[3][x] + kBias) >> 6);
        out[-2] = out[-1] = out[0];
        std::fill(out + chromaW, padded.data() + padded.size(), out[chromaW - 1]);
    }

    // Pixel x's chroma from a padded row: even pixels from the samples two
    // before to one after theirs, odd ones one before to two after.
    static int16_t chromaAt(const std::vector<int16_t>& padded, int x)
    {
        const int16_t* c = padded.data() + x / 2 + (x & 1);
        const int16_t* w = (x & 1) ? kOdd : kEven;
        return saturate16((c[0] * w[0] + c[1] * w[1] + c[2] * w[2] + c[3] * w[3] + (1 << 11)) >> 12);
    }

    void plainPixel(uint8_t y, int x, uint8_t* out) const
    {
        const int32_t u = chromaAt(cb_, x), v = chromaAt(cr_, x);
        const int32_t l = (y << 2) * luma_ + offset_;
        const auto channel = [](int32_t sum) { return static_cast<uint8_t>(std::clamp<int32_t>(saturate16(sum >> 16), 0, 255)); };
        out[0] = 255;
        out[1] = channel(l + v * crToR_);
        out[2] = channel(l + u * cbToG_ + v * crToG_);
        out[3] = channel(l + u * cbToB_);
    }

#if defined(__SSE2__)
    static __m128i interleave(int16_t a, int16_t b) { return _mm_setr_epi16(a, b, a, b, a, b, a, b); }

    static __m128i pairs(const int16_t w[4], int first) { return interleave(w[first], w[first + 1]); }

    // Eight chroma samples of a padded row (from two before the first) to sixteen.
    void upsample(const int16_t* c, __m128i& first, __m128i& second) const
    {
        const __m128i round = _mm_set1_epi32(1 << 11);
        __m128i p[5];
        for (int k = 0; k < 5; ++k)
            p[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + k));
        const auto taps = [&](__m128i (*unpack)(__m128i, __m128i), int from, __m128i w01, __m128i w23) {
            const __m128i sum = _mm_add_epi32(_mm_madd_epi16(unpack(p[from], p[from + 1]), w01),
                                              _mm_madd_epi16(unpack(p[from + 2], p[from + 3]), w23));
            return _mm_srai_epi32(_mm_add_epi32(sum, round), 12);
        };
        const __m128i even = _mm_packs_epi32(taps(_mm_unpacklo_epi16, 0, even01_, even23_),
                                             taps(_mm_unpackhi_epi16, 0, even01_, even23_));
        const __m128i odd = _mm_packs_epi32(taps(_mm_unpacklo_epi16, 1, odd01_, odd23_),
                                            taps(_mm_unpackhi_epi16, 1, odd01_, odd23_));
        first = _mm_unpacklo_epi16(even, odd);
        second = _mm_unpackhi_epi16(even, odd);
    }

    // One colour of eight pixels, from 4 Y and one or two chroma terms.
    __m128i colour(__m128i luma4, __m128i c, __m128i lumaC, const __m128i* other = nullptr) const
    {
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(luma4, c), lumaC);
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(luma4, c), lumaC);
        if (other) {
            const __m128i zero = _mm_setzero_si128();
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(*other, zero), crToGv_));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(*other, zero), crToGv_));
        }
        return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, offsetv_), 16),
                               _mm_srai_epi32(_mm_add_epi32(hi, offsetv_), 16));
    }

    // Sixteen pixels: sixteen luma samples, eight chroma of each padded row.
    void block(const uint8_t* luma, const int16_t* cb, const int16_t* cr, uint8_t* out) const
    {
        __m128i u[2], v[2];
        upsample(cb, u[0], u[1]);
        upsample(cr, v[0], v[1]);
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma)), zero = _mm_setzero_si128();
        const __m128i y[2] = {_mm_slli_epi16(_mm_unpacklo_epi8(bytes, zero), 2),
                              _mm_slli_epi16(_mm_unpackhi_epi8(bytes, zero), 2)};
        __m128i r[2], g[2], b[2];
        for (int h = 0; h < 2; ++h) {
            r[h] = colour(y[h], v[h], lumaCrToRv_);
            g[h] = colour(y[h], u[h], lumaCbToGv_, &v[h]);
            b[h] = colour(y[h], u[h], lumaCbToBv_);
        }
        const __m128i R = _mm_packus_epi16(r[0], r[1]), G = _mm_packus_epi16(g[0], g[1]);
        const __m128i B = _mm_packus_epi16(b[0], b[1]), A = _mm_set1_epi8(-1);
        const __m128i ar[2] = {_mm_unpacklo_epi8(A, R), _mm_unpackhi_epi8(A, R)};
        const __m128i gb[2] = {_mm_unpacklo_epi8(G, B), _mm_unpackhi_epi8(G, B)};
        auto* to = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(ar[0], gb[0]));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(ar[0], gb[0]));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(ar[1], gb[1]));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(ar[1], gb[1]));
    }

    const __m128i even01_ = pairs(kEven, 0), even23_ = pairs(kEven, 2), odd01_ = pairs(kOdd, 0),
                  odd23_ = pairs(kOdd, 2);
    __m128i lumaCrToRv_{}, lumaCbToBv_{}, lumaCbToGv_{}, crToGv_{}, offsetv_{};
#endif

    std::vector<int16_t> cb_, cr_;
    int16_t luma_ = 0, crToR_ = 0, cbToB_ = 0, cbToG_ = 0, crToG_ = 0;
    int32_t offset_ = 0;
};

}  // namespace

struct ToArgb::Impl {
    struct Key {
        int srcW = 0, srcH = 0;
        AVPixelFormat srcFmt = AV_PIX_FMT_NONE;
        int dstW = 0, dstH = 0, flags = 0;
        int matrix = SWS_CS_DEFAULT;
        bool fullRange = false;
        bool operator==(const Key&) const = default;
    };
    SwsPtr context;
    Key key;
    Yuv420ToArgb yuv420;
};

ToArgb::ToArgb() : impl_(std::make_unique<Impl>()) {}
ToArgb::~ToArgb() = default;

bool ToArgb::convert(const Picture& in, int dstW, int dstH, bool highQuality, uint8_t* dst, int rowBytes,
                     std::string& error)
{
    AVPixelFormat srcFmt = in.format;
    bool fullRange = in.range == AVCOL_RANGE_JPEG;
    switch (srcFmt) { // the old full-range formats make swscale complain
    case AV_PIX_FMT_YUVJ420P: srcFmt = AV_PIX_FMT_YUV420P, fullRange = true; break;
    case AV_PIX_FMT_YUVJ422P: srcFmt = AV_PIX_FMT_YUV422P, fullRange = true; break;
    case AV_PIX_FMT_YUVJ444P: srcFmt = AV_PIX_FMT_YUV444P, fullRange = true; break;
    case AV_PIX_FMT_YUVJ440P: srcFmt = AV_PIX_FMT_YUV440P, fullRange = true; break;
    default: break;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(srcFmt);
    if (!desc) {
        error = "unknown pixel format";
        return false;
    }
    const bool yuv = !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
    // Bicubic without accurate rounding or full chroma interpolation: the
    // flags that keep swscale on its SIMD paths, as ffmpeg's own default.
    int flags = SWS_FAST_BILINEAR;
    if (highQuality)
        flags = (dstW < in.width && dstH < in.height) ? SWS_AREA : SWS_BICUBIC;
    const int matrix = yuv ? swsMatrix(in.colorSpace, in.width, in.height) : SWS_CS_DEFAULT;
    Impl& s = *impl_;
    if (srcFmt == AV_PIX_FMT_YUV420P && dstW == in.width && dstH == in.height) {
        s.yuv420.convert(in, sws_getCoefficients(matrix), fullRange, dst, rowBytes, currentConvertPath());
        return true;
    }
    const Impl::Key key{in.width, in.height, srcFmt, dstW, dstH, flags, matrix, fullRange};
    // swscale has SIMD code from YUV to B, G, R, A but not to A, R, G, B.
    const AVPixelFormat target = yuv ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
    if (!s.context || !(key == s.key)) {
        s.context.reset(sws_getContext(in.width, in.height, srcFmt, dstW, dstH, target, flags, nullptr, nullptr,
                                       nullptr));
        if (!s.context) {
            error = "cannot convert " + std::string(desc->name) + " " + std::to_string(in.width) + "x" +
                    std::to_string(in.height) + " to ARGB " + std::to_string(dstW) + "x" + std::to_string(dstH);
            return false;
        }
        if (yuv)
            sws_setColorspaceDetails(s.context.get(), sws_getCoefficients(matrix), fullRange ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        s.key = key;
    }
    uint8_t* const dstPlanes[4] = {dst, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {rowBytes, 0, 0, 0};
    if (sws_scale(s.context.get(), in.planes, in.strides, 0, in.height, dstPlanes, dstStrides) <= 0) {
        error = "scaling failed";
        return false;
    }
    if (target != AV_PIX_FMT_ARGB)
        for (int y = 0; y < dstH; ++y)
            reverseBytes(dst + static_cast<std::ptrdiff_t>(y) * rowBytes, dstW);
    if (desc->flags & AV_PIX_FMT_FLAG_ALPHA) { // the host's frames are opaque
        for (int y = 0; y < dstH; ++y) {
            uint8_t* p = dst + static_cast<std::ptrdiff_t>(y) * rowBytes;
            for (int x = 0; x < dstW; ++x)
                p[4 * x] = 255;
        }
    }
    return true;
}

namespace {

// A, R, G, B frames to limited-range Y'CbCr 4:2:0 with the BT.709 or BT.601
// matrix, rounded once. Chroma is sited at the centre of each 2x2 block, as
// FFmpeg's converters read it: each pair of pixels is averaged across, then
// eight rows are filtered down with the bicubic that swscale uses, whose
// short support keeps hard edges (what the effect draws) free of ringing.
class ArgbToYuv420 {
public:
    void open(int width, bool bt709)
    {
        const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114, kg = 1.0 - kr - kb;
        const double luma = 219.0 / 255.0, chroma = 224.0 / 255.0;
        y_[0] = static_cast<int32_t>(std::lround(kr * luma * (1 << kLumaBits)));
        y_[1] = static_cast<int32_t>(std::lround(kg * luma * (1 << kLumaBits)));
        y_[2] = static_cast<int32_t>(std::lround(kb * luma * (1 << kLumaBits)));
        // Cb = (B - Y) / (2 (1 - kb)), Cr = (R - Y) / (2 (1 - kr)), on sums of two pixels.
        const double cb = chroma / (2.0 * (1.0 - kb)) / 2.0, cr = chroma / (2.0 * (1.0 - kr)) / 2.0;
        u_[0] = float(-kr * cb), u_[1] = float(-kg * cb), u_[2] = float((1.0 - kb) * cb);
        v_[0] = float((1.0 - kr) * cr), v_[1] = float(-kg * cr), v_[2] = float(-kb * cr);
        // Eight rows of pair sums, then the filtered row.
        pairs_.assign(static_cast<size_t>(kTaps + 1) * 3 * (width / 2), 0.0f);
    }

    // Even width and height, as the encoder needs. On x86-64 the same loops
    // are built twice: wider vectors where the CPU has AVX2, the same results.
    // (A dispatch of our own: ifunc resolvers crash under ThreadSanitizer.)
    void convert(const uint8_t* argb, int rowBytes, int width, int height, AVFrame* out, ConvertPath path)
    {
#if defined(__x86_64__)
        if (path == ConvertPath::AVX2)
            return convertAvx2(argb, rowBytes, width, height, out);
#else
        (void)path;
#endif
        convertRows(argb, rowBytes, width, height, out);
    }

private:
#if defined(__x86_64__)
    __attribute__((target("avx2"))) void convertAvx2(const uint8_t* argb, int rowBytes, int width, int height,
                                                      AVFrame* out)
    {
        convertRows(argb, rowBytes, width, height, out);
    }
#endif

    __attribute__((always_inline)) void convertRows(const uint8_t* argb, int rowBytes, int width, int height,
                                                    AVFrame* out)
    {
        for (int y = 0; y < height; ++y)
            lumaRow(argb + static_cast<ptrdiff_t>(y) * rowBytes, width,
                    out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0]);
        const int chromaWidth = width / 2;
        int filled = -1;
        for (int row = 0; row < height / 2; ++row) {
            const int first = 2 * row - kTaps / 2 + 1;
            for (; filled < std::min(first + kTaps - 1, height - 1); ++filled)
                pairRow(argb + static_cast<ptrdiff_t>(filled + 1) * rowBytes, chromaWidth, pairs(filled + 1));
            const float* t[kTaps];
            for (int k = 0; k < kTaps; ++k)
                t[k] = pairs(std::clamp(first + k, 0, height - 1));
            float* sums = pairs_.data() + pairs_.size() - 3 * static_cast<size_t>(chromaWidth);
            for (int x = 0; x < 3 * chromaWidth; ++x)
                sums[x] = kWeights[0] * t[0][x] + kWeights[1] * t[1][x] + kWeights[2] * t[2][x] +
                          kWeights[3] * t[3][x] + kWeights[4] * t[4][x] + kWeights[5] * t[5][x] +
                          kWeights[6] * t[6][x] + kWeights[7] * t[7][x];
            const float* r = sums;
            const float* g = sums + chromaWidth;
            const float* b = sums + 2 * chromaWidth;
            uint8_t* cbRow = out->data[1] + static_cast<ptrdiff_t>(row) * out->linesize[1];
            uint8_t* crRow = out->data[2] + static_cast<ptrdiff_t>(row) * out->linesize[2];
            for (int x = 0; x < chromaWidth; ++x) {
                cbRow[x] = clip(128.5f + u_[0] * r[x] + u_[1] * g[x] + u_[2] * b[x]);
                crRow[x] = clip(128.5f + v_[0] * r[x] + v_[1] * g[x] + v_[2] * b[x]);
            }
        }
    }

    static constexpr int kLumaBits = 16;
    static constexpr int kTaps = 8;
    // Bicubic (B = 0, C = 0.6) halving, at 1/4, 3/4, 5/4 and 7/4 of a chroma row.
    static constexpr float kWeights[kTaps] = {-0.0140625f, -0.0421875f, 0.1203125f, 0.4359375f,
                                              0.4359375f,  0.1203125f,  -0.0421875f, -0.0140625f};

    static uint8_t clip(float value) { return static_cast<uint8_t>(std::clamp(value, 0.0f, 255.0f)); }

    float* pairs(int row)
    {
        return pairs_.data() + static_cast<size_t>(row % kTaps) * (pairs_.size() / (kTaps + 1));
    }

    __attribute__((always_inline)) void lumaRow(const uint8_t* in, int width, uint8_t* out) const
    {
        constexpr int32_t offset = (16 << kLumaBits) + (1 << (kLumaBits - 1));
        for (int x = 0; x < width; ++x, in += 4)
            out[x] = static_cast<uint8_t>((y_[0] * in[1] + y_[1] * in[2] + y_[2] * in[3] + offset) >> kLumaBits);
    }

    // Red, green and blue sums of each pair of pixels, one plane after another.
    __attribute__((always_inline)) static void pairRow(const uint8_t* in, int chromaWidth, float* out)
    {
        for (int x = 0; x < chromaWidth; ++x, in += 8) {
            out[x] = float(in[1] + in[5]);
            out[chromaWidth + x] = float(in[2] + in[6]);
            out[2 * chromaWidth + x] = float(in[3] + in[7]);
        }
    }

    int32_t y_[3] = {};
    float u_[3] = {};
    float v_[3] = {};
    std::vector<float> pairs_;
};

}  // namespace

struct FromArgb::Impl {
    int width = 0, height = 0;
    bool ours = false;
    ArgbToYuv420 yuv420;
    SwsPtr context;
};

FromArgb::FromArgb() : impl_(std::make_unique<Impl>()) {}
FromArgb::~FromArgb() = default;

bool FromArgb::open(int width, int height, AVPixelFormat format, AVColorSpace space, AVColorRange range,
                    std::string& error)
{
    Impl& s = *impl_;
    s.width = width;
    s.height = height;
    const bool bt709 = space == AVCOL_SPC_BT709;
    s.ours = format == AV_PIX_FMT_YUV420P && range != AVCOL_RANGE_JPEG &&
             (bt709 || space == AVCOL_SPC_BT470BG || space == AVCOL_SPC_SMPTE170M) && width % 2 == 0 &&
             height % 2 == 0;
    if (s.ours) {
        s.yuv420.open(width, bt709);
        return true;
    }
    // The alpha byte is left out: the effect may leave it at 0.
    s.context.reset(sws_getContext(width, height, AV_PIX_FMT_0RGB, width, height, format,
                                   SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr));
    if (!s.context) {
        error = std::string("cannot convert to ") + av_get_pix_fmt_name(format);
        return false;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
        const int matrix = swsMatrix(space, width, height);
        sws_setColorspaceDetails(s.context.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(matrix), range == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16,
                                 1 << 16);
    }
    return true;
}

void FromArgb::convert(const uint8_t* argb, int rowBytes, AVFrame* out)
{
    Impl& s = *impl_;
    if (s.ours) {
        s.yuv420.convert(argb, rowBytes, s.width, s.height, out, currentConvertPath());
        return;
    }
    const uint8_t* const planes[4] = {argb, nullptr, nullptr, nullptr};
    const int strides[4] = {rowBytes, 0, 0, 0};
    sws_scale(s.context.get(), planes, strides, 0, s.height, out->data, out->linesize);
}

void turnArgb(const uint8_t* src, int srcRowBytes, int width, int height, int quarterTurns, bool flip, uint8_t* dst,
              int dstRowBytes)
{
    quarterTurns &= 3;
    const int outW = (quarterTurns & 1) ? height : width;
    const int outH = (quarterTurns & 1) ? width : height;
    for (int y = 0; y < outH; ++y) {
        uint32_t* out = reinterpret_cast<uint32_t*>(dst + static_cast<ptrdiff_t>(y) * dstRowBytes);
        for (int x = 0; x < outW; ++x) {
            // The output pixel (x, y) comes from source (sx, sy) of the flipped picture.
            int sx = x, sy = y;
            switch (quarterTurns) {
            case 1: sx = y, sy = height - 1 - x; break;
            case 2: sx = width - 1 - x, sy = height - 1 - y; break;
            case 3: sx = width - 1 - y, sy = x; break;
            default: break;
            }
            if (flip)
                sx = width - 1 - sx;
            std::memcpy(out + x, src + static_cast<ptrdiff_t>(sy) * srcRowBytes + 4 * sx, 4);
        }
    }
}

}  // namespace brimtone::host
