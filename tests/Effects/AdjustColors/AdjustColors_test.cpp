#include "Effects/AdjustColors/AdjustColors.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "Effects/AdjustColors/TestHost.h"
#include "Files.h"
#include "MacMemory.h"
#include "Resources.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace {

const HYPluginEntry kEntry = &BrimtoneMain;

// The effect with the default configuration on one pattern pixel.
void ExpectedDefaultEffect(const UInt8 in[4], UInt8 out[4])
{
    const bool dark = (in[1] + in[2] + in[3]) / 3 < 43;
    out[0] = out[3] = 255;
    out[1] = out[2] = dark ? 0 : 255;
}

class FrontEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/brimtone-frontend-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        sPrefsFolder = pattern;
        setenv("XDG_CONFIG_HOME", pattern, 1);
        if (sResFile < 0)
            sResFile = TBOpenResFileAtPath(
                BRIMTONE_BUILD_DIR "/Brimtone.bundle/Contents/Resources/Brimtone.rsrc", fsRdPerm);
    }

    static void TearDownTestSuite() { std::filesystem::remove_all(sPrefsFolder); }

    void SetUp() override
    {
        ASSERT_GE(sResFile, 0) << "the bundle's resources are missing";
        UseResFile(sResFile);
        if (gPluginConfig != nullptr)
            ::DisposePtr(reinterpret_cast<Ptr>(gPluginConfig));
        gPluginConfig = nullptr;
        TestHost::liveBlocks = 0;
        ForgetHeldPrefsForTests();
    }

    static EffectData* Pass(TestHost& host) { return static_cast<EffectData*>(host.params.clientData); }

    static inline SInt16 sResFile = -1;
    static inline std::string sPrefsFolder;
};

TEST_F(FrontEnd, OldHostsMissingCallbacksAndBadFramesAreRefused)
{
    EXPECT_EQ(BrimtoneMain(0, nullptr), kPluginBadParams);
    TestHost host;
    for (SInt32 version : {3, -1}) {
        host.params.interfaceVersion = version;
        EXPECT_EQ(host.Call(kPlugGetInfo, kEntry), kPluginAppIsTooOld);
    }
    EXPECT_EQ(gPluginConfig, nullptr);
    host.params.interfaceVersion = 4;
    host.params.procs = nullptr;
    EXPECT_EQ(host.Call(kPlugGetInfo, kEntry), kPluginBadParams);
    host.params.procs = &host.procs;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    host.params.procs = nullptr;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginBadParams);
    host.params.procs = &host.procs;
    host.params.frame = nullptr;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    host.params.frame = host.output;
    const Rect frameRect = host.params.frameRect;
    for (const Rect bad : {Rect{10, 10, 10, 40}, Rect{10, 40, 20, 30}}) {
        host.params.frameRect = bad;
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    }
    host.params.frameRect = frameRect;
    host.procs.GetFrame = nullptr;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginBadParams);
    EXPECT_EQ(host.getFrameCalls.size(), 0u);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
}

TEST_F(FrontEnd, BeginClampsTheFadesToTheClip)
{
    // Clip length, fade-in and fade-out asked for, the fades the pass keeps.
    for (const auto& [frameCount, fadeIn, fadeOut, wantIn, wantOut] :
         {std::tuple{10, 8, 8, 5, 5}, {11, 8, 8, 5, 5}, {10, 20, 0, 10, 0}, {10, 3, 4, 3, 4}, {10, -3, 4, 0, 4}, {-4, 3, 3, 0, 0}}) {
        TestHost host;
        host.params.frameCount = frameCount;
        host.filterInfo.fadeInFrames = fadeIn;
        host.filterInfo.fadeOutFrames = fadeOut;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        EXPECT_EQ(Pass(host)->fadeInFrames, wantIn) << frameCount << " " << fadeIn;
        EXPECT_EQ(Pass(host)->fadeOutFrames, wantOut) << frameCount << " " << fadeOut;
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    }
}

