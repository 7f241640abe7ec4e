#include "graphics/PixelLib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "QuickDrawInternal.h"

namespace {

constexpr pixRec kGuard{0xEE, 0xEE, 0xEE, 0xEE};
constexpr pixRec kOutsideActive{0xAB, 0xCD, 0xEF, 0x01};

bool Same(const pixRec& a, const pixRec& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

pixRec Numbered(int x, int y)
{
    return pixRec{7, UInt8(x), UInt8(y), UInt8(x + 16 * y)};
}

// A port over the inner part of a larger block whose outer ring holds guard
// pixels, so that any write outside the port's pixels shows up.
class GuardedBuffer {
public:
    GuardedBuffer(int width, int height, int guard = 3)
        : width_(width), height_(height), guard_(guard), stride_(width + 2 * guard),
          storage_(size_t(stride_) * (height + 2 * guard), kGuard)
    {
        const Rect bounds{0, 0, SInt16(height), SInt16(width)};
        port_ = TBNewPortOnPixels(reinterpret_cast<Ptr>(&storage_[Index(0, 0)]), stride_ * 4,
                                  &bounds);
        Fill([](int x, int y) { return Numbered(x, y); });
    }
    ~GuardedBuffer() { TBDisposePort(port_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    GWorldPtr gw() const { return port_; }
    pixRec& At(int x, int y) { return storage_[Index(x, y)]; }
    template <typename F>
    void Fill(F pixelAt)
    {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                At(x, y) = pixelAt(x, y);
    }
    bool GuardsIntact() const
    {
        for (int y = -guard_; y < height_ + guard_; ++y)
            for (int x = -guard_; x < width_ + guard_; ++x) {
                const bool inside = x >= 0 && x < width_ && y >= 0 && y < height_;
                if (!inside && !Same(storage_[Index(x, y)], kGuard))
                    return false;
            }
        return true;
    }
    // Pixels that differ from the numbered start pattern.
    int ChangedPixels()
    {
        int changed = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                changed += !Same(At(x, y), Numbered(x, y));
        return changed;
    }
    UInt32 PixelState() const { return GetPixelsState(GetGWorldPixMap(port_)); }

private:
    size_t Index(int x, int y) const { return size_t(y + guard_) * stride_ + size_t(x + guard_); }

    int width_;
    int height_;
    int guard_;
    int stride_;
    std::vector<pixRec> storage_;
    GWorldPtr port_ = nullptr;
};

class GWorld {
public:
    GWorld(SInt16 width, SInt16 height)
    {
        const Rect bounds{0, 0, height, width};
        EXPECT_EQ(NewGWorld(&gw_, 32, &bounds, nullptr, nullptr, 0), noErr);
    }
    ~GWorld() { DisposeGWorld(gw_); }
    GWorld(const GWorld&) = delete;
    GWorld& operator=(const GWorld&) = delete;
    GWorldPtr get() const { return gw_; }
    Ptr Base() const { return GetPixBaseAddr(GetGWorldPixMap(gw_)); }
    SInt32 RowBytes() const { return GetPixRowBytes(GetGWorldPixMap(gw_)); }
    pixRec& At(int x, int y) const
    {
        return *reinterpret_cast<pixRec*>(Base() + std::ptrdiff_t(y) * RowBytes() + x * 4);
    }

private:
    GWorldPtr gw_ = nullptr;
};

}  // namespace

TEST(PixelLib, PixRecLiesInMemoryAsAlphaRedGreenBlue)
{
    const pixRec p{0x11, 0x22, 0x33, 0x44};
    unsigned char bytes[4];
    std::memcpy(bytes, &p, 4);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[1], 0x22);
    EXPECT_EQ(bytes[2], 0x33);
    EXPECT_EQ(bytes[3], 0x44);
}

TEST(PixelLib, DepthConversionStoresPerDepthAtTheRightAddress)
{
    EXPECT_EQ(Depth2Size(8), 1);
    EXPECT_EQ(Depth2Size(16), 2);
    EXPECT_EQ(Depth2Size(24), 4);
    EXPECT_EQ(Depth2Size(32), 4);
    EXPECT_EQ(Depth2Size(1), 4);

    const pixRec magenta{0x80, 255, 0, 255};
    std::vector<unsigned char> block(64, 0xAA);
    const Ptr base = reinterpret_cast<Ptr>(block.data());

    Put32BitPixelInPixmap(magenta, base, 1, 1, 16, 24);
    EXPECT_EQ(std::vector<unsigned char>(64, 0xAA), block) << "depth 24 stores nothing";

    Put32BitPixelInPixmap(magenta, base, 3, 1, 16, 8);
    EXPECT_EQ(block[16 + 3], 255);
    EXPECT_EQ(block[16 + 2], 0xAA);

    Put32BitPixelInPixmap(magenta, base, 2, 2, 16, 16);
    UInt16 packed;
    std::memcpy(&packed, &block[32 + 4], 2);
    EXPECT_EQ(packed, 0x7C1F) << "five red and five blue bits set, green and top bit clear";

    Put32BitPixelInPixmap(magenta, base, 3, 3, 16, 32);
    EXPECT_TRUE(Same(*reinterpret_cast<pixRec*>(&block[48 + 12]), magenta));
}

TEST(PixelLib, GetPixInfoLocksAndHandsOutUnmaskedRowBytes)
{
    GWorld wide(5000, 2);
    SetPixelsState(GetGWorldPixMap(wide.get()), 0);
    Ptr base;
    SInt32 rowBytes;
    Rect frame;
    UInt32 flags;
    GetPixInfoFromGWorld(wide.get(), base, rowBytes, frame, flags);
    EXPECT_EQ(base, wide.Base());
    EXPECT_EQ(rowBytes, 20000);
    EXPECT_EQ(frame.right, 5000);
    EXPECT_EQ(frame.bottom, 2);
    EXPECT_EQ(flags, 0u);
    EXPECT_NE(GetPixelsState(GetGWorldPixMap(wide.get())) & pixelsLocked, 0u);
    EXPECT_EQ(GetGWDepth(wide.get()), 32);

    GetPixInfoFromGWorld(nullptr, base, rowBytes, frame, flags);
    EXPECT_EQ(base, nullptr);
    EXPECT_EQ(rowBytes, 0);
}

TEST(PixelLib, SetPixmapPixelsFillsTheHalfOpenRectInsideTheBuffer)
{
    GuardedBuffer buffer(8, 6);
    SetPixmapPixels(buffer.gw(), Rect{2, 3, 5, 6}, 10, 20, 30);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = y >= 2 && y < 5 && x >= 3 && x < 6;
            EXPECT_TRUE(Same(buffer.At(x, y), inside ? pixRec{0, 10, 20, 30} : Numbered(x, y)))
                << x << "," << y;
        }
    EXPECT_EQ(buffer.PixelState(), 0u) << "pixel state put back";

    GuardedBuffer partly(8, 6);
    SetPixmapPixels(partly.gw(), Rect{-4, -4, 300, 9}, 1, 1, 1);
    EXPECT_EQ(partly.ChangedPixels(), 48);
    EXPECT_TRUE(partly.GuardsIntact());

    GuardedBuffer inverted(8, 6);
    SetPixmapPixels(inverted.gw(), Rect{5, 5, 1, 1}, 1, 1, 1);
    SetPixmapPixels(inverted.gw(), Rect{-32768, -32768, 32767, -1}, 1, 1, 1);
    EXPECT_EQ(inverted.ChangedPixels(), 0);
    SetPixmapPixels(nullptr, Rect{0, 0, 1, 1}, 1, 1, 1);
}

TEST(PixelLib, BuffersWiderThan4095PixelsAreAddressedByTheirTrueRows)
{
    GWorld wide(5000, 3);
    SetPixmapPixels(wide.get(), Rect{1, 4990, 2, 5000}, 9, 8, 7);
    EXPECT_TRUE(Same(wide.At(4990, 1), pixRec{0, 9, 8, 7}));
    EXPECT_TRUE(Same(wide.At(4999, 1), pixRec{0, 9, 8, 7}));
    EXPECT_TRUE(Same(wide.At(4999, 0), pixRec{0, 0, 0, 0}));
    EXPECT_TRUE(Same(wide.At(4999, 2), pixRec{0, 0, 0, 0}));

    const RGBColor white{65535, 65535, 65535};
    pSetGWPixelAndAlpha(wide.get(), 4500, 2, white, 255, 1);
    EXPECT_TRUE(Same(wide.At(4500, 2), pixRec{255, 255, 255, 255}));

    pixRec average{};
    pSmudgePixel(wide.get(), nullptr, 0, 4990, 1, false, 0, average);
    EXPECT_TRUE(Same(average, pixRec{0, 9, 8, 7}));
}

TEST(PixelLib, BlendWithOpacityTruncatesEachProductAndKeepsAlpha)
{
    GuardedBuffer buffer(4, 4);
    buffer.Fill([](int, int) { return pixRec{33, 101, 0, 255}; });
    pSetGWPixelUsingAlpha(buffer.gw(), 1, 1, 0.5, RGBColor{65535, 0x12FF, 0}, 2);
    EXPECT_TRUE(Same(buffer.At(1, 1), pixRec{33, 177, 9, 127}));
    EXPECT_TRUE(Same(buffer.At(2, 2), pixRec{33, 177, 9, 127}));
    EXPECT_TRUE(Same(buffer.At(0, 1), pixRec{33, 101, 0, 255}));
    EXPECT_TRUE(Same(buffer.At(3, 1), pixRec{33, 101, 0, 255}));

    buffer.Fill([](int x, int y) { return Numbered(x, y); });
    pSetGWPixelUsingAlpha(buffer.gw(), 0, 0, 0.0, RGBColor{65535, 65535, 65535}, 4);
    EXPECT_EQ(buffer.ChangedPixels(), 0);
    pSetGWPixelUsingAlpha(buffer.gw(), 0, 0, 1.0, RGBColor{0x12FF, 0x3400, 0x56AB}, 4);
    EXPECT_TRUE(Same(buffer.At(3, 2), pixRec{7, 0x12, 0x34, 0x56}));

    // Opacities outside 0..1 wrap to 8 bits instead of misbehaving.
    pSetGWPixelUsingAlpha(buffer.gw(), 0, 0, std::nan(""), RGBColor{0, 0, 0}, 4);
    pSetGWPixelUsingAlpha(buffer.gw(), 0, 0, 1e300, RGBColor{65535, 0, 0}, 4);
    EXPECT_TRUE(buffer.GuardsIntact());
}

TEST(PixelLib, SquaresAreClippedToTheBufferOnEverySide)
{
    const RGBColor grey{0x8000, 0x8000, 0x8000};
    GuardedBuffer nearEdge(10, 10);
    pSetGWPixelAndAlpha(nearEdge.gw(), 7, 0, grey, 0x1FF, 10);
    EXPECT_EQ(nearEdge.ChangedPixels(), 3 * 10) << "3 columns written";
    EXPECT_TRUE(Same(nearEdge.At(9, 9), pixRec{0xFF, 0x80, 0x80, 0x80}));
    EXPECT_TRUE(nearEdge.GuardsIntact());

    GuardedBuffer huge(10, 10);
    pSetGWPixelAndAlpha(huge.gw(), 9, 9, grey, 1, 32767);
    pSetGWPixelUsingAlpha(huge.gw(), 8, 8, 1.0, grey, 32767);
    EXPECT_EQ(huge.ChangedPixels(), 4);
    EXPECT_TRUE(huge.GuardsIntact());

    GuardedBuffer refused(10, 10);
    for (SInt16 start : {SInt16(-1), SInt16(10), SInt16(-32768), SInt16(32767)}) {
        pSetGWPixelAndAlpha(refused.gw(), start, 0, grey, 1, 5);
        pSetGWPixelAndAlpha(refused.gw(), 0, start, grey, 1, 5);
        pSetGWPixelUsingAlpha(refused.gw(), start, 0, 1.0, grey, 5);
    }
    pSetGWPixelAndAlpha(refused.gw(), 2, 2, grey, 1, 0);
    pSetGWPixelAndAlpha(refused.gw(), 2, 2, grey, 1, -5);
    EXPECT_EQ(refused.ChangedPixels(), 0);
    EXPECT_EQ(refused.PixelState(), 0u);
}

TEST(PixelLib, CombineCopiesEitherSourceAtFullOpacity)
{
    GuardedBuffer source1(6, 6);
    GuardedBuffer source2(6, 6);
    source1.Fill([](int, int) { return pixRec{10, 200, 100, 50}; });
    source2.Fill([](int, int) { return pixRec{20, 0, 60, 250}; });

    GuardedBuffer target(6, 6);
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), target.gw(), 0, 0, 0, 0, 255, false, 2);
    EXPECT_TRUE(Same(target.At(1, 1), pixRec{10, 200, 100, 50}));
    EXPECT_TRUE(Same(target.At(2, 1), Numbered(2, 1)));
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), target.gw(), 0, 0, 3, 3, 255, true, 2);
    EXPECT_TRUE(Same(target.At(4, 4), pixRec{20, 0, 60, 250}));
    EXPECT_EQ(target.ChangedPixels(), 8);

    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), target.gw(), 0, 0, 5, 5, 0, true, 1);
    const pixRec half = target.At(5, 5);
    EXPECT_TRUE(Same(half, pixRec{10, 200, 100, 50})) << "inverted 0 is full opacity";
}

