#include "Effects/iMovieGlue.h"

#include <gtest/gtest.h>

#include <climits>

#include "Effects/AdjustColors/TestHost.h"
#include "graphics/CommonProcs.h"

namespace {

TEST(GetFrameIntoGW, CopiesTheClipFrameAtTheBuffersSize)
{
    TestHost host;  // its ReleaseFrame frees the frame, as our host's does
    host.params.startFrame = 40;
    host.params.proxyOnly = true;
    GWorldPtr target = AllocateRectGWorld(Rect{0, 0, 30, 50});
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, 6, 1), kPluginOK);
    ASSERT_EQ(host.getFrameCalls.size(), 1u);
    EXPECT_EQ(host.getFrameCalls[0].index, 46);
    EXPECT_EQ(host.getFrameCalls[0].width, 50);
    EXPECT_EQ(host.getFrameCalls[0].height, 30);
    EXPECT_EQ(host.liveFrames, 0);
    UInt8 want[4];
    TestFramePixel(46, 17, 21, want);
    EXPECT_EQ(0, std::memcmp(PixelAt(target, 17, 21), want, 4));
    DisposeGWorld(target);
}

TEST(GetFrameIntoGW, LeavesTheFetchedBufferToTheHostAndRefusesWhatItCannotFetch)
{
    TestHost host;
    host.releaseDisposesFrame = false;
    GWorldPtr target = AllocateRectGWorld(Rect{0, 0, 8, 8});
    host.releaseFrameResult = kPluginTryAgainLater;
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, 0, 1), kPluginTryAgainLater);
    ASSERT_EQ(host.handedOutFrames.size(), 1u);
    EXPECT_NE(GetPortRect(host.handedOutFrames[0]).right, 0);  // still alive; the host frees it
    host.releaseFrameResult = kPluginOK;
    host.getFrameCalls.clear();

    host.params.startFrame = 2;
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, -3, 1), -1);
    host.params.startFrame = INT_MAX;
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, 1, 1), -1);
    EXPECT_TRUE(host.getFrameCalls.empty());
    host.params.startFrame = 0;
    host.getFrameResult = kPluginFailed;
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, 0, 1), kPluginFailed);
    host.getFrameResult = kPluginOK;
    host.getFrameGivesBuffer = false;
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, 0, 1), kPluginCantGetNeededFrame);
    EXPECT_EQ(GetFrameIntoGW(nullptr, &host.params, 0, 1), kPluginBadParams);
    host.params.procs = nullptr;
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, 0, 1), kPluginBadParams);
    DisposeGWorld(target);
}

}  // namespace