TEST_F(FrontEnd, FrameGetsTheEffectOnlyInsideFrameRect)
{
    TestHost host(80, 60);
    host.params.frameRect = Rect{5, 10, 53, 74};  // 64 × 48 inside the output
    host.params.startFrame = 30;
    host.params.renderFrame = 4;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    gPluginConfig->Sliders[kThresholdSlider] = 200;  // the pass keeps the copy it began with
    ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, 34);
    EXPECT_EQ(host.getFrameCalls[0].width, 64);
    EXPECT_EQ(host.getFrameCalls[0].height, 48);
    EXPECT_EQ(host.liveFrames, 0);
    for (SInt32 y = 0; y < 60; ++y)
        for (SInt32 x = 0; x < 80; ++x) {
            UInt8 want[4] = {0x11, 0x11, 0x11, 0x11};
            if (x >= 10 && x < 74 && y >= 5 && y < 53) {
                UInt8 source[4];
                TestFramePixel(34, x - 10, y - 5, source);
                ExpectedDefaultEffect(source, want);
            }
            ASSERT_EQ(0, std::memcmp(PixelAt(host.output, x, y), want, 4)) << x << "," << y;
        }
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
}

// The effect may write straight into the output frame, but only what copying
// a finished working buffer into frameRect would write: nothing outside the
// frame or its port's clip, and a source that shares the frame's memory is
// read before it is overwritten, for the effect and for a fade's blend.
TEST_F(FrontEnd, OutputFrameGetsWhatACopyOfTheFinishedFrameWouldGive)
{
    struct Case {
        const char* name;
        Rect frameRect;
        Rect clip;
        bool sourceInOutput;  // the host hands out a frame over the output's own pixels
        SInt32 renderFrame;   // 1 is a fade frame at opacity 191
    };
    const Rect wide{-32768, -32768, 32767, 32767};
    for (const Case& c : {Case{"partly outside", Rect{-4, -6, 44, 58}, wide, false, 10},
                          Case{"clipped", Rect{5, 10, 53, 74}, Rect{10, 12, 30, 40}, false, 10},
                          Case{"shared", Rect{5, 10, 53, 74}, wide, true, 10},
                          Case{"shared fade", Rect{5, 10, 53, 74}, wide, true, 1}}) {
        TestHost host(80, 60);
        host.filterInfo.fadeInFrames = 4;
        host.params.frameRect = c.frameRect;
        host.params.renderFrame = c.renderFrame;
        for (SInt32 y = 0; y < 60; ++y)
            for (SInt32 x = 0; x < 80; ++x)
                TestFramePixel(77, x, y, PixelAt(host.output, x, y));
        const std::vector<UInt8> before(PixelAt(host.output, 0, 0), PixelAt(host.output, 0, 60));
        const SInt32 rowBytes = GetPixRowBytes(GetGWorldPixMap(host.output));
        const Rect sourceBounds{0, 0, 48, 64};
        GWorldPtr shared = nullptr;
        if (c.sourceInOutput) {
            ASSERT_EQ(NewGWorldFromPtr(&shared, k32ARGBPixelFormat, &sourceBounds, nullptr, nullptr,
                                       0, GetPixBaseAddr(GetGWorldPixMap(host.output)), rowBytes),
                      noErr);
            host.givenFrame = shared;
        }
        CGrafPtr savedPort;
        GDHandle savedDevice;
        GetGWorld(&savedPort, &savedDevice);
        SetGWorld(host.output, nullptr);
        ClipRect(&c.clip);
        SetGWorld(savedPort, savedDevice);

        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK) << c.name;
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
        const SInt16 opacity = c.renderFrame == 1 ? 191 : 0;
        for (SInt32 y = 0; y < 60; ++y)
            for (SInt32 x = 0; x < 80; ++x) {
                UInt8 want[4];
                std::memcpy(want, &before[size_t(y) * rowBytes + size_t(x) * 4], 4);
                const Point p{SInt16(y), SInt16(x)};
                if (PtInRect(p, &c.frameRect) && PtInRect(p, &c.clip)) {
                    UInt8 source[4];
                    const SInt32 sx = x - c.frameRect.left, sy = y - c.frameRect.top;
                    if (c.sourceInOutput)
                        std::memcpy(source, &before[size_t(sy) * rowBytes + size_t(sx) * 4], 4);
                    else
                        TestFramePixel(c.renderFrame, sx, sy, source);
                    ExpectedDefaultEffect(source, want);
                    for (int ch = 1; ch < 4; ++ch)
                        want[ch] = UInt8((source[ch] * opacity + want[ch] * (255 - opacity)) / 255);
                }
                ASSERT_EQ(0, std::memcmp(PixelAt(host.output, x, y), want, 4))
                    << c.name << " at " << x << "," << y;
            }
        if (shared != nullptr)
            DisposeGWorld(shared);
    }
}

