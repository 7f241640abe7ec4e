#include "Convert.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <immintrin.h>
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

namespace {

constexpr ConvertPath kAllPaths[] = {ConvertPath::Plain, ConvertPath::SSE2, ConvertPath::AVX2};

std::optional<ConvertPath> namedPath(const char* name)
{
    for (ConvertPath path : kAllPaths)
        if (name && std::strcmp(name, convertPathName(path)) == 0)
            return path;
    return std::nullopt;
}

}  // namespace

ConvertPath chooseConvertPath(const char* limit)
{
    const ConvertPath ceiling = namedPath(limit).value_or(ConvertPath::AVX2);
    for (ConvertPath path : {ConvertPath::AVX2, ConvertPath::SSE2, ConvertPath::Plain})
        if (path <= ceiling && convertPathAvailable(path))
            return path;
    return ConvertPath::Plain;
}

std::string convertPathWarning(const char* limit)
{
    if (!limit || namedPath(limit))
        return {};
    return std::string("BRIMTONE_CONVERT_PATH=") + limit + " is not plain, sse2 or avx2; the conversions take " +
           convertPathName(chooseConvertPath(nullptr));
}

namespace {

// The one dispatch point, chosen when the first picture is converted.
std::atomic<ConvertPath>& activePath()
{
    static std::atomic<ConvertPath> path{[] {
        const char* limit = std::getenv("BRIMTONE_CONVERT_PATH");
        if (const std::string warning = convertPathWarning(limit); !warning.empty())
            std::fprintf(stderr, "brimtone: %s\n", warning.c_str());
        return chooseConvertPath(limit);
    }()};
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

// The planar Y'CbCr layouts our loops take; everything else goes through swscale.
struct YuvLayout {
    int bits = 8;  // 8 or 10, each sample in a byte or in 16 bits
    bool halfWidth = true, halfHeight = true;
};

std::optional<YuvLayout> loopLayout(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_YUV420P: return YuvLayout{8, true, true};
    case AV_PIX_FMT_YUV422P: return YuvLayout{8, true, false};
    case AV_PIX_FMT_YUV444P: return YuvLayout{8, false, false};
    case AV_PIX_FMT_YUV420P10: return YuvLayout{10, true, true};
    case AV_PIX_FMT_YUV422P10: return YuvLayout{10, true, false};
    case AV_PIX_FMT_YUV444P10: return YuvLayout{10, false, false};
    default: return std::nullopt;
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

// ---- What the plain and the vector loops share

// Samples of 8 bits, or of 10 in 16 (bits above the tenth are ignored).
// Chroma less its centre carries 6 fraction bits of an 8-bit sample either way.
template <typename Sample>
struct Depth;
template <>
struct Depth<uint8_t> {
    static constexpr int kBits = 8, kMask = 0xff, kCentre = 128;
    static constexpr int kFilterShift = 6, kFilterBias = 32 - (128 << 12), kCopyShift = 6;
};
template <>
struct Depth<uint16_t> {
    static constexpr int kBits = 10, kMask = 0x3ff, kCentre = 512;
    static constexpr int kFilterShift = 8, kFilterBias = 128 - (512 << 12), kCopyShift = 4;
};

// The bicubic (B = 0, C = 0.6) at a quarter and three quarters of a sample, to 12 bits.
constexpr int16_t kEven[4] = {-115, 986, 3571, -346};
constexpr int16_t kOdd[4] = {-346, 3571, 986, -115};
// The same bicubic halving, at 1/4, 3/4, 5/4 and 7/4 of a chroma row, to 12 bits.
constexpr int16_t kDown[8] = {-58, -173, 493, 1786, 1786, 493, -173, -58};
// A row taken as it is, through the same filter.
constexpr int16_t kOne[2] = {4096, 0};

// Y'CbCr to R'G'B': each colour is (4 Y * luma + chroma terms + offset) >> 16,
// where 4 Y is the 10-bit luma and chroma has 6 fraction bits.
struct ToRgbMatrix {
    int16_t luma = 0, crToR = 0, cbToB = 0, cbToG = 0, crToG = 0;
    int32_t offset = 0;
};

// R'G'B' to Y'CbCr at the output's depth: Y = (y . RGB + yOffset) >> yShift;
// each pixel's (or pair's) Cb and Cr less the centre, (u . RGB) >> termShift,
// keep chromaBits fraction bits, filtered down with 12-bit weights and then
// centred and rounded by chromaBias.
struct FromRgbMatrix {
    int16_t y[3] = {}, u[3] = {}, v[3] = {};  // of red, green, blue
    int32_t yOffset = 0;
    int yShift = 0, termShift = 0, chromaBits = 0;
    int32_t chromaBias = 0;
    int maxValue = 255;
};

// ---- The vector loops, once per instruction set

#if defined(__SSE2__)
namespace sse2 {

struct V {
    using T = __m128i;
    static constexpr int kShorts = 8;
    static T zero() { return _mm_setzero_si128(); }
    static T set16(int16_t a) { return _mm_set1_epi16(a); }
    static T set32(int32_t a) { return _mm_set1_epi32(a); }
    static T pair16(int16_t a, int16_t b) { return _mm_setr_epi16(a, b, a, b, a, b, a, b); }
    static T load(const void* p) { return _mm_loadu_si128(static_cast<const T*>(p)); }
    static T loadShorts(const int16_t* p) { return load(p); }
    static T loadSamples(const uint8_t* p)
    {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const T*>(p)), zero());
    }
    static T loadSamples(const uint16_t* p) { return load(p); }
    // 2 kShorts samples as 16-bit values, in the order that unpacking gives.
    static void loadHalves(const uint8_t* p, T& lo, T& hi)
    {
        const T bytes = load(p);
        lo = _mm_unpacklo_epi8(bytes, zero());
        hi = _mm_unpackhi_epi8(bytes, zero());
    }
    template <typename Short>
    static void loadHalves(const Short* p, T& lo, T& hi)
    {
        lo = load(p);
        hi = load(p + kShorts);
    }
    static void store(void* p, T a) { _mm_storeu_si128(static_cast<T*>(p), a); }
    static void storeShorts(int16_t* p, T a) { store(p, a); }
    // Sixteen A, R, G, B pixels, four in each of q0 .. q3.
    static void storePixels(uint8_t* out, T q0, T q1, T q2, T q3)
    {
        store(out, q0);
        store(out + 16, q1);
        store(out + 32, q2);
        store(out + 48, q3);
    }
    static T add32(T a, T b) { return _mm_add_epi32(a, b); }
    static T sub16(T a, T b) { return _mm_sub_epi16(a, b); }
    static T and_(T a, T b) { return _mm_and_si128(a, b); }
    static T slli16(T a, int n) { return _mm_slli_epi16(a, n); }
    static T srli32(T a, int n) { return _mm_srli_epi32(a, n); }
    static T srai32(T a, int n) { return _mm_srai_epi32(a, n); }
    static T madd(T a, T b) { return _mm_madd_epi16(a, b); }
    static T packs32(T a, T b) { return _mm_packs_epi32(a, b); }
    static T packus16(T a, T b) { return _mm_packus_epi16(a, b); }
    static T unpacklo8(T a, T b) { return _mm_unpacklo_epi8(a, b); }
    static T unpackhi8(T a, T b) { return _mm_unpackhi_epi8(a, b); }
    static T unpacklo16(T a, T b) { return _mm_unpacklo_epi16(a, b); }
    static T unpackhi16(T a, T b) { return _mm_unpackhi_epi16(a, b); }
    static T clamp16(T a, T top) { return _mm_min_epi16(_mm_max_epi16(a, zero()), top); }
    // Packing within lanes keeps the order at this width.
    static T fixPairs(T a) { return a; }
    static T fixQuads(T a) { return a; }
};

struct Loops {
#include "ConvertVector.inc"
};

}  // namespace sse2
#endif

#if defined(__x86_64__)
// Built for AVX2 whatever the compiler's target; run only where the CPU has it.
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {

struct V {
    using T = __m256i;
    static constexpr int kShorts = 16;
    static T zero() { return _mm256_setzero_si256(); }
    static T set16(int16_t a) { return _mm256_set1_epi16(a); }
    static T set32(int32_t a) { return _mm256_set1_epi32(a); }
    static T pair16(int16_t a, int16_t b)
    {
        return _mm256_set1_epi32(static_cast<int32_t>(uint32_t(uint16_t(a)) | uint32_t(uint16_t(b)) << 16));
    }
    static T load(const void* p) { return _mm256_loadu_si256(static_cast<const T*>(p)); }
    static T loadShorts(const int16_t* p) { return load(p); }
    static T loadSamples(const uint8_t* p)
    {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static T loadSamples(const uint16_t* p) { return load(p); }
    // Unpacking works within each 128-bit lane: the first half holds
    // elements 0-7 and 16-23, the second 8-15 and 24-31.
    static void loadHalves(const uint8_t* p, T& lo, T& hi)
    {
        const T bytes = load(p);
        lo = _mm256_unpacklo_epi8(bytes, zero());
        hi = _mm256_unpackhi_epi8(bytes, zero());
    }
    template <typename Short>
    static void loadHalves(const Short* p, T& lo, T& hi)
    {
        const T a = load(p), b = load(p + kShorts);
        lo = _mm256_permute2x128_si256(a, b, 0x20);
        hi = _mm256_permute2x128_si256(a, b, 0x31);
    }
    static void store(void* p, T a) { _mm256_storeu_si256(static_cast<T*>(p), a); }
    static void storeShorts(int16_t* p, T a) { store(p, a); }
    // q0 holds pixels 0-3 and 16-19, q1 4-7 and 20-23, q2 8-11 and 24-27, q3 12-15 and 28-31.
    static void storePixels(uint8_t* out, T q0, T q1, T q2, T q3)
    {
        store(out, _mm256_permute2x128_si256(q0, q1, 0x20));
        store(out + 32, _mm256_permute2x128_si256(q2, q3, 0x20));
        store(out + 64, _mm256_permute2x128_si256(q0, q1, 0x31));
        store(out + 96, _mm256_permute2x128_si256(q2, q3, 0x31));
    }
    static T add32(T a, T b) { return _mm256_add_epi32(a, b); }
    static T sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
    static T and_(T a, T b) { return _mm256_and_si256(a, b); }
    static T slli16(T a, int n) { return _mm256_slli_epi16(a, n); }
    static T srli32(T a, int n) { return _mm256_srli_epi32(a, n); }
    static T srai32(T a, int n) { return _mm256_srai_epi32(a, n); }
    static T madd(T a, T b) { return _mm256_madd_epi16(a, b); }
    static T packs32(T a, T b) { return _mm256_packs_epi32(a, b); }
    static T packus16(T a, T b) { return _mm256_packus_epi16(a, b); }
    static T unpacklo8(T a, T b) { return _mm256_unpacklo_epi8(a, b); }
    static T unpackhi8(T a, T b) { return _mm256_unpackhi_epi8(a, b); }
    static T unpacklo16(T a, T b) { return _mm256_unpacklo_epi16(a, b); }
    static T unpackhi16(T a, T b) { return _mm256_unpackhi_epi16(a, b); }
    static T clamp16(T a, T top) { return _mm256_min_epi16(_mm256_max_epi16(a, zero()), top); }
    // After one packing of two registers in order, their 64-bit quarters
    // come as 0, 2, 1, 3; after two, their 32-bit eighths as 0, 2, 4, 6, 1, 3, 5, 7.
    static T fixPairs(T a) { return _mm256_permute4x64_epi64(a, 0xd8); }
    static T fixQuads(T a) { return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)); }
};

struct Loops {
#include "ConvertVector.inc"
};

}  // namespace avx2
#pragma GCC pop_options
#endif

