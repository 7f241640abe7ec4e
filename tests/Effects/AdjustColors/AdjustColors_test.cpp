#include "Effects/AdjustColors/AdjustColors.h"

#include <gtest/gtest.h>

#include "dialog/DialogTestSupport.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "Effects/AdjustColors/TestHost.h"
#include "Files.h"
#include "MacMemory.h"
#include "Resources.h"
#include "plugin/DataHandling.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace {

const HYPluginEntry kEntry = &BrimtoneMain;

// The effect with the default configuration on one pattern pixel.
void ExpectedDefaultEffect(const UInt8 in[4], UInt8 out[4])
{
    const int mixer = (in[1] + in[2] + in[3]) / 3;
    out[0] = 255;
    if (mixer < 43) {
        out[1] = 0;
        out[2] = 0;
        out[3] = 255;
    } else {
        out[1] = out[2] = out[3] = 255;
    }
}

class FrontEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static std::string folder = [] {
            char pattern[] = "/tmp/brimtone-frontend-XXXXXX";
            const char* made = mkdtemp(pattern);
            return std::string(made != nullptr ? made : "/tmp");
        }();
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        if (sResFile < 0)
            sResFile = TBOpenResFileAtPath(
                BRIMTONE_BUILD_DIR "/Brimtone.bundle/Contents/Resources/Brimtone.rsrc", fsRdPerm);
    }

    void SetUp() override
    {
        ASSERT_GE(sResFile, 0) << "the bundle's resources are missing";
        UseResFile(sResFile);
        if (gPluginConfig != nullptr)
            ::DisposePtr(reinterpret_cast<Ptr>(gPluginConfig));
        gPluginConfig = nullptr;
        TestHost::liveBlocks = 0;
        gMostRecentStartFrame = 0;
        gMostRecentFrameCount = 0;
        PrefsLoaderResetForTests();
    }

    void TearDown() override { TBFailAllocationAfter(0); }

    // A host whose master configuration exists, so that block counts start there.
    static void Prime(TestHost& host) { ASSERT_EQ(host.Call(kPlugDrawIcon, kEntry), kPluginOK); }

    static EffectData* Pass(TestHost& host) { return static_cast<EffectData*>(host.params.clientData); }

    static inline SInt16 sResFile = -1;
};

// ---- Entry -----------------------------------------------------------------------

TEST_F(FrontEnd, EntryRefusesNilBlockAndHostsOfVersionThreeOrLess)
{
    EXPECT_EQ(BrimtoneMain(0, nullptr), kPluginBadParams);

    TestHost host;
    host.params.interfaceVersion = 3;
    EXPECT_EQ(host.Call(kPlugGetInfo, kEntry), kPluginAppIsTooOld);
    host.params.interfaceVersion = -1;
    EXPECT_EQ(host.Call(kPlugGetInfo, kEntry), kPluginAppIsTooOld);
    EXPECT_EQ(host.newPtrClearCalls, 0);
    EXPECT_EQ(gPluginConfig, nullptr);
    EXPECT_EQ(host.params.getInfo.pluginType, 0);

    host.params.interfaceVersion = 4;
    EXPECT_EQ(host.Call(kPlugGetInfo, kEntry), kPluginOK);
    EXPECT_NE(gPluginConfig, nullptr);
}

TEST_F(FrontEnd, FirstCallOfAnySelectorMakesTheMasterConfigurationOnce)
{
    for (HYPluginSelector selector : {HYPluginSelector(kPlugCallOnceWithInitAndTerminate),
                                      HYPluginSelector(kPlugDrawIcon)}) {
        SetUp();
        TestHost host;
        EXPECT_EQ(host.Call(selector, kEntry), kPluginOK);
        ASSERT_NE(gPluginConfig, nullptr);
        EXPECT_EQ(host.liveBlocks, 1);
        EXPECT_EQ(gPluginConfig->Sliders[kThresholdSlider], 17);
        EXPECT_EQ(gPluginConfig->MediaType, 1);
        EXPECT_EQ(host.Call(selector, kEntry), kPluginOK);
        EXPECT_EQ(host.newPtrClearCalls, 1);
    }
}

