#include "CoreGraphics.h"
#include "MacErrors.h"
#include "QuickDraw.h"
#include "QuickDrawInternal.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Pixel = std::array<int, 4>;  // alpha, red, green, blue

TEST(PortContext, EndReleasesTheContextAndReportsTheChangedPixels)
{
    std::vector<UInt8> pixels(16 * 8 * 4, 0);
    const Rect bounds = {0, 0, 8, 16};
    GrafPtr port = TBNewPortOnPixels(reinterpret_cast<Ptr>(pixels.data()), 64, &bounds);
    static std::vector<Rect> reports;
    port->pixelsChanged = [](OpaqueGrafPtr*, const Rect* changed) { reports.push_back(*changed); };
    CGContextRef c = nullptr;
    ASSERT_EQ(QDBeginCGContext(port, &c), noErr);
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextFillRect(c, TBCGRectMake(4, 2, 2, 3));
    EXPECT_EQ(QDEndCGContext(port, &c), noErr);
    EXPECT_EQ(c, nullptr);
    CGContextRelease(c);  // what the plug-in does next: must be harmless
    ASSERT_EQ(reports.size(), 1u);
    const Rect flipped = {3, 4, 6, 6};  // counted from the bottom in Core Graphics
    EXPECT_TRUE(EqualRect(&reports[0], &flipped));
    const UInt8* p = pixels.data() + (3 * 16 + 4) * 4;
    EXPECT_EQ(Pixel({p[0], p[1], p[2], p[3]}), Pixel({255, 0, 0, 255}));
    EXPECT_EQ(pixels[(2 * 16 + 4) * 4], 0);
    TBDisposePort(port);
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
        for (int i = 0; i < 4; ++i)  // the skipped byte's value is free
            EXPECT_EQ(layout.bytes[i] == kSkipped ? kSkipped : pixels[i], layout.bytes[i]) << layout.info << " " << i;
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