// Runs a loop of the chosen vector path from x on, then of the narrower
// ones on what it left; the caller's plain loop finishes the row.
template <typename Call>
int vectorPart(ConvertPath path, int x, Call call)
{
#if defined(__x86_64__)
    if (path == ConvertPath::AVX2)
        x = call(avx2::Loops{}, x);
#endif
#if defined(__SSE2__)
    if (path != ConvertPath::Plain)
        x = call(sse2::Loops{}, x);
#else
    (void)path;
    (void)call;
#endif
    return x;
}

// ---- Y'CbCr to A, R, G, B

// Y'CbCr planes to A, R, G, B at the same size, as swscale's accurate path
// converts (chroma sited at the centre of each 2x2 block and brought up by
// its bicubic) but at about the speed of its default path, which only
// repeats chroma: the threshold sees the picture's real edges. Fixed point;
// the vector paths do the plain loops' arithmetic.
class YuvToArgb {
public:
    // coefficients: swscale's for the matrix (Cr to R, Cb to B, Cb and Cr to
    // G, in 16.16, for limited-range chroma).
    void convert(const Picture& in, const YuvLayout& layout, const int coefficients[4], bool fullRange, uint8_t* dst,
                 int rowBytes, ConvertPath path)
    {
        setMatrix(coefficients, fullRange, layout.bits);
        if (layout.bits == 8)
            rows<uint8_t>(in, layout, dst, rowBytes, path);
        else
            rows<uint16_t>(in, layout, dst, rowBytes, path);
    }

private:
    void setMatrix(const int coefficients[4], bool fullRange, int bits)
    {
        // Full-range samples of more bits span 2^n - 1 steps, not 255 * 2^(n-8).
        const double deep = fullRange && bits > 8 ? 255.0 * (1 << (bits - 8)) / ((1 << bits) - 1) : 1.0;
        const double chroma = (fullRange ? 224.0 / 255.0 : 1.0) * deep / 64.0;
        const double luma = (fullRange ? 1.0 : 255.0 / 219.0) * deep;
        const auto term = [&](int c) { return static_cast<int16_t>(std::lround(c * chroma)); };
        m_.luma = static_cast<int16_t>(std::lround(luma * (1 << 14)));
        m_.crToR = term(coefficients[0]);
        m_.cbToB = term(coefficients[1]);
        m_.cbToG = static_cast<int16_t>(-term(coefficients[2]));
        m_.crToG = static_cast<int16_t>(-term(coefficients[3]));
        m_.offset = static_cast<int32_t>(std::lround((fullRange ? 0.0 : -16.0 * luma) * 65536.0)) + 32768;
    }