TEST_F(FrontEnd, UnhandledSelectorsAnswerOK)
{
    TestHost host;
    for (int selector : {0, 3, 4, 7, 10, 200, 255})
        EXPECT_EQ(host.Call(HYPluginSelector(selector), kEntry), kPluginOK) << selector;
    EXPECT_EQ(host.getFrameCalls.size(), 0u);
}

TEST_F(FrontEnd, MissingCallbacksOrFramesAreBadParams)
{
    TestHost host;
    host.params.procs = nullptr;
    EXPECT_EQ(host.Call(kPlugGetInfo, kEntry), kPluginBadParams);
    EXPECT_EQ(gPluginConfig, nullptr);

    host.params.procs = &host.procs;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);

    host.params.procs = nullptr;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    EXPECT_EQ(host.Call(kPlugInitialize, kEntry), kPluginBadParams);
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginBadParams);
    host.params.procs = &host.procs;

    GWorldPtr frame = host.params.frame;
    host.params.frame = nullptr;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    host.params.frame = frame;

    const Rect frameRect = host.params.frameRect;
    host.params.frameRect = Rect{10, 10, 10, 40};
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    host.params.frameRect = Rect{10, 40, 20, 30};
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    host.params.frameRect = frameRect;

    host.procs.GetFrame = nullptr;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    host.procs.GetFrame = &TestHost::GetFrameProc;
    host.procs.MixAudio = nullptr;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    host.procs.MixAudio = &TestHost::MixAudioProc;

    EXPECT_EQ(host.getFrameCalls.size(), 0u);
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
}

// ---- Get info ----------------------------------------------------------------------

TEST_F(FrontEnd, GetInfoDescribesTheFilterFromTheBundleStrings)
{
    TestHost host;
    host.params.getInfo.pluginFlags = 0x1;
    host.params.getInfo.titleType = kTitleTextBlock;
    host.params.getInfo.bestThumbOffset = 12;
    host.params.getInfo.framesToBeRendered = 99;
    host.params.getInfo.mustTakeFromSingleClips = true;
    host.params.getInfo.minSpeedFrames = 3;
    host.params.getInfo2.selectedFrames = 42;
    host.params.getInfo2.defaultFadeInFrames = 7;
    ASSERT_EQ(host.Call(kPlugGetInfo, kEntry), kPluginOK);

    const HYPluginGetInfo& info = host.params.getInfo;
    EXPECT_EQ(info.pluginType, 105);
    EXPECT_EQ(info.pluginFlags, 0x1u | 0x380u | 0x1000u);
    EXPECT_EQ(info.framesToBeRendered, 42);
    EXPECT_EQ(info.takeFromClipBefore, 0);
    EXPECT_EQ(info.takeFromClipAfter, 42);
    EXPECT_EQ(info.minSpeedFrames, 0);
    EXPECT_EQ(info.maxSpeedFrames, 0);
    EXPECT_FALSE(info.mustTakeFromSingleClips);
    EXPECT_EQ(info.titleType, kTitleTextBlock);
    EXPECT_EQ(info.bestThumbOffset, 12);
    EXPECT_EQ(host.params.getInfo2.baseMemoryNeeded, 50000);
    EXPECT_EQ(host.params.getInfo2.defaultFadeInFrames, 7);

    for (int n = 1; n <= 3; ++n) {
        const HYPluginFilterSliderInfo& slider = host.params.getInfo2.filterSliders[n - 1];
        EXPECT_EQ(slider.defaultValue, 0.5f);
        Str255 expected;
        GetIndString(expected, 128, SInt16(n));
        ASSERT_GT(expected[0], 0);
        EXPECT_EQ(std::string(slider.label), std::string(expected + 1, expected + 1 + expected[0]));
    }
    EXPECT_STREQ(host.params.getInfo2.filterSliders[0].minLabel, "Dark");
    EXPECT_STREQ(host.params.getInfo2.filterSliders[0].maxLabel, "Light");
    EXPECT_STREQ(host.params.getInfo2.filterSliders[2].maxLabel, "Whole frame");
    EXPECT_EQ(std::string(host.params.getInfo3.buttonTitle).rfind("Configure", 0), 0u);
    EXPECT_STREQ(host.params.getInfo2.group, "Brimtone Effects");
}

