#include "graphics/PixelLib.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// Our buffers carry no flag bits in their row bytes, so the classic 0x3FFF
// mask could only cut the row length of wide buffers and address wrong rows.
SInt32 TrueRowBytes(PixMapHandle pixMap)
{
    return GetPixRowBytes(pixMap);
}

// Truncation toward zero that is defined for every double: NaN gives 0 and
// values beyond the 32-bit range saturate.
SInt32 TruncToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= double(INT32_MIN))
        return INT32_MIN;
    if (value >= double(INT32_MAX))
        return INT32_MAX;
    return SInt32(value);
}

// The number of rows (or columns) from 0 that a loop bounded by a frame's far
// edge may address: the far edge itself, but never more than the buffer holds.
int SafeLimit(int nearEdge, int farEdge)
{
    return std::max(0, std::min(farEdge, farEdge - nearEdge));
}

UInt8 High8(UInt16 channel)
{
    return UInt8(channel / 256);
}

pixRec* RowAt(Ptr base, SInt32 rowBytes, int y)
{
    return reinterpret_cast<pixRec*>(base + std::ptrdiff_t(y) * rowBytes);
}

// A buffer locked for the duration of one routine: bounds moved to (0,0),
// base address and row bytes fetched once; the saved state goes back on exit.
class LockedBuffer {
public:
    explicit LockedBuffer(GWorldPtr theGW) : pixMap(GetGWorldPixMap(theGW))
    {
        savedState = GetPixelsState(pixMap);
        LockPixels(pixMap);
        base = GetPixBaseAddr(pixMap);
        rowBytes = TrueRowBytes(pixMap);
        Rect bounds;
        GetPortBounds(theGW, &bounds);
        if (base != nullptr) {
            width = std::max(0, int(bounds.right) - int(bounds.left));
            height = std::max(0, int(bounds.bottom) - int(bounds.top));
        }
    }
    ~LockedBuffer() { SetPixelsState(pixMap, savedState); }
    LockedBuffer(const LockedBuffer&) = delete;
    LockedBuffer& operator=(const LockedBuffer&) = delete;

    bool Contains(int x, int y) const { return x >= 0 && x < width && y >= 0 && y < height; }
    pixRec* Row(int y) const { return RowAt(base, rowBytes, y); }

    PixMapHandle pixMap;
    GWorldFlags savedState = 0;
    Ptr base = nullptr;
    SInt32 rowBytes = 0;
    int width = 0;
    int height = 0;
};

// Fills the square [x, x + size) × [y, y + size) clipped to the buffer.
void FillSquare(const LockedBuffer& buffer, int x, int y, int size, pixRec thePixel)
{
    const int right = std::min(x + size, buffer.width);
    const int bottom = std::min(y + size, buffer.height);
    const int left = std::max(x, 0);
    for (int row = std::max(y, 0); row < bottom; ++row) {
        pixRec* pixel = buffer.Row(row);
        for (int col = left; col < right; ++col)
            pixel[col] = thePixel;
    }
}

}  // namespace

void GetPixInfoFromGWorld(GWorldPtr theGW, Ptr& pixBaseAddress, SInt32& pixRowBytes,
                          Rect& theFrame, UInt32& pixFlags)
{
    if (theGW == nullptr) {
        pixBaseAddress = nullptr;
        pixRowBytes = 0;
        theFrame = Rect{0, 0, 0, 0};
        pixFlags = 0;
        return;
    }
    PixMapHandle pixMap = GetGWorldPixMap(theGW);
    pixFlags = GetPixelsState(pixMap);
    LockPixels(pixMap);
    pixBaseAddress = GetPixBaseAddr(pixMap);
    pixRowBytes = GetPixRowBytes(pixMap);
    GetPortBounds(theGW, &theFrame);
}

SInt16 GetGWDepth(GWorldPtr theGW)
{
    if (theGW == nullptr)
        return 0;
    return GetPixDepth(GetGWorldPixMap(theGW));
}

SInt16 Depth2Size(SInt16 theDepth)
{
    switch (theDepth) {
    case c8BitDepth:
        return 1;
    case c16BitDepth:
        return 2;
    default:
        return 4;
    }
}

