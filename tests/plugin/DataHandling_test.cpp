#include "plugin/DataHandling.h"

#include <gtest/gtest.h>

#include <cstring>

#include "plugin/globals.h"

namespace {

bool SameColour(const RGBColor& a, UInt16 r, UInt16 g, UInt16 b)
{
    return a.red == r && a.green == g && a.blue == b;
}

TEST(DataHandling, FullResetGivesTheDocumentedDefaults)
{
    pluginDataRec config;
    std::memset(&config, 0x5A, sizeof config);
    ResetConfig(&config, true);
    EXPECT_EQ(config.StartRel.left, 0.0);
    EXPECT_EQ(config.StartRel.right, 1.0);
    EXPECT_EQ(config.StartRel.top, 0.0);
    EXPECT_EQ(config.StartRel.bottom, 1.0);
    EXPECT_EQ(config.EndRel.right, 1.0);
    EXPECT_EQ(config.Sliders[kThresholdSlider], 17);
    for (int i = 1; i < cNumSliders; ++i)
        EXPECT_EQ(config.Sliders[i], 0);
    EXPECT_TRUE(SameColour(config.Colors[kDarkColor], 0, 0, 65535));
    EXPECT_TRUE(SameColour(config.Colors[kLightColor], 65535, 65535, 65535));
    for (int i = 2; i < cNumColors; ++i)
        EXPECT_TRUE(SameColour(config.Colors[i], 0, 0, 0));
    EXPECT_TRUE(SameColour(config.FrameStartColor, 65535, 0, 0));
    EXPECT_TRUE(SameColour(config.FrameEndColor, 0x5A5A, 0x5A5A, 0x5A5A));
    EXPECT_EQ(config.MediaType, 1);
    EXPECT_TRUE(config.TwoColors);
    EXPECT_FALSE(config.KeepProps);
    EXPECT_FALSE(config.Sync);
    EXPECT_TRUE(config.Outside);
    EXPECT_FALSE(config.ClipActive);
    EXPECT_EQ(config.TheOriginalImage, nullptr);
    EXPECT_EQ(config.TheRendered, nullptr);
}

TEST(DataHandling, PartialResetKeepsTheImages)
{
    pluginDataRec config{};
    config.TheOriginalImage = reinterpret_cast<CGImageRef>(0x1000);
    config.TheRendered = reinterpret_cast<CGImageRef>(0x2000);
    config.MediaType = 3;
    ResetConfig(&config, false);
    EXPECT_EQ(config.TheOriginalImage, reinterpret_cast<CGImageRef>(0x1000));
    EXPECT_EQ(config.TheRendered, reinterpret_cast<CGImageRef>(0x2000));
    EXPECT_EQ(config.MediaType, 1);
    ResetConfig(nullptr, true);
}

TEST(DataHandling, CurrentRelIsTheDialogConfigurationsStartRel)
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    gConfigWorkSpace.TheConfig = &config;
    gConfigWorkSpace.ActiveRel = 2;
    PutCurrentRel(relRect{0.1, 0.9, 0.2, 0.8});
    EXPECT_EQ(config.StartRel.left, 0.1);
    EXPECT_EQ(config.EndRel.left, 0.0);
    EXPECT_EQ(GetCurrentRel().bottom, 0.8);
    gConfigWorkSpace.TheConfig = nullptr;
    EXPECT_EQ(GetCurrentRel().right, 1.0);
    PutCurrentRel(relRect{0.3, 0.4, 0.5, 0.6});
}

}  // namespace
