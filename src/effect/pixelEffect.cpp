#include "effect/pixelEffect.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "graphics/PixelLib.h"

namespace {

struct PixelBuffer {
    Ptr base = nullptr;
    SInt32 rowBytes = 0;
    Rect frame{0, 0, 0, 0};
    UInt32 state = 0;
};

UInt32 PackPixel(const RGBColor& theColor)
{
    const pixRec thePixel{255, UInt8(theColor.red >> 8), UInt8(theColor.green >> 8),
                          UInt8(theColor.blue >> 8)};
    UInt32 packed;
    std::memcpy(&packed, &thePixel, sizeof packed);
    return packed;
}

bool Usable(const PixelBuffer& theBuffer, SInt32 width, SInt32 height)
{
    return theBuffer.base != nullptr && width > 0 && height > 0 &&
           static_cast<int64_t>(theBuffer.rowBytes) >= static_cast<int64_t>(width) * 4;
}

// Shifts that bring red, green and blue of a pixel word, as it lies in
// memory (alpha, red, green, blue), down to the low byte.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;
constexpr int kRedShift = kLittleEndian ? 8 : 16;
constexpr int kGreenShift = kLittleEndian ? 16 : 8;
constexpr int kBlueShift = kLittleEndian ? 24 : 0;

inline SInt32 ChannelSum(UInt32 word)
{
    return SInt32(((word >> kRedShift) & 0xFF) + ((word >> kGreenShift) & 0xFF) +
                  ((word >> kBlueShift) & 0xFF));
}

// Four pixels at a time in the processor's vector registers (SSE2, NEON, or
// plain code where there are none).
constexpr SInt32 kVectorPixels = 4;
typedef UInt32 PixelQuad __attribute__((vector_size(4 * kVectorPixels)));
typedef SInt32 SumQuad __attribute__((vector_size(4 * kVectorPixels)));

// mixer < threshold  <=>  floor(sum / 3) < threshold  <=>  sum < 3 * threshold,
// so the division drops out and the results are the same.
void PaintSpan(const UInt8* src, UInt8* dst, SInt32 count, SInt32 threeThresholds, UInt32 fgWord,
               UInt32 bkgWord)
{
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
        const UInt32 out = ChannelSum(word) < threeThresholds ? fgWord : bkgWord;
        std::memcpy(dst + 4 * i, &out, 4);
    }
}

}  // namespace

SInt32 BrimtoneThreshold(SInt16 theSliderValue)
{
    return static_cast<SInt32>(theSliderValue) * 255 / 100;
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
        Rect region;
        if (!SectRect(&activeRect, &src.frame, &region))
            region = Rect{src.frame.top, src.frame.left, src.frame.top, src.frame.left};
        const SInt32 top = SInt32(region.top) - src.frame.top;
        const SInt32 bottom = SInt32(region.bottom) - src.frame.top;
        const SInt32 left = SInt32(region.left) - src.frame.left;
        const SInt32 right = SInt32(region.right) - src.frame.left;

        const SInt32 threeThresholds = 3 * BrimtoneThreshold(theConfig->Sliders[kThresholdSlider]);
        const UInt32 fgWord = PackPixel(theConfig->Colors[kDarkColor]);
        const UInt32 bkgWord = PackPixel(theConfig->Colors[kLightColor]);
        const bool copyOutside = copyRest && src.base != dst.base;

        const UInt8* srcRow = reinterpret_cast<const UInt8*>(src.base);
        UInt8* dstRow = reinterpret_cast<UInt8*>(dst.base);
        for (SInt32 row = 0; row < height; ++row, srcRow += src.rowBytes, dstRow += dst.rowBytes) {
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
            PaintSpan(srcRow + size_t(left) * 4, dstRow + size_t(left) * 4, right - left,
                      threeThresholds, fgWord, bkgWord);
        }
    }

    SetPixelsState(GetGWorldPixMap(dest), dst.state);
    SetPixelsState(GetGWorldPixMap(source), src.state);
}

void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean /*copyRest*/,
                    pluginDataPtr theConfig, SInt32 /*currentFrame*/, SInt32 /*maxFrame*/)
{
    CGrafPtr savedPort;
    GDHandle savedDevice;
    GetGWorld(&savedPort, &savedDevice);
    Brimtone(source, dest, activeRect, true, theConfig);
    SetGWorld(savedPort, savedDevice);
}