void SetPixmapPixels(GWorldPtr theDest, Rect theActiveRect, UInt8 r, UInt8 g, UInt8 b)
{
    if (theDest == nullptr)
        return;
    Ptr base;
    SInt32 rowBytes;
    Rect frame;
    UInt32 savedState;
    GetPixInfoFromGWorld(theDest, base, rowBytes, frame, savedState);
    if (base != nullptr) {
        const pixRec fill{0, r, g, b};
        const int top = std::max(0, int(theActiveRect.top));
        const int bottom = std::min(SafeLimit(frame.top, frame.bottom), int(theActiveRect.bottom));
        const int left = std::max(0, int(theActiveRect.left));
        const int right = std::min(SafeLimit(frame.left, frame.right), int(theActiveRect.right));
        if (left < right) {
            Ptr rowStart = base + std::ptrdiff_t(top) * rowBytes;
            for (int row = top; row < bottom; ++row, rowStart += rowBytes) {
                pixRec* pixel = reinterpret_cast<pixRec*>(rowStart) + left;
                pixRec* const end = pixel + (right - left);
                for (; pixel != end; ++pixel)
                    *pixel = fill;
            }
        }
    }
    SetPixelsState(GetGWorldPixMap(theDest), savedState);
}

void pGetPixel(Ptr srcBaseAddr, SInt32 rowBytes, SInt16 x, SInt16 y, pixRec& thePixel)
{
    std::memcpy(&thePixel, srcBaseAddr + std::ptrdiff_t(y) * rowBytes + std::ptrdiff_t(x) * 4, 4);
}

void pSetPixel(Ptr srcBaseAddr, SInt32 rowBytes, SInt16 x, SInt16 y, pixRecPtr thePixel)
{
    std::memcpy(srcBaseAddr + std::ptrdiff_t(y) * rowBytes + std::ptrdiff_t(x) * 4, thePixel, 4);
}

void Put32BitPixelInPixmap(pixRec thePixel, Ptr dstBaseAddress, SInt16 x, SInt16 y,
                           SInt32 dstRowBytes, SInt16 targetDepth)
{
    std::ptrdiff_t bytesPerPixel;
    switch (targetDepth) {
    case c8BitDepth:
        bytesPerPixel = 1;
        break;
    case c16BitDepth:
        bytesPerPixel = 2;
        break;
    case c24BitDepth:
        bytesPerPixel = 3;
        break;
    default:
        bytesPerPixel = 4;
        break;
    }
    Ptr address = dstBaseAddress + std::ptrdiff_t(y) * dstRowBytes + x * bytesPerPixel;
    switch (targetDepth) {
    case c8BitDepth:
        *reinterpret_cast<UInt8*>(address) = thePixel.red;
        break;
    case c16BitDepth: {
        const UInt16 packed = UInt16(((thePixel.red >> 3) << 10) + ((thePixel.green >> 3) << 5) +
                                     (thePixel.blue >> 3));
        std::memcpy(address, &packed, sizeof packed);
        break;
    }
    case c24BitDepth:
        break;
    default:
        std::memcpy(address, &thePixel, 4);
        break;
    }
}

void pSetGWPixelUsingAlpha(GWorldPtr theSource, SInt16 x, SInt16 y, double theAlpha,
                           const RGBColor& theRGB, SInt16 theSize)
{
    if (theSource == nullptr)
        return;
    LockedBuffer buffer(theSource);
    if (!buffer.Contains(x, y) || theSize <= 0)
        return;
    const double percent = theAlpha;
    const double inverse = 1.0 - theAlpha;
    // The colour's share is the same for every pixel; sums wrap to 8 bits.
    const UInt32 addRed = UInt32(TruncToInt32(percent * High8(theRGB.red)));
    const UInt32 addGreen = UInt32(TruncToInt32(percent * High8(theRGB.green)));
    const UInt32 addBlue = UInt32(TruncToInt32(percent * High8(theRGB.blue)));
    const int right = std::min(x + int(theSize), buffer.width);
    const int bottom = std::min(y + int(theSize), buffer.height);
    for (int row = y; row < bottom; ++row) {
        pixRec* pixel = buffer.Row(row);
        for (int col = x; col < right; ++col) {
            pixRec& p = pixel[col];
            p.red = UInt8(UInt32(TruncToInt32(inverse * p.red)) + addRed);
            p.green = UInt8(UInt32(TruncToInt32(inverse * p.green)) + addGreen);
            p.blue = UInt8(UInt32(TruncToInt32(inverse * p.blue)) + addBlue);
        }
    }
}