TEST(PixelLib, CombineStaysInsideAllThreeBuffers)
{
    GuardedBuffer source1(6, 6);
    GuardedBuffer source2(4, 4);
    source1.Fill([](int, int) { return pixRec{1, 2, 3, 4}; });
    GuardedBuffer target(6, 6);
    // Target start point left of and above the target, huge square, all of
    // the second source taken.
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), target.gw(), 0, 0, -2, -3, 255, true,
                               32767);
    EXPECT_TRUE(target.GuardsIntact());
    EXPECT_TRUE(Same(target.At(0, 0), Numbered(2, 3))) << "source (2,3) lands at (0,0)";
    EXPECT_TRUE(Same(target.At(1, 0), Numbered(3, 3)));
    EXPECT_TRUE(Same(target.At(2, 0), Numbered(2, 0))) << "source2 is only 4 wide";
    EXPECT_TRUE(Same(target.At(0, 1), Numbered(0, 1))) << "source2 is only 4 high";
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_FALSE(Same(target.At(x, y), kGuard)) << "no pixel read outside source2";

    GuardedBuffer untouched(6, 6);
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), untouched.gw(), 6, 0, 0, 0, 255, false, 3);
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), untouched.gw(), 0, 0, 6, 0, 255, false, 3);
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), untouched.gw(), 0, 0, -32768, 32767, 255,
                               false, 32767);
    EXPECT_EQ(untouched.ChangedPixels(), 0);
    EXPECT_TRUE(untouched.GuardsIntact());
}

