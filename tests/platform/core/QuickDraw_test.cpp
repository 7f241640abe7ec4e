#include "MacErrors.h"
#include "MacMemory.h"
#include "QuickDrawInternal.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Pixel = std::array<UInt8, 4>;  // alpha, red, green, blue
const Rect kEverywhere = {-32768, -32768, 32767, 32767};

// Pixels surrounded by a guard band, to show that nothing writes outside,
// with a port over them on request.
class Pixels {
public:
    static constexpr int kGuard = 8;
    static constexpr UInt8 kGuardByte = 0xA5;

    Pixels(int width, int height)
        : width_(width), height_(height), rowBytes_((width + 2 * kGuard) * 4),
          memory_(size_t(rowBytes_) * (height + 2 * kGuard), kGuardByte)
    {
        for (int y = 0; y < height; ++y)
            std::memset(at(0, y), 0, size_t(width) * 4);
    }
    ~Pixels() { TBDisposePort(port_); }

    UInt8* at(int x, int y) { return memory_.data() + (kGuard + y) * rowBytes_ + (kGuard + x) * 4; }
    BitMap bits() { return BitMap{reinterpret_cast<Ptr>(at(0, 0)), rowBytes_, bounds()}; }
    Rect bounds() const { return Rect{0, 0, SInt16(height_), SInt16(width_)}; }
    Pixel pixel(int x, int y) { return Pixel{at(x, y)[0], at(x, y)[1], at(x, y)[2], at(x, y)[3]}; }
    void FillRandom(unsigned seed)
    {
        std::mt19937 random(seed);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_ * 4; ++x)
                at(0, y)[x] = UInt8(random());
    }
    bool GuardIntact() const
    {
        for (size_t i = 0; i < memory_.size(); ++i) {
            const long y = long(i) / rowBytes_ - kGuard, x = long(i) % rowBytes_ / 4 - kGuard;
            if ((y < 0 || y >= height_ || x < 0 || x >= width_) && memory_[i] != kGuardByte)
                return false;
        }
        return true;
    }
    // A port over the pixels, made the current one.
    GrafPtr Port()
    {
        const Rect b = bounds();
        if (port_ == nullptr)
            port_ = TBNewPortOnPixels(reinterpret_cast<Ptr>(at(0, 0)), rowBytes_, &b);
        EXPECT_NE(port_, nullptr);
        SetPort(port_);
        return port_;
    }

private:
    int width_, height_;
    SInt32 rowBytes_;
    std::vector<UInt8> memory_;
    GrafPtr port_ = nullptr;
};

// Restores the current port and allocations when a test ends.
class QuickDraw : public ::testing::Test {
protected:
    void SetUp() override { GetGWorld(&savedPort_, &savedDevice_); }
    void TearDown() override
    {
        SetGWorld(savedPort_, savedDevice_);
        TBFailAllocationAfter(0);
    }

private:
    CGrafPtr savedPort_ = nullptr;
    GDHandle savedDevice_ = nullptr;
};