    template <typename Sample>
    static const Sample* row(const Picture& in, int plane, int y)
    {
        return reinterpret_cast<const Sample*>(in.planes[plane] + static_cast<ptrdiff_t>(y) * in.strides[plane]);
    }

    template <typename Sample>
    void rows(const Picture& in, const YuvLayout& layout, uint8_t* dst, int rowBytes, ConvertPath path)
    {
        if (layout.halfWidth && layout.halfHeight)
            rows<Sample, true, true>(in, dst, rowBytes, path);
        else if (layout.halfWidth)
            rows<Sample, true, false>(in, dst, rowBytes, path);
        else
            rows<Sample, false, false>(in, dst, rowBytes, path);
    }

    template <typename Sample, bool kHalfWidth, bool kHalfHeight>
    void rows(const Picture& in, uint8_t* dst, int rowBytes, ConvertPath path)
    {
        using D = Depth<Sample>;
        const int width = in.width, height = in.height;
        const int chromaW = kHalfWidth ? (width + 1) / 2 : width, chromaH = kHalfHeight ? (height + 1) / 2 : height;
        // Two repeated samples before the row; after it, room for whole blocks read past its end.
        cb_.resize(static_cast<size_t>(chromaW) + 48);
        cr_.resize(cb_.size());
        int16_t* const cb = cb_.data() + 2;
        int16_t* const cr = cr_.data() + 2;
        for (int y = 0; y < height; ++y) {
            if constexpr (kHalfHeight) {
                // Luma row 2i sits a quarter of a chroma row above chroma row i, 2i+1 a quarter below.
                const int top = (y & 1) ? y / 2 - 1 : y / 2 - 2;
                const int16_t* w = (y & 1) ? kOdd : kEven;
                const Sample *u[4], *v[4];
                for (int k = 0; k < 4; ++k) {
                    u[k] = row<Sample>(in, 1, std::clamp(top + k, 0, chromaH - 1));
                    v[k] = row<Sample>(in, 2, std::clamp(top + k, 0, chromaH - 1));
                }
                filtered(u, w, chromaW, cb, path);
                filtered(v, w, chromaW, cr, path);
            } else {
                copied(row<Sample>(in, 1, y), chromaW, cb, path);
                copied(row<Sample>(in, 2, y), chromaW, cr, path);
            }
            for (int16_t* c : {cb, cr}) {
                c[-2] = c[-1] = c[0];
                std::fill(c + chromaW, c - 2 + cb_.size(), c[chromaW - 1]);
            }
            const Sample* luma = row<Sample>(in, 0, y);
            uint8_t* out = dst + static_cast<ptrdiff_t>(y) * rowBytes;
            int x = vectorPart(path, 0, [&](auto loops, int from) {
                return decltype(loops)::template pixels<Sample, kHalfWidth>(luma, cb_.data(), cr_.data(), m_, from,
                                                                            width, out);
            });
            for (; x < width; ++x) {
                const int32_t u = kHalfWidth ? chromaAt(cb_.data(), x) : cb[x];
                const int32_t v = kHalfWidth ? chromaAt(cr_.data(), x) : cr[x];
                const int32_t l = (D::kBits == 8 ? luma[x] << 2 : luma[x] & D::kMask) * m_.luma + m_.offset;
                const auto channel = [](int32_t sum) {
                    return static_cast<uint8_t>(std::clamp<int32_t>(saturate16(sum >> 16), 0, 255));
                };
                out[4 * x] = 255;
                out[4 * x + 1] = channel(l + v * m_.crToR);
                out[4 * x + 2] = channel(l + u * m_.cbToG + v * m_.crToG);
                out[4 * x + 3] = channel(l + u * m_.cbToB);
            }
        }
    }

