#include "plugin/PluginGlue.h"

#include <gtest/gtest.h>

#include "dialog/DialogTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "CoreGraphics.h"
#include "MacMemory.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace {

pluginDataPtr NewConfigBlock()
{
    UInt32 size;
    pGetConfigSize(size);
    return reinterpret_cast<pluginDataPtr>(NewPtrClear(Size(size)));
}

CGImageRef SmallImage()
{
    const UInt8 pixels[2 * 4] = {255, 1, 2, 3, 255, 4, 5, 6};
    return TBCGImageCreateARGB(2, 1, pixels, 8);
}

TEST(PluginGlue, ConfigSizeIsTheRecordsSize)
{
    UInt32 size = 0;
    pGetConfigSize(size);
    EXPECT_EQ(size, sizeof(pluginDataRec));
    Ptr block = nullptr;
    pNewConfig(block);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GetPtrSize(block), Size(size));
    pDestroyConfig(block);
    pDestroyConfig(nullptr);
}

TEST(PluginGlue, CopyWithoutImageLeavesTheCopyWithoutOne)
{
    pluginDataPtr source = NewConfigBlock();
    pluginDataPtr dest = NewConfigBlock();
    ResetConfig(source, true);
    source->Sliders[kThresholdSlider] = 63;
    source->StartRel = relRect{0.1, 0.2, 0.3, 0.4};
    pCopyConfig(source, dest);
    EXPECT_EQ(dest->Sliders[kThresholdSlider], 63);
    EXPECT_EQ(dest->StartRel.bottom, 0.4);
    EXPECT_EQ(dest->TheRendered, nullptr);
    EXPECT_EQ(dest->TheOriginalImage, nullptr);
    pCopyConfig(nullptr, dest);
    pCopyConfig(source, nullptr);
    DisposePtr(reinterpret_cast<Ptr>(source));
    DisposePtr(reinterpret_cast<Ptr>(dest));
}

TEST(PluginGlue, CopyGivesEachRecordItsOwnImage)
{
    pluginDataPtr source = NewConfigBlock();
    pluginDataPtr dest = NewConfigBlock();
    ResetConfig(source, true);
    source->TheRendered = SmallImage();
    source->TheOriginalImage = SmallImage();
    pCopyConfig(source, dest);
    ASSERT_NE(dest->TheRendered, nullptr);
    EXPECT_NE(dest->TheRendered, source->TheRendered);
    EXPECT_EQ(CGImageGetWidth(dest->TheRendered), 2u);
    EXPECT_EQ(dest->TheOriginalImage, nullptr);

    pUncopyConfig(source);
    EXPECT_EQ(source->TheRendered, nullptr);
    EXPECT_EQ(CGImageGetWidth(dest->TheRendered), 2u);  // still alive
    pUncopyConfig(dest);
    EXPECT_EQ(dest->TheRendered, nullptr);
    CGImageRelease(source->TheOriginalImage);
    DisposePtr(reinterpret_cast<Ptr>(source));
    DisposePtr(reinterpret_cast<Ptr>(dest));
}

TEST(PluginGlue, MediaFormatOfNoConfigurationIsNTSC)
{
    EXPECT_EQ(GetMediaFormat(nullptr), 1);
    pluginDataRec config{};
    config.MediaType = 3;
    EXPECT_EQ(GetMediaFormat(&config), 3);
}

TEST(PluginGlue, StartUpWritesTheDefaultsToTheNewPreferencesFile)
{
    char pattern[] = "/tmp/brimtone-glue-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("XDG_CONFIG_HOME", pattern, 1);
    PrefsLoaderResetForTests();

    pluginDataPtr config = NewConfigBlock();
    config->Sliders[kThresholdSlider] = 99;
    InitMyPlugIn(config);
    EXPECT_EQ(config->Sliders[kThresholdSlider], 17);
    EXPECT_EQ(config->MediaType, 1);

    pluginDataRec reread{};
    ResetConfig(&reread, true);
    reread.Sliders[kThresholdSlider] = 1;
    EXPECT_TRUE(ReadConfig(&reread));
    EXPECT_EQ(reread.Sliders[kThresholdSlider], 17);

    // A saved configuration wins over the defaults at the next start.
    config->Sliders[kThresholdSlider] = 64;
    ASSERT_TRUE(SaveConfig(config));
    config->Sliders[kThresholdSlider] = 0;
    InitPluginData(config);
    EXPECT_EQ(config->Sliders[kThresholdSlider], 64);
    DisposePtr(reinterpret_cast<Ptr>(config));
    PrefsLoaderResetForTests();
}

TEST(PluginGlue, ConfigureFillsTheWorkSpaceAndRendersAPreview)
{
    Rect bounds{0, 0, 24, 32};
    GWorldPtr frame = AllocateRectGWorld(bounds);
    ASSERT_NE(frame, nullptr);
    pluginDataRec config{};
    ResetConfig(&config, true);
    PluginParams params{};
    dialogtest::StartQt();
    dialogtest::PrivatePrefs prefs;

    for (const SInt32 frames : {0, -5, 1, 80}) {
        dialogtest::Script closeAsCancel({});
        ConfigurePlugIn(&config, frame, &params, 12, frames);
        EXPECT_EQ(gTheConfig, &config);
        EXPECT_EQ(gConfigWorkSpace.TheConfig, &config);
        EXPECT_EQ(gConfigWorkSpace.SourceClip, frame);
        EXPECT_EQ(gConfigWorkSpace.IMovieParams, &params);
        EXPECT_EQ(gConfigWorkSpace.MinFrameIndex, 12);
        EXPECT_EQ(gConfigWorkSpace.MaxFrameIndex, frames > 1 ? frames - 1 : 0);
        EXPECT_EQ(gConfigWorkSpace.ActiveRel, 1);
        EXPECT_EQ(gConfigWorkSpace.TheFXClip, nullptr);
    }
    DisposeGWorld(frame);
}

using PluginGlueDeathTest = ::testing::Test;

TEST_F(PluginGlueDeathTest, BlocksOfDifferentSizesEndTheProcess)
{
    pluginDataPtr source = NewConfigBlock();
    pluginDataPtr shortBlock = reinterpret_cast<pluginDataPtr>(NewPtrClear(Size(sizeof(pluginDataRec) + 8)));
    EXPECT_EXIT(pCopyConfig(source, shortBlock), ::testing::ExitedWithCode(1), "Non-Matching Blocks");
    DisposePtr(reinterpret_cast<Ptr>(source));
    DisposePtr(reinterpret_cast<Ptr>(shortBlock));
}

TEST_F(PluginGlueDeathTest, MissingConfigurationsEndTheProcessWithTheirAlert)
{
    GWorldPtr frame = AllocateRectGWorld(Rect{0, 0, 4, 4});
    SInt16 opacity = 0;
    EXPECT_EXIT(DoEffect(nullptr, nullptr, frame, frame, 0, 0, 0, 1, 0, 0, 0, opacity),
                ::testing::ExitedWithCode(1), "uninited theData in Plugin Effect master proc");
    pluginDataPtr none = nullptr;
    EXPECT_EXIT(InitMyPlugIn(none), ::testing::ExitedWithCode(1), "Unable to allocate new data structure");
    EXPECT_EXIT(InitPluginData(nullptr), ::testing::ExitedWithCode(1), "Nil theConfig on InitPluginData");
    EXPECT_EXIT(pUncopyConfig(nullptr), ::testing::ExitedWithCode(1), "Nil data in pUncopyConfig");
    DisposeGWorld(frame);
}

}  // namespace
