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

CGImageRef SolidImage(int width, int height, Pixel pixel)
{
    std::vector<UInt8> bytes;
    for (int i = 0; i < width * height; ++i)
        bytes.insert(bytes.end(), {UInt8(pixel[0]), UInt8(pixel[1]), UInt8(pixel[2]),
                                   UInt8(pixel[3])});
    return TBCGImageCreateARGB(width, height, bytes.data(), width * 4);
}

// The rotated drawing the plug-in does: turn about the target's centre.
void DrawTurned(CGContextRef c, CGImageRef image, CGRect target, float radians)
{
    const CGFloat w = target.size.width, h = target.size.height;
    CGContextSaveGState(c);
    CGContextTranslateCTM(c, target.origin.x + w / 2, target.origin.y + h / 2);
    CGContextRotateCTM(c, radians);
    CGContextDrawImage(c, TBCGRectMake(-w / 2, -h / 2, w, h), image);
    CGContextRestoreGState(c);
}

TEST(PortContext, UserSpaceStartsAtTheBottomLeftOfThePort)
{
    PortCanvas canvas(20, 10);
    CGContextRef c = canvas.Begin();
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    CGContextFillRect(c, TBCGRectMake(2, 1, 3, 2));  // user rows 1..2 are port rows 7..8
    canvas.End();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 7 && y < 9;
            EXPECT_EQ(canvas.At(x, y), inside ? Pixel({255, 255, 0, 0}) : Pixel({0, 0, 0, 0}))
                << x << "," << y;
        }
    }
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

TEST(PortContext, RefusesWhatIsNotALivePort)
{
    CGContextRef c = reinterpret_cast<CGContextRef>(&c);
    EXPECT_EQ(QDBeginCGContext(nullptr, &c), paramErr);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(QDBeginCGContext(nullptr, nullptr), paramErr);
    EXPECT_EQ(QDEndCGContext(nullptr, &c), paramErr);
}

TEST(Fills, HalfAlphaCompositesOverThePixelsBelow)
{
    PortCanvas canvas(4, 4, {255, 255, 255, 255});
    CGContextRef c = canvas.Begin();
    CGContextSetRGBFillColor(c, 1.0f, 128 / 255.0f, 0.0f, 128 / 255.0f);
    CGContextFillRect(c, TBCGRectMake(0, 0, 2, 4));
    canvas.End();
    // source premultiplied (128, 128, 64, 0) over white
    ExpectNear(canvas.At(0, 0), {255, 255, 191, 127}, 1, "painted");
    EXPECT_EQ(canvas.At(2, 0), Pixel({255, 255, 255, 255}));
}

TEST(Fills, ZeroAlphaLeavesAndFullAlphaCovers)
{
    PortCanvas canvas(4, 4, {255, 10, 20, 30});
    CGContextRef c = canvas.Begin();
    CGContextSetRGBFillColor(c, 1, 1, 1, 0);
    CGContextFillRect(c, TBCGRectMake(0, 0, 4, 4));
    EXPECT_EQ(canvas.At(1, 1), Pixel({255, 10, 20, 30}));
    const CGFloat components[4] = {0, 1, 0, 1};
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGColorRef green = CGColorCreate(space, components);
    CGColorSpaceRelease(space);
    ASSERT_NE(green, nullptr);
    EXPECT_FLOAT_EQ(CGColorGetComponents(green)[1], 1.0f);
    CGContextSetFillColorWithColor(c, green);
    CGColorRelease(green);
    CGContextFillRect(c, TBCGRectMake(0, 0, 4, 4));
    canvas.End();
    EXPECT_EQ(canvas.At(3, 3), Pixel({255, 0, 255, 0}));
}

TEST(Fills, ExtremeRectanglesAreCutToThePort)
{
    PortCanvas canvas(6, 6);
    CGContextRef c = canvas.Begin();
    CGContextSetRGBFillColor(c, 1, 1, 1, 1);
    CGContextFillRect(c, TBCGRectMake(NAN, 0, 5, 5));
    EXPECT_EQ(canvas.At(0, 5), Pixel({0, 0, 0, 0}));
    CGContextFillRect(c, TBCGRectMake(-1e30f, -1e30f, 3e30f, 3e30f));
    canvas.End();
    EXPECT_EQ(canvas.At(0, 0), Pixel({255, 255, 255, 255}));
    EXPECT_EQ(canvas.At(5, 5), Pixel({255, 255, 255, 255}));
}

TEST(Clearing, ClearedPixelsAreAllZeroWhateverTheAlphaAndMode)
{
    PortCanvas canvas(8, 8, {255, 200, 100, 50});
    CGContextRef c = canvas.Begin();
    CGContextSetAlpha(c, 0.25f);
    CGContextSetBlendMode(c, kCGBlendModeScreen);
    CGContextClearRect(c, TBCGRectMake(0, 0, 8, 4));
    canvas.End();
    EXPECT_EQ(canvas.At(0, 7), Pixel({0, 0, 0, 0}));
    EXPECT_EQ(canvas.At(7, 4), Pixel({0, 0, 0, 0}));
    EXPECT_EQ(canvas.At(7, 3), Pixel({255, 200, 100, 50}));
}

