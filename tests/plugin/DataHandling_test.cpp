#include "plugin/DataHandling.h"

#include <gtest/gtest.h>

#include <cstring>

#include "plugin/globals.h"

namespace {

TEST(DataHandling, ResetGivesTheDefaultsAndAPartialOneKeepsTheImages)
{
    pluginDataRec config;
    std::memset(&config, 0x5A, sizeof config);
    ResetConfig(&config, true);
    EXPECT_EQ(config.StartRel.right, 1.0);
    EXPECT_EQ(config.EndRel.bottom, 1.0);
    EXPECT_EQ(config.Sliders[kThresholdSlider], 17);
    EXPECT_EQ(config.Sliders[cNumSliders - 1], 0);
    EXPECT_EQ(config.Colors[kDarkColor].blue, 65535);
    EXPECT_EQ(config.Colors[cNumColors - 1].red, 0);
    EXPECT_EQ(config.FrameEndColor.red, 0x5A5A);  // left as it was
    EXPECT_EQ(config.MediaType, 1);
    EXPECT_EQ(config.TheRendered, nullptr);

    config.TheOriginalImage = reinterpret_cast<CGImageRef>(0x1000);
    config.TheRendered = reinterpret_cast<CGImageRef>(0x2000);
    config.MediaType = 3;
    ResetConfig(&config, false);
    EXPECT_EQ(config.TheOriginalImage, reinterpret_cast<CGImageRef>(0x1000));
    EXPECT_EQ(config.TheRendered, reinterpret_cast<CGImageRef>(0x2000));
    EXPECT_EQ(config.MediaType, 1);
    ResetConfig(nullptr, true);
}

TEST(DataHandling, CurrentRelIsTheStartRelAndSafeWithoutAConfiguration)
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    gConfigWorkSpace.TheConfig = &config;
    gConfigWorkSpace.ActiveRel = 2;
    PutCurrentRel(relRect{0.1, 0.9, 0.2, 0.8});
    EXPECT_EQ(config.StartRel.left, 0.1);
    EXPECT_EQ(config.EndRel.left, 0.0);
    gConfigWorkSpace.TheConfig = nullptr;
    EXPECT_EQ(GetCurrentRel().right, 1.0);
    PutCurrentRel(relRect{0.3, 0.4, 0.5, 0.6});
}

}  // namespace
