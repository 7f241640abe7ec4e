// A whole render pass (begin, six frames with fades, end) in which one thing
// goes wrong at a time: each callback the plug-in calls fails in turn, at
// each position where it is called, and then each allocation fails in turn.
// The pass must answer the codes the host expects, free every block, give
// back every frame and leave no half-made pass behind.
#include "Effects/AdjustColors/AdjustColors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "Effects/AdjustColors/TestHost.h"
#include "MacMemory.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace {

const HYPluginEntry kEntry = &BrimtoneMain;
// A host error the plug-in never makes itself, so it shows where it was passed on.
constexpr HYPluginResult kHostError = kPluginTryAgainLater;
// Six frames with fades of two and two: frames 0, 1 and 5 are blended.
constexpr SInt32 kClipFrames = 6;
constexpr int kFadeFrames = 3;
// Steps of a pass: begin, one per frame, end.
constexpr int kSteps = kClipFrames + 2;

enum class FaultKind { fail, failWithRecord, noBuffer };

// Which callback call of the pass fails, counted over all callbacks.
struct FaultPlan {
    int failAt = 0;
    FaultKind kind = FaultKind::fail;
    int calls = 0;
    int step = 0;
    std::vector<std::string> names;
    std::string hitName;
    int hitStep = -1;
};
FaultPlan gPlan;

bool Hit(const char* name)
{
    gPlan.names.push_back(name);
    if (++gPlan.calls != gPlan.failAt)
        return false;
    gPlan.hitName = name;
    gPlan.hitStep = gPlan.step;
    return true;
}

Ptr FaultyNewPtrClear(SInt32 size)
{
    return Hit("NewPtrClear") ? nullptr : TestHost::NewPtrClearProc(size);
}

// The block is freed either way; the plug-in does not rely on the answer.
HYPluginResult FaultyDisposePtr(Ptr block)
{
    const bool hit = Hit("DisposePtr");
    const HYPluginResult result = TestHost::DisposePtrProc(block);
    return hit ? kHostError : result;
}

HYPluginResult FaultyGetFrame(void* instance, SInt32 frameIndex, GWorldPtr* outFrame, SInt16 width,
                              SInt16 height, HYRefDVQuality quality, SInt16* outVolume,
                              void** outCookie)
{
    if (Hit("GetFrame")) {
        *outFrame = nullptr;
        *outVolume = 0;
        return gPlan.kind == FaultKind::noBuffer ? HYPluginResult(kPluginOK) : kHostError;
    }
    return TestHost::GetFrameProc(instance, frameIndex, outFrame, width, height, quality,
                                  outVolume, outCookie);
}

// The frame goes back even when the host then reports an error.
HYPluginResult FaultyReleaseFrame(void* instance, void* cookie)
{
    const bool hit = Hit("ReleaseFrame");
    const HYPluginResult result = TestHost::ReleaseFrameProc(instance, cookie);
    return hit ? kHostError : result;
}

HYPluginResult FaultyGetMovieInfo(SInt16* standard, SInt16* width, SInt16* height, SInt32* frames)
{
    if (Hit("GetMovieInfo"))
        return kHostError;
    return TestHost::GetMovieInfoProc(standard, width, height, frames);
}

HYPluginResult FaultyGetClipInfo(void* instance, SInt32 clip, void* outInfo)
{
    if (Hit("GetClipInfo"))
        return kHostError;
    return TestHost::GetClipInfoProc(instance, clip, outInfo);
}

HYPluginResult FaultyBlit(const PixMap* source, const PixMap* dest, const Rect* sourceRect,
                          const Rect* destRect, SInt16 opacity)
{
    if (Hit("Blit"))
        return kHostError;
    return TestHost::BlitProc(source, dest, sourceRect, destRect, opacity);
}

HYPluginResult FaultyMixAudio(void* instance, void* cookie, SInt16 level)
{
    if (Hit("MixAudio"))
        return kHostError;
    return TestHost::MixAudioProc(instance, cookie, level);
}