    // One chroma row, less its centre, with 6 fraction bits, filtered from
    // four rows with the weights w.
    template <typename Sample>
    static void filtered(const Sample* const r[4], const int16_t w[4], int count, int16_t* out, ConvertPath path)
    {
        using D = Depth<Sample>;
        int x = vectorPart(path, 0, [&](auto loops, int from) {
            return decltype(loops)::chromaFiltered(r, w, from, count, out);
        });
        for (; x < count; ++x)
            out[x] = saturate16((w[0] * (r[0][x] & D::kMask) + w[1] * (r[1][x] & D::kMask) +
                                 w[2] * (r[2][x] & D::kMask) + w[3] * (r[3][x] & D::kMask) + D::kFilterBias) >>
                                D::kFilterShift);
    }

    // One chroma row as it is, less its centre, with 6 fraction bits.
    template <typename Sample>
    static void copied(const Sample* r, int count, int16_t* out, ConvertPath path)
    {
        using D = Depth<Sample>;
        int x = vectorPart(path, 0, [&](auto loops, int from) { return decltype(loops)::chromaCopied(r, from, count, out); });
        for (; x < count; ++x)
            out[x] = static_cast<int16_t>(((r[x] & D::kMask) - D::kCentre) * (1 << D::kCopyShift));
    }

