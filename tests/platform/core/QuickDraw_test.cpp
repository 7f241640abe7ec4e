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

// A graphics world that is disposed of with the test.
class World {
public:
    explicit World(Rect bounds)
    {
        EXPECT_EQ(NewGWorld(&gw_, 32, &bounds, nullptr, nullptr, 0), noErr);
    }
    World(SInt16 width, SInt16 height) : World(Rect{0, 0, height, width}) {}
    ~World() { DisposeGWorld(gw_); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    GWorldPtr get() const { return gw_; }
    const BitMap* bits() const { return GetPortBitMapForCopyBits(gw_); }
    Rect bounds() const
    {
        Rect r;
        return *GetPortBounds(gw_, &r);
    }
    UInt8* at(int x, int y) const
    {
        const PixMap& map = **GetGWorldPixMap(gw_);
        return reinterpret_cast<UInt8*>(map.baseAddr) + (y - map.bounds.top) * map.rowBytes +
               (x - map.bounds.left) * 4;
    }
    Pixel pixel(int x, int y) const
    {
        Pixel p;
        std::memcpy(p.data(), at(x, y), 4);
        return p;
    }
    void set(int x, int y, Pixel p) const { std::memcpy(at(x, y), p.data(), 4); }

private:
    GWorldPtr gw_ = nullptr;
};

// Pixels surrounded by a guard band, to show that nothing writes outside.
class GuardedPixels {
public:
    static constexpr int kGuard = 8;
    static constexpr UInt8 kGuardByte = 0xA5;

