#include "dialog/dlgUtils.h"

#include <gtest/gtest.h>

#include "graphics/CommonProcs.h"

namespace {

const Rect kRegion{100, 200, 180, 320};  // top, left, bottom, right

TEST(IsHandleHit, HandlesReachSixPixelsBeforeAndFiveAfterTheCorner)
{
    EXPECT_EQ(IsHandleHit(kRegion, Point{100, 200}), kTopLeftHandle);
    EXPECT_EQ(IsHandleHit(kRegion, Point{94, 194}), kTopLeftHandle);
    EXPECT_EQ(IsHandleHit(kRegion, Point{105, 205}), kTopLeftHandle);
    EXPECT_EQ(IsHandleHit(kRegion, Point{106, 206}), kRectBody);
    EXPECT_EQ(IsHandleHit(kRegion, Point{93, 200}), kNoHandle);
    EXPECT_EQ(IsHandleHit(kRegion, Point{180, 200}), kBottomLeftHandle);
    EXPECT_EQ(IsHandleHit(kRegion, Point{185, 325}), kBottomRightHandle);
    EXPECT_EQ(IsHandleHit(kRegion, Point{186, 320}), kNoHandle);
    EXPECT_EQ(IsHandleHit(kRegion, Point{300, 300}), kNoHandle);
}

TEST(DragCorner, OptionMovesTheOppositeCornerTheOtherWay)
{
    Rect r = kRegion;
    DragCorner(kBottomRightHandle, r, Point{180, 320}, Point{190, 330}, kDragOptionKey,
               Rect{0, 0, 480, 720}, relRect{});
    const Rect want{90, 190, 190, 330};
    EXPECT_TRUE(EqualRect(&r, &want));
}

TEST(DragCorner, FarMovesSaturateInsteadOfWrapping)
{
    Rect r{-32000, -32000, 32000, 32000};
    DragCorner(kBottomRightHandle, r, Point{-32000, -32000}, Point{32000, 32000}, 0,
               Rect{0, 0, 480, 720}, relRect{});
    EXPECT_EQ(r.bottom, 32767);
    EXPECT_EQ(r.right, 32767);
    EXPECT_EQ(r.top, -32000);
}

TEST(DragRect, MovesByTheMouseMovement)
{
    Rect r = kRegion;
    DragRect(r, Point{10, 10}, Point{7, 25}, kDragShiftKey);
    const Rect want{97, 215, 177, 335};
    EXPECT_TRUE(EqualRect(&r, &want));
}

}  // namespace