HYPluginResult FaultyGetFilterInfo(void* instance, HYPluginFilterInfo** outInfo)
{
    if (!Hit("GetFilterInfo"))
        return TestHost::GetFilterInfoProc(instance, outInfo);
    if (gPlan.kind == FaultKind::failWithRecord) {
        TestHost::GetFilterInfoProc(instance, outInfo);
    } else {
        *outInfo = nullptr;
    }
    return kHostError;
}

HYPluginResult FaultyReleaseFilterInfo(void* instance, HYPluginFilterInfo* info)
{
    const bool hit = Hit("ReleaseFilterInfo");
    const HYPluginResult result = TestHost::ReleaseFilterInfoProc(instance, info);
    return hit ? kHostError : result;
}

void InstallFaultyProcs(TestHost& host)
{
    host.procs.NewPtrClear = &FaultyNewPtrClear;
    host.procs.DisposePtr = &FaultyDisposePtr;
    host.procs.GetFrame = &FaultyGetFrame;
    host.procs.ReleaseFrame = &FaultyReleaseFrame;
    host.procs.GetMovieInfo = &FaultyGetMovieInfo;
    host.procs.GetClipInfo = &FaultyGetClipInfo;
    host.procs.Blit = &FaultyBlit;
    host.procs.MixAudio = &FaultyMixAudio;
    host.procs.GetFilterInfo = &FaultyGetFilterInfo;
    host.procs.ReleaseFilterInfo = &FaultyReleaseFilterInfo;
}

struct PassRecord {
    std::vector<SInt32> results;
    bool passAfterBegin = false;  // clientData set once the begin step returned
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

// The codes of the pass's steps when the call named failed in step.
std::vector<SInt32> ExpectedResults(const std::string& name, FaultKind kind, int step)
{
    std::vector<SInt32> expected(kSteps, kPluginOK);
    if (name == "NewPtrClear") {
        expected[step] = kPluginOutOfMemory;
        for (int frame = 1; frame <= kClipFrames; ++frame)
            expected[frame] = kPluginBadParams;
    } else if (name == "GetFrame") {
        expected[step] = kind == FaultKind::noBuffer ? SInt32(kPluginCantGetNeededFrame) : kHostError;
    } else if (name == "GetFilterInfo" || name == "Blit" || name == "MixAudio" ||
               name == "ReleaseFrame") {
        expected[step] = kHostError;
    }
    return expected;
}

std::vector<FaultKind> KindsFor(const std::string& name)
{
    if (name == "GetFrame")
        return {FaultKind::fail, FaultKind::noBuffer};
    if (name == "GetFilterInfo")
        return {FaultKind::fail, FaultKind::failWithRecord};
    return {FaultKind::fail};
}

const char* KindName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::fail:
        return "fails";
    case FaultKind::failWithRecord:
        return "fails with a record";
    case FaultKind::noBuffer:
        return "answers OK without a frame";
    }
    return "";
}