TEST_F(FrontEnd, ProxyRenderingAsksLowQualityOnlyUpTo259LinesAndMixesNoSound)
{
    for (const SInt16 height : {SInt16(260), SInt16(259)}) {
        TestHost host(8, height);
        host.params.proxyOnly = true;
        host.procs.MixAudio = nullptr;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
        ASSERT_EQ(host.getFrameCalls.size(), 1u);
        EXPECT_EQ(host.getFrameCalls[0].quality, height <= 259 ? kDVLowQuality : kDVHighQuality);
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    }
}

TEST_F(FrontEnd, HostFailuresArePassedOnWithTheFrameReleasedAndTheEarlierPassKept)
{
    TestHost host;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    EffectData* first = Pass(host);
    host.failNewPtrClearCall = 1;
    EXPECT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOutOfMemory);
    EXPECT_EQ(Pass(host), first);
    host.getFrameGivesBuffer = false;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginCantGetNeededFrame);
    EXPECT_EQ(host.releasedCookies.size(), 1u);
    host.getFrameGivesBuffer = true;
    host.releaseFrameResult = kPluginOutOfDiskSpace;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOutOfDiskSpace);
    EXPECT_EQ(host.liveFrames, 0);
    EXPECT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);  // a new pass replaces the old one
    EXPECT_EQ(host.liveBlocks, 3);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
}

TEST_F(FrontEnd, FadesBlendTheUntouchedFrameAtTheRightOpacity)
{
    TestHost host(16, 12);
    host.filterInfo.fadeInFrames = 4;
    host.filterInfo.fadeOutFrames = 4;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    // Frames 0-3 fade in, 97-99 fade out; 4 and 96 are the effect alone.
    const std::pair<SInt32, SInt16> frames[] = {{0, 255}, {1, 191}, {2, 127}, {3, 63}, {4, -1},
                                                {96, -1}, {97, 63}, {98, 127}, {99, 191}};
    for (const auto& [r, opacity] : frames) {
        host.blits.clear();
        host.params.renderFrame = r;
        ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
        if (opacity < 0) {
            EXPECT_TRUE(host.blits.empty()) << r;
            continue;
        }
        ASSERT_EQ(host.blits.size(), 1u) << r;
        EXPECT_EQ(host.blits[0].opacity, opacity) << r;
        EXPECT_TRUE(EqualRect(&host.blits[0].destRect, &host.params.frameRect));
        UInt8 source[4], effect[4];
        TestFramePixel(r, 9, 5, source);
        ExpectedDefaultEffect(source, effect);
        const UInt8* got = PixelAt(host.output, 9, 5);
        for (int c = 1; c < 4; ++c)
            EXPECT_EQ(got[c], (source[c] * opacity + effect[c] * (255 - opacity)) / 255) << r;
    }
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);

    // Frames outside the clip and extreme counts stay within full and no opacity.
    SInt16 opacity = -1;
    for (const auto& [r, in, out, count, want] : {std::tuple{120, 5, 0, 100, 0}, {-3, 5, 0, 100, 255},
                                                  {-3, 0, 5, 100, 0}}) {
        EXPECT_TRUE(FadeFrameOpacity(r, in, out, count, opacity));
        EXPECT_EQ(opacity, want) << r;
    }
    EXPECT_TRUE(FadeFrameOpacity(INT_MAX, 0, INT_MAX, INT_MIN, opacity));
    EXPECT_TRUE(opacity >= 0 && opacity <= 255) << opacity;
    EXPECT_FALSE(FadeFrameOpacity(3, -4, -4, 100, opacity));
    EXPECT_FALSE(FadeFrameOpacity(50, 4, 4, 100, opacity));
}