TEST(Clearing, TurnedClearTurnsTheClearedArea)
{
    PortCanvas canvas(20, 20, {255, 1, 2, 3});
    CGContextRef c = canvas.Begin();
    CGContextTranslateCTM(c, 10, 10);
    CGContextRotateCTM(c, float(M_PI / 2));
    CGContextClearRect(c, TBCGRectMake(-4, -1, 8, 2));  // 8 wide, turned upright
    canvas.End();
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool cleared = x >= 9 && x < 11 && y >= 6 && y < 14;
            EXPECT_EQ(canvas.At(x, y)[0], cleared ? 0 : 255) << x << "," << y;
        }
    }
}

TEST(ImageDrawing, UnturnedImageLandsExactlyInItsRectangle)
{
    PortCanvas canvas(20, 20);
    CGImageRef image = CoordinateImage(4, 2);
    DrawTurned(canvas.Begin(), image, TBCGRectMake(10, 10, 4, 2), 0);
    canvas.End();
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            // user rows 10..11 are port rows 8..9, the image's top row first
            const bool inside = x >= 10 && x < 14 && y >= 8 && y < 10;
            const Pixel expected = inside ? Pixel({255, 10 + (x - 10) * 20, 100 + (y - 8) * 50, 7})
                                          : Pixel({0, 0, 0, 0});
            EXPECT_EQ(canvas.At(x, y), expected) << x << "," << y;
        }
    }
    CGImageRelease(image);
}

TEST(ImageDrawing, QuarterTurnIsCounterClockwiseAndPixelExact)
{
    PortCanvas canvas(20, 20);
    CGImageRef image = CoordinateImage(4, 2);
    DrawTurned(canvas.Begin(), image, TBCGRectMake(10, 10, 4, 2), float(M_PI / 2));
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

TEST(ImageDrawing, ScaledImageFillsItsRectangleWithoutFadingEdges)
{
    PortCanvas canvas(10, 10);
    CGImageRef image = SolidImage(1, 1, {255, 200, 0, 0});
    CGContextRef c = canvas.Begin();
    CGContextDrawImage(c, TBCGRectMake(2, 2, 5, 3), image);
    canvas.End();
    EXPECT_EQ(canvas.At(2, 5), Pixel({255, 200, 0, 0}));
    EXPECT_EQ(canvas.At(6, 7), Pixel({255, 200, 0, 0}));
    EXPECT_EQ(canvas.At(7, 7), Pixel({0, 0, 0, 0}));
    EXPECT_EQ(canvas.At(2, 4), Pixel({0, 0, 0, 0}));
    CGImageRelease(image);
}

TEST(ImageDrawing, ShrunkImageAveragesInsteadOfSkippingPixels)
{
    std::vector<UInt8> checker;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const UInt8 v = (x + y) % 2 == 0 ? 255 : 0;
            checker.insert(checker.end(), {255, v, v, v});
        }
    }
    CGImageRef image = TBCGImageCreateARGB(16, 16, checker.data(), 64);
    PortCanvas canvas(2, 2);
    CGContextRef c = canvas.Begin();
    CGContextDrawImage(c, TBCGRectMake(0, 0, 2, 2), image);
    canvas.End();
    ExpectNear(canvas.At(0, 0), {255, 128, 128, 128}, 12, "shrunk checkerboard");
    ExpectNear(canvas.At(1, 1), {255, 128, 128, 128}, 12, "shrunk checkerboard");
    CGImageRelease(image);
}

TEST(ImageDrawing, GlobalAlphaFadesTheImage)
{
    PortCanvas canvas(4, 4, {255, 0, 0, 0});
    CGImageRef image = SolidImage(2, 2, {255, 255, 255, 255});
    CGContextRef c = canvas.Begin();
    CGContextSetAlpha(c, 0.5f);
    CGContextDrawImage(c, TBCGRectMake(0, 0, 4, 4), image);
    canvas.End();
    ExpectNear(canvas.At(1, 1), {255, 128, 128, 128}, 1, "half alpha");
    CGImageRelease(image);
}