TEST(PixelLib, SmudgeAveragesTheNeighbourhoodInsideTheBuffer)
{
    GuardedBuffer source(5, 5);
    source.Fill([](int x, int y) { return pixRec{0, UInt8(10 + 10 * x + 20 * y), 0, 100}; });
    pixRec result{};
    pSmudgePixel(source.gw(), nullptr, 1, 0, 0, false, 0x1AB, result);
    // (10 + 20 + 30 + 40) / 4 at the corner
    EXPECT_TRUE(Same(result, pixRec{0xAB, 25, 0, 100}));

    GuardedBuffer second(5, 5);
    second.Fill([](int, int) { return pixRec{255, 65, 0, 0}; });
    pSmudgePixel(source.gw(), second.gw(), 1, 0, 0, false, 0, result);
    EXPECT_EQ(result.red, (10 + 20 + 30 + 40 + 4 * 65) / 8) << "eight values averaged";
    EXPECT_EQ(result.blue, 50);

    second.Fill([](int x, int) { return pixRec{UInt8(x == 0 ? 255 : 0), 200, 0, 0}; });
    pSmudgePixel(source.gw(), second.gw(), 1, 0, 0, true, 0, result);
    // weights: 4 pixels of the first buffer and two full-alpha pixels of the second
    EXPECT_EQ(result.red, (10 + 20 + 30 + 40 + 2 * 200) / 6);

    pixRec unchanged{1, 2, 3, 4};
    pSmudgePixel(source.gw(), nullptr, 1, 5, 0, false, 0, unchanged);
    pSmudgePixel(source.gw(), nullptr, -1, 2, 2, false, 0, unchanged);
    pSmudgePixel(nullptr, nullptr, 1, 0, 0, false, 0, unchanged);
    EXPECT_TRUE(Same(unchanged, pixRec{1, 2, 3, 4}));

    // A radius beyond the buffer averages exactly the buffer, never the guards.
    source.Fill([](int, int) { return pixRec{0, 40, 40, 40}; });
    pSmudgePixel(source.gw(), nullptr, 32767, 4, 4, false, 0, result);
    EXPECT_TRUE(Same(result, pixRec{0, 40, 40, 40}));
}