// ---- Beginning a pass ----------------------------------------------------------------

TEST_F(FrontEnd, BeginCopiesHostSettingsAndClampsTheFades)
{
    struct Case {
        SInt32 frameCount, fadeIn, fadeOut, wantIn, wantOut;
    };
    for (const Case c : {Case{10, 8, 8, 5, 5}, Case{11, 8, 8, 5, 5}, Case{10, 20, 0, 10, 0},
                         Case{10, 0, 20, 0, 10}, Case{10, 3, 4, 3, 4}, Case{10, -3, 4, 0, 4},
                         Case{-4, 3, 3, 0, 0}}) {
        TestHost host;
        host.params.frameCount = c.frameCount;
        host.filterInfo.fadeInFrames = c.fadeIn;
        host.filterInfo.fadeOutFrames = c.fadeOut;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EffectData* pass = Pass(host);
        ASSERT_NE(pass, nullptr);
        EXPECT_EQ(pass->fadeInFrames, c.wantIn) << c.frameCount << " " << c.fadeIn;
        EXPECT_EQ(pass->fadeOutFrames, c.wantOut) << c.frameCount << " " << c.fadeOut;
        EXPECT_EQ(pass->effectSourceCount, 1);
        EXPECT_EQ(pass->sliderValues[2], 0.75f);
        EXPECT_EQ(pass->effectGWorld, nullptr);
        ASSERT_NE(pass->configCopy, nullptr);
        EXPECT_EQ(pass->configCopy->Sliders[kThresholdSlider], 17);
        EXPECT_EQ(host.filterInfoCalls, 1);
        EXPECT_EQ(host.releaseFilterInfoCalls, 1);
        EXPECT_EQ(host.movieInfoCalls, 1);
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
        EXPECT_EQ(host.params.clientData, nullptr);
        EXPECT_EQ(host.clipInfoCalls, 1);
        EXPECT_EQ(host.liveBlocks, 1);
    }
}

TEST_F(FrontEnd, BeginOutOfMemoryLeavesNothingHalfMade)
{
    for (int failing : {1, 2}) {
        TestHost host;
        Prime(host);
        host.failNewPtrClearCall = failing;
        EXPECT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOutOfMemory) << failing;
        EXPECT_EQ(host.params.clientData, nullptr);
        EXPECT_EQ(host.liveBlocks, 1);
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
        EXPECT_EQ(host.getFrameCalls.size(), 0u);
    }
}

TEST_F(FrontEnd, BeginAgainKeepsTheBlockAndReplacesItsCopy)
{
    TestHost host;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    EffectData* first = Pass(host);
    host.failNewPtrClearCall = 1;
    EXPECT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOutOfMemory);
    EXPECT_EQ(Pass(host), first);
    EXPECT_NE(first->configCopy, nullptr);
    EXPECT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    EXPECT_EQ(Pass(host), first);
    EXPECT_EQ(host.liveBlocks, 3);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
}

TEST_F(FrontEnd, FilterInfoFailureIsReportedAndThePassKeepsZeroFades)
{
    TestHost host;
    host.filterInfoResult = kPluginTryAgainLater;
    host.filterInfoGivesRecord = false;
    EXPECT_EQ(host.Call(kPlugInitialize, kEntry), kPluginTryAgainLater);
    ASSERT_NE(Pass(host), nullptr);
    EXPECT_EQ(Pass(host)->fadeInFrames, 0);
    EXPECT_EQ(host.releaseFilterInfoCalls, 0);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
}