TEST_F(QuickDraw, NewGWorldRefusesBadRequestsWithoutLeavingAWorld)
{
    const Rect good = {0, 0, 10, 10};
    GWorldPtr gw = reinterpret_cast<GWorldPtr>(1);
    EXPECT_EQ(NewGWorld(&gw, 16, &good, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(gw, nullptr);
    for (const Rect& bad : {Rect{10, 10, 0, 0}, Rect{5, 0, 5, 10}})
        EXPECT_EQ(NewGWorld(&gw, 32, &bad, nullptr, nullptr, 0), paramErr);

    // The port record, the pixels and the port's place in the list of live
    // ports are separate allocations: fail each.
    const long blocks = TBLiveBlockCount();
    for (long nth : {1L, 2L, 3L}) {
        TBFailAllocationAfter(nth);
        gw = reinterpret_cast<GWorldPtr>(1);
        EXPECT_EQ(NewGWorld(&gw, 32, &good, nullptr, nullptr, 0), memFullErr) << nth;
        EXPECT_EQ(gw, nullptr);
        EXPECT_EQ(TBLiveBlockCount(), blocks);
    }
    TBFailAllocationAfter(0);
    // The full 16-bit coordinate range is more memory than any buffer may take.
    EXPECT_EQ(NewGWorld(&gw, 32, &kEverywhere, nullptr, nullptr, 0), memFullErr);
    EXPECT_EQ(gw, nullptr);
}

TEST_F(QuickDraw, WorldOverCallersPixelsDrawsOnlyIntoThem)
{
    Pixels pixels(6, 4);
    const Rect bounds = pixels.bounds();
    const Ptr base = reinterpret_cast<Ptr>(pixels.at(0, 0));
    const SInt32 rowBytes = pixels.bits().rowBytes;
    GWorldPtr gw = reinterpret_cast<GWorldPtr>(1);
    EXPECT_EQ(NewGWorldFromPtr(&gw, 16, &bounds, nullptr, nullptr, 0, base, rowBytes), paramErr);
    EXPECT_EQ(gw, nullptr);
    EXPECT_EQ(NewGWorldFromPtr(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, base, 20),
              paramErr);
    TBFailAllocationAfter(1);
    EXPECT_EQ(NewGWorldFromPtr(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, base, rowBytes),
              memFullErr);
    EXPECT_EQ(gw, nullptr);
    TBFailAllocationAfter(0);

    ASSERT_EQ(NewGWorldFromPtr(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, base, rowBytes),
              noErr);
    SetGWorld(gw, nullptr);
    const RGBColor red{0xFFFF, 0, 0};
    RGBForeColor(&red);
    PaintRect(&kEverywhere);
    EXPECT_EQ(pixels.pixel(5, 3), (Pixel{0xFF, 0xFF, 0, 0}));
    EXPECT_TRUE(pixels.GuardIntact());
    DisposeGWorld(gw);
    EXPECT_EQ(pixels.pixel(0, 0), (Pixel{0xFF, 0xFF, 0, 0}));
}

TEST_F(QuickDraw, ScaledCopyAveragesShrunkPixels)
{
    Pixels from(8, 6), to(4, 3);
    from.FillRandom(3);
    const Rect src = from.bounds(), dst = to.bounds();
    const BitMap fromBits = from.bits(), toBits = to.bits();
    CopyBits(&fromBits, &toBits, &src, &dst, srcCopy, nullptr);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 4; ++c) {
                const int sum = from.pixel(2 * x, 2 * y)[c] + from.pixel(2 * x + 1, 2 * y)[c] +
                                from.pixel(2 * x, 2 * y + 1)[c] + from.pixel(2 * x + 1, 2 * y + 1)[c];
                ASSERT_NEAR(to.pixel(x, y)[c], sum / 4.0, 1.0) << x << "," << y << " c" << c;
            }
}

TEST_F(QuickDraw, CopyNeverTouchesMemoryOutsideEitherBitmapAndRefusesMalformedOnes)
{
    for (bool scaled : {false, true}) {
        Pixels source(10, 10), target(12, 12);
        const BitMap src = source.bits(), dst = target.bits();
        for (int y = 0; y < 10; ++y)
            std::memset(source.at(0, y), 0x40 + y, 40);
        // Both rectangles hang over every edge of their bitmaps.
        const Rect srcRect = {-6, -6, 16, 16};
        const Rect dstRect = scaled ? Rect{-1, -1, 43, 43} : Rect{-5, -5, 17, 17};
        CopyBits(&src, &dst, &srcRect, &dstRect, srcCopy, nullptr);
        EXPECT_TRUE(target.GuardIntact()) << scaled;
        EXPECT_TRUE(source.GuardIntact()) << scaled;
        // Destination pixels whose source lies outside the source stay as they were.
        const int firstCopied = scaled ? 11 : 1;
        EXPECT_EQ(target.pixel(firstCopied - 1, firstCopied - 1), (Pixel{0, 0, 0, 0})) << scaled;
        EXPECT_NE(target.pixel(firstCopied, firstCopied), (Pixel{0, 0, 0, 0})) << scaled;
        const Rect all = source.bounds();
        CopyBits(&src, &dst, &all, &kEverywhere, srcCopy, nullptr);
        CopyBits(&src, &dst, &kEverywhere, &all, srcCopy, nullptr);
        EXPECT_TRUE(target.GuardIntact()) << scaled;
    }
    Pixels pixels(4, 4);
    const Rect all = pixels.bounds();
    const BitMap bits = pixels.bits();
    BitMap shortRows = bits;
    shortRows.rowBytes = 8;  // fewer bytes than four pixels need
    CopyBits(&bits, &shortRows, &all, &all, srcCopy, nullptr);
    CopyBits(nullptr, &bits, &all, &all, srcCopy, nullptr);
}

TEST_F(QuickDraw, CopyIsClippedToTheCurrentPortClipAndTheMask)
{
    Pixels from(10, 10), to(10, 10);
    for (int y = 0; y < 10; ++y)
        std::memset(from.at(0, y), 0xFF, 40);
    const Rect all = {0, 0, 10, 10}, clip = {2, 2, 8, 8};
    const BitMap src = from.bits();
    GrafPtr port = to.Port();
    ClipRect(&clip);
    RgnHandle mask = NewRgn();
    const Rect left = {0, 0, 10, 5};
    RectRgn(mask, &left);
    CopyBits(&src, GetPortBitMapForCopyBits(port), &all, &all, srcCopy, mask);
    DisposeRgn(mask);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool copied = x >= 2 && x < 5 && y >= 2 && y < 8;
            ASSERT_EQ(to.pixel(x, y)[1], copied ? 0xFF : 0) << x << "," << y;
        }
}

TEST_F(QuickDraw, OverlappingCopyWithinOneBitmapActsLikeMemmove)
{
    Pixels pixels(16, 16);
    pixels.FillRandom(4);
    std::vector<Pixel> before;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            before.push_back(pixels.pixel(x, y));
    const Rect src = {0, 0, 15, 15}, dst = {1, 1, 16, 16};
    const BitMap bits = pixels.bits();
    CopyBits(&bits, &bits, &src, &dst, srcCopy, nullptr);
    for (int y = 1; y < 16; ++y)
        for (int x = 1; x < 16; ++x)
            ASSERT_EQ(pixels.pixel(x, y), before[size_t((y - 1) * 16 + x - 1)]) << x << "," << y;
}

TEST_F(QuickDraw, PaintingIsClippedToTheBufferWhateverTheRectangle)
{
    Pixels target(10, 10);
    target.Port();
    const RGBColor red = {0xFFFF, 0, 0};
    RGBForeColor(&red);
    PaintRect(&kEverywhere);
    EXPECT_EQ(target.pixel(0, 0), (Pixel{0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(target.pixel(9, 9), (Pixel{0xFF, 0xFF, 0, 0}));
    EraseRect(&kEverywhere);
    EXPECT_EQ(target.pixel(5, 5), (Pixel{0xFF, 0xFF, 0xFF, 0xFF}));
    FrameRect(&kEverywhere);
    InvertRect(&kEverywhere);
    EXPECT_TRUE(target.GuardIntact());
}

TEST_F(QuickDraw, PictureFailsCleanlyWithoutMemory)
{
    Pixels pixels(4, 4);
    pixels.Port();
    const OpenCPicParams params = {Rect{0, 0, 4, 4}, 72 << 16, 72 << 16, -2, 0, 0};
    TBFailAllocationAfter(1);
    EXPECT_EQ(OpenCPicture(&params), nullptr);
    TBFailAllocationAfter(0);
    // Nothing was left half open: the next picture records.
    PicHandle picture = OpenCPicture(&params);
    ASSERT_NE(picture, nullptr);
    ClosePicture();
    KillPicture(picture);
}

}  // namespace