TEST(PixelLib, PlotPixelSetsASquareClippedOnAllSides)
{
    const pixRec ink{1, 2, 3, 4};
    GuardedBuffer buffer(10, 10);
    pPlotPixel(buffer.gw(), 5, 5, 0, true, true, ink);
    EXPECT_EQ(buffer.ChangedPixels(), 1);
    EXPECT_TRUE(Same(buffer.At(5, 5), ink));

    GuardedBuffer square(10, 10);
    pPlotPixel(square.gw(), 5, 5, 2, false, false, ink);
    EXPECT_EQ(square.ChangedPixels(), 25);
    EXPECT_TRUE(Same(square.At(3, 7), ink));
    EXPECT_TRUE(Same(square.At(7, 3), ink));

    GuardedBuffer corner(10, 10);
    pPlotPixel(corner.gw(), 0, 0, 2, false, false, ink);
    EXPECT_EQ(corner.ChangedPixels(), 9);
    pPlotPixel(corner.gw(), 9, 9, 32767, false, false, ink);
    EXPECT_EQ(corner.ChangedPixels(), 100);
    EXPECT_TRUE(corner.GuardsIntact());

    GuardedBuffer none(10, 10);
    pPlotPixel(none.gw(), -1, 5, 3, false, false, ink);
    pPlotPixel(none.gw(), 5, 5, -1, false, false, ink);
    pPlotPixel(nullptr, 5, 5, 1, false, false, ink);
    EXPECT_EQ(none.ChangedPixels(), 0);
}

