// A whole render pass (begin, six frames with fades, end) and a whole dialog
// run in which one thing goes wrong at a time: each callback call fails in
// turn, then each allocation. The plug-in must answer the codes the host
// expects, free every block, give back every frame and leave nothing half
// made: no pass, no preferences file, no edited record.
#include "Effects/AdjustColors/AdjustColors.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "dialog/DialogTestSupport.h"
#include "plugin/PluginGlue.h"

namespace {

using namespace dialogtest;

const HYPluginEntry kEntry = &BrimtoneMain;
constexpr HYPluginResult kHostError = kPluginTryAgainLater;  // never made by the plug-in
constexpr SInt32 kClipFrames = 6;
constexpr int kSteps = kClipFrames + 2;  // begin, one per frame, end

// How the call failAt fails: with the host's error, or with OK and no frame.
enum class FaultKind { fail, noBuffer };

struct FaultPlan {
    int failAt = 0;
    FaultKind kind = FaultKind::fail;
    std::vector<std::string> names;  // every call so far
    int step = 0;
    std::string hitName;
    int hitStep = -1;
} gPlan;

bool Hit(const char* name)
{
    gPlan.names.push_back(name);
    if (int(gPlan.names.size()) != gPlan.failAt)
        return false;
    gPlan.hitName = name;
    gPlan.hitStep = gPlan.step;
    return true;
}

HYPluginResult Fail(bool hit, HYPluginResult result) { return hit ? kHostError : result; }

// The callbacks that give something back still do so when they fail.
void Arm(TestHost& host, int failAt = 0, FaultKind kind = FaultKind::fail)
{
    gPlan = FaultPlan{};
    gPlan.failAt = failAt;
    gPlan.kind = kind;
    HYProcs& p = host.procs;
    p.NewPtrClear = [](SInt32 n) {
        return Hit("NewPtrClear") ? nullptr : TestHost::NewPtrClearProc(n);
    };
    p.DisposePtr = [](Ptr b) { return Fail(Hit("DisposePtr"), TestHost::DisposePtrProc(b)); };
    p.GetFrame = [](void* i, SInt32 n, GWorldPtr* f, SInt16 w, SInt16 h, HYRefDVQuality q,
                    SInt16* v, void** c) {
        TestHost* host = static_cast<TestHost*>(i);
        const bool hit = Hit("GetFrame");
        host->getFrameResult = hit && gPlan.kind != FaultKind::noBuffer ? kHostError
                                                                       : HYPluginResult(kPluginOK);
        host->getFrameGivesBuffer = !hit;
        return TestHost::GetFrameProc(i, n, f, w, h, q, v, c);
    };
    p.ReleaseFrame = [](void* i, void* c) {
        return Fail(Hit("ReleaseFrame"), TestHost::ReleaseFrameProc(i, c));
    };
    p.GetMovieInfo = [](SInt16* s, SInt16* w, SInt16* h, SInt32* n) {
        return Hit("GetMovieInfo") ? kHostError : TestHost::GetMovieInfoProc(s, w, h, n);
    };
    p.GetClipInfo = [](void* i, SInt32 n, void* out) {
        return Hit("GetClipInfo") ? kHostError : TestHost::GetClipInfoProc(i, n, out);
    };
    p.Blit = [](const PixMap* s, const PixMap* d, const Rect* sr, const Rect* dr, SInt16 o) {
        return Hit("Blit") ? kHostError : TestHost::BlitProc(s, d, sr, dr, o);
    };
    p.MixAudio = [](void* i, void* c, SInt16 l) {
        return Hit("MixAudio") ? kHostError : TestHost::MixAudioProc(i, c, l);
    };
    p.GetFilterInfo = [](void* i, HYPluginFilterInfo** out) {
        *out = nullptr;
        return Hit("GetFilterInfo") ? kHostError : TestHost::GetFilterInfoProc(i, out);
    };
    p.ReleaseFilterInfo = [](void* i, HYPluginFilterInfo* info) {
        return Fail(Hit("ReleaseFilterInfo"), TestHost::ReleaseFilterInfoProc(i, info));
    };
}

// Runs check(position, kind) for each call of a clean run failing, each way.
template <typename Check>
void ForEachFault(const std::vector<std::string>& calls, Check check)
{
    for (int position = 1; position <= int(calls.size()); ++position) {
        for (FaultKind kind : {FaultKind::fail, FaultKind::noBuffer}) {
            if (kind == FaultKind::noBuffer && calls[position - 1] != "GetFrame")
                continue;
            SCOPED_TRACE("call " + std::to_string(position) + " " + calls[position - 1] +
                         " kind " + std::to_string(int(kind)));
            check(position, kind);
            ASSERT_EQ(gPlan.hitName, calls[position - 1]);
        }
    }
}

struct PassRecord {
    std::vector<SInt32> results;
    bool passAfterBegin = false;
};

PassRecord RunPass(TestHost& host)
{
    host.params.frameCount = kClipFrames;
    host.filterInfo.fadeInFrames = host.filterInfo.fadeOutFrames = 2;
    PassRecord record;
    for (gPlan.step = 0; gPlan.step < kSteps; ++gPlan.step) {
        const bool last = gPlan.step == kSteps - 1;
        if (gPlan.step > 0 && !last)
            host.params.renderFrame = gPlan.step - 1;
        record.results.push_back(host.Call(
            gPlan.step == 0 ? kPlugInitialize : last ? kPlugTerminate : kPlugDoFrame, kEntry));
        record.passAfterBegin |= gPlan.step == 0 && host.params.clientData != nullptr;
    }
    return record;
}

void ExpectNothingLeft(const TestHost& host, int blocksAtStart)
{
    EXPECT_EQ(host.params.clientData, nullptr) << "pass left behind";
    EXPECT_EQ(TestHost::liveBlocks, blocksAtStart) << "blocks leaked";
    EXPECT_EQ(host.liveFrames, 0) << "frames not given back";
    EXPECT_EQ(host.filterInfoCalls, host.releaseFilterInfoCalls) << "record not given back";
}

// The next call starts the plug-in afresh: master record and preferences.
void Forget()
{
    if (gPluginConfig != nullptr)
        ::DisposePtr(reinterpret_cast<Ptr>(gPluginConfig));
    gPluginConfig = nullptr;
    TestHost::liveBlocks = 0;
    ForgetHeldPrefsForTests();
}

class FaultInjection : public ::testing::Test {
protected:
    // Qt's thread pool runs in the dialog tests: a child of an allocation
    // sweep must start afresh rather than fork from this process.
    static void SetUpTestSuite() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    void SetUp() override { Forget(); }
    void TearDown() override
    {
        TBFailAllocationAfter(0);
        Forget();
    }