    // Pixel x's chroma from a padded row of half the width: even pixels from
    // the samples two before to one after theirs, odd ones one before to two after.
    static int16_t chromaAt(const int16_t* padded, int x)
    {
        const int16_t* c = padded + x / 2 + (x & 1);
        const int16_t* w = (x & 1) ? kOdd : kEven;
        return saturate16((c[0] * w[0] + c[1] * w[1] + c[2] * w[2] + c[3] * w[3] + (1 << 11)) >> 12);
    }

    ToRgbMatrix m_;
    std::vector<int16_t> cb_, cr_;
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
    YuvToArgb yuv;
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
    if (const auto layout = loopLayout(srcFmt); layout && dstW == in.width && dstH == in.height) {
        s.yuv.convert(in, *layout, sws_getCoefficients(matrix), fullRange, dst, rowBytes, currentConvertPath());
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

// ---- A, R, G, B to Y'CbCr

// The matrix's luma weights of red and blue.
std::optional<std::pair<double, double>> lumaWeights(AVColorSpace space)
{
    switch (space) {
    case AVCOL_SPC_BT709: return std::pair{0.2126, 0.0722};
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return std::pair{0.299, 0.114};
    case AVCOL_SPC_BT2020_NCL: return std::pair{0.2627, 0.0593};
    default: return std::nullopt;
    }
}

// A, R, G, B frames to Y'CbCr planes of 8 or 10 bits with the stream's
// matrix and range, each value rounded once from exact sums. Chroma is sited
// at the centre of each 2x2 block (or 2x1, or at each pixel), as FFmpeg's
// converters read it: each pair of pixels is averaged across, then eight rows
// are filtered down with the bicubic that swscale uses, whose short support
// keeps hard edges (what the effect draws) free of ringing. The vector paths
// do the plain loops' arithmetic.
class ArgbToYuv {
public:
    // Even width and height where chroma is halved, as the encoder needs.
    void open(int width, const YuvLayout& layout, std::pair<double, double> weights, bool fullRange)
    {
        layout_ = layout;
        setMatrix(weights, fullRange);
        const int chromaW = layout.halfWidth ? width / 2 : width;
        rowSize_ = static_cast<size_t>(chromaW) + 32;
        terms_.assign(rowSize_ * 2 * (layout.halfHeight ? kRing : 1), 0);
    }

    void convert(const uint8_t* argb, int rowBytes, int width, int height, AVFrame* out, ConvertPath path)
    {
        if (layout_.bits == 8)
            rows<uint8_t>(argb, rowBytes, width, height, out, path);
        else
            rows<uint16_t>(argb, rowBytes, width, height, out, path);
    }

private:
    static constexpr int kRing = 8;

    void setMatrix(std::pair<double, double> weights, bool fullRange)
    {
        const auto [kr, kb] = weights;
        const double kg = 1.0 - kr - kb;
        const int bits = layout_.bits, top = (1 << bits) - 1;
        // Output steps per step of an 8-bit colour.
        const double depth = fullRange ? top / 255.0 : double(1 << (bits - 8));
        const double luma = (fullRange ? 1.0 : 219.0 / 255.0) * depth;
        const double chroma = (fullRange ? 1.0 : 224.0 / 255.0) * depth * (layout_.halfWidth ? 0.5 : 1.0);
        // As many fraction bits as 16-bit weights hold.
        const auto bitsFor = [](double largest) { return int(std::floor(std::log2(32767.0 / largest))); };
        m_.yShift = bitsFor(std::max({kr, kg, kb}) * luma);
        const double lumaOne = luma * (1 << m_.yShift);
        m_.y[0] = static_cast<int16_t>(std::lround(kr * lumaOne));
        m_.y[2] = static_cast<int16_t>(std::lround(kb * lumaOne));
        m_.y[1] = static_cast<int16_t>(std::lround(lumaOne) - m_.y[0] - m_.y[2]);
        const int black = fullRange ? 0 : 16 << (bits - 8);
        m_.yOffset = (black << m_.yShift) + (1 << (m_.yShift - 1));
        // Cb = (B - Y) / (2 (1 - kb)), Cr = (R - Y) / (2 (1 - kr)); grey has none.
        const double cb = chroma / (2.0 * (1.0 - kb)), cr = chroma / (2.0 * (1.0 - kr));
        const int termBits = bitsFor(std::max((1.0 - kb) * cb, (1.0 - kr) * cr));
        const auto weight = [&](double w) { return static_cast<int16_t>(std::lround(w * (1 << termBits))); };
        m_.u[0] = weight(-kr * cb);
        m_.u[2] = weight((1.0 - kb) * cb);
        m_.u[1] = static_cast<int16_t>(-m_.u[0] - m_.u[2]);
        m_.v[0] = weight((1.0 - kr) * cr);
        m_.v[2] = weight(-kb * cr);
        m_.v[1] = static_cast<int16_t>(-m_.v[0] - m_.v[2]);
        m_.chromaBits = 15 - bits;
        m_.termShift = termBits - m_.chromaBits;
        const int centre = 128 << (bits - 8), shift = m_.chromaBits + 12;
        m_.chromaBias = (centre << shift) + (1 << (shift - 1));
        m_.maxValue = top;
    }

    template <typename Out>
    static Out* row(AVFrame* frame, int plane, int y)
    {
        return reinterpret_cast<Out*>(frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane]);
    }

    template <typename Out>
    void rows(const uint8_t* argb, int rowBytes, int width, int height, AVFrame* out, ConvertPath path)
    {
        if (layout_.halfWidth && layout_.halfHeight)
            rows<Out, true, true>(argb, rowBytes, width, height, out, path);
        else if (layout_.halfWidth)
            rows<Out, true, false>(argb, rowBytes, width, height, out, path);
        else
            rows<Out, false, false>(argb, rowBytes, width, height, out, path);
    }

    template <typename Out, bool kHalfWidth, bool kHalfHeight>
    void rows(const uint8_t* argb, int rowBytes, int width, int height, AVFrame* out, ConvertPath path)
    {
        const int chromaW = kHalfWidth ? width / 2 : width;
        // Row y's luma, and its chroma terms into ring slot `slot`.
        const auto convertRow = [&](int y, int slot) {
            lumaAndTerms<Out, kHalfWidth>(argb + static_cast<ptrdiff_t>(y) * rowBytes, width,
                                          row<Out>(out, 0, y), cbTerms(slot), crTerms(slot), path);
        };
        if constexpr (!kHalfHeight) {
            for (int y = 0; y < height; ++y) {
                convertRow(y, 0);
                for (int plane : {1, 2}) {
                    const int16_t* terms[2] = {plane == 1 ? cbTerms(0) : crTerms(0), terms[0]};
                    chromaDown<Out, 2>(terms, kOne, chromaW, row<Out>(out, plane, y), path);
                }
            }
        } else {
            int filled = -1;
            for (int y = 0; y < height / 2; ++y) {
                const int first = 2 * y - kRing / 2 + 1;
                for (; filled < std::min(first + kRing - 1, height - 1); ++filled)
                    convertRow(filled + 1, (filled + 1) % kRing);
                for (int plane : {1, 2}) {
                    const int16_t* terms[kRing];
                    for (int k = 0; k < kRing; ++k) {
                        const int slot = std::clamp(first + k, 0, height - 1) % kRing;
                        terms[k] = plane == 1 ? cbTerms(slot) : crTerms(slot);
                    }
                    chromaDown<Out, kRing>(terms, kDown, chromaW, row<Out>(out, plane, y), path);
                }
            }
        }
    }

    int16_t* cbTerms(int slot) { return terms_.data() + rowSize_ * (2 * slot); }
    int16_t* crTerms(int slot) { return terms_.data() + rowSize_ * (2 * slot + 1); }

    template <typename Out, bool kPairs>
    void lumaAndTerms(const uint8_t* in, int width, Out* luma, int16_t* cb, int16_t* cr, ConvertPath path) const
    {
        int x = vectorPart(path, 0, [&](auto loops, int from) {
            return decltype(loops)::template argbRow<Out, kPairs>(in, m_, from, width, luma, cb, cr);
        });
        for (; x < width; ++x) {
            const int r = in[4 * x + 1], g = in[4 * x + 2], b = in[4 * x + 3];
            luma[x] = static_cast<Out>(
                std::clamp((m_.y[0] * r + m_.y[1] * g + m_.y[2] * b + m_.yOffset) >> m_.yShift, 0, m_.maxValue));
            const int32_t round = 1 << (m_.termShift - 1);
            const int16_t u = saturate16((m_.u[0] * r + m_.u[1] * g + m_.u[2] * b + round) >> m_.termShift);
            const int16_t v = saturate16((m_.v[0] * r + m_.v[1] * g + m_.v[2] * b + round) >> m_.termShift);
            if (!kPairs) {
                cb[x] = u, cr[x] = v;
            } else if (x % 2 == 0) {
                cb[x / 2] = u, cr[x / 2] = v;
            } else {
                cb[x / 2] = saturate16(cb[x / 2] + u), cr[x / 2] = saturate16(cr[x / 2] + v);
            }
        }
    }

    template <typename Out, int kTaps>
    void chromaDown(const int16_t* const terms[kTaps], const int16_t w[kTaps], int count, Out* out,
                    ConvertPath path) const
    {
        int x = vectorPart(path, 0, [&](auto loops, int from) {
            return decltype(loops)::template chromaDown<Out, kTaps>(terms, w, m_, from, count, out);
        });
        for (; x < count; ++x) {
            int32_t sum = m_.chromaBias;
            for (int k = 0; k < kTaps; ++k)
                sum += w[k] * terms[k][x];
            out[x] = static_cast<Out>(std::clamp<int32_t>(saturate16(sum >> (m_.chromaBits + 12)), 0, m_.maxValue));
        }
    }

    YuvLayout layout_;
    FromRgbMatrix m_;
    size_t rowSize_ = 0;
    std::vector<int16_t> terms_;  // Cb and Cr terms of each row in the ring
};

}  // namespace

struct FromArgb::Impl {
    int width = 0, height = 0;
    bool ours = false;
    ArgbToYuv yuv;
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
    const auto layout = loopLayout(format);
    const auto weights = lumaWeights(space);
    s.ours = layout && weights && (!layout->halfWidth || width % 2 == 0) && (!layout->halfHeight || height % 2 == 0);
    if (s.ours) {
        s.yuv.open(width, *layout, *weights, range == AVCOL_RANGE_JPEG);
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
        s.yuv.convert(argb, rowBytes, s.width, s.height, out, currentConvertPath());
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