TEST(PixelLib, Pixel2RGBAShiftsEachByteToTheHighByte)
{
    RGBColor rgb;
    SInt16 alpha;
    Pixel2RGBA(pixRec{7, 255, 1, 0}, rgb, alpha);
    EXPECT_EQ(rgb.red, 65280);
    EXPECT_EQ(rgb.green, 256);
    EXPECT_EQ(rgb.blue, 0);
    EXPECT_EQ(alpha, 7);
}

TEST(PixelLib, RotateByZeroShiftsTheActiveRectOnePixelLeft)
{
    GuardedBuffer source(8, 4);
    GuardedBuffer dest(8, 4);
    dest.Fill([](int, int) { return kOutsideActive; });
    const Rect active{1, 2, 3, 6};
    RotatePixmap(source.gw(), dest.gw(), active, 0.0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            pixRec expected = kOutsideActive;
            if (y >= 1 && y < 3 && x >= 1 && x <= 4)
                expected = Numbered(x + 1, y);
            if (y >= 1 && y < 3 && x == 5)
                expected = Numbered(5, y);
            EXPECT_TRUE(Same(dest.At(x, y), expected)) << x << "," << y;
        }

    GuardedBuffer atEdge(8, 4);
    RotatePixmap(source.gw(), atEdge.gw(), Rect{0, 0, 4, 8}, 0.0);
    EXPECT_TRUE(Same(atEdge.At(0, 0), Numbered(1, 0)));
    EXPECT_TRUE(Same(atEdge.At(7, 3), Numbered(7, 3)));
    EXPECT_TRUE(atEdge.GuardsIntact()) << "column left - 1 lies outside";
    EXPECT_EQ(dest.PixelState(), 0u);
    EXPECT_EQ(source.PixelState(), 0u);
}

