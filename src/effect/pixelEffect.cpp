#include "effect/pixelEffect.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "graphics/CommonProcs.h"
#include "graphics/PixelLib.h"

namespace {

struct PixelBuffer {
    Ptr base = nullptr;
    SInt32 rowBytes = 0;
    Rect frame{0, 0, 0, 0};
    UInt32 state = 0;
};

bool Usable(const PixelBuffer& theBuffer, SInt32 width, SInt32 height)
{
    return theBuffer.base != nullptr && width > 0 && height > 0 &&
           static_cast<int64_t>(theBuffer.rowBytes) >= static_cast<int64_t>(width) * 4;
}

// Byte positions of red, green, blue and alpha within a pixel in memory.
struct ChannelBytes {
    int red;
    int green;
    int blue;
    int alpha;
};

constexpr ChannelBytes BytesOf(PixelOrder order)
{
    return order == PixelOrder::ARGB ? ChannelBytes{1, 2, 3, 0} : ChannelBytes{0, 1, 2, 3};
}

template <PixelOrder kOrder>
UInt32 PackPixel(const RGBColor& theColor)
{
    constexpr ChannelBytes kBytes = BytesOf(kOrder);
    UInt8 thePixel[4];
    thePixel[kBytes.alpha] = 255;
    thePixel[kBytes.red] = UInt8(theColor.red >> 8);
    thePixel[kBytes.green] = UInt8(theColor.green >> 8);
    thePixel[kBytes.blue] = UInt8(theColor.blue >> 8);
    UInt32 packed;
    std::memcpy(&packed, thePixel, sizeof packed);
    return packed;
}

// What a span of the region is painted with, prepared once per pass.
struct SpanPaint {
    SInt32 threshold;
    UInt32 fgWord;
    UInt32 bkgWord;
};

using SpanPainter = void (*)(const UInt8* src, UInt8* dst, SInt32 count, const SpanPaint& paint);

// The reference: one pixel at a time, as the effect is defined. Every other
// path must give exactly these bytes.
template <PixelOrder kOrder>
void PaintSpanPlain(const UInt8* src, UInt8* dst, SInt32 count, const SpanPaint& paint)
{
    constexpr ChannelBytes kBytes = BytesOf(kOrder);
    for (SInt32 i = 0; i < count; ++i, src += 4, dst += 4) {
        const UInt16 mixer = UInt16((src[kBytes.red] + src[kBytes.green] + src[kBytes.blue]) / 3);
        const UInt32 word = mixer < paint.threshold ? paint.fgWord : paint.bkgWord;
        std::memcpy(dst, &word, 4);
    }
}

#if defined(__x86_64__)

// The vector paths compare sums instead of means:
// (sum div 3) < threshold  <=>  sum < 3 * threshold.
// Lanes are 32-bit pixel words; byte n of a pixel is bits 8n..8n+7 of its lane.

// The 16-bit mask that keeps the colour bytes among byte positions parity and
// parity + 2 once they sit in the low halves of 16-bit lanes.
constexpr int ColourBytesMask(int alphaByte, int parity)
{
    return (alphaByte == parity ? 0 : 0xFF) | (alphaByte == parity + 2 ? 0 : 0xFF0000);
}

template <PixelOrder kOrder>
void PaintSpanSSE2(const UInt8* src, UInt8* dst, SInt32 count, const SpanPaint& paint)
{
    constexpr int kAlpha = BytesOf(kOrder).alpha;
    const __m128i evenMask = _mm_set1_epi32(ColourBytesMask(kAlpha, 0));
    const __m128i oddMask = _mm_set1_epi32(ColourBytesMask(kAlpha, 1));
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i limit = _mm_set1_epi32(3 * paint.threshold);
    const __m128i bkg = _mm_set1_epi32(SInt32(paint.bkgWord));
    const __m128i flip = _mm_set1_epi32(SInt32(paint.fgWord ^ paint.bkgWord));
    SInt32 i = 0;
#pragma GCC unroll 2
    for (; i + 4 <= count; i += 4) {
        const __m128i quad = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        // Two 16-bit halves per pixel whose sum is red + green + blue.
        const __m128i halves = _mm_add_epi16(_mm_and_si128(quad, evenMask),
                                             _mm_and_si128(_mm_srli_epi16(quad, 8), oddMask));
        const __m128i dark = _mm_cmplt_epi32(_mm_madd_epi16(halves, ones), limit);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i),
                         _mm_xor_si128(bkg, _mm_and_si128(dark, flip)));
    }
    PaintSpanPlain<kOrder>(src + 4 * i, dst + 4 * i, count - i, paint);
}