TEST_F(FrontEnd, TerminateWithoutAPassIsHarmless)
{
    TestHost host;
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    EXPECT_EQ(host.clipInfoCalls, 0);
}

// ---- Rendering frames ------------------------------------------------------------------

TEST_F(FrontEnd, FrameGetsTheEffectInsideFrameRectAndItsSound)
{
    TestHost host(80, 60);
    host.params.frameRect = Rect{5, 10, 53, 74};  // 64 × 48 inside the output
    host.params.startFrame = 30;
    host.params.renderFrame = 4;
    host.params.frameCount = 50;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);

    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, 34);
    EXPECT_EQ(host.getFrameCalls[0].width, 64);
    EXPECT_EQ(host.getFrameCalls[0].height, 48);
    EXPECT_EQ(host.getFrameCalls[0].quality, kDVHighQuality);
    ASSERT_EQ(host.mixedCookies.size(), 1u);
    EXPECT_EQ(host.mixLevels[0], 256);
    ASSERT_EQ(host.releasedCookies.size(), 1u);
    EXPECT_EQ(host.releasedCookies[0], host.mixedCookies[0]);
    EXPECT_TRUE(host.blits.empty());
    EXPECT_EQ(host.liveFrames, 0);
    EXPECT_EQ(gMostRecentStartFrame, 30);
    EXPECT_EQ(gMostRecentFrameCount, 50);

    for (SInt32 y = 0; y < 60; ++y)
        for (SInt32 x = 0; x < 80; ++x) {
            const UInt8* got = PixelAt(host.output, x, y);
            UInt8 want[4] = {0x11, 0x11, 0x11, 0x11};
            if (x >= 10 && x < 74 && y >= 5 && y < 53) {
                UInt8 source[4];
                TestFramePixel(34, x - 10, y - 5, source);
                ExpectedDefaultEffect(source, want);
            }
            ASSERT_EQ(0, std::memcmp(got, want, 4)) << x << "," << y;
        }
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
}

TEST_F(FrontEnd, PassRendersWithTheConfigurationAsItBegan)
{
    TestHost host(16, 8);
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    gPluginConfig->Sliders[kThresholdSlider] = 200;  // would paint everything colour 1
    ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    UInt8 source[4];
    UInt8 want[4];
    TestFramePixel(0, 15, 7, source);
    ExpectedDefaultEffect(source, want);
    EXPECT_EQ(0, std::memcmp(PixelAt(host.output, 15, 7), want, 4));
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
}

TEST_F(FrontEnd, ProxyRenderingAsksLowQualityOnlyForSmallFramesAndMixesNoSound)
{
    for (const SInt16 height : {SInt16(480), SInt16(260), SInt16(259), SInt16(240)}) {
        TestHost host(8, height);
        host.params.proxyOnly = true;
        host.procs.MixAudio = nullptr;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
        ASSERT_EQ(host.getFrameCalls.size(), 1u);
        EXPECT_EQ(host.getFrameCalls[0].quality, height <= 259 ? kDVLowQuality : kDVHighQuality)
            << height;
        EXPECT_TRUE(host.mixedCookies.empty());
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    }
}

TEST_F(FrontEnd, NegativeOrOverflowingFrameIndexFetchesNothing)
{
    struct Case {
        SInt32 start, render;
    };
    for (const Case c : {Case{-5, 2}, Case{INT_MAX, 1}, Case{INT_MIN, -1}}) {
        TestHost host;
        host.params.startFrame = c.start;
        host.params.renderFrame = c.render;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
        EXPECT_TRUE(host.getFrameCalls.empty());
        ASSERT_EQ(host.releasedCookies.size(), 1u);
        EXPECT_EQ(host.releasedCookies[0], nullptr);
        EXPECT_TRUE(host.mixedCookies.empty());
        EXPECT_EQ(*PixelAt(host.output, 3, 3), 0x11);
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    }
}

