#include "plugin/PluginGlue.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "CoreGraphics.h"
#include "MacMemory.h"
#include "dialog/DialogTestSupport.h"

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

TEST(PluginGlue, CopyGivesEachRecordItsOwnImage)
{
    pluginDataPtr source = NewConfigBlock();
    pluginDataPtr dest = NewConfigBlock();
    ResetConfig(source, true);
    source->Sliders[kThresholdSlider] = 63;
    source->TheRendered = SmallImage();
    source->TheOriginalImage = SmallImage();
    pCopyConfig(source, dest);
    EXPECT_EQ(dest->Sliders[kThresholdSlider], 63);
    ASSERT_NE(dest->TheRendered, nullptr);
    EXPECT_NE(dest->TheRendered, source->TheRendered);
    EXPECT_EQ(dest->TheOriginalImage, nullptr);
    pCopyConfig(nullptr, dest);
    pCopyConfig(source, nullptr);

    pUncopyConfig(source);
    EXPECT_EQ(source->TheRendered, nullptr);
    EXPECT_EQ(CGImageGetWidth(dest->TheRendered), 2u);  // still alive
    pUncopyConfig(dest);
    EXPECT_EQ(dest->TheRendered, nullptr);
    CGImageRelease(source->TheOriginalImage);
    DisposePtr(reinterpret_cast<Ptr>(source));
    DisposePtr(reinterpret_cast<Ptr>(dest));
}

// The first start saves the defaults with the format nearest the clip's
// shape; from then on the saved configuration wins, its format too.
TEST(PluginGlue, StartUpWritesTheDefaultsAndASavedConfigurationWinsLater)
{
    dialogtest::PrivatePrefs thePrefs;
    pluginDataPtr config = NewConfigBlock();
    config->Sliders[kThresholdSlider] = 99;
    InitMyPlugIn(config, MediaTypeForShape(1920, 1080));
    EXPECT_EQ(config->Sliders[kThresholdSlider], 17);
    EXPECT_EQ(config->MediaType, 3);
    pluginDataRec reread{};
    ASSERT_TRUE(ReadConfig(&reread));
    EXPECT_EQ(reread.Sliders[kThresholdSlider], 17);
    EXPECT_EQ(reread.MediaType, 3);

    config->Sliders[kThresholdSlider] = 64;
    ASSERT_TRUE(SaveConfig(config));
    config->Sliders[kThresholdSlider] = 0;
    InitPluginData(config, MediaTypeForShape(720, 576));
    EXPECT_EQ(config->Sliders[kThresholdSlider], 64);
    EXPECT_EQ(config->MediaType, 3);
    DisposePtr(reinterpret_cast<Ptr>(config));
}

// Each size takes the format of the nearest shape; 4:3 is nearer PAL's 5:4
// than NTSC's 3:2, and what is no size at all takes NTSC.
TEST(PluginGlue, TheFormatNearestAClipsShape)
{
    const std::vector<std::pair<std::pair<int, int>, int>> cases = {
        {{720, 480}, 1}, {{720, 576}, 2}, {{1920, 1080}, 3}, {{3840, 1600}, 3}, {{640, 480}, 2},
        {{1080, 1920}, 2}, {{700, 480}, 1}, {{0, 1080}, 1}, {{1920, -1}, 1}};
    for (const auto& [size, format] : cases)
        EXPECT_EQ(MediaTypeForShape(size.first, size.second), format) << size.first << "x" << size.second;
}

// Starts of the plug-in in another process, one after another, counted.
class StartingProcess {
public:
    StartingProcess()
    {
        void* shared = mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(shared, MAP_FAILED);
        fStarts = new (shared) std::atomic<int>(0);
        fChild = fork();
        if (fChild != 0)
            return;
        for (;;) {
            ForgetHeldPrefsForTests();
            pluginDataRec config{};
            pluginDataPtr theData = &config;
            InitMyPlugIn(theData);
            SavePreferences(PrefsLoaderHeldPrefs());
            fStarts->fetch_add(1);
        }
    }
    ~StartingProcess()
    {
        kill(fChild, SIGKILL);
        waitpid(fChild, nullptr, 0);
        munmap(fStarts, sizeof(std::atomic<int>));
    }
    // Returns once a whole start has run after the call.
    void WaitForAStartFromNow() const
    {
        const int now = fStarts->load();
        while (fStarts->load() < now + 2)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }

private:
    pid_t fChild = -1;
    std::atomic<int>* fStarts = nullptr;
};

TEST(PluginGlue, StartsInAnotherProcessNeverRevertASave)
{
    dialogtest::PrivatePrefs thePrefs;
    pluginDataRec first{};
    pluginDataPtr theData = &first;
    InitMyPlugIn(theData);
    StartingProcess starts;
    for (SInt16 round = 1; round <= 60; ++round) {
        pluginDataRec saved{};
        ResetConfig(&saved, true);
        saved.Sliders[kThresholdSlider] = round;
        ASSERT_TRUE(SaveConfig(&saved));
        starts.WaitForAStartFromNow();
        pluginDataRec read{};
        ASSERT_TRUE(ReadConfig(&read));
        ASSERT_EQ(read.Sliders[kThresholdSlider], round);
    }
}

TEST(PluginGlueDeathTest, BlocksOfDifferentSizesEndTheProcess)
{
    pluginDataPtr source = NewConfigBlock();
    pluginDataPtr longer = reinterpret_cast<pluginDataPtr>(NewPtrClear(Size(sizeof(pluginDataRec) + 8)));
    EXPECT_EXIT(pCopyConfig(source, longer), ::testing::ExitedWithCode(1), "Non-Matching Blocks");
    DisposePtr(reinterpret_cast<Ptr>(source));
    DisposePtr(reinterpret_cast<Ptr>(longer));
}

}  // namespace
