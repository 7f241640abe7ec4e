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

}  // namespace