TEST(ImageDrawing, SavedStateComesBackOnRestore)
{
    PortCanvas canvas(4, 4, {255, 0, 0, 0});
    CGImageRef image = SolidImage(1, 1, {255, 255, 255, 255});
    CGContextRef c = canvas.Begin();
    CGContextSaveGState(c);
    CGContextSetAlpha(c, 0.0f);
    CGContextTranslateCTM(c, 100, 100);
    CGContextRestoreGState(c);
    CGContextRestoreGState(c);  // unbalanced: ignored
    CGContextDrawImage(c, TBCGRectMake(0, 0, 1, 1), image);
    canvas.End();
    EXPECT_EQ(canvas.At(0, 3), Pixel({255, 255, 255, 255}));
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
        {kCGBlendModeNormal, {255, 100, 150, 250}, "normal"},
        {kCGBlendModeMultiply, {255, 78, 59, 49}, "multiply"},
        {kCGBlendModeScreen, {255, 222, 191, 251}, "screen"},
        {kCGBlendModeDifference, {255, 100, 50, 200}, "difference"},
        {kCGBlendModeDarken, {255, 100, 100, 50}, "darken"},
        {kCGBlendModeLighten, {255, 200, 150, 250}, "lighten"},
        {kCGBlendModeExclusion, {255, 143, 132, 202}, "exclusion"},
        {kCGBlendModeHardLight, {255, 157, 127, 247}, "hard light"},
        {kCGBlendModeOverlay, {255, 188, 118, 98}, "overlay"},
        {kCGBlendModePlusLighter, {255, 255, 250, 255}, "plus lighter"},
        {kCGBlendModePlusDarker, {255, 45, 0, 45}, "plus darker"},
        {kCGBlendModeDestinationOver, {255, 200, 100, 50}, "destination over"},
        {kCGBlendModeXOR, {0, 0, 0, 0}, "xor"},
        {kCGBlendModeClear, {0, 0, 0, 0}, "clear"},
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
        {kCGBlendModeSourceIn, {128, 128, 0, 0}, "source in"},
        {kCGBlendModeSourceOut, {0, 0, 0, 0}, "source out"},
    };
    for (const BlendCase& test : cases) {
        PortCanvas canvas(6, 6, {255, 200, 100, 50});
        CGImageRef image = SolidImage(1, 1, {255, 255, 0, 0});
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

TEST(BitmapContexts, SnapshotDoesNotFollowLaterDrawing)
{
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef c = CGBitmapContextCreate(nullptr, 3, 2, 8, 0, space,
                                           kCGImageAlphaPremultipliedFirst);
    CGColorSpaceRelease(space);
    ASSERT_NE(c, nullptr);
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    CGContextFillRect(c, TBCGRectMake(0, 0, 3, 2));
    CGImageRef image = CGBitmapContextCreateImage(c);
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextFillRect(c, TBCGRectMake(0, 0, 3, 2));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 3u);
    EXPECT_EQ(CGImageGetHeight(image), 2u);
    size_t rowBytes = 0;
    const UInt8* p = TBCGImageGetARGBData(image, &rowBytes);
    EXPECT_EQ(Pixel({p[rowBytes + 8], p[rowBytes + 9], p[rowBytes + 10], p[rowBytes + 11]}),
              Pixel({255, 255, 0, 0}));
    const auto* data = static_cast<const UInt8*>(CGBitmapContextGetData(c));
    EXPECT_EQ(data[3], 255);  // blue, bytes A, R, G, B
    CGImageRelease(image);
    CGContextRelease(c);
}

TEST(BitmapContexts, ContextOnAWorldReadsItsPixelsInPlace)
{
    PortCanvas canvas(5, 3);
    canvas.Set(4, 2, {255, 10, 20, 30});
    PixMapHandle pm = GetGWorldPixMap(canvas.world_);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef c = CGBitmapContextCreate(GetPixBaseAddr(pm), 5, 3, 8, GetPixRowBytes(pm),
                                           space, kCGImageAlphaPremultipliedFirst);
    CGColorSpaceRelease(space);
    ASSERT_NE(c, nullptr);
    CGImageRef image = CGBitmapContextCreateImage(c);
    CGContextRelease(c);
    canvas.Set(4, 2, {0, 0, 0, 0});
    size_t rowBytes = 0;
    const UInt8* p = TBCGImageGetARGBData(image, &rowBytes) + 2 * rowBytes + 16;
    EXPECT_EQ(Pixel({p[0], p[1], p[2], p[3]}), Pixel({255, 10, 20, 30}));

    CGImageRef copy = CGImageCreateCopy(image);
    CGImageRelease(image);
    EXPECT_EQ(TBCGImageGetARGBData(copy, &rowBytes)[2 * rowBytes + 17], 10);
    CGImageRef corner = CGImageCreateWithImageInRect(copy, TBCGRectMake(3, 1, 10, 10));
    ASSERT_NE(corner, nullptr);
    EXPECT_EQ(CGImageGetWidth(corner), 2u);
    EXPECT_EQ(CGImageGetHeight(corner), 2u);
    EXPECT_EQ(TBCGImageGetARGBData(corner, &rowBytes)[rowBytes + 5], 10);
    CGImageRelease(corner);
    CGImageRelease(copy);
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