    GuardedPixels(int width, int height)
        : width_(width), height_(height), rowBytes_((width + 2 * kGuard) * 4),
          memory_(size_t(rowBytes_) * (height + 2 * kGuard), kGuardByte)
    {
        for (int y = 0; y < height; ++y)
            std::memset(inner() + y * rowBytes_, 0, size_t(width) * 4);
    }
    UInt8* inner() { return memory_.data() + kGuard * rowBytes_ + kGuard * 4; }
    BitMap bitMap() { return BitMap{reinterpret_cast<Ptr>(inner()), rowBytes_, bounds()}; }
    Rect bounds() const { return Rect{0, 0, SInt16(height_), SInt16(width_)}; }
    SInt32 rowBytes() const { return rowBytes_; }
    bool GuardIntact() const
    {
        for (int y = 0; y < height_ + 2 * kGuard; ++y) {
            for (int x = 0; x < width_ + 2 * kGuard; ++x) {
                const bool inside = y >= kGuard && y < kGuard + height_ && x >= kGuard &&
                                    x < kGuard + width_;
                if (inside)
                    continue;
                for (int c = 0; c < 4; ++c)
                    if (memory_[size_t(y * rowBytes_ + x * 4 + c)] != kGuardByte)
                        return false;
            }
        }
        return true;
    }
    Pixel pixel(int x, int y)
    {
        Pixel p;
        std::memcpy(p.data(), inner() + y * rowBytes_ + x * 4, 4);
        return p;
    }

private:
    int width_, height_;
    SInt32 rowBytes_;
    std::vector<UInt8> memory_;
};

// Restores the current port when a test ends.
class QuickDraw : public ::testing::Test {
protected:
    void SetUp() override { GetGWorld(&savedPort_, &savedDevice_); }
    void TearDown() override
    {
        SetGWorld(savedPort_, savedDevice_);
        TBFailAllocationAfter(0);
        TBSetTextHooks(nullptr);
    }

private:
    CGrafPtr savedPort_ = nullptr;
    GDHandle savedDevice_ = nullptr;
};

void FillRandom(const World& world, unsigned seed)
{
    std::mt19937 random(seed);
    const Rect b = world.bounds();
    for (int y = b.top; y < b.bottom; ++y)
        for (int x = b.left; x < b.right; ++x)
            world.set(x, y, Pixel{UInt8(random()), UInt8(random()), UInt8(random()),
                                  UInt8(random())});
}

TEST_F(QuickDraw, NewGWorldRefusesBadRequestsWithoutLeavingAWorld)
{
    const Rect good = {0, 0, 10, 10};
    const Rect inverted = {10, 10, 0, 0};
    const Rect flat = {5, 0, 5, 10};
    GWorldPtr gw = reinterpret_cast<GWorldPtr>(1);
    EXPECT_EQ(NewGWorld(&gw, 16, &good, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(gw, nullptr);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(NewGWorld(&gw, 32, &inverted, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(&gw, 32, &flat, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(&gw, 32, nullptr, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(nullptr, 32, &good, nullptr, nullptr, 0), paramErr);

    // The port record and the pixels are separate allocations: fail each.
    for (long nth : {1L, 2L}) {
        TBFailAllocationAfter(nth);
        gw = reinterpret_cast<GWorldPtr>(1);
        EXPECT_EQ(NewGWorld(&gw, 32, &good, nullptr, nullptr, 0), memFullErr) << nth;
        EXPECT_EQ(gw, nullptr);
        EXPECT_EQ(QDError(), memFullErr);
    }
    TBFailAllocationAfter(0);

    // The full 16-bit coordinate range is more memory than any buffer may take.
    const Rect gigantic = {-32768, -32768, 32767, 32767};
    EXPECT_EQ(NewGWorld(&gw, 32, &gigantic, nullptr, nullptr, 0), memFullErr);
    EXPECT_EQ(gw, nullptr);
}

TEST_F(QuickDraw, DisposingTheCurrentPortFallsBackToADrawablePort)
{
    GWorldPtr gw = nullptr;
    const Rect bounds = {0, 0, 8, 8};
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    SetGWorld(gw, nullptr);
    DisposeGWorld(gw);
    GrafPtr port = nullptr;
    GetPort(&port);
    EXPECT_NE(port, gw);
    ASSERT_NE(port, nullptr);
    const Rect everywhere = {-32768, -32768, 32767, 32767};
    PaintRect(&everywhere);
    InvertRect(&everywhere);
    MoveTo(-100, -100);
    LineTo(100, 100);
    FrameOval(&everywhere);
}

TEST_F(QuickDraw, ScaledCopyAveragesShrunkPixels)
{
    World from(8, 6), to(4, 3);
    FillRandom(from, 3);
    const Rect src = from.bounds(), dst = to.bounds();
    CopyBits(from.bits(), to.bits(), &src, &dst, srcCopy, nullptr);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            for (int c = 0; c < 4; ++c) {
                const int sum = from.pixel(2 * x, 2 * y)[c] + from.pixel(2 * x + 1, 2 * y)[c] +
                                from.pixel(2 * x, 2 * y + 1)[c] +
                                from.pixel(2 * x + 1, 2 * y + 1)[c];
                ASSERT_NEAR(to.pixel(x, y)[c], sum / 4.0, 1.0) << x << "," << y << " c" << c;
            }
        }
    }
}

TEST_F(QuickDraw, CopyNeverTouchesMemoryOutsideEitherBitmap)
{
    for (bool scaled : {false, true}) {
        GuardedPixels source(10, 10), target(12, 12);
        BitMap src = source.bitMap(), dst = target.bitMap();
        for (int y = 0; y < 10; ++y)
            std::memset(source.inner() + y * source.rowBytes(), 0x40 + y, 40);
        // Both rectangles hang over every edge of their bitmaps.
        const Rect srcRect = {-6, -6, 16, 16};
        const Rect dstRect = scaled ? Rect{-1, -1, 43, 43} : Rect{-5, -5, 17, 17};
        CopyBits(&src, &dst, &srcRect, &dstRect, srcCopy, nullptr);
        EXPECT_TRUE(target.GuardIntact()) << scaled;
        EXPECT_TRUE(source.GuardIntact()) << scaled;
        // Destination pixels whose source lies outside the source stay as they were.
        EXPECT_EQ(target.pixel(0, 0), (Pixel{0, 0, 0, 0})) << scaled;
        const int firstCopied = scaled ? 11 : 1;
        EXPECT_EQ(target.pixel(firstCopied - 1, firstCopied - 1), (Pixel{0, 0, 0, 0})) << scaled;
        EXPECT_NE(target.pixel(firstCopied, firstCopied), (Pixel{0, 0, 0, 0})) << scaled;
    }
    GuardedPixels source(10, 10), target(12, 12);
    BitMap src = source.bitMap(), dst = target.bitMap();
    const Rect srcRect = {0, 0, 10, 10};
    const Rect far = {-32768, -32768, 32767, 32767};
    CopyBits(&src, &dst, &srcRect, &far, srcCopy, nullptr);
    CopyBits(&src, &dst, &far, &srcRect, srcCopy, nullptr);
    EXPECT_TRUE(target.GuardIntact());
}

TEST_F(QuickDraw, CopyIsClippedToTheCurrentPortClipAndTheMask)
{
    World from(10, 10), to(10, 10);
    const Rect all = {0, 0, 10, 10};
    SetGWorld(from.get(), nullptr);
    RGBColor white = {0xFFFF, 0xFFFF, 0xFFFF};
    RGBForeColor(&white);
    PaintRect(&all);

    SetGWorld(to.get(), nullptr);
    const Rect clip = {2, 2, 8, 8};
    ClipRect(&clip);
    RgnHandle mask = NewRgn();
    SetRectRgn(mask, 0, 0, 5, 10);  // left half
    CopyBits(from.bits(), to.bits(), &all, &all, srcCopy, mask);
    DisposeRgn(mask);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const bool copied = x >= 2 && x < 5 && y >= 2 && y < 8;
            ASSERT_EQ(to.pixel(x, y)[1], copied ? 0xFF : 0) << x << "," << y;
        }
    }
}

TEST_F(QuickDraw, OverlappingCopyWithinOneBitmapActsLikeMemmove)
{
    World world(16, 16);
    FillRandom(world, 4);
    std::vector<Pixel> before;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            before.push_back(world.pixel(x, y));
    const Rect src = {0, 0, 15, 15}, dst = {1, 1, 16, 16};
    CopyBits(world.bits(), world.bits(), &src, &dst, srcCopy, nullptr);
    for (int y = 1; y < 16; ++y)
        for (int x = 1; x < 16; ++x)
            ASSERT_EQ(world.pixel(x, y), before[size_t((y - 1) * 16 + x - 1)]) << x << "," << y;
}

TEST_F(QuickDraw, CopyRejectsMalformedBitmaps)
{
    World world(4, 4);
    const Rect all = world.bounds();
    BitMap shortRows = *world.bits();
    shortRows.rowBytes = 8;  // fewer bytes than four pixels need
    CopyBits(world.bits(), &shortRows, &all, &all, srcCopy, nullptr);
    EXPECT_EQ(QDError(), paramErr);
    CopyBits(nullptr, world.bits(), &all, &all, srcCopy, nullptr);
    EXPECT_EQ(QDError(), paramErr);
}

class PortOnGuardedPixels {
public:
    PortOnGuardedPixels(int width, int height) : pixels(width, height)
    {
        const Rect bounds = pixels.bounds();
        port = TBNewPortOnPixels(reinterpret_cast<Ptr>(pixels.inner()), pixels.rowBytes(),
                                 &bounds);
        EXPECT_NE(port, nullptr);
        SetPort(port);
    }
    ~PortOnGuardedPixels() { TBDisposePort(port); }

    GuardedPixels pixels;
    GrafPtr port = nullptr;
};

TEST_F(QuickDraw, PaintingIsClippedToTheBufferWhateverTheRectangle)
{
    PortOnGuardedPixels target(10, 10);
    const RGBColor red = {0xFFFF, 0, 0};
    RGBForeColor(&red);
    const Rect huge = {-32768, -32768, 32767, 32767};
    PaintRect(&huge);
    EXPECT_EQ(target.pixels.pixel(0, 0), (Pixel{0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(target.pixels.pixel(9, 9), (Pixel{0xFF, 0xFF, 0, 0}));
    EraseRect(&huge);
    EXPECT_EQ(target.pixels.pixel(5, 5), (Pixel{0xFF, 0xFF, 0xFF, 0xFF}));
    PenSize(3, 3);
    FrameRect(&huge);
    PaintOval(&huge);
    FrameOval(&huge);
    InvertRect(&huge);
    MoveTo(-32768, 5);
    LineTo(32767, 5);
    MoveTo(-40, -40);
    LineTo(50, 50);
    Line(-32768, 32767);
    EXPECT_TRUE(target.pixels.GuardIntact());
}

TEST_F(QuickDraw, DrawingReportsTheChangedRectangle)
{
    std::vector<Rect> reports;
    static std::vector<Rect>* sink;
    sink = &reports;
    PortOnGuardedPixels target(20, 10);
    target.port->pixelsChanged = [](OpaqueGrafPtr*, const Rect* changed) {
        sink->push_back(*changed);
    };
    const Rect r = {-5, 15, 3, 40};
    PaintRect(&r);
    ASSERT_EQ(reports.size(), 1u);
    const Rect clipped = {0, 15, 3, 20};
    EXPECT_TRUE(EqualRect(&reports[0], &clipped));

    World other(4, 4);
    const Rect all = {0, 0, 4, 4};
    const Rect into = {5, 5, 9, 9};
    CopyBits(other.bits(), GetPortBitMapForCopyBits(target.port), &all, &into, srcCopy, nullptr);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(EqualRect(&reports[1], &into));

    EXPECT_EQ(QDFlushPortBuffer(target.port, nullptr), noErr);
    ASSERT_EQ(reports.size(), 3u);
    const Rect whole = target.pixels.bounds();
    EXPECT_TRUE(EqualRect(&reports[2], &whole));
}

TEST_F(QuickDraw, PortsOverForeignPixelsCheckTheirGeometry)
{
    GuardedPixels pixels(10, 10);
    const Rect bounds = pixels.bounds();
    Ptr base = reinterpret_cast<Ptr>(pixels.inner());
    EXPECT_EQ(TBNewPortOnPixels(base, 20, &bounds), nullptr);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(TBNewPortOnPixels(nullptr, pixels.rowBytes(), &bounds), nullptr);

    GrafPtr port = TBNewPortOnPixels(base, pixels.rowBytes(), &bounds);
    ASSERT_NE(port, nullptr);
    const Rect smaller = {0, 0, 4, 6};
    TBSetPortPixels(port, base, pixels.rowBytes(), &smaller);
    Rect r;
    EXPECT_TRUE(EqualRect(GetPortBounds(port, &r), &smaller));
    EXPECT_EQ(GetPortBitMapForCopyBits(port)->bounds.right, 6);
    // Bounds may move but never grow past the pixels.
    const Rect moved = {100, 100, 104, 106};
    SetPortBounds(port, &moved);
    EXPECT_EQ(QDError(), noErr);
    EXPECT_EQ(GetPortBitMapForCopyBits(port)->bounds.left, 100);
    SetPortBounds(port, &bounds);
    EXPECT_EQ(QDError(), paramErr);
    SetPort(port);
    const Rect all = {-32768, -32768, 32767, 32767};
    PaintRect(&all);
    EXPECT_TRUE(pixels.GuardIntact());
    EXPECT_EQ(pixels.pixel(5, 3)[0], 0xFF);
    EXPECT_EQ(pixels.pixel(6, 3)[0], 0);
    TBDisposePort(port);
}

TEST_F(QuickDraw, PictureFailsCleanlyWithoutMemory)
{
    World world(4, 4);
    SetGWorld(world.get(), nullptr);
    const OpenCPicParams params = {Rect{0, 0, 4, 4}, 72 << 16, 72 << 16, -2, 0, 0};
    TBFailAllocationAfter(1);
    EXPECT_EQ(OpenCPicture(&params), nullptr);
    EXPECT_EQ(QDError(), memFullErr);
    TBFailAllocationAfter(0);
    // No picture is recording, so copies just draw.
    const Rect all = world.bounds();
    CopyBits(world.bits(), world.bits(), &all, &all, srcCopy, nullptr);
    EXPECT_EQ(QDError(), noErr);
}

}  // namespace
