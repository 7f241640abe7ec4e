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

// Address of a rectangle literal, valid for the full expression.
const Rect* R(const Rect& r)
{
    return &r;
}

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

// ---- Graphics worlds ----

TEST_F(QuickDraw, NewGWorldKeepsBoundsAlignsRowsAndZeroesPixels)
{
    for (SInt16 depth : {SInt16(0), SInt16(32)}) {
        const Rect bounds = {10, 20, 110, 223};
        GWorldPtr gw = nullptr;
        ASSERT_EQ(NewGWorld(&gw, depth, &bounds, nullptr, nullptr, 0), noErr);
        ASSERT_NE(gw, nullptr);
        PixMapHandle pm = GetGWorldPixMap(gw);
        Rect r;
        EXPECT_TRUE(EqualRect(GetPortBounds(gw, &r), &bounds));
        EXPECT_TRUE(EqualRect(GetPixBounds(pm, &r), &bounds));
        EXPECT_EQ(GetPixDepth(pm), 32);
        EXPECT_EQ(GetPixRowBytes(pm) % 16, 0);
        EXPECT_GE(GetPixRowBytes(pm), 203 * 4);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(GetPixBaseAddr(pm)) % 16, 0u);
        const BitMap* bits = GetPortBitMapForCopyBits(gw);
        EXPECT_EQ(bits->baseAddr, GetPixBaseAddr(pm));
        EXPECT_EQ(bits->rowBytes, GetPixRowBytes(pm));
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 203 * 4; ++x)
                ASSERT_EQ(GetPixBaseAddr(pm)[y * GetPixRowBytes(pm) + x], 0);
        DisposeGWorld(gw);
    }
    DisposeGWorld(nullptr);
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

TEST_F(QuickDraw, PixelStateRoundTrips)
{
    World world(4, 4);
    PixMapHandle pm = GetGWorldPixMap(world.get());
    EXPECT_EQ(GetPixelsState(pm) & pixelsLocked, 0u);
    EXPECT_TRUE(LockPixels(pm));
    const GWorldFlags locked = GetPixelsState(pm);
    EXPECT_NE(locked & pixelsLocked, 0u);
    UnlockPixels(pm);
    EXPECT_EQ(GetPixelsState(pm) & pixelsLocked, 0u);
    SetPixelsState(pm, locked);
    EXPECT_EQ(GetPixelsState(pm), locked);
    EXPECT_FALSE(LockPixels(nullptr));
    EXPECT_EQ(GetPixelsState(nullptr), 0u);
}

// ---- Current port ----

TEST_F(QuickDraw, CurrentPortIsSavedAndRestored)
{
    GrafPtr initial = nullptr;
    GetPort(&initial);
    ASSERT_NE(initial, nullptr);  // the fallback port when nothing was set

    World a(2, 2), b(3, 3);
    SetGWorld(a.get(), nullptr);
    CGrafPtr port = nullptr;
    GDHandle device = reinterpret_cast<GDHandle>(1);
    GetGWorld(&port, &device);
    EXPECT_EQ(port, a.get());
    EXPECT_EQ(device, nullptr);

    CGrafPtr old = nullptr;
    EXPECT_TRUE(QDSwapPort(b.get(), &old));
    EXPECT_EQ(old, a.get());
    EXPECT_FALSE(QDSwapPort(b.get(), &old));
    GetPort(&port);
    EXPECT_EQ(port, b.get());
    SetPort(a.get());
    GetPort(&port);
    EXPECT_EQ(port, a.get());
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

// ---- CopyBits ----

TEST_F(QuickDraw, SameSizeCopyIsExactIncludingAlpha)
{
    World from(Rect{-5, -7, 45, 53}), to(Rect{100, 200, 150, 260});
    FillRandom(from, 1);
    const Rect src = from.bounds(), dst = to.bounds();
    CopyBits(from.bits(), to.bits(), &src, &dst, srcCopy, nullptr);
    EXPECT_EQ(QDError(), noErr);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 60; ++x)
            ASSERT_EQ(to.pixel(200 + x, 100 + y), from.pixel(-7 + x, -5 + y)) << x << "," << y;
}