TEST_F(FrontEnd, HostFramesOfAnotherOriginOrSizeAreTakenFromTheirTopLeftCorner)
{
    // Top-left corner and scale of the frames the host hands out.
    for (const auto& [left, top, scale] : {std::tuple{13, 7, 1}, {0, 0, 2}, {-5, 3, 2}}) {
        TestHost host(16, 12);
        host.frameLeft = SInt16(left);
        host.frameTop = SInt16(top);
        host.frameScale = SInt16(scale);
        host.filterInfo.fadeInFrames = 4;
        ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
        // Frame 1 blends the untouched frame at 191 over the effect, 50 is the effect alone.
        for (const auto& [r, opacity] : {std::pair{1, 191}, {50, 0}}) {
            host.params.renderFrame = r;
            ASSERT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK) << left << "," << top << " " << r;
            for (SInt32 y = 0; y < 12; ++y)
                for (SInt32 x = 0; x < 16; ++x) {
                    UInt8 source[4], effect[4];
                    TestFramePixel(r, x, y, source);
                    ExpectedDefaultEffect(source, effect);
                    const UInt8* got = PixelAt(host.output, x, y);
                    for (int c = 1; c < 4; ++c)
                        ASSERT_EQ(got[c], (source[c] * opacity + effect[c] * (255 - opacity)) / 255)
                            << left << "," << top << " x" << scale << " frame " << r << " at "
                            << x << "," << y << " channel " << c;
                }
        }
        EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
        EXPECT_EQ(host.liveFrames, 0);
    }
}

TEST_F(FrontEnd, PlaceholderRunsAPassOfItsOwnBesideTheHosts)
{
    TestHost host;
    host.params.startFrame = 10;
    host.params.getInfo.bestThumbOffset = 7;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    EffectData* hostPass = Pass(host);
    EXPECT_EQ(host.Call(kPlugFilePlaceHolder, kEntry), kPluginOK);
    EXPECT_EQ(Pass(host), hostPass);
    EXPECT_EQ(host.liveBlocks, 3);
    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, 17);
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    host.failNewPtrClearCall = 1;
    EXPECT_EQ(host.Call(kPlugFilePlaceHolder, kEntry), kPluginOutOfMemory);
    EXPECT_EQ(host.liveBlocks, 1);
    // A frame that cannot be fetched fails the placeholder, and its pass still ends.
    host.getFrameResult = kPluginCantGetNeededFrame;
    EXPECT_EQ(host.Call(kPlugFilePlaceHolder, kEntry), kPluginCantGetNeededFrame);
    EXPECT_EQ(host.liveBlocks, 1);
}

// What the bundle's dialog would be given.
struct ConfigureCall {
    pluginDataPtr data;
    SInt32 width, height, firstFrame, frames, current;
};
std::vector<ConfigureCall> gConfigureCalls;
Boolean gConfigureSaves = true;  // what the dialog answers: OK's save worked