void pSetGWPixelAndAlpha(GWorldPtr theSource, SInt16 x, SInt16 y, RGBColor theRGB, SInt16 alpha,
                         SInt16 theSize)
{
    if (theSource == nullptr)
        return;
    LockedBuffer buffer(theSource);
    if (!buffer.Contains(x, y) || theSize <= 0)
        return;
    const pixRec thePixel{UInt8(alpha & 255), High8(theRGB.red), High8(theRGB.green),
                          High8(theRGB.blue)};
    FillSquare(buffer, x, y, theSize, thePixel);
}

void pCombineGWAndPutUsingAlpha(GWorldPtr theSource1, GWorldPtr theSource2, GWorldPtr theTarget,
                                SInt16 sx, SInt16 sy, SInt16 tx, SInt16 ty, SInt16 alpha,
                                Boolean invertAlpha, SInt16 theSize)
{
    if (theSource1 == nullptr || theSource2 == nullptr || theTarget == nullptr)
        return;
    const int theAlpha = invertAlpha ? 255 - int(alpha) : int(alpha);
    const double percent = theAlpha / 255.0;
    const double inverse = 1.0 - percent;

    LockedBuffer source1(theSource1);
    LockedBuffer source2(theSource2);
    LockedBuffer target(theTarget);
    if (!source1.Contains(sx, sy) || theSize <= 0)
        return;
    const SInt16 targetDepth = GetPixDepth(target.pixMap);

    // Offsets within the square that stay inside both sources and the target
    // on every side (the target's start point is not checked by the caller).
    const int hBegin = std::max(0, -int(tx));
    const int vBegin = std::max(0, -int(ty));
    const int hEnd = std::min({int(theSize), source1.width - sx, source2.width - sx,
                               target.width - tx});
    const int vEnd = std::min({int(theSize), source1.height - sy, source2.height - sy,
                               target.height - ty});
    auto mix = [&](UInt8 a, UInt8 b) { return UInt8(TruncToInt32(percent * a + inverse * b)); };

    for (int v = vBegin; v < vEnd; ++v) {
        const pixRec* row1 = source1.Row(sy + v) + sx;
        const pixRec* row2 = source2.Row(sy + v) + sx;
        pixRec* targetRow = targetDepth == c32BitDepth ? target.Row(ty + v) : nullptr;
        for (int h = hBegin; h < hEnd; ++h) {
            const pixRec p1 = row1[h];
            const pixRec p2 = row2[h];
            const pixRec mixed{mix(p1.alpha, p2.alpha), mix(p1.red, p2.red),
                               mix(p1.green, p2.green), mix(p1.blue, p2.blue)};
            if (targetRow != nullptr)
                targetRow[tx + h] = mixed;
            else
                Put32BitPixelInPixmap(mixed, target.base, SInt16(tx + h), SInt16(ty + v),
                                      target.rowBytes, targetDepth);
        }
    }
}

void pSmudgePixel(GWorldPtr theSource1, GWorldPtr theSource2, SInt16 radius, SInt16 x, SInt16 y,
                  Boolean uses2Alpha, SInt16 smudgeAlpha, pixRec& result)
{
    if (theSource1 == nullptr)
        return;
    LockedBuffer source1(theSource1);
    std::optional<LockedBuffer> source2;
    if (theSource2 != nullptr)
        source2.emplace(theSource2);
    // A negative radius visits no pixel and leaves nothing to average.
    if (!source1.Contains(x, y) || radius < 0)
        return;

    SInt64 red = 0;
    SInt64 green = 0;
    SInt64 blue = 0;
    double weightSum = 0.0;
    const int hBegin = std::max(0, x - int(radius));
    const int hEnd = std::min(source1.width - 1, x + int(radius));
    const int vBegin = std::max(0, y - int(radius));
    const int vEnd = std::min(source1.height - 1, y + int(radius));
    // Column by column, as the weights must be added in this order.
    for (int h = hBegin; h <= hEnd; ++h) {
        for (int v = vBegin; v <= vEnd; ++v) {
            const pixRec p = source1.Row(v)[h];
            red += p.red;
            green += p.green;
            blue += p.blue;
            weightSum += 1.0;
            if (source2 && source2->Contains(h, v)) {
                const pixRec q = source2->Row(v)[h];
                if (!uses2Alpha) {
                    red += q.red;
                    green += q.green;
                    blue += q.blue;
                    weightSum += 1.0;
                } else {
                    const double w = q.alpha / 255.0;
                    red += TruncToInt32(w * q.red);
                    green += TruncToInt32(w * q.green);
                    blue += TruncToInt32(w * q.blue);
                    weightSum += w;
                }
            }
        }
    }
    result.red = UInt8(TruncToInt32(double(red) / weightSum));
    result.green = UInt8(TruncToInt32(double(green) / weightSum));
    result.blue = UInt8(TruncToInt32(double(blue) / weightSum));
    result.alpha = UInt8(smudgeAlpha & 255);
}