TEST_F(QuickDraw, CopyBetweenSubRectanglesHonoursBothOffsets)
{
    World from(20, 20), to(20, 20);
    FillRandom(from, 2);
    const Rect src = {3, 4, 8, 10};  // 6 wide, 5 high
    const Rect dst = {12, 1, 17, 7};
    CopyBits(from.bits(), to.bits(), &src, &dst, srcCopy, nullptr);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 1 && x < 7 && y >= 12 && y < 17;
            const Pixel expected = inside ? from.pixel(x + 3, y - 9) : Pixel{0, 0, 0, 0};
            ASSERT_EQ(to.pixel(x, y), expected) << x << "," << y;
        }
    }
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

TEST_F(QuickDraw, ScaledCopyEnlargesSmoothlyWithoutDarkEdges)
{
    World from(2, 1), to(64, 8);
    from.set(0, 0, Pixel{0, 0, 0, 0});
    from.set(1, 0, Pixel{255, 200, 100, 50});
    const Rect src = from.bounds(), dst = to.bounds();
    CopyBits(from.bits(), to.bits(), &src, &dst, srcCopy, nullptr);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(to.pixel(0, y), (Pixel{0, 0, 0, 0}));
        EXPECT_EQ(to.pixel(63, y), (Pixel{255, 200, 100, 50}));
        for (int x = 1; x < 64; ++x)
            ASSERT_GE(to.pixel(x, y)[1], to.pixel(x - 1, y)[1]) << x;
    }
    EXPECT_GT(to.pixel(32, 4)[1], 50);
    EXPECT_LT(to.pixel(32, 4)[1], 150);
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

TEST_F(QuickDraw, BooleanModesWorkOnColourBytes)
{
    World from(4, 4), to(4, 4);
    FillRandom(from, 5);
    FillRandom(to, 6);
    const Pixel original = to.pixel(1, 1);
    const Rect all = from.bounds();
    CopyBits(from.bits(), to.bits(), &all, &all, srcXor, nullptr);
    const Pixel s = from.pixel(1, 1);
    EXPECT_EQ(to.pixel(1, 1), (Pixel{original[0], UInt8(original[1] ^ s[1]),
                                     UInt8(original[2] ^ s[2]), UInt8(original[3] ^ s[3])}));
    CopyBits(from.bits(), to.bits(), &all, &all, srcXor, nullptr);
    EXPECT_EQ(to.pixel(1, 1), original);
    CopyBits(from.bits(), to.bits(), &all, &all, notSrcCopy, nullptr);
    EXPECT_EQ(to.pixel(1, 1), (Pixel{s[0], UInt8(~s[1]), UInt8(~s[2]), UInt8(~s[3])}));
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

// ---- Drawing ----

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

TEST_F(QuickDraw, InvertRectTwiceRestoresAndKeepsAlpha)
{
    World world(8, 8);
    FillRandom(world, 7);
    const Pixel before = world.pixel(3, 3);
    SetGWorld(world.get(), nullptr);
    const Rect r = {2, 2, 6, 6};
    InvertRect(&r);
    EXPECT_EQ(world.pixel(3, 3),
              (Pixel{before[0], UInt8(~before[1]), UInt8(~before[2]), UInt8(~before[3])}));
    InvertRect(&r);
    EXPECT_EQ(world.pixel(3, 3), before);
}

TEST_F(QuickDraw, FrameRectDrawsAPenWideOutlineInside)
{
    World world(10, 10);
    SetGWorld(world.get(), nullptr);
    ForeColor(whiteColor);
    PenSize(2, 1);
    const Rect r = {1, 1, 9, 9};
    FrameRect(&r);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const bool inRect = x >= 1 && x < 9 && y >= 1 && y < 9;
            const bool inHole = x >= 3 && x < 7 && y >= 2 && y < 8;
            ASSERT_EQ(world.pixel(x, y)[1], inRect && !inHole ? 0xFF : 0) << x << "," << y;
        }
    }
}

