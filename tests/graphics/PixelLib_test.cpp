#include "graphics/PixelLib.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A port over the inner part of a larger block whose outer ring of three
// pixels holds guard pixels, so that any write outside the port shows up.
class GuardedBuffer {
public:
    GuardedBuffer(int width, int height)
        : width_(width), height_(height), storage_(size_t(width + 6) * (height + 6), kGuard)
    {
        const Rect bounds{0, 0, SInt16(height), SInt16(width)};
        port_ = TBNewPortOnPixels(reinterpret_cast<Ptr>(&At(0, 0)), (width + 6) * 4, &bounds);
        Fill([](int x, int y) { return Numbered(x, y); });
    }
    ~GuardedBuffer() { TBDisposePort(port_); }

    GWorldPtr gw() const { return port_; }
    pixRec& At(int x, int y) { return storage_[size_t(y + 3) * (width_ + 6) + size_t(x + 3)]; }
    template <typename F>
    void Fill(F pixelAt)
    {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                At(x, y) = pixelAt(x, y);
    }
    // Pixels of the port for which counts(pixel, x, y) holds.
    template <typename F>
    int Count(F counts)
    {
        int n = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                n += counts(At(x, y), x, y);
        return n;
    }
    int Count(const pixRec& p) { return Count([&](const pixRec& q, int, int) { return Same(q, p); }); }
    int ChangedPixels() { return Count([](const pixRec& q, int x, int y) { return !Same(q, Numbered(x, y)); }); }
    bool GuardsIntact()
    {
        const auto guards = std::count_if(storage_.begin(), storage_.end(), [](const pixRec& p) { return Same(p, kGuard); });
        return guards - Count(kGuard) == long(storage_.size()) - width_ * height_;
    }

private:
    int width_;
    int height_;
    std::vector<pixRec> storage_;
    GWorldPtr port_ = nullptr;
};

}  // namespace

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
    GWorldPtr wide = nullptr;
    const Rect bounds{0, 0, 3, 5000};
    ASSERT_EQ(NewGWorld(&wide, 32, &bounds, nullptr, nullptr, 0), noErr);
    const Ptr base = GetPixBaseAddr(GetGWorldPixMap(wide));
    const SInt32 rowBytes = GetPixRowBytes(GetGWorldPixMap(wide));
    auto at = [&](int x, int y) {
        return *reinterpret_cast<pixRec*>(base + std::ptrdiff_t(y) * rowBytes + x * 4);
    };
    SetPixmapPixels(wide, Rect{1, 4990, 2, 5000}, 9, 8, 7);
    EXPECT_TRUE(Same(at(4990, 1), pixRec{0, 9, 8, 7}));
    EXPECT_TRUE(Same(at(4999, 1), pixRec{0, 9, 8, 7}));
    EXPECT_TRUE(Same(at(4999, 0), pixRec{0, 0, 0, 0}));
    EXPECT_TRUE(Same(at(4999, 2), pixRec{0, 0, 0, 0}));

    pSetGWPixelAndAlpha(wide, 4500, 2, RGBColor{65535, 65535, 65535}, 255, 1);
    EXPECT_TRUE(Same(at(4500, 2), pixRec{255, 255, 255, 255}));
    DisposeGWorld(wide);
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
    pPlotPixel(huge.gw(), 9, 9, 32767, false, false, pixRec{1, 2, 3, 4});
    pixRec average{};
    pSmudgePixel(huge.gw(), nullptr, 32767, 4, 4, false, 0, average);
    // Opacities outside 0..1 must not write past the square.
    pSetGWPixelUsingAlpha(huge.gw(), 0, 0, std::nan(""), grey, 4);
    pSetGWPixelUsingAlpha(huge.gw(), 0, 0, 1e300, grey, 4);
    EXPECT_TRUE(huge.GuardsIntact());

    GuardedBuffer refused(10, 10);
    for (SInt16 start : {SInt16(-1), SInt16(10), SInt16(-32768), SInt16(32767)}) {
        pSetGWPixelAndAlpha(refused.gw(), start, 0, grey, 1, 5);
        pSetGWPixelAndAlpha(refused.gw(), 0, start, grey, 1, 5);
        pSetGWPixelUsingAlpha(refused.gw(), start, 0, 1.0, grey, 5);
    }
    pSetGWPixelAndAlpha(refused.gw(), 2, 2, grey, 1, 0);
    pSetGWPixelAndAlpha(refused.gw(), 2, 2, grey, 1, -5);
    pPlotPixel(refused.gw(), 5, 5, -1, false, false, pixRec{1, 2, 3, 4});
    EXPECT_EQ(refused.ChangedPixels(), 0);
    EXPECT_TRUE(refused.GuardsIntact());
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
    EXPECT_EQ(target.Count(kGuard), 0) << "no pixel read outside source2";

    GuardedBuffer untouched(6, 6);
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), untouched.gw(), 6, 0, 0, 0, 255, false, 3);
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), untouched.gw(), 0, 0, 6, 0, 255, false, 3);
    pCombineGWAndPutUsingAlpha(source1.gw(), source2.gw(), untouched.gw(), 0, 0, -32768, 32767, 255,
                               false, 32767);
    EXPECT_EQ(untouched.ChangedPixels(), 0);
    EXPECT_TRUE(untouched.GuardsIntact());
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
    for (double phi : {0.3, 3.141592653589793, -2.0, 1e9, inf, std::nan("")}) {
        GuardedBuffer small(5, 4);
        RotatePixmap(source.gw(), small.gw(), active, phi);
        EXPECT_TRUE(small.GuardsIntact()) << phi;
        GuardedBuffer dest(12, 9);
        dest.Fill([](int, int) { return pixRec{0, 0, 0, 0}; });
        RotatePixmap(source.gw(), dest.gw(), active, phi);
        EXPECT_TRUE(dest.GuardsIntact()) << phi;
        EXPECT_EQ(dest.Count(kOutsideActive) + dest.Count(kGuard), 0) << phi;
    }
    // Unturned, the active rect is shifted one pixel left; at the buffer's
    // edge the column to its right lies outside.
    GuardedBuffer atEdge(12, 9);
    RotatePixmap(source.gw(), atEdge.gw(), Rect{0, 0, 9, 12}, 0.0);
    EXPECT_TRUE(Same(atEdge.At(2, 2), pixRec{1, 3, 2, 1}));
    EXPECT_EQ(atEdge.Count(kGuard), 0);
    EXPECT_TRUE(atEdge.GuardsIntact());
    for (const Rect& odd : {Rect{-32768, -32768, 32767, 32767}, Rect{8, 9, 1, 2},
                            Rect{-5, -7, 3, 4}, Rect{32000, 32000, 32767, 32767}}) {
        GuardedBuffer dest(12, 9);
        RotatePixmap(source.gw(), dest.gw(), odd, 0.7);
        EXPECT_TRUE(dest.GuardsIntact());
    }
    RotatePixmap(nullptr, source.gw(), active, 0.0);
    RotatePixmap(source.gw(), nullptr, active, 0.0);
}
