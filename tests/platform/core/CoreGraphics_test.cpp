#include "CoreGraphics.h"
#include "MacErrors.h"
#include "QuickDraw.h"
#include "QuickDrawInternal.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using Pixel = std::array<int, 4>;  // alpha, red, green, blue

// A QuickDraw world filled with one pixel, and a context on it.
class PortCanvas {
public:
    PortCanvas(SInt16 width, SInt16 height, Pixel fill = {0, 0, 0, 0})
    {
        Rect bounds;
        SetRect(&bounds, 0, 0, width, height);
        EXPECT_EQ(NewGWorld(&world_, 32, &bounds, nullptr, nullptr, 0), noErr);
        PixMapHandle pm = GetGWorldPixMap(world_);
        base_ = reinterpret_cast<UInt8*>(GetPixBaseAddr(pm));
        rowBytes_ = GetPixRowBytes(pm);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                Set(x, y, fill);
        }
    }
    ~PortCanvas()
    {
        if (context_ != nullptr)
            QDEndCGContext(world_, &context_);
        DisposeGWorld(world_);
    }

    CGContextRef Begin()
    {
        EXPECT_EQ(QDBeginCGContext(world_, &context_), noErr);
        return context_;
    }
    void End() { QDEndCGContext(world_, &context_); }

    // x, y in QuickDraw pixels: row 0 is the top.
    Pixel At(int x, int y) const
    {
        const UInt8* p = base_ + y * rowBytes_ + x * 4;
        return {p[0], p[1], p[2], p[3]};
    }
    void Set(int x, int y, Pixel v)
    {
        UInt8* p = base_ + y * rowBytes_ + x * 4;
        for (int i = 0; i < 4; ++i)
            p[i] = UInt8(v[i]);
    }

    GWorldPtr world_ = nullptr;
    UInt8* base_ = nullptr;
    SInt32 rowBytes_ = 0;
    CGContextRef context_ = nullptr;
};

void ExpectNear(const Pixel& actual, const Pixel& expected, int tolerance, const char* what)
{
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << what << " channel " << i;
}

// An image of opaque pixels whose red and green channels tell where they came from.
CGImageRef CoordinateImage(int width, int height)
{
    std::vector<UInt8> bytes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bytes.insert(bytes.end(), {255, UInt8(10 + x * 20), UInt8(100 + y * 50), 7});
        }
    }
    return TBCGImageCreateARGB(width, height, bytes.data(), width * 4);
}

TEST(PortContext, EndReleasesTheContextAndReportsTheChangedPixels)
{
    std::vector<UInt32> pixels(16 * 8, 0);
    Rect bounds;
    SetRect(&bounds, 0, 0, 16, 8);
    GrafPtr port = TBNewPortOnPixels(reinterpret_cast<Ptr>(pixels.data()), 64, &bounds);
    static Rect reported;
    static int reports;
    reports = 0;
    port->pixelsChanged = [](OpaqueGrafPtr*, const Rect* changed) {
        reported = *changed;
        ++reports;
    };
    CGContextRef c = nullptr;
    ASSERT_EQ(QDBeginCGContext(port, &c), noErr);
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextFillRect(c, TBCGRectMake(4, 2, 2, 3));
    EXPECT_EQ(QDEndCGContext(port, &c), noErr);
    EXPECT_EQ(c, nullptr);
    CGContextRelease(c);  // what the plug-in does next: must be harmless
    ASSERT_EQ(reports, 1);
    EXPECT_EQ(reported.left, 4);
    EXPECT_EQ(reported.right, 6);
    EXPECT_EQ(reported.top, 3);
    EXPECT_EQ(reported.bottom, 6);
    TBDisposePort(port);
}

TEST(Fills, HalfAlphaCompositesAndExtremeRectanglesAreCut)
{
    PortCanvas canvas(4, 4, {255, 255, 255, 255});
    CGContextRef c = canvas.Begin();
    CGContextSetRGBFillColor(c, 1.0f, 128 / 255.0f, 0.0f, 128 / 255.0f);
    CGContextFillRect(c, TBCGRectMake(0, 0, 2, 4));
    // source premultiplied (128, 128, 64, 0) over white
    ExpectNear(canvas.At(0, 0), {255, 255, 191, 127}, 1, "painted");
    EXPECT_EQ(canvas.At(2, 0), Pixel({255, 255, 255, 255}));
    CGContextSetRGBFillColor(c, 0, 0, 0, 1);
    CGContextFillRect(c, TBCGRectMake(NAN, 0, 5, 5));
    EXPECT_EQ(canvas.At(3, 3), Pixel({255, 255, 255, 255}));
    CGContextFillRect(c, TBCGRectMake(-1e30f, -1e30f, 3e30f, 3e30f));
    canvas.End();
    EXPECT_EQ(canvas.At(0, 0), Pixel({255, 0, 0, 0}));
    EXPECT_EQ(canvas.At(3, 3), Pixel({255, 0, 0, 0}));
}

TEST(ImageDrawing, QuarterTurnIsCounterClockwiseAndPixelExact)
{
    PortCanvas canvas(20, 20);
    CGImageRef image = CoordinateImage(4, 2);
    CGContextRef c = canvas.Begin();
    CGContextTranslateCTM(c, 12, 11);  // turn about the target's centre
    CGContextRotateCTM(c, float(M_PI / 2));
    CGContextDrawImage(c, TBCGRectMake(-2, -1, 4, 2), image);
    canvas.End();
    // Centre (12, 11) is port point (12, 9); the turned image is 2 wide and
    // 4 high. Its top row becomes the left column, read from the bottom up.
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 11 && x < 13 && y >= 7 && y < 11;
            Pixel expected = {0, 0, 0, 0};
            if (inside) {
                const int u = 3 - (y - 7), v = x - 11;
                expected = {255, 10 + u * 20, 100 + v * 50, 7};
            }
            EXPECT_EQ(canvas.At(x, y), expected) << x << "," << y;
        }
    }
    CGImageRelease(image);
}