TEST_F(QuickDraw, OvalsStayInsideTheirRectangleAndFrameLeavesTheMiddle)
{
    World world(21, 11);
    SetGWorld(world.get(), nullptr);
    ForeColor(greenColor);
    const Rect r = {0, 0, 11, 21};
    PaintOval(&r);
    EXPECT_EQ(world.pixel(10, 5), (Pixel{0xFF, 0, 0xFF, 0}));
    EXPECT_EQ(world.pixel(0, 5)[2], 0xFF);
    EXPECT_EQ(world.pixel(20, 5)[2], 0xFF);
    EXPECT_EQ(world.pixel(10, 0)[2], 0xFF);
    EXPECT_EQ(world.pixel(0, 0)[2], 0);
    EXPECT_EQ(world.pixel(20, 10)[2], 0);
    // Symmetric about both axes.
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 21; ++x)
            ASSERT_EQ(world.pixel(x, y), world.pixel(20 - x, 10 - y)) << x << "," << y;

    EraseOval(&r);
    EXPECT_EQ(world.pixel(10, 5), (Pixel{0xFF, 0xFF, 0xFF, 0xFF}));
    FrameOval(&r);
    EXPECT_EQ(world.pixel(10, 5)[1], 0xFF);  // the middle keeps the erased colour
    EXPECT_EQ(world.pixel(0, 5), (Pixel{0xFF, 0, 0xFF, 0}));
}