void pPlotPixel(GWorldPtr theTarget, SInt16 x, SInt16 y, SInt16 size, Boolean blend, Boolean round,
                pixRec thePixel)
{
    (void)blend;
    (void)round;
    if (theTarget == nullptr)
        return;
    LockedBuffer target(theTarget);
    if (!target.Contains(x, y))
        return;
    FillSquare(target, x - int(size), y - int(size), 2 * int(size) + 1, thePixel);
}

void Pixel2RGBA(pixRec thePixel, RGBColor& theRGB, SInt16& alpha)
{
    theRGB.red = UInt16(thePixel.red << 8);
    theRGB.green = UInt16(thePixel.green << 8);
    theRGB.blue = UInt16(thePixel.blue << 8);
    alpha = thePixel.alpha;
}

void RotatePixmap(GWorldPtr theSource, GWorldPtr theDest, Rect theActiveRect, double phi)
{
    if (theSource == nullptr || theDest == nullptr)
        return;
    Ptr srcBase;
    Ptr dstBase;
    SInt32 srcRowBytes;
    SInt32 dstRowBytes;
    Rect srcFrame;
    Rect dstFrame;
    UInt32 srcState;
    UInt32 dstState;
    GetPixInfoFromGWorld(theSource, srcBase, srcRowBytes, srcFrame, srcState);
    GetPixInfoFromGWorld(theDest, dstBase, dstRowBytes, dstFrame, dstState);

    if (srcBase != nullptr && dstBase != nullptr) {
        const double sinF = std::sin(phi);
        const double cosF = std::cos(phi);
        const int activeLeft = theActiveRect.left;
        const int activeTop = theActiveRect.top;
        const int wid = std::abs(int(theActiveRect.right) - activeLeft) / 2;
        const int hig = std::abs(int(theActiveRect.bottom) - activeTop) / 2;

        // Source pixels inside both the frame and theActiveRect.
        const int rowBegin = std::max(0, activeTop);
        const int rowEnd = std::min(SafeLimit(srcFrame.top, srcFrame.bottom),
                                    int(theActiveRect.bottom));
        const int colBegin = std::max(0, activeLeft);
        const int colEnd = std::min(SafeLimit(srcFrame.left, srcFrame.right),
                                    int(theActiveRect.right));
        // Destination positions inside its frame and its pixels.
        const SInt64 dstLeft = std::max(0, int(dstFrame.left));
        const SInt64 dstRight = SafeLimit(dstFrame.left, dstFrame.right);
        const SInt64 dstTop = std::max(0, int(dstFrame.top));
        const SInt64 dstBottom = SafeLimit(dstFrame.top, dstFrame.bottom);

        if (colBegin < colEnd) {
            Ptr srcRow = srcBase + std::ptrdiff_t(std::max(rowBegin, 0)) * srcRowBytes;
            for (int row = rowBegin; row < rowEnd; ++row, srcRow += srcRowBytes) {
                const int y = row - hig - activeTop;
                const double sinY = sinF * y;
                const double cosY = cosF * y;
                const pixRec* pixel = reinterpret_cast<const pixRec*>(srcRow) + colBegin;
                for (int col = colBegin; col < colEnd; ++col, ++pixel) {
                    const int x = col - wid - activeLeft;
                    const SInt64 xs = SInt64(wid) + activeLeft + TruncToInt32(cosF * x - sinY);
                    const SInt64 ys = SInt64(hig) + activeTop + TruncToInt32(sinF * x + cosY);
                    if (xs < dstLeft || xs >= dstRight || ys < dstTop || ys >= dstBottom)
                        continue;
                    // Also writing the left neighbour closes the gaps that the
                    // forward mapping leaves.
                    pixRec* target = RowAt(dstBase, dstRowBytes, int(ys)) + xs;
                    target[0] = *pixel;
                    if (xs > dstLeft)
                        target[-1] = *pixel;
                }
            }
        }
    }
    SetPixelsState(GetGWorldPixMap(theDest), dstState);
    SetPixelsState(GetGWorldPixMap(theSource), srcState);
}