// Whether an allocation failure set n allocations ago is still pending:
// allocates until it fails or n blocks have been made.
bool AllocationFailurePending(long n)
{
    for (long i = 0; i < n; ++i) {
        Ptr probe = ::NewPtr(1);
        if (probe == nullptr)
            return true;
        ::DisposePtr(probe);
    }
    return false;
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

    void SetUp() override { ForgetMasterConfiguration(); }

    void TearDown() override
    {
        TBFailAllocationAfter(0);
        ForgetMasterConfiguration();
    }

    // The next call starts the plug-in afresh: master record and preferences.
    static void ForgetMasterConfiguration()
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
        const int blocksAtStart = TestHost::liveBlocks;
        gPlan = FaultPlan{};
        InstallFaultyProcs(host);
        const PassRecord clean = RunPass(host);
        ASSERT_EQ(clean.results, std::vector<SInt32>(kSteps, kPluginOK));
        ASSERT_EQ(host.blits.size(), size_t(kFadeFrames));
        ASSERT_EQ(TestHost::liveBlocks, blocksAtStart);
        calls = gPlan.names;
    }
    for (const char* name : {"NewPtrClear", "DisposePtr", "GetFrame", "ReleaseFrame", "Blit",
                             "MixAudio", "GetFilterInfo", "ReleaseFilterInfo", "GetMovieInfo",
                             "GetClipInfo"})
        ASSERT_NE(std::find(calls.begin(), calls.end(), name), calls.end()) << name << " never called";

    for (int position = 1; position <= int(calls.size()); ++position) {
        for (FaultKind kind : KindsFor(calls[position - 1])) {
            SCOPED_TRACE("call " + std::to_string(position) + ", " + calls[position - 1] + " " +
                         KindName(kind));
            TestHost host;
            const int blocksAtStart = TestHost::liveBlocks;
            gPlan = FaultPlan{};
            gPlan.failAt = position;
            gPlan.kind = kind;
            InstallFaultyProcs(host);
            const PassRecord pass = RunPass(host);

            ASSERT_EQ(gPlan.hitName, calls[position - 1]);
            EXPECT_EQ(pass.results, ExpectedResults(gPlan.hitName, kind, gPlan.hitStep));
            EXPECT_EQ(pass.passAfterBegin, gPlan.hitName != "NewPtrClear")
                << "a pass that could not begin must leave no block on the host's parameters";
            if (gPlan.hitName == "GetFilterInfo") {
                EXPECT_EQ(host.blits.size(), kind == FaultKind::fail ? size_t(0) : size_t(kFadeFrames))
                    << "without the host's record the pass has no fades";
            }
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

// Allocation n of the plug-in's start and of a whole pass fails, for n = 2, 3, ...
// until a pass runs without reaching the failure. (n = 1 is the master record:
// MasterRecordAllocationFailureIsFatal.)
TEST_F(FaultInjection, EachAllocationFailingInTurnEndsCleanly)
{
    bool completed = false;
    long n = 2;
    for (; n <= 400 && !completed; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        ForgetMasterConfiguration();
        TestHost host;
        TBFailAllocationAfter(n);
        ASSERT_EQ(host.Call(kPlugDrawIcon, kEntry), kPluginOK);
        ASSERT_NE(gPluginConfig, nullptr);
        const int blocksAtStart = TestHost::liveBlocks;
        const PassRecord pass = RunPass(host);
        const bool reached = !AllocationFailurePending(n);
        TBFailAllocationAfter(0);

        const std::vector<SInt32>& results = pass.results;
        if (results[0] == kPluginOutOfMemory) {
            EXPECT_FALSE(pass.passAfterBegin);
            for (int frame = 1; frame <= kClipFrames; ++frame)
                EXPECT_EQ(results[frame], kPluginBadParams);
        } else {
            EXPECT_EQ(results[0], kPluginOK);
            EXPECT_TRUE(pass.passAfterBegin);
            // A frame's buffers: the host's frame (its error passed on is 4),
            // the working buffer (4) or the fade copy (6).
            for (int frame = 1; frame <= kClipFrames; ++frame) {
                EXPECT_TRUE(results[frame] == kPluginOK || results[frame] == kPluginOutOfMemory ||
                            results[frame] == kPluginFailed)
                    << "frame " << frame - 1 << " answered " << results[frame];
            }
        }
        EXPECT_EQ(results[kSteps - 1], kPluginOK);
        EXPECT_EQ(host.params.clientData, nullptr);
        EXPECT_EQ(TestHost::liveBlocks, blocksAtStart) << "blocks leaked";
        EXPECT_EQ(host.liveFrames, 0) << "frames not given back";
        if (!reached) {
            EXPECT_EQ(results, std::vector<SInt32>(kSteps, kPluginOK));
            completed = true;
        }
    }
    EXPECT_TRUE(completed) << "no pass ran past the injected failure";
    // The start alone makes several blocks (master, preferences); a pass many more.
    EXPECT_GT(n, 10);
    RecordProperty("allocations", std::to_string(n - 2));
}

}  // namespace