TEST_F(FrontEnd, HostFailuresArePassedOnAndTheFrameIsAlwaysReleased)
{
    {
        TestHost host;
        host.getFrameResult = kPluginTryAgainLater;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        host.releaseFrameResult = kPluginFailed;
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginTryAgainLater);
        EXPECT_EQ(host.releasedCookies.size(), 1u);
        EXPECT_EQ(*PixelAt(host.output, 0, 0), 0x11);
        host.Call(kPlugTerminate, kEntry);
    }
    {
        TestHost host;
        host.getFrameGivesBuffer = false;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginCantGetNeededFrame);
        EXPECT_EQ(host.releasedCookies.size(), 1u);
        host.Call(kPlugTerminate, kEntry);
    }
    {
        TestHost host;
        host.releaseFrameResult = kPluginOutOfDiskSpace;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOutOfDiskSpace);
        host.Call(kPlugTerminate, kEntry);
    }
    {
        TestHost host;
        host.mixAudioResult = kPluginUnimplemented;
        host.releaseFrameResult = kPluginFailed;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginUnimplemented);
        EXPECT_EQ(host.liveFrames, 0);
        host.Call(kPlugTerminate, kEntry);
    }
    {
        TestHost host;
        host.filterInfo.fadeInFrames = 4;
        host.blitResult = kPluginCancel;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginCancel);
        EXPECT_TRUE(host.mixedCookies.empty());
        EXPECT_EQ(host.releasedCookies.size(), 1u);
        host.Call(kPlugTerminate, kEntry);
        EXPECT_EQ(host.liveBlocks, 1);
    }
}

// Allocations fail from the n-th after the host handed out the frame.
struct FailAfterFetch {
    static HYPluginResult GetFrame(void* instance, SInt32 frameIndex, GWorldPtr* outFrame,
                                   SInt16 width, SInt16 height, HYRefDVQuality quality,
                                   SInt16* outVolume, void** outCookie)
    {
        const HYPluginResult result = TestHost::GetFrameProc(instance, frameIndex, outFrame, width,
                                                             height, quality, outVolume, outCookie);
        TBFailAllocationAfter(sFailing);
        return result;
    }
    static inline long sFailing = 0;
};

TEST_F(FrontEnd, WorkingBufferShortageIsOutOfMemoryAndAFadeBufferShortageFails)
{
    struct Case {
        SInt32 fadeIn;
        long failing;
        HYPluginResult want;
        size_t blits;
    };
    // Each buffer takes two blocks: its record, then its pixels.
    for (const Case c : {Case{0, 1, kPluginOutOfMemory, 0}, Case{0, 2, kPluginOutOfMemory, 0},
                         Case{4, 1, kPluginFailed, 0}, Case{4, 2, kPluginFailed, 0},
                         Case{4, 3, kPluginOutOfMemory, 0}}) {
        TestHost host;
        host.filterInfo.fadeInFrames = c.fadeIn;
        host.params.renderFrame = 0;
        host.procs.GetFrame = &FailAfterFetch::GetFrame;
        FailAfterFetch::sFailing = c.failing;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), c.want) << c.fadeIn << " " << c.failing;
        TBFailAllocationAfter(0);
        EXPECT_EQ(host.blits.size(), c.blits);
        EXPECT_TRUE(host.mixedCookies.empty());
        EXPECT_EQ(host.releasedCookies.size(), 1u);
        EXPECT_EQ(Pass(host)->effectGWorld, nullptr);
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
        EXPECT_EQ(host.liveBlocks, 1);
    }
}

// ---- Fades --------------------------------------------------------------------------------