template <PixelOrder kOrder>
__attribute__((target("avx2"))) void PaintSpanAVX2(const UInt8* src, UInt8* dst, SInt32 count,
                                                   const SpanPaint& paint)
{
    // Byte weights 1 for the colours and 0 for alpha: one multiply-add gives
    // each pixel two 16-bit halves, a second one their sum.
    constexpr int kAlpha = BytesOf(kOrder).alpha;
    const __m256i weights = _mm256_set1_epi32(0x01010101 & ~(0xFF << (8 * kAlpha)));
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i limit = _mm256_set1_epi32(3 * paint.threshold);
    const __m256i bkg = _mm256_set1_epi32(SInt32(paint.bkgWord));
    const __m256i flip = _mm256_set1_epi32(SInt32(paint.fgWord ^ paint.bkgWord));
    SInt32 i = 0;
#pragma GCC unroll 2
    for (; i + 8 <= count; i += 8) {
        const __m256i eight = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        const __m256i sum = _mm256_madd_epi16(_mm256_maddubs_epi16(eight, weights), ones);
        const __m256i dark = _mm256_cmpgt_epi32(limit, sum);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i),
                            _mm256_xor_si256(bkg, _mm256_and_si256(dark, flip)));
    }
    // The rest runs legacy SSE code, which is slow on some processors with the
    // upper halves of the registers in use.
    _mm256_zeroupper();
    PaintSpanSSE2<kOrder>(src + 4 * i, dst + 4 * i, count - i, paint);
}

#endif

template <PixelOrder kOrder>
SpanPainter PainterFor(PixelPath thePath)
{
    switch (thePath) {
#if defined(__x86_64__)
    case PixelPath::AVX2:
        return PaintSpanAVX2<kOrder>;
    case PixelPath::SSE2:
        return PaintSpanSSE2<kOrder>;
#endif
    default:
        return PaintSpanPlain<kOrder>;
    }
}

constexpr PixelPath kFastestFirst[] = {PixelPath::AVX2, PixelPath::SSE2, PixelPath::Plain};

// The one dispatch point: chosen once, when the first pass runs.
std::atomic<PixelPath>& ActivePixelPath()
{
    static std::atomic<PixelPath> thePath{ChoosePixelPath(std::getenv("BRIMTONE_PIXEL_PATH"))};
    return thePath;
}

template <PixelOrder kOrder>
void PaintRows(const UInt8* source, SInt32 sourceRowBytes, UInt8* dest, SInt32 destRowBytes,
               Rect frame, Rect activeRect, Boolean copyRest, const pluginDataRec& theConfig)
{
    const SInt32 width = SInt32(frame.right) - frame.left;
    const SInt32 height = SInt32(frame.bottom) - frame.top;
    if (source == nullptr || dest == nullptr || width <= 0 || height <= 0)
        return;
    Rect region;
    if (!SectRect(&activeRect, &frame, &region))
        region = Rect{frame.top, frame.left, frame.top, frame.left};
    const SInt32 top = SInt32(region.top) - frame.top;
    const SInt32 bottom = SInt32(region.bottom) - frame.top;
    const SInt32 left = SInt32(region.left) - frame.left;
    const SInt32 right = SInt32(region.right) - frame.left;

    const SpanPaint paint{BrimtoneThreshold(theConfig.Sliders[kThresholdSlider]),
                          PackPixel<kOrder>(theConfig.Colors[kDarkColor]),
                          PackPixel<kOrder>(theConfig.Colors[kLightColor])};
    const SpanPainter paintSpan = PainterFor<kOrder>(CurrentPixelPath());
    const bool copyOutside = copyRest && source != dest;

    const UInt8* srcRow = source;
    UInt8* dstRow = dest;
    for (SInt32 row = 0; row < height; ++row, srcRow += sourceRowBytes, dstRow += destRowBytes) {
        if (row < top || row >= bottom) {
            if (copyOutside)
                std::memcpy(dstRow, srcRow, size_t(width) * 4);
            continue;
        }
        if (copyOutside) {
            std::memcpy(dstRow, srcRow, size_t(left) * 4);
            std::memcpy(dstRow + size_t(right) * 4, srcRow + size_t(right) * 4,
                        size_t(width - right) * 4);
        }
        paintSpan(srcRow + size_t(left) * 4, dstRow + size_t(left) * 4, right - left, paint);
    }
}

}  // namespace

SInt32 BrimtoneThreshold(SInt16 theSliderValue)
{
    return static_cast<SInt32>(theSliderValue) * 255 / 100;
}

const char* PixelPathName(PixelPath thePath)
{
    switch (thePath) {
    case PixelPath::AVX2:
        return "avx2";
    case PixelPath::SSE2:
        return "sse2";
    default:
        return "plain";
    }
}

Boolean PixelPathAvailable(PixelPath thePath)
{
    switch (thePath) {
#if defined(__x86_64__)
    case PixelPath::AVX2:
        return __builtin_cpu_supports("avx2") != 0;
    case PixelPath::SSE2:
        return true;
#endif
    case PixelPath::Plain:
        return true;
    default:
        return false;
    }
}

PixelPath ChoosePixelPath(const char* theLimit)
{
    auto isLimit = [theLimit](PixelPath thePath) {
        return theLimit != nullptr && std::string_view(theLimit) == PixelPathName(thePath);
    };
    // A name that is no path's limits nothing.
    bool allowed = std::none_of(std::begin(kFastestFirst), std::end(kFastestFirst), isLimit);
    for (const PixelPath thePath : kFastestFirst) {
        allowed = allowed || isLimit(thePath);
        if (allowed && PixelPathAvailable(thePath))
            return thePath;
    }
    return PixelPath::Plain;
}

PixelPath CurrentPixelPath()
{
    return ActivePixelPath().load(std::memory_order_relaxed);
}

void UsePixelPath(PixelPath thePath)
{
    if (PixelPathAvailable(thePath))
        ActivePixelPath().store(thePath, std::memory_order_relaxed);
}

void BrimtonePixels(PixelOrder order, const UInt8* source, SInt32 sourceRowBytes, UInt8* dest,
                    SInt32 destRowBytes, Rect frame, Rect activeRect, Boolean copyRest,
                    const pluginDataRec& theConfig)
{
    if (order == PixelOrder::ARGB)
        PaintRows<PixelOrder::ARGB>(source, sourceRowBytes, dest, destRowBytes, frame, activeRect,
                                    copyRest, theConfig);
    else
        PaintRows<PixelOrder::RGBA>(source, sourceRowBytes, dest, destRowBytes, frame, activeRect,
                                    copyRest, theConfig);
}

void Brimtone(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
              pluginDataPtr theConfig)
{
    if (dest == nullptr)
        dest = source;
    if (source == nullptr)
        return;

    PixelBuffer src;
    PixelBuffer dst;
    GetPixInfoFromGWorld(source, src.base, src.rowBytes, src.frame, src.state);
    GetPixInfoFromGWorld(dest, dst.base, dst.rowBytes, dst.frame, dst.state);

    const SInt32 width = SInt32(src.frame.right) - src.frame.left;
    const SInt32 height = SInt32(src.frame.bottom) - src.frame.top;
    if (theConfig != nullptr && EqualRect(&src.frame, &dst.frame) && Usable(src, width, height) &&
        Usable(dst, width, height)) {
        BrimtonePixels(PixelOrder::ARGB, reinterpret_cast<const UInt8*>(src.base), src.rowBytes,
                       reinterpret_cast<UInt8*>(dst.base), dst.rowBytes, src.frame, activeRect,
                       copyRest, *theConfig);
    }

    SetPixelsState(GetGWorldPixMap(dest), dst.state);
    SetPixelsState(GetGWorldPixMap(source), src.state);
}

void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean /*copyRest*/,
                    pluginDataPtr theConfig, SInt32 /*currentFrame*/, SInt32 /*maxFrame*/)
{
    SavedGWorld savedGWorld;
    Brimtone(source, dest, activeRect, true, theConfig);
}