    PrivatePrefs fPrefs;
};

TEST_F(FaultInjection, EachCallbackFailingInTurnIsReportedAndLeavesNothingBehind)
{
    TestHost clean;
    ASSERT_EQ(clean.Call(kPlugDrawIcon, kEntry), kPluginOK);
    Arm(clean);
    ASSERT_EQ(RunPass(clean).results, std::vector<SInt32>(kSteps, kPluginOK));
    ASSERT_EQ(clean.blits.size(), 3u);  // frames 0, 1 and 5
    ExpectNothingLeft(clean, 1);        // the master record stays
    ForEachFault(gPlan.names, [](int position, FaultKind kind) {
        TestHost host;
        Arm(host, position, kind);
        const PassRecord pass = RunPass(host);
        const std::string& name = gPlan.hitName;
        std::vector<SInt32> expected(kSteps, kPluginOK);
        if (name == "NewPtrClear") {
            std::fill(expected.begin() + 1, expected.end() - 1, kPluginBadParams);
            expected[gPlan.hitStep] = kPluginOutOfMemory;
        } else if (kind == FaultKind::noBuffer) {
            expected[gPlan.hitStep] = kPluginCantGetNeededFrame;
        } else if (name == "GetFrame" || name == "GetFilterInfo" || name == "Blit" ||
                   name == "MixAudio" || name == "ReleaseFrame") {
            expected[gPlan.hitStep] = kHostError;
        }
        EXPECT_EQ(pass.results, expected);
        EXPECT_EQ(pass.passAfterBegin, name != "NewPtrClear");
        ExpectNothingLeft(host, 1);
    });
}

// Allocation 1 is the master record, which is fatal; allocation n ≥ 2 of the
// start and a pass fails, for each n until a pass runs without reaching it.
TEST_F(FaultInjection, EachAllocationFailingInTurnEndsCleanly)
{
    EXPECT_EXIT(
        {
            TestHost host;
            TBFailAllocationAfter(1);
            host.Call(kPlugDrawIcon, kEntry);
        },
        ::testing::ExitedWithCode(1), "Unable to allocate new data structure");
    bool completed = false;
    for (long n = 2; n <= 400 && !completed; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        Forget();
        TestHost host;
        TBFailAllocationAfter(n);
        ASSERT_EQ(host.Call(kPlugDrawIcon, kEntry), kPluginOK);
        const int blocksAtStart = TestHost::liveBlocks;
        const PassRecord pass = RunPass(host);
        const std::vector<SInt32>& r = pass.results;
        completed = TBAllocationFailurePending();
        TBFailAllocationAfter(0);
        EXPECT_TRUE(r[0] == kPluginOK || r[0] == kPluginOutOfMemory) << r[0];
        EXPECT_EQ(pass.passAfterBegin, r[0] == kPluginOK);
        for (int frame = 1; frame <= kClipFrames; ++frame) {
            if (r[0] == kPluginOutOfMemory)
                EXPECT_EQ(r[frame], kPluginBadParams);
            else
                EXPECT_TRUE(r[frame] == kPluginOK || r[frame] == kPluginOutOfMemory ||
                            r[frame] == kPluginFailed)
                    << r[frame];
        }
        EXPECT_EQ(r[kSteps - 1], kPluginOK);
        if (completed) {
            EXPECT_EQ(r, std::vector<SInt32>(kSteps, kPluginOK));
        }
        ExpectNothingLeft(host, blocksAtStart);
    }
    EXPECT_TRUE(completed) << "no pass ran past the injected failure";
}

constexpr SInt16 kEditedThreshold = 55;
constexpr SInt16 kEditedMedia = 2;

struct DialogRun {
    SInt32 result = -1;
    bool opened = false;     // the first window was shown
    bool confirmed = false;  // OK was pressed
};

// The effect's button on a ten-frame clip: the user drags the threshold, steps,
// selects all, switches to PAL (a second window), steps and presses OK.
DialogRun RunDialog(TestHost& host)
{
    DialogRun run;
    host.params.frameCount = 10;
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

class DialogFaults : public FaultInjection {
protected:
    static void SetUpTestSuite()
    {
        FaultInjection::SetUpTestSuite();
        StartQt();
        SetConfigureProc(ConfigurePlugIn);
    }
    // Starts the plug-in with a pass over the clip and notes what a dialog
    // run may change.
    void Start(TestHost& host)
    {
        for (HYPluginSelector selector : {kPlugInitialize, kPlugDoFrame, kPlugTerminate})
            ASSERT_EQ(host.Call(selector, kEntry), kPluginOK);
        fBlocks = TBLiveBlockCount();
        fRecord = *gPluginConfig;
        fFile = ReadFile(fPrefs.File());
    }
    // What a dialog run must leave behind, whatever failed in it: every frame
    // given back, every block freed; without OK the record and preferences
    // file untouched; after OK each edit either kept or (its click lost for
    // want of an event record) not, and the file untouched or holding just
    // what the record holds. Empty when all holds.
    std::string Broken(const DialogRun& run, const TestHost& host) const
    {
        std::string broken;
        auto check = [&](bool holds, const std::string& what) {
            broken += holds ? "" : what + "; ";
        };
        // kPluginFailed: OK could not save (told by an alert), the file untouched.
        check(run.result == kPluginOK ||
                  (run.result == kPluginFailed && run.confirmed && ReadFile(fPrefs.File()) == fFile),
              "result " + std::to_string(run.result));
        check(host.liveFrames == 0, "frames not given back");
        check(TBLiveBlockCount() == fBlocks,
              std::to_string(TBLiveBlockCount() - fBlocks) + " blocks leaked");
        check(run.opened || !run.confirmed, "OK without a window");
        if (gPluginConfig == nullptr)
            return broken + "no master record";
        const SInt16 threshold = gPluginConfig->Sliders[0];
        const SInt16 media = gPluginConfig->MediaType;
        check(run.confirmed ? (threshold == fRecord.Sliders[0] || threshold == kEditedThreshold) &&
                                  (media == fRecord.MediaType || media == kEditedMedia)
                            : threshold == fRecord.Sliders[0] && media == fRecord.MediaType,
              "record not as the dialog left it");
        pluginDataRec saved{};
        ResetConfig(&saved, true);
        check(ReadFile(fPrefs.File()) == fFile ||
                  (run.confirmed && ReadConfig(&saved) && saved.Sliders[0] == threshold &&
                   saved.MediaType == media),
              "preferences changed without OK or half made");
        return broken;
    }

    long fBlocks = 0;
    pluginDataRec fRecord{};
    std::string fFile;
};

TEST_F(DialogFaults, EachFrameCallbackFailingInTurnLeavesTheDialogUsable)
{
    {
        TestHost clean;
        Start(clean);
        Arm(clean);
        const DialogRun run = RunDialog(clean);
        ASSERT_TRUE(run.confirmed);
        ASSERT_EQ(Broken(run, clean), "");
    }
    const std::vector<std::string> calls = gPlan.names;
    ASSERT_GE(std::count(calls.begin(), calls.end(), "GetFrame"), 4);  // button, three steps
    ForEachFault(calls, [this](int position, FaultKind kind) {
        Forget();
        TestHost host;
        Start(host);
        Arm(host, position, kind);
        const DialogRun run = RunDialog(host);
        // Only the frame for the button decides whether the dialog opens;
        // a step's frame that does not come leaves the preview as it was.
        EXPECT_EQ(run.opened, position != 1);
        EXPECT_EQ(Broken(run, host), "");
    });
}

// How a child of the allocation sweep ends.
enum Ending {
    kRanPastTheFailure = 0,
    kFailureNeverCame = 2,
    kBroken = 3,
    kPreviewBufferFatal = 20,  // the assertion on the preview buffer
    kWindowPartFatal = 21,     // a check that a window's nib, name or class was made
    kWindowFatal = 148,        // a window that cannot be made: memFullErr's low byte
};
int gLastEnding = -1;

bool KnownEnding(int status)
{
    gLastEnding = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return gLastEnding == kRanPastTheFailure || gLastEnding == kFailureNeverCame ||
           gLastEnding == kPreviewBufferFatal || gLastEnding == kWindowPartFatal ||
           gLastEnding == kWindowFatal;
}

// Which allocations this run sweeps: BRIMTONE_ALLOCATION_SWEEP=K/M takes
// every M-th from the K-th (K from 0), so that M runs share the sweep; all
// of them without it.
std::pair<long, long> SweepShare()
{
    const char* share = std::getenv("BRIMTONE_ALLOCATION_SWEEP");
    long k = 0, m = 1;
    if (share != nullptr && (std::sscanf(share, "%ld/%ld", &k, &m) != 2 || m < 1 || k < 0 || k >= m))
        k = 0, m = 1;
    return {k, m};
}

// Allocation n of the dialog run fails, for each n until a run no longer
// reaches the failure. Each run is a child process, since the preview buffer
// and the windows are fatal when they cannot be made.
TEST_F(DialogFaults, EachAllocationFailingInTurnEndsCleanlyOrAtAFatalCheck)
{
    TestHost host;
    Start(host);
    std::map<int, int> endings;
    const auto [first, stride] = SweepShare();
    for (long n = 1 + first; n <= 3000 && gLastEnding != kFailureNeverCame; n += stride) {
        EXPECT_EXIT(
            {
                TBSetStandardAlertRunner([](const TBAlertRequest& request) {
                    std::fprintf(stderr, "alert: %s\n", request.text.c_str());
                    if (request.text.find("Unable to allocate theProcessed") != std::string::npos)
                        std::_Exit(kPreviewBufferFatal);
                    if (request.headline == "OpenNibWindow Failed" ||
                        request.text.find("Cannot allocate") != std::string::npos)
                        std::_Exit(kWindowPartFatal);
                    return request.defaultButton;
                });
                TBFailAllocationAfter(n);
                const DialogRun run = RunDialog(host);
                const bool reached = !TBAllocationFailurePending();
                TBFailAllocationAfter(0);
                const std::string broken = Broken(run, host);
                std::fprintf(stderr, "%s\n", broken.c_str());
                // exit, not _Exit: the leak checker of the sanitizer build runs
                std::exit(!broken.empty() ? kBroken
                          : reached        ? kRanPastTheFailure
                                           : kFailureNeverCame);
            },
            KnownEnding, "")
            << "allocation " << n;
        ++endings[gLastEnding];
    }
    EXPECT_EQ(gLastEnding, kFailureNeverCame);
    EXPECT_GT(endings[kRanPastTheFailure], 0);
    // The preview buffer's port record, its place in the port list, its
    // pixels: three allocations in a row, so a share of two has one or two.
    if (stride == 1)
        EXPECT_EQ(endings[kPreviewBufferFatal], 3);
    else
        EXPECT_GT(endings[kPreviewBufferFatal], 0);
    EXPECT_GT(endings[kWindowPartFatal], 0);
    EXPECT_GT(endings[kWindowFatal], 0);
}

}  // namespace