struct BlendCase {
    CGBlendMode mode;
    Pixel expected;  // result inside the filled area
    const char* name;
};

TEST(BlendModes, OpaqueColoursCombineByTheModesFormula)
{
    // destination (200, 100, 50), source (100, 150, 250), both opaque
    const BlendCase cases[] = {
        {kCGBlendModeMultiply, {255, 78, 59, 49}, "multiply"},
        {kCGBlendModeScreen, {255, 222, 191, 251}, "screen"},
        {kCGBlendModeHardLight, {255, 157, 127, 247}, "hard light"},
        {kCGBlendModeOverlay, {255, 188, 118, 98}, "overlay"},
        {kCGBlendModePlusDarker, {255, 45, 0, 45}, "plus darker"},
        {kCGBlendModeXOR, {0, 0, 0, 0}, "xor"},
        {99, {255, 100, 150, 250}, "unknown draws as normal"},
    };
    for (const BlendCase& test : cases) {
        PortCanvas canvas(4, 4, {255, 200, 100, 50});
        CGContextRef c = canvas.Begin();
        CGContextSetBlendMode(c, test.mode);
        CGContextSetRGBFillColor(c, 100 / 255.0f, 150 / 255.0f, 250 / 255.0f, 1);
        CGContextFillRect(c, TBCGRectMake(0, 0, 2, 4));
        canvas.End();
        ExpectNear(canvas.At(0, 0), test.expected, 1, test.name);
        EXPECT_EQ(canvas.At(3, 0), Pixel({255, 200, 100, 50})) << test.name << " outside";
    }
}

TEST(BlendModes, ModesThatKeepOnlyTheSourceStayInsideTheShape)
{
    // Copy and destination-in would change the whole destination if the
    // shape did not bound them.
    const BlendCase cases[] = {
        {kCGBlendModeCopy, {128, 128, 0, 0}, "copy at half alpha"},
        {kCGBlendModeDestinationIn, {128, 100, 50, 25}, "destination in"},
        {kCGBlendModeSourceOut, {0, 0, 0, 0}, "source out"},
    };
    for (const BlendCase& test : cases) {
        PortCanvas canvas(6, 6, {255, 200, 100, 50});
        const UInt8 red[4] = {255, 255, 0, 0};
        CGImageRef image = TBCGImageCreateARGB(1, 1, red, 4);
        CGContextRef c = canvas.Begin();
        CGContextSetBlendMode(c, test.mode);
        CGContextSetAlpha(c, 128 / 255.0f);
        CGContextDrawImage(c, TBCGRectMake(1, 1, 2, 2), image);
        canvas.End();
        ExpectNear(canvas.At(1, 4), test.expected, 1, test.name);
        EXPECT_EQ(canvas.At(0, 0), Pixel({255, 200, 100, 50})) << test.name << " outside";
        EXPECT_EQ(canvas.At(3, 4), Pixel({255, 200, 100, 50})) << test.name << " outside";
        CGImageRelease(image);
    }
}

TEST(BitmapContexts, OtherLayoutsPutChannelsInTheirBytes)
{
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    constexpr int kSkipped = -1;
    const struct {
        CGBitmapInfo info;
        Pixel bytes;  // memory order after an opaque (10, 20, 30) fill
    } layouts[] = {
        {kCGImageAlphaNoneSkipFirst, {kSkipped, 10, 20, 30}},
        {kCGImageAlphaNoneSkipLast | kCGBitmapByteOrder32Little, {kSkipped, 30, 20, 10}},
        {kCGImageAlphaPremultipliedLast, {10, 20, 30, 255}},
        {kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little, {30, 20, 10, 255}},
    };
    for (const auto& layout : layouts) {
        alignas(16) UInt8 pixels[16] = {};
        CGContextRef c = CGBitmapContextCreate(pixels, 2, 2, 8, 8, space, layout.info);
        ASSERT_NE(c, nullptr) << layout.info;
        CGContextSetRGBFillColor(c, 10 / 255.0f, 20 / 255.0f, 30 / 255.0f, 1);
        CGContextFillRect(c, TBCGRectMake(0, 0, 2, 2));
        // The skipped byte's value is free.
        for (int i = 0; i < 4; ++i) {
            if (layout.bytes[i] != kSkipped) {
                EXPECT_EQ(pixels[i], layout.bytes[i]) << layout.info << " byte " << i;
            }
        }
        CGImageRef image = CGBitmapContextCreateImage(c);
        const UInt8* p = TBCGImageGetARGBData(image, nullptr);
        EXPECT_EQ(Pixel({p[0], p[1], p[2], p[3]}), Pixel({255, 10, 20, 30})) << layout.info;
        CGImageRelease(image);
        CGContextRelease(c);
    }
    alignas(16) UInt8 pixels[64] = {};
    EXPECT_EQ(CGBitmapContextCreate(pixels, 4, 4, 16, 32, space, 2), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(pixels, 4, 4, 8, 12, space, 2), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(pixels, 4, 4, 8, 16, space, kCGImageAlphaFirst), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 0, 4, 8, 0, space, 2), nullptr);
    EXPECT_EQ(TBCGImageCreateARGB(4, 1, pixels, 15), nullptr);
    CGColorSpaceRelease(space);
}

}  // namespace