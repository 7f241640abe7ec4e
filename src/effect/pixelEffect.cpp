#include "effect/pixelEffect.h"

#include <bit>
#include <cstdint>
#include <cstring>

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

// The shift that brings the byte at a memory position of a pixel word down to
// the low byte.
constexpr int ShiftOf(int byteIndex)
{
    return std::endian::native == std::endian::little ? 8 * byteIndex : 8 * (3 - byteIndex);
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

// Four pixels at a time in the processor's vector registers (SSE2, NEON, or
// plain code where there are none).
constexpr SInt32 kVectorPixels = 4;
typedef UInt32 PixelQuad __attribute__((vector_size(4 * kVectorPixels)));
typedef SInt32 SumQuad __attribute__((vector_size(4 * kVectorPixels)));

// mixer < threshold  <=>  floor(sum / 3) < threshold  <=>  sum < 3 * threshold,
// so the division drops out and the results are the same.
template <PixelOrder kOrder>
void PaintSpan(const UInt8* src, UInt8* dst, SInt32 count, SInt32 threeThresholds, UInt32 fgWord,
               UInt32 bkgWord)
{
    constexpr ChannelBytes kBytes = BytesOf(kOrder);
    constexpr int kRedShift = ShiftOf(kBytes.red);
    constexpr int kGreenShift = ShiftOf(kBytes.green);
    constexpr int kBlueShift = ShiftOf(kBytes.blue);
    const SumQuad limit = SumQuad{} + threeThresholds;
    const PixelQuad fg = PixelQuad{} + fgWord;
    const PixelQuad bkg = PixelQuad{} + bkgWord;
    SInt32 i = 0;
    auto paintQuad = [&](SInt32 at) {
        PixelQuad quad;
        std::memcpy(&quad, src + 4 * at, sizeof quad);
        const SumQuad sum = (SumQuad)(((quad >> kRedShift) & 0xFF) + ((quad >> kGreenShift) & 0xFF) +
                                      ((quad >> kBlueShift) & 0xFF));
        const PixelQuad dark = (PixelQuad)(sum < limit);
        const PixelQuad out = (dark & fg) | (~dark & bkg);
        std::memcpy(dst + 4 * at, &out, sizeof out);
    };
    for (; i + 2 * kVectorPixels <= count; i += 2 * kVectorPixels) {
        paintQuad(i);
        paintQuad(i + kVectorPixels);
    }
    for (; i + kVectorPixels <= count; i += kVectorPixels)
        paintQuad(i);
    for (; i < count; ++i) {
        UInt32 word;
        std::memcpy(&word, src + 4 * i, 4);
        const SInt32 sum = SInt32(((word >> kRedShift) & 0xFF) + ((word >> kGreenShift) & 0xFF) +
                                  ((word >> kBlueShift) & 0xFF));
        const UInt32 out = sum < threeThresholds ? fgWord : bkgWord;
        std::memcpy(dst + 4 * i, &out, 4);
    }
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

    const SInt32 threeThresholds = 3 * BrimtoneThreshold(theConfig.Sliders[kThresholdSlider]);
    const UInt32 fgWord = PackPixel<kOrder>(theConfig.Colors[kDarkColor]);
    const UInt32 bkgWord = PackPixel<kOrder>(theConfig.Colors[kLightColor]);
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
        PaintSpan<kOrder>(srcRow + size_t(left) * 4, dstRow + size_t(left) * 4, right - left,
                          threeThresholds, fgWord, bkgWord);
    }
}

}  // namespace

SInt32 BrimtoneThreshold(SInt16 theSliderValue)
{
    return static_cast<SInt32>(theSliderValue) * 255 / 100;
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