TEST_F(FrontEnd, FadeInLaysTheUntouchedFrameOverTheEffectAtFallingOpacity)
{
    TestHost host(16, 12);
    host.params.frameCount = 100;
    host.filterInfo.fadeInFrames = 4;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    const SInt16 wanted[] = {255, 191, 127, 63};
    for (SInt32 r = 0; r < 6; ++r) {
        host.blits.clear();
        host.params.renderFrame = r;
        ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
        if (r >= 4) {
            EXPECT_TRUE(host.blits.empty()) << r;
            continue;
        }
        ASSERT_EQ(host.blits.size(), 1u) << r;
        EXPECT_EQ(host.blits[0].opacity, wanted[r]);
        EXPECT_TRUE(EqualRect(&host.blits[0].destRect, &host.params.frameRect));
        const Rect whole{0, 0, 12, 16};
        EXPECT_TRUE(EqualRect(&host.blits[0].sourceRect, &whole));

        UInt8 source[4];
        UInt8 effect[4];
        TestFramePixel(r, 9, 5, source);
        ExpectedDefaultEffect(source, effect);
        const UInt8* got = PixelAt(host.output, 9, 5);
        for (int c = 1; c < 4; ++c)
            EXPECT_EQ(got[c], (source[c] * wanted[r] + effect[c] * (255 - wanted[r])) / 255);
    }
    EXPECT_EQ(host.mixedCookies.size(), 6u);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
}

TEST_F(FrontEnd, FadeOutMirrorsTheFadeInOverTheLastFrames)
{
    TestHost host(8, 8);
    host.params.frameCount = 100;
    host.filterInfo.fadeOutFrames = 4;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    for (SInt32 r : {96, 97, 98, 99}) {
        host.blits.clear();
        host.params.renderFrame = r;
        ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
        if (r == 96) {
            EXPECT_TRUE(host.blits.empty());
            continue;
        }
        ASSERT_EQ(host.blits.size(), 1u);
        EXPECT_EQ(host.blits[0].opacity, (r == 97 ? 63 : r == 98 ? 127 : 191));
    }
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
}

TEST_F(FrontEnd, FadeArithmeticStaysWithinFullAndNoOpacity)
{
    SInt16 opacity = -1;
    // Fade-in only, rendering past the clip's end: no fade-out to divide by.
    EXPECT_TRUE(FadeFrameOpacity(120, 5, 0, 100, opacity));
    EXPECT_EQ(opacity, 0);
    EXPECT_TRUE(FadeFrameOpacity(-3, 5, 0, 100, opacity));
    EXPECT_EQ(opacity, 255);
    EXPECT_TRUE(FadeFrameOpacity(-3, 0, 5, 100, opacity));
    EXPECT_EQ(opacity, 0);
    EXPECT_TRUE(FadeFrameOpacity(INT_MAX, 0, INT_MAX, INT_MIN, opacity));
    EXPECT_GE(opacity, 0);
    EXPECT_LE(opacity, 255);
    EXPECT_FALSE(FadeFrameOpacity(3, -4, -4, 100, opacity));
    EXPECT_FALSE(FadeFrameOpacity(50, 4, 4, 100, opacity));

    TestHost host(8, 8);
    host.params.frameCount = 10;
    host.filterInfo.fadeInFrames = 5;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    host.params.renderFrame = 15;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    ASSERT_EQ(host.blits.size(), 1u);
    EXPECT_EQ(host.blits[0].opacity, 0);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
}

// ---- Placeholder ----------------------------------------------------------------------------

TEST_F(FrontEnd, PlaceholderRendersTheThumbFrameInAPassOfItsOwn)
{
    TestHost host;
    host.params.startFrame = 10;
    host.params.getInfo.bestThumbOffset = 7;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    void* hostPass = host.params.clientData;
    const int blocksDuringPass = host.liveBlocks;

    EXPECT_EQ(host.Call(kPlugFilePlaceHolder, kEntry), kPluginOK);
    EXPECT_EQ(host.params.clientData, hostPass);
    EXPECT_EQ(host.liveBlocks, blocksDuringPass);
    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, 17);
    EXPECT_EQ(host.params.renderFrame, 0);
    EXPECT_EQ(host.params.selector, kPlugFilePlaceHolder);

    // The host's own pass still works on its block.
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
}

