// CopyBits: copies between 32-bit bitmaps, scaling through pixman where the
// rectangles differ in size.

#include "QDShared.h"

#include "MacErrors.h"

#include <pixman.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Filters wider than this cost more than they add to a preview.
constexpr double kMaxFilterScale = 64.0;
// Fine filter phases: pixman moves each sample to the middle of its phase,
// and coarse phases would blur exact 2:1 averages.
constexpr int kSubsampleBits = 8;

bool UsableBitMap(const BitMap* bits)
{
    if (bits == nullptr || bits->baseAddr == nullptr || EmptyRect(&bits->bounds))
        return false;
    const IRect bounds = ToIRect(bits->bounds);
    return bits->rowBytes % 4 == 0 && Int64(bits->rowBytes) >= Int64(bounds.Width()) * 4 &&
           reinterpret_cast<uintptr_t>(bits->baseAddr) % 4 == 0;
}

// A block of pixels: the address of its top-left pixel and its row bytes.
struct Pixels {
    UInt8* base;
    std::ptrdiff_t rowBytes;

    UInt8* Row(int y) const { return base + y * rowBytes; }
};

Pixels PixelsAt(const BitMap* bits, int x, int y)
{
    return Pixels{reinterpret_cast<UInt8*>(bits->baseAddr) +
                      std::ptrdiff_t(y - bits->bounds.top) * bits->rowBytes +
                      std::ptrdiff_t(x - bits->bounds.left) * 4,
                  bits->rowBytes};
}

// True when two blocks of pixels share memory.
bool Overlap(const Pixels& a, int aWidth, int aHeight, const Pixels& b, int bWidth, int bHeight)
{
    const UInt8* aEnd = a.Row(aHeight - 1) + std::ptrdiff_t(aWidth) * 4;
    const UInt8* bEnd = b.Row(bHeight - 1) + std::ptrdiff_t(bWidth) * 4;
    return a.base < bEnd && b.base < aEnd;
}

// Boolean modes act on the three colour bytes; the alpha byte is the
// destination's, except for the copying modes, which take the source's.
void CombineRow(const UInt8* src, UInt8* dst, int count, SInt16 mode)
{
    const size_t bytes = size_t(count) * 4;
    switch (mode) {
    case srcOr:
        for (size_t i = 0; i < bytes; i += 4)
            for (size_t c = 1; c < 4; ++c)
                dst[i + c] = UInt8(dst[i + c] | src[i + c]);
        break;
    case srcXor:
        for (size_t i = 0; i < bytes; i += 4)
            for (size_t c = 1; c < 4; ++c)
                dst[i + c] = UInt8(dst[i + c] ^ src[i + c]);
        break;
    case srcBic:
        for (size_t i = 0; i < bytes; i += 4)
            for (size_t c = 1; c < 4; ++c)
                dst[i + c] = UInt8(dst[i + c] & ~src[i + c]);
        break;
    case notSrcCopy:
        for (size_t i = 0; i < bytes; i += 4) {
            dst[i] = src[i];
            for (size_t c = 1; c < 4; ++c)
                dst[i + c] = UInt8(~src[i + c]);
        }
        break;
    default:
        std::memmove(dst, src, bytes);
        break;
    }
}

void CombineBlock(const Pixels& src, const Pixels& dst, int width, int height, SInt16 mode)
{
    // Rows that follow each other without a gap in both: one move.
    if (mode == srcCopy && src.rowBytes == dst.rowBytes &&
        src.rowBytes == std::ptrdiff_t(width) * 4) {
        std::memmove(dst.base, src.base, size_t(src.rowBytes) * size_t(height));
        return;
    }
    for (int y = 0; y < height; ++y)
        CombineRow(src.Row(y), dst.Row(y), width, mode);
}

