// A whole render pass (begin, six frames with fades, end) and a whole dialog
// run in which one thing goes wrong at a time: each callback call fails in
// turn, then each allocation. The plug-in must answer the codes the host
// expects, free every block, give back every frame and leave nothing half
// made: no pass, no preferences file, no edited record.
#include "Effects/AdjustColors/AdjustColors.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Effects/AdjustColors/TestHost.h"
#include "MacMemory.h"
#include "dialog/DialogTestSupport.h"
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

// The next call starts the plug-in afresh: master record and preferences.
void Forget()
{
    if (gPluginConfig != nullptr)
        ::DisposePtr(reinterpret_cast<Ptr>(gPluginConfig));
    gPluginConfig = nullptr;
    TestHost::liveBlocks = 0;
    PrefsLoaderResetForTests();
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
        const bool pending = TBAllocationFailurePending();
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

// ---- A dialog run --------------------------------------------------------------

constexpr SInt16 kEditedThreshold = 55;
constexpr SInt16 kEditedMedia = 2;

struct DialogRun {
    SInt32 result = -1;
    bool opened = false;     // the first window was shown
    bool confirmed = false;  // OK was pressed
};

// The effect's button on a ten-frame clip: the user drags the threshold,
// steps through the clip, selects the whole frame, switches to PAL (a second
// window), steps again and presses OK.
DialogRun RunDialog(TestHost& host)
{
    using namespace dialogtest;
    DialogRun run;
    host.params.renderFrame = 2;
    Script script({
        [&] {
            run.opened = true;
            DragSlider(FOUR_CHAR_CODE("Sldr"), 1, {30, kEditedThreshold});
        },
        [] { PressCommand("Adva"); },
        [] { PressCommand("Revi"); },
        [] { PressCommand("Sall"); },
        [] { ChooseMedia(kEditedMedia); },
        [] { PressCommand("Adva"); },
        [&] {
            run.confirmed = true;
            PressCommand("ok  ");
        },
    });
    run.result = host.Call(kPlugCustomButtonClick, kEntry);
    return run;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct BeforeDialog {
    long blocks;
    pluginDataRec record;
    std::string file;
};

BeforeDialog Snapshot(const std::filesystem::path& file)
{
    return {TBLiveBlockCount(), *gPluginConfig, ReadFile(file)};
}

// What a dialog run must leave behind, whatever failed in it: a record that
// is either untouched or holds every edit, a preferences file that is either
// untouched or holds the edits, every frame given back, every block freed.
// Empty when all holds.
std::string BrokenAfterDialog(const DialogRun& run, const TestHost& host, const BeforeDialog& before,
                              const std::filesystem::path& file)
{
    std::string broken;
    if (run.result != kPluginOK)
        broken += "result " + std::to_string(run.result) + "; ";
    if (host.liveFrames != 0)
        broken += "frames not given back; ";
    if (TBLiveBlockCount() != before.blocks)
        broken += std::to_string(TBLiveBlockCount() - before.blocks) + " blocks leaked; ";
    if (run.opened != run.confirmed)
        broken += "the dialog did not run to its end; ";
    if (gPluginConfig == nullptr)
        return broken + "no master record";
    const SInt16 wantThreshold = run.confirmed ? kEditedThreshold : before.record.Sliders[0];
    const SInt16 wantMedia = run.confirmed ? kEditedMedia : before.record.MediaType;
    if (gPluginConfig->Sliders[0] != wantThreshold || gPluginConfig->MediaType != wantMedia)
        broken += "record not as the dialog left it; ";
    const std::string fileAfter = ReadFile(file);
    if (fileAfter != before.file) {
        pluginDataRec saved{};
        ResetConfig(&saved, true);
        if (!run.confirmed)
            broken += "preferences changed without OK; ";
        else if (!ReadConfig(&saved) || saved.Sliders[0] != kEditedThreshold ||
                 saved.MediaType != kEditedMedia)
            broken += "preferences file half made; ";
    }
    return broken;
}

class DialogFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dialogtest::StartQt();
        // Qt's thread pool is running: a child of the allocation sweep must
        // start afresh rather than fork from this process.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    void SetUp() override
    {
        Forget();
        fHost.params.frameCount = 10;
        ASSERT_EQ(fHost.Call(kPlugInitialize, kEntry), kPluginOK);  // the clip for the button
        ASSERT_EQ(fHost.Call(kPlugDoFrame, kEntry), kPluginOK);
        ASSERT_EQ(fHost.Call(kPlugTerminate, kEntry), kPluginOK);
        fBefore = Snapshot(fPrefs.File());
    }
    void TearDown() override
    {
        TBFailAllocationAfter(0);
        Forget();
    }
    std::string Broken(const DialogRun& run) const
    {
        return BrokenAfterDialog(run, fHost, fBefore, fPrefs.File());
    }

    dialogtest::PrivatePrefs fPrefs;
    TestHost fHost;
    BeforeDialog fBefore{};
};

TEST_F(DialogFaults, EachFrameCallbackFailingInTurnLeavesTheDialogUsable)
{
    gPlan = FaultPlan{};
    InstallFaultyProcs(fHost);
    DialogRun run = RunDialog(fHost);
    ASSERT_TRUE(run.confirmed);
    ASSERT_EQ(Broken(run), "");
    const std::vector<std::string> names = gPlan.names;
    ASSERT_GE(std::count(names.begin(), names.end(), "GetFrame"), 4);  // button, three steps

    for (int position = 1; position <= int(names.size()); ++position) {
        for (FaultKind kind : {FaultKind::fail, FaultKind::noBuffer}) {
            if (kind == FaultKind::noBuffer && names[position - 1] != "GetFrame")
                continue;
            SCOPED_TRACE("call " + std::to_string(position) + " " + names[position - 1] +
                         " kind " + std::to_string(int(kind)));
            Forget();
            TestHost host;
            host.params.frameCount = 10;
            ASSERT_EQ(host.Call(kPlugDrawIcon, kEntry), kPluginOK);
            const BeforeDialog before = Snapshot(fPrefs.File());
            gPlan = FaultPlan{};
            gPlan.failAt = position;
            gPlan.kind = kind;
            InstallFaultyProcs(host);
            run = RunDialog(host);
            ASSERT_EQ(gPlan.hitName, names[position - 1]);
            // Only the frame for the button decides whether the dialog opens;
            // a step's frame that does not come leaves the preview as it was.
            EXPECT_EQ(run.opened, position != 1);
            EXPECT_EQ(BrokenAfterDialog(run, host, before, fPrefs.File()), "");
        }
    }
}

// How each child of the allocation sweep ends.
enum DialogEnding {
    kRanPastTheFailure = 0,
    kFailureNeverCame = 2,
    kBroken = 3,
    kPreviewBufferFatal = 20,  // the assertion on the preview buffer
    kWindowFatal = 148,        // a window that cannot be made: memFullErr's low byte
};

DialogItemIndex EndAtFatalAlert(const TBAlertRequest& request)
{
    std::fprintf(stderr, "alert: %s / %s\n", request.headline.c_str(), request.text.c_str());
    if (request.text.find("Unable to allocate theProcessed") != std::string::npos)
        std::_Exit(kPreviewBufferFatal);
    return request.defaultButton;
}

int gLastEnding = -1;

bool KnownEnding(int status)
{
    gLastEnding = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return gLastEnding == kRanPastTheFailure || gLastEnding == kFailureNeverCame ||
           gLastEnding == kPreviewBufferFatal || gLastEnding == kWindowFatal;
}

// Allocation n of the dialog run fails, for each n until a run no longer
// reaches the failure. Each run is a child process, since the preview buffer
// and the windows are fatal when they cannot be made.
TEST_F(DialogFaults, EachAllocationFailingInTurnEndsCleanlyOrAtAFatalCheck)
{
    std::map<int, int> endings;
    for (long n = 1; n <= 3000 && gLastEnding != kFailureNeverCame; ++n) {
        EXPECT_EXIT(
            {
                TBSetStandardAlertRunner(&EndAtFatalAlert);
                TBFailAllocationAfter(n);
                const DialogRun run = RunDialog(fHost);
                const bool reached = !TBAllocationFailurePending();
                TBFailAllocationAfter(0);
                const std::string broken = Broken(run);
                std::fprintf(stderr, "%s\n", broken.c_str());
                // exit, not _Exit: the leak checker of the sanitizer build runs
                std::exit(!broken.empty() ? kBroken : reached ? kRanPastTheFailure
                                                              : kFailureNeverCame);
            },
            KnownEnding, "")
            << "allocation " << n;
        ++endings[gLastEnding];
    }
    EXPECT_EQ(gLastEnding, kFailureNeverCame);
    EXPECT_GT(endings[kRanPastTheFailure], 0);
    EXPECT_EQ(endings[kPreviewBufferFatal], 2);  // its port record and its pixels
    EXPECT_EQ(endings[kWindowFatal], 2);  // the NTSC and the PAL window's port
}

}  // namespace