TEST_F(FrontEnd, PlaceholderReportsItsBeginningNotItsDrive)
{
    {
        TestHost host;
        host.getFrameResult = kPluginFailed;
        EXPECT_EQ(host.Call(kPlugFilePlaceHolder, kEntry), kPluginOK);
        EXPECT_EQ(host.getFrameCalls.size(), 1u);
        EXPECT_EQ(host.params.clientData, nullptr);
        EXPECT_EQ(host.liveBlocks, 1);
    }
    {
        TestHost host;
        host.filterInfoResult = kPluginTryAgainLater;
        EXPECT_EQ(host.Call(kPlugFilePlaceHolder, kEntry), kPluginTryAgainLater);
        EXPECT_TRUE(host.getFrameCalls.empty());
        EXPECT_EQ(host.liveBlocks, 1);
    }
    {
        TestHost host;
        Prime(host);
        host.failNewPtrClearCall = 1;
        EXPECT_EQ(host.Call(kPlugFilePlaceHolder, kEntry), kPluginOutOfMemory);
        EXPECT_EQ(host.liveBlocks, 1);
    }
}

// ---- Effect button ----------------------------------------------------------------------------

TEST_F(FrontEnd, ButtonOpensTheDialogOnTheClipLastRendered)
{
    dialogtest::StartQt();
    TestHost host;
    host.params.renderFrame = 3;
    {
        dialogtest::Script closeAsCancel({});
        EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    }
    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, 3);
    EXPECT_EQ(gConfigWorkSpace.MaxFrameIndex, 0);

    host.params.startFrame = 30;
    host.params.frameCount = 50;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    ASSERT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    host.getFrameCalls.clear();
    host.releasedCookies.clear();
    host.params.startFrame = 0;
    host.params.renderFrame = 5;

    {
        dialogtest::Script closeAsCancel({});
        EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    }
    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, 35);
    EXPECT_EQ(host.getFrameCalls[0].quality, kDVHighQuality);
    EXPECT_EQ(gConfigWorkSpace.TheConfig, gPluginConfig);
    EXPECT_EQ(gTheConfig, gPluginConfig);
    EXPECT_EQ(gConfigWorkSpace.IMovieParams, &host.params);
    EXPECT_EQ(gConfigWorkSpace.MinFrameIndex, 35);
    EXPECT_EQ(gConfigWorkSpace.MaxFrameIndex, 49);
    EXPECT_EQ(gConfigWorkSpace.CurrFrameIndex, 0);
    EXPECT_EQ(gConfigWorkSpace.ActiveRel, 1);
    EXPECT_EQ(gConfigWorkSpace.TheFXClip, nullptr);
    ASSERT_EQ(host.releasedCookies.size(), 1u);
    EXPECT_NE(host.releasedCookies[0], nullptr);
    EXPECT_EQ(host.liveFrames, 0);
}

TEST_F(FrontEnd, ButtonFetchesThePreviewAtTheMediaFormatsSize)
{
    struct Case {
        SInt16 media, width, height;
    };
    for (const Case c : {Case{1, 720, 480}, Case{2, 720, 576}, Case{3, 960, 540},
                         Case{0, 720, 480}, Case{7, 720, 480}}) {
        TestHost host;
        Prime(host);
        gPluginConfig->MediaType = c.media;
        dialogtest::StartQt();
        dialogtest::Script closeAsCancel({});
        EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
        ASSERT_EQ(host.getFrameCalls.size(), 1u);
        EXPECT_EQ(host.getFrameCalls[0].width, c.width) << c.media;
        EXPECT_EQ(host.getFrameCalls[0].height, c.height) << c.media;
    }
}

TEST_F(FrontEnd, ButtonWithoutAFrameStillAnswersOKAndReleases)
{
    TestHost host;
    host.getFrameResult = kPluginFailed;
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    EXPECT_EQ(host.releasedCookies.size(), 1u);
    host.getFrameResult = kPluginOK;
    host.getFrameGivesBuffer = false;
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    EXPECT_EQ(host.releasedCookies.size(), 2u);
}

}  // namespace