TEST(PixelLib, RotateReadsOnlyTheActiveRectAndWritesOnlyTheDestination)
{
    GuardedBuffer source(12, 9);
    const Rect active{2, 3, 7, 10};
    source.Fill([&](int x, int y) {
        const bool inside = y >= active.top && y < active.bottom && x >= active.left &&
                            x < active.right;
        return inside ? pixRec{1, UInt8(x), UInt8(y), 1} : kOutsideActive;
    });
    const double inf = std::numeric_limits<double>::infinity();
    for (double phi : {0.3, 1.5707963267948966, 3.141592653589793, -2.0, 1e9, inf, std::nan("")}) {
        GuardedBuffer small(5, 4);
        RotatePixmap(source.gw(), small.gw(), active, phi);
        EXPECT_TRUE(small.GuardsIntact()) << phi;
        GuardedBuffer dest(12, 9);
        dest.Fill([](int, int) { return pixRec{0, 0, 0, 0}; });
        RotatePixmap(source.gw(), dest.gw(), active, phi);
        EXPECT_TRUE(dest.GuardsIntact()) << phi;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 12; ++x) {
                EXPECT_FALSE(Same(dest.At(x, y), kOutsideActive)) << phi;
                EXPECT_FALSE(Same(dest.At(x, y), kGuard)) << phi;
            }
    }
    for (const Rect& odd : {Rect{-32768, -32768, 32767, 32767}, Rect{8, 9, 1, 2},
                            Rect{-5, -7, 3, 4}, Rect{32000, 32000, 32767, 32767}}) {
        GuardedBuffer dest(12, 9);
        RotatePixmap(source.gw(), dest.gw(), odd, 0.7);
        EXPECT_TRUE(dest.GuardsIntact());
    }
    RotatePixmap(nullptr, source.gw(), active, 0.0);
    RotatePixmap(source.gw(), nullptr, active, 0.0);
}

TEST(PixelLib, RotateTurnsRowsAndColumnsAboutTheCentre)
{
    GuardedBuffer source(9, 9);
    const double pi = 3.141592653589793;

    // A half turn of one row mirrors it about the centre column.
    GuardedBuffer mirrored(9, 9);
    RotatePixmap(source.gw(), mirrored.gw(), Rect{4, 0, 5, 9}, pi);
    for (int x = 0; x < 9; ++x)
        EXPECT_TRUE(Same(mirrored.At(x, 4), Numbered(8 - x, 4))) << x;

    // A half turn of one column turns it upside down.
    GuardedBuffer flipped(9, 9);
    RotatePixmap(source.gw(), flipped.gw(), Rect{0, 4, 9, 5}, pi);
    for (int y = 0; y < 9; ++y) {
        EXPECT_TRUE(Same(flipped.At(4, y), Numbered(4, 8 - y))) << y;
        EXPECT_TRUE(Same(flipped.At(3, y), Numbered(4, 8 - y))) << y;
    }

    // A quarter turn stands a row up as a column, left end at the top.
    GuardedBuffer turned(9, 9);
    RotatePixmap(source.gw(), turned.gw(), Rect{4, 0, 5, 9}, pi / 2);
    for (int y = 0; y < 9; ++y)
        EXPECT_TRUE(Same(turned.At(4, y), Numbered(y, 4))) << y;
    EXPECT_TRUE(Same(turned.At(5, 0), Numbered(5, 0)));

    // and lays a column down as a row, bottom end at the left.
    GuardedBuffer laid(9, 9);
    RotatePixmap(source.gw(), laid.gw(), Rect{0, 4, 9, 5}, pi / 2);
    for (int x = 0; x < 9; ++x)
        EXPECT_TRUE(Same(laid.At(x, 4), Numbered(4, 8 - x))) << x;
}
