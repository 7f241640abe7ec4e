#include "effect/lineEffect.h"

#include <gtest/gtest.h>

#include "CoreGraphics.h"

namespace {

TEST(RenderLineArt, WithoutOriginalItOnlyDropsTheOldRendering)
{
    const UInt8 pixels[4] = {255, 9, 9, 9};
    pluginDataRec config{};
    config.TheRendered = TBCGImageCreateARGB(1, 1, pixels, 4);
    RenderLineArt(&config);
    EXPECT_EQ(config.TheRendered, nullptr);
}

TEST(RenderLineArt, RendersTheOriginalAtItsOwnSize)
{
    UInt8 pixels[3 * 2 * 4];
    for (int i = 0; i < 6; ++i) {
        pixels[4 * i] = 255;
        pixels[4 * i + 1] = UInt8(40 * i);
        pixels[4 * i + 2] = 7;
        pixels[4 * i + 3] = 200;
    }
    pluginDataRec config{};
    config.TheOriginalImage = TBCGImageCreateARGB(3, 2, pixels, 12);
    RenderLineArt(&config);
    ASSERT_NE(config.TheRendered, nullptr);
    EXPECT_EQ(CGImageGetWidth(config.TheRendered), 3u);
    EXPECT_EQ(CGImageGetHeight(config.TheRendered), 2u);
    size_t rowBytes = 0;
    const UInt8* rendered = TBCGImageGetARGBData(config.TheRendered, &rowBytes);
    ASSERT_NE(rendered, nullptr);
    EXPECT_EQ(rendered[rowBytes + 4 + 1], 160);
    CGImageRelease(config.TheRendered);
    CGImageRelease(config.TheOriginalImage);
}

TEST(RenderLineArtDeathTest, NilConfigurationEndsTheProcess)
{
    EXPECT_EXIT(RenderLineArt(nullptr), ::testing::ExitedWithCode(1), "nil config on RenderLineArt");
}

}  // namespace
