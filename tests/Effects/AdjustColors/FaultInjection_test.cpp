// A whole render pass (begin, six frames with fades, end) in which one thing
// goes wrong at a time: each callback call fails in turn, then each allocation.
// The pass must answer the codes the host expects, free every block, give
// back every frame and leave no half-made pass behind.
#include "Effects/AdjustColors/AdjustColors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Effects/AdjustColors/TestHost.h"
#include "MacMemory.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace {

const HYPluginEntry kEntry = &BrimtoneMain;
constexpr HYPluginResult kHostError = kPluginTryAgainLater;  // never made by the plug-in
constexpr SInt32 kClipFrames = 6;
constexpr int kSteps = kClipFrames + 2;  // begin, one per frame, end

enum class FaultKind { fail, failWithRecord, noBuffer };

struct FaultPlan {
    int failAt = 0;
    FaultKind kind = FaultKind::fail;
    int calls = 0;
    int step = 0;
    std::vector<std::string> names;
    std::string hitName;
    int hitStep = -1;
} gPlan;

bool Hit(const char* name)
{
    gPlan.names.push_back(name);
    if (++gPlan.calls != gPlan.failAt)
        return false;
    gPlan.hitName = name;
    gPlan.hitStep = gPlan.step;
    return true;
}

void InstallFaultyProcs(TestHost& host)
{
    host.procs.NewPtrClear = [](SInt32 size) {
        return Hit("NewPtrClear") ? nullptr : TestHost::NewPtrClearProc(size);
    };
    host.procs.DisposePtr = [](Ptr block) {
        const bool hit = Hit("DisposePtr");
        const HYPluginResult result = TestHost::DisposePtrProc(block);
        return hit ? kHostError : result;
    };
    host.procs.GetFrame = [](void* instance, SInt32 index, GWorldPtr* outFrame, SInt16 width,
                             SInt16 height, HYRefDVQuality quality, SInt16* outVolume,
                             void** outCookie) -> HYPluginResult {
        if (!Hit("GetFrame"))
            return TestHost::GetFrameProc(instance, index, outFrame, width, height, quality,
                                          outVolume, outCookie);
        *outFrame = nullptr;
        *outVolume = 0;
        return gPlan.kind == FaultKind::noBuffer ? HYPluginResult(kPluginOK) : kHostError;
    };
    host.procs.ReleaseFrame = [](void* instance, void* cookie) {
        const bool hit = Hit("ReleaseFrame");
        const HYPluginResult result = TestHost::ReleaseFrameProc(instance, cookie);
        return hit ? kHostError : result;
    };
    host.procs.GetMovieInfo = [](SInt16* standard, SInt16* width, SInt16* height, SInt32* frames) {
        return Hit("GetMovieInfo") ? kHostError
                                   : TestHost::GetMovieInfoProc(standard, width, height, frames);
    };
    host.procs.GetClipInfo = [](void* instance, SInt32 clip, void* outInfo) {
        return Hit("GetClipInfo") ? kHostError : TestHost::GetClipInfoProc(instance, clip, outInfo);
    };
    host.procs.Blit = [](const PixMap* source, const PixMap* dest, const Rect* sourceRect,
                         const Rect* destRect, SInt16 opacity) {
        return Hit("Blit") ? kHostError
                           : TestHost::BlitProc(source, dest, sourceRect, destRect, opacity);
    };
    host.procs.MixAudio = [](void* instance, void* cookie, SInt16 level) {
        return Hit("MixAudio") ? kHostError : TestHost::MixAudioProc(instance, cookie, level);
    };
    host.procs.GetFilterInfo = [](void* instance, HYPluginFilterInfo** outInfo) {
        if (!Hit("GetFilterInfo"))
            return TestHost::GetFilterInfoProc(instance, outInfo);
        *outInfo = nullptr;
        if (gPlan.kind == FaultKind::failWithRecord)
            TestHost::GetFilterInfoProc(instance, outInfo);
        return kHostError;
    };
    host.procs.ReleaseFilterInfo = [](void* instance, HYPluginFilterInfo* info) {
        const bool hit = Hit("ReleaseFilterInfo");
        const HYPluginResult result = TestHost::ReleaseFilterInfoProc(instance, info);
        return hit ? kHostError : result;
    };
}

struct PassRecord {
    std::vector<SInt32> results;
    bool passAfterBegin = false;
};

PassRecord RunPass(TestHost& host)
{
    host.params.frameCount = kClipFrames;
    host.filterInfo.fadeInFrames = 2;
    host.filterInfo.fadeOutFrames = 2;
    PassRecord record;
    gPlan.step = 0;
    record.results.push_back(host.Call(kPlugInitialize, kEntry));
    record.passAfterBegin = host.params.clientData != nullptr;
    for (SInt32 frame = 0; frame < kClipFrames; ++frame) {
        gPlan.step = 1 + frame;
        host.params.renderFrame = frame;
        record.results.push_back(host.Call(kPlugDoFrame, kEntry));
    }
    gPlan.step = kSteps - 1;
    record.results.push_back(host.Call(kPlugTerminate, kEntry));
    return record;
}

std::vector<SInt32> ExpectedResults(const std::string& name, FaultKind kind, int step)
{
    std::vector<SInt32> expected(kSteps, kPluginOK);
    if (name == "NewPtrClear") {
        for (int frame = 1; frame <= kClipFrames; ++frame)
            expected[frame] = kPluginBadParams;
        expected[step] = kPluginOutOfMemory;
    } else if (name == "GetFrame" && kind == FaultKind::noBuffer) {
        expected[step] = kPluginCantGetNeededFrame;
    } else if (name == "GetFrame" || name == "GetFilterInfo" || name == "Blit" ||
               name == "MixAudio" || name == "ReleaseFrame") {
        expected[step] = kHostError;
    }
    return expected;
}