Boolean RecordConfigure(pluginDataPtr theData, GWorldPtr theGW, PluginParams*, SInt32 firstFrameIndex,
                        SInt32 numberOfFrames, SInt32 currentFrame)
{
    Rect bounds;
    GetPortBounds(theGW, &bounds);
    gConfigureCalls.push_back({theData, bounds.right - bounds.left, bounds.bottom - bounds.top,
                               firstFrameIndex, numberOfFrames, currentFrame});
    return gConfigureSaves;
}

TEST_F(FrontEnd, ButtonHandsTheDialogAPreviewFrameOnlyWhenThereIsADialogAndAFrame)
{
    gConfigureCalls.clear();
    TestHost host;
    host.params.frameCount = 12;
    host.params.startFrame = 100;
    for (HYPluginSelector selector : {kPlugInitialize, kPlugDoFrame, kPlugTerminate})
        ASSERT_EQ(host.Call(selector, kEntry), kPluginOK);
    host.getFrameCalls.clear();
    host.releasedCookies.clear();

    SetConfigureProc(nullptr);
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    EXPECT_TRUE(host.getFrameCalls.empty());

    SetConfigureProc(RecordConfigure);
    host.params.renderFrame = 3;
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    ASSERT_EQ(gConfigureCalls.size(), 1u);
    EXPECT_EQ(gConfigureCalls[0].data, gPluginConfig);
    EXPECT_EQ(gConfigureCalls[0].width, 720);
    EXPECT_EQ(gConfigureCalls[0].height, 480);
    // The dialog counts the clip's own frames and opens on the one shown.
    EXPECT_EQ(gConfigureCalls[0].firstFrame, 100);
    EXPECT_EQ(gConfigureCalls[0].frames, 12);
    EXPECT_EQ(gConfigureCalls[0].current, 3);
    // A save that failed after OK is the host's to hear of.
    gConfigureSaves = false;
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginFailed);
    gConfigureSaves = true;
    gConfigureCalls.pop_back();
    host.releasedCookies.pop_back();

    host.getFrameResult = kPluginFailed;
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    host.getFrameResult = kPluginOK;
    host.getFrameGivesBuffer = false;
    EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    EXPECT_EQ(gConfigureCalls.size(), 1u);
    EXPECT_EQ(host.releasedCookies.size(), 3u);
    SetConfigureProc(nullptr);
}

// Frame numbers below 0 or past the 32-bit range are never asked of the host;
// the frame still ends as one that was fetched would.
TEST_F(FrontEnd, FrameIndicesOutsideTheHostsRangeAreNotFetched)
{
    gConfigureCalls.clear();
    SetConfigureProc(RecordConfigure);
    TestHost host;
    ASSERT_EQ(host.Call(kPlugInitialize, kEntry), kPluginOK);
    for (const auto& [start, render] : {std::pair{5, -6}, {INT_MAX, 1}, {INT_MAX - 2, 3}, {INT_MIN, -1}}) {
        host.params.startFrame = start;
        host.params.renderFrame = render;
        EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK) << start << "+" << render;
        EXPECT_EQ(host.Call(kPlugCustomButtonClick, kEntry), kPluginOK);
    }
    EXPECT_TRUE(host.getFrameCalls.empty());
    EXPECT_TRUE(gConfigureCalls.empty());
    SetConfigureProc(nullptr);
    EXPECT_EQ(host.releasedCookies, std::vector<void*>(8, nullptr));
    host.params.startFrame = INT_MAX - 2;
    host.params.renderFrame = 2;
    EXPECT_EQ(host.Call(kPlugDoFrame, kEntry), kPluginOK);
    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, INT_MAX);
    EXPECT_EQ(host.Call(kPlugTerminate, kEntry), kPluginOK);
    // A sum past the range would wrap to a negative index; the answer is -1 either way.
    EXPECT_EQ(AbsoluteFrameIndex(INT_MAX, 1), -1);
    EXPECT_EQ(AbsoluteFrameIndex(INT_MAX, INT_MAX), -1);
}

}  // namespace