struct PixmanImageDeleter {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanImageDeleter>;

// Pixels are bytes A, R, G, B (pixman's b8g8r8a8 here). Copying and the
// filters treat the four channels alike, so the same bytes are described as
// a8r8g8b8, for which pixman has fast scaling paths; results are identical.
PixmanImage WrapPixels(const Pixels& pixels, int width, int height)
{
    return PixmanImage(pixman_image_create_bits_no_clear(
        PIXMAN_a8r8g8b8, width, height, reinterpret_cast<uint32_t*>(pixels.base),
        int(pixels.rowBytes)));
}

// Box filtering over the source footprint where an axis shrinks (an exact
// area average), bilinear where it grows.
bool SetScalingFilter(pixman_image_t* image, double scaleX, double scaleY)
{
    const bool shrinkX = scaleX > 1.0, shrinkY = scaleY > 1.0;
    if (!shrinkX && !shrinkY)
        return pixman_image_set_filter(image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    const auto axis = [](bool shrink, double scale, pixman_fixed_t& fixedScale,
                         pixman_kernel_t& reconstruct, pixman_kernel_t& sample) {
        fixedScale = shrink ? pixman_double_to_fixed(std::min(scale, kMaxFilterScale))
                            : pixman_fixed_1;
        reconstruct = shrink ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_LINEAR;
        sample = shrink ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_IMPULSE;
    };
    pixman_fixed_t fixedX, fixedY;
    pixman_kernel_t reconstructX, reconstructY, sampleX, sampleY;
    axis(shrinkX, scaleX, fixedX, reconstructX, sampleX);
    axis(shrinkY, scaleY, fixedY, reconstructY, sampleY);
    int count = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &count, fixedX, fixedY, reconstructX, reconstructY, sampleX, sampleY, kSubsampleBits,
        kSubsampleBits);
    if (params == nullptr)
        return false;
    const bool done =
        pixman_image_set_filter(image, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
    std::free(params);
    return done;
}

// Scales `src` (the whole srcArea block) into the destination block, whose
// pixel (0,0) lies at bounds coordinates (origin) of the mapping
// dstRect -> srcRect.
// paramErr when the geometry is beyond pixman's 16.16 coordinates.
OSErr ScaleBlock(const Pixels& src, const IRect& srcArea, const Pixels& dst, int width, int height,
                 const IRect& srcRect, const IRect& dstRect, int originX, int originY)
{
    PixmanImage source = WrapPixels(src, srcArea.Width(), srcArea.Height());
    PixmanImage target = WrapPixels(dst, width, height);
    if (!source || !target)
        return memFullErr;
    const double scaleX = double(srcRect.Width()) / dstRect.Width();
    const double scaleY = double(srcRect.Height()) / dstRect.Height();
    pixman_f_transform mapping;
    pixman_f_transform_init_identity(&mapping);
    mapping.m[0][0] = scaleX;
    mapping.m[0][2] = srcRect.left - srcArea.left + (originX - dstRect.left) * scaleX;
    mapping.m[1][1] = scaleY;
    mapping.m[1][2] = srcRect.top - srcArea.top + (originY - dstRect.top) * scaleY;
    pixman_transform fixedMapping;
    if (!pixman_transform_from_pixman_f_transform(&fixedMapping, &mapping) ||
        !pixman_image_set_transform(source.get(), &fixedMapping) ||
        !SetScalingFilter(source.get(), scaleX, scaleY))
        return paramErr;
    pixman_image_set_repeat(source.get(), PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, target.get(), 0, 0, 0, 0, 0, 0,
                             width, height);
    return noErr;
}

// Destination pixels whose centres map into `srcArea` (a part of srcRect).
IRect MappedArea(const IRect& srcArea, const IRect& srcRect, const IRect& dstRect)
{
    const auto edge = [](int srcEdge, int srcStart, int srcSize, int dstStart, int dstSize) {
        return int(std::ceil(dstStart + double(srcEdge - srcStart) * dstSize / srcSize - 0.5));
    };
    return IRect{edge(srcArea.left, srcRect.left, srcRect.Width(), dstRect.left, dstRect.Width()),
                 edge(srcArea.top, srcRect.top, srcRect.Height(), dstRect.top, dstRect.Height()),
                 edge(srcArea.right, srcRect.left, srcRect.Width(), dstRect.left, dstRect.Width()),
                 edge(srcArea.bottom, srcRect.top, srcRect.Height(), dstRect.top,
                      dstRect.Height())};
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

}  // namespace

void CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
              const Rect* dstRect, SInt16 mode, RgnHandle maskRgn)
{
    if (!UsableBitMap(srcBits) || !UsableBitMap(dstBits) || srcRect == nullptr ||
        dstRect == nullptr) {
        return;
    }
    const IRect from = ToIRect(*srcRect);
    const IRect to = ToIRect(*dstRect);
    if (from.Empty() || to.Empty())
        return;

    // Only the source inside its bitmap is read; only the destination
    // inside its bitmap, the port's clip and the mask is written.
    const IRect srcArea = Intersect(from, ToIRect(srcBits->bounds));
    if (srcArea.Empty())
        return;
    const bool sameSize = from.Width() == to.Width() && from.Height() == to.Height();
    IRect area = sameSize ? IRect{srcArea.left - from.left + to.left,
                                  srcArea.top - from.top + to.top,
                                  srcArea.right - from.left + to.left,
                                  srcArea.bottom - from.top + to.top}
                          : MappedArea(srcArea, from, to);
    area = Intersect(area, Intersect(to, ToIRect(dstBits->bounds)));
    GrafPtr port = QDCurrentPort();
    if (port->pixMap.baseAddr == dstBits->baseAddr)
        area = Intersect(area, ToIRect(port->clipRect));
    if (maskRgn != nullptr && *maskRgn != nullptr)
        area = Intersect(area, ToIRect((*maskRgn)->rgnBBox));
    if (area.Empty())
        return;

    const int width = area.Width(), height = area.Height();
    const Pixels target = PixelsAt(dstBits, area.left, area.top);
    if (sameSize) {
        Pixels source = PixelsAt(srcBits, area.left - to.left + from.left,
                                 area.top - to.top + from.top);
        // Overlapping blocks of one buffer go through a copy of the source.
        std::unique_ptr<UInt8, FreeDeleter> copy;
        if (Overlap(source, width, height, target, width, height)) {
            copy.reset(static_cast<UInt8*>(std::malloc(size_t(width) * 4 * size_t(height))));
            if (!copy)
                return;
            const Pixels packed{copy.get(), std::ptrdiff_t(width) * 4};
            CombineBlock(source, packed, width, height, srcCopy);
            source = packed;
        }
        CombineBlock(source, target, width, height, mode);
    } else {
        const Pixels source = PixelsAt(srcBits, srcArea.left, srcArea.top);
        // Modes other than srcCopy, and sources that share memory with the
        // target, scale into a scratch block first.
        const bool direct = (mode == srcCopy || mode == ditherCopy) &&
                            !Overlap(source, srcArea.Width(), srcArea.Height(), target, width,
                                     height);
        std::unique_ptr<UInt8, FreeDeleter> scratch;
        Pixels scaled = target;
        if (!direct) {
            scratch.reset(static_cast<UInt8*>(std::malloc(size_t(width) * 4 * size_t(height))));
            if (!scratch)
                return;
            scaled = Pixels{scratch.get(), std::ptrdiff_t(width) * 4};
        }
        const OSErr scaleErr =
            ScaleBlock(source, srcArea, scaled, width, height, from, to, area.left, area.top);
        if (scaleErr != noErr)
            return;
        if (!direct)
            CombineBlock(scaled, target, width, height, mode);
    }
    const Rect changed = ToRect(area);
    TBPortPixelsChanged(dstBits, &changed);
}