TEST_F(QuickDraw, ThickXorLinesInvertEachPixelOnce)
{
    World world(40, 40);
    SetGWorld(world.get(), nullptr);
    PenSize(3, 2);
    PenMode(patXor);
    MoveTo(2, 3);
    LineTo(30, 20);
    Point pen;
    GetPen(&pen);
    EXPECT_EQ(pen.h, 30);
    EXPECT_EQ(pen.v, 20);
    // Every touched pixel is fully inverted once, never back to black.
    int touched = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            if (world.pixel(x, y)[1] != 0) {
                ASSERT_EQ(world.pixel(x, y), (Pixel{0, 0xFF, 0xFF, 0xFF})) << x << "," << y;
                ++touched;
            }
    EXPECT_GT(touched, 28 * 2);
    EXPECT_EQ(world.pixel(2, 3)[1], 0xFF);
    EXPECT_EQ(world.pixel(32, 21)[1], 0xFF);  // the pen hangs right and below the end
    EXPECT_EQ(world.pixel(33, 21)[1], 0);
    MoveTo(2, 3);
    LineTo(30, 20);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(world.pixel(x, y), (Pixel{0, 0, 0, 0})) << x << "," << y;
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

// ---- Text ----

TEST_F(QuickDraw, TextGoesThroughTheInstalledHooks)
{
    World world(4, 4);
    SetGWorld(world.get(), nullptr);
    // The ui library installs its hooks when it is loaded; start without.
    TBSetTextHooks(nullptr);
    const unsigned char hello[] = "\x05hello";
    EXPECT_EQ(StringWidth(hello), 0);
    DrawString(hello);

    static int drawn;
    drawn = 0;
    const TBTextHooks hooks = {
        [](GrafPtr port, ConstStr255Param s) { return SInt16(s[0] * port->textSize); },
        [](GrafPtr, ConstStr255Param s) { drawn += s[0]; },
    };
    TBSetTextHooks(&hooks);
    TextSize(3);
    TextFont(4);
    TextFace(1);
    EXPECT_EQ(StringWidth(hello), 15);
    DrawString(hello);
    EXPECT_EQ(drawn, 5);
    EXPECT_EQ(world.get()->textFont, 4);
    EXPECT_EQ(world.get()->textFace, 1);
    TBSetTextHooks(nullptr);
}

// ---- Rectangles, points, regions ----

TEST_F(QuickDraw, RectArithmeticFollowsThePlatform)
{
    Rect a, b, c;
    SetRect(&a, 0, 0, 10, 10);
    SetRect(&b, 10, 0, 20, 10);  // touches a only along an edge
    c = Rect{1, 2, 3, 4};
    EXPECT_FALSE(SectRect(&a, &b, &c));
    EXPECT_TRUE(EqualRect(&c, R({0, 0, 0, 0})));
    SetRect(&b, 5, -5, 15, 5);
    EXPECT_TRUE(SectRect(&a, &b, &a));  // the result may overwrite an input
    EXPECT_TRUE(EqualRect(&a, R({0, 5, 5, 10})));

    UnionRect(&a, &b, &c);
    EXPECT_TRUE(EqualRect(&c, R({-5, 5, 5, 15})));

    Rect inset = {0, 0, 10, 10};
    InsetRect(&inset, 2, 3);
    EXPECT_TRUE(EqualRect(&inset, R({3, 2, 7, 8})));
    InsetRect(&inset, 3, 0);
    EXPECT_TRUE(EqualRect(&inset, R({0, 0, 0, 0})));

    Rect edge = {32767, -32768, 32767, 32767};
    OffsetRect(&edge, 1, 1);  // wraps, defined
    EXPECT_EQ(edge.top, -32768);
    EXPECT_EQ(edge.left, -32767);
    EXPECT_TRUE(EmptyRect(R({5, 5, 5, 6})));
    EXPECT_TRUE(EmptyRect(R({5, 5, 6, 4})));
    EXPECT_FALSE(EmptyRect(R({5, 5, 6, 6})));

    Point p1, p2;
    SetPt(&p1, 9, 1);
    SetPt(&p2, 3, 7);
    Pt2Rect(p1, p2, &c);
    EXPECT_TRUE(EqualRect(&c, R({1, 3, 7, 9})));
    EXPECT_TRUE(PtInRect(Point{1, 3}, &c));
    EXPECT_FALSE(PtInRect(Point{1, 9}, &c));
    EXPECT_FALSE(PtInRect(Point{7, 3}, &c));
}

TEST_F(QuickDraw, RegionsAndClipRoundTrip)
{
    RgnHandle rgn = NewRgn();
    ASSERT_NE(rgn, nullptr);
    EXPECT_TRUE(EmptyRgn(rgn));
    SetRectRgn(rgn, 1, 2, 30, 40);
    Rect r;
    EXPECT_TRUE(EqualRect(GetRegionBounds(rgn, &r), R({2, 1, 40, 30})));
    EXPECT_FALSE(EmptyRgn(rgn));
    SetRectRgn(rgn, 5, 5, 1, 1);
    EXPECT_TRUE(EmptyRgn(rgn));

    World world(50, 50);
    SetGWorld(world.get(), nullptr);
    const Rect clip = {3, 4, 20, 25};
    ClipRect(&clip);
    GetClip(rgn);
    EXPECT_TRUE(EqualRect(GetRegionBounds(rgn, &r), &clip));
    const Rect wide = {0, 0, 50, 50};
    ClipRect(&wide);
    SetClip(rgn);
    ForeColor(whiteColor);
    PaintRect(&wide);
    EXPECT_EQ(world.pixel(4, 3)[1], 0xFF);
    EXPECT_EQ(world.pixel(3, 3)[1], 0);
    EXPECT_EQ(world.pixel(24, 19)[1], 0xFF);
    EXPECT_EQ(world.pixel(25, 19)[1], 0);
    DisposeRgn(rgn);
}

// ---- Pictures ----

TEST_F(QuickDraw, PicturesReplayRecordedPixels)
{
    World source(16, 8), canvas(Rect{10, 10, 30, 40}), shown(16, 8), half(8, 4);
    FillRandom(source, 8);
    SetGWorld(canvas.get(), nullptr);
    const OpenCPicParams params = {Rect{12, 12, 20, 28}, 72 << 16, 72 << 16, -2, 0, 0};
    PicHandle pic = OpenCPicture(&params);
    ASSERT_NE(pic, nullptr);
    const Rect src = source.bounds();
    CopyBits(source.bits(), canvas.bits(), &src, &params.srcRect, srcCopy, nullptr);
    ClosePicture();
    Rect frame;
    EXPECT_TRUE(EqualRect(QDGetPictureBounds(pic, &frame), &params.srcRect));

    // Pixels drawn after closing are not part of the picture.
    CopyBits(half.bits(), canvas.bits(), R({0, 0, 4, 8}),
             R({12, 12, 16, 20}), srcCopy, nullptr);

    SetGWorld(shown.get(), nullptr);
    const Rect all = shown.bounds();
    DrawPicture(pic, &all);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(shown.pixel(x, y), source.pixel(x, y)) << x << "," << y;

    SetGWorld(half.get(), nullptr);
    const Rect small = half.bounds();
    DrawPicture(pic, &small);
    EXPECT_NEAR(half.pixel(1, 1)[2],
                (source.pixel(2, 2)[2] + source.pixel(3, 2)[2] + source.pixel(2, 3)[2] +
                 source.pixel(3, 3)[2]) / 4.0,
                1.0);
    KillPicture(pic);
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
