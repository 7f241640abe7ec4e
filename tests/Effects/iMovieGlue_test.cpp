#include "Effects/iMovieGlue.h"

#include <gtest/gtest.h>

#include <climits>

#include "Effects/AdjustColors/TestHost.h"
#include "graphics/CommonProcs.h"

namespace {

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

    for (const auto& [start, offset] : {std::pair{2, -3}, {INT_MAX, 1}}) {
        host.params.startFrame = start;
        EXPECT_EQ(GetFrameIntoGW(target, &host.params, offset, 1), -1);
    }
    EXPECT_TRUE(host.getFrameCalls.empty());
    host.params.startFrame = 0;
    host.getFrameResult = kPluginFailed;
    EXPECT_EQ(GetFrameIntoGW(target, &host.params, 0, 1), kPluginFailed);
    EXPECT_EQ(GetFrameIntoGW(nullptr, &host.params, 0, 1), kPluginBadParams);
    DisposeGWorld(target);
}

}  // namespace