class FaultInjection : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static std::string folder = [] {
            char pattern[] = "/tmp/brimtone-faults-XXXXXX";
            const char* made = mkdtemp(pattern);
            return std::string(made != nullptr ? made : "/tmp");
        }();
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    void SetUp() override { Forget(); }
    void TearDown() override
    {
        TBFailAllocationAfter(0);
        Forget();
    }
    // The next call starts the plug-in afresh: master record and preferences.
    static void Forget()
    {
        if (gPluginConfig != nullptr)
            ::DisposePtr(reinterpret_cast<Ptr>(gPluginConfig));
        gPluginConfig = nullptr;
        TestHost::liveBlocks = 0;
        PrefsLoaderResetForTests();
    }
};

TEST_F(FaultInjection, EachCallbackFailingInTurnIsReportedAndLeavesNothingBehind)
{
    std::vector<std::string> calls;
    {
        TestHost host;
        ASSERT_EQ(host.Call(kPlugDrawIcon, kEntry), kPluginOK);
        gPlan = FaultPlan{};
        InstallFaultyProcs(host);
        ASSERT_EQ(RunPass(host).results, std::vector<SInt32>(kSteps, kPluginOK));
        ASSERT_EQ(host.blits.size(), 3u);  // frames 0, 1 and 5
        ASSERT_EQ(TestHost::liveBlocks, 1);
        calls = gPlan.names;
    }
    for (int position = 1; position <= int(calls.size()); ++position) {
        const std::string& name = calls[position - 1];
        for (FaultKind kind : {FaultKind::fail, FaultKind::failWithRecord, FaultKind::noBuffer}) {
            if ((kind == FaultKind::noBuffer && name != "GetFrame") ||
                (kind == FaultKind::failWithRecord && name != "GetFilterInfo"))
                continue;
            SCOPED_TRACE("call " + std::to_string(position) + " " + name + " kind " +
                         std::to_string(int(kind)));
            TestHost host;
            const int blocksAtStart = TestHost::liveBlocks;
            gPlan = FaultPlan{};
            gPlan.failAt = position;
            gPlan.kind = kind;
            InstallFaultyProcs(host);
            const PassRecord pass = RunPass(host);
            ASSERT_EQ(gPlan.hitName, name);
            EXPECT_EQ(pass.results, ExpectedResults(name, kind, gPlan.hitStep));
            EXPECT_EQ(pass.passAfterBegin, name != "NewPtrClear");
            EXPECT_EQ(host.params.clientData, nullptr);
            EXPECT_EQ(TestHost::liveBlocks, blocksAtStart) << "blocks leaked";
            EXPECT_EQ(host.liveFrames, 0) << "frames not given back";
            EXPECT_EQ(host.filterInfoCalls, host.releaseFilterInfoCalls) << "record not given back";
        }
    }
}

TEST_F(FaultInjection, MasterRecordAllocationFailureIsFatal)
{
    EXPECT_EXIT(
        {
            TestHost host;
            TBFailAllocationAfter(1);
            host.Call(kPlugDrawIcon, kEntry);
        },
        ::testing::ExitedWithCode(1), "Unable to allocate new data structure");
}

// Allocation n (n ≥ 2; 1 is the master record) of the start and a pass fails,
// for each n until a pass runs without reaching the failure.
TEST_F(FaultInjection, EachAllocationFailingInTurnEndsCleanly)
{
    bool completed = false;
    for (long n = 2; n <= 400 && !completed; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        Forget();
        TestHost host;
        TBFailAllocationAfter(n);
        ASSERT_EQ(host.Call(kPlugDrawIcon, kEntry), kPluginOK);
        const int blocksAtStart = TestHost::liveBlocks;
        const PassRecord pass = RunPass(host);
        bool pending = false;  // whether the failure is still ahead: allocate up to n blocks
        for (long i = 0; i < n && !pending; ++i) {
            Ptr probe = ::NewPtr(1);
            pending = probe == nullptr;
            if (probe != nullptr)
                ::DisposePtr(probe);
        }
        TBFailAllocationAfter(0);

        const std::vector<SInt32>& results = pass.results;
        EXPECT_TRUE(results[0] == kPluginOK || results[0] == kPluginOutOfMemory) << results[0];
        EXPECT_EQ(pass.passAfterBegin, results[0] == kPluginOK);
        for (int frame = 1; frame <= kClipFrames; ++frame) {
            const SInt32 r = results[frame];
            if (results[0] == kPluginOutOfMemory)
                EXPECT_EQ(r, kPluginBadParams);
            else
                EXPECT_TRUE(r == kPluginOK || r == kPluginOutOfMemory || r == kPluginFailed) << r;
        }
        EXPECT_EQ(results[kSteps - 1], kPluginOK);
        EXPECT_EQ(host.params.clientData, nullptr);
        EXPECT_EQ(TestHost::liveBlocks, blocksAtStart) << "blocks leaked";
        EXPECT_EQ(host.liveFrames, 0) << "frames not given back";
        if (pending) {
            EXPECT_EQ(results, std::vector<SInt32>(kSteps, kPluginOK));
            completed = true;
        }
    }
    EXPECT_TRUE(completed) << "no pass ran past the injected failure";
}

}  // namespace
