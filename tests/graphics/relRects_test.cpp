#include "graphics/relRects.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace {

void ExpectRect(const Rect& r, int top, int left, int bottom, int right)
{
    EXPECT_EQ((std::array<int, 4>{r.top, r.left, r.bottom, r.right}), (std::array<int, 4>{top, left, bottom, right}));
}

}  // namespace

TEST(relRects, ConversionIsMeasuredFromTheFrameCornerAndTruncatesTowardZero)
{
    ExpectRect(Rel2Rect(SetRelRect(0.25, 0.1, 0.75, 0.9), Rect{10, 20, 110, 220}), 20, 70, 100,
               170);
    const Rect frame{0, 0, 100, 100};
    EXPECT_EQ(Rel2Rect(Rect2Rel(Rect{0, 29, 100, 100}, frame), frame).left, 28);
    EXPECT_EQ(Rel2Rect(SetRelRect(-0.015, 0, 1, 1), frame).left, -1) << "-1.5 cuts to -1";
    EXPECT_EQ(Rel2Point(relPoint{0.999, -0.999}, frame).v, -99);
}

TEST(relRects, UnrepresentableValuesSaturateInsteadOfWrapping)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    ExpectRect(Rel2Rect(SetRelRect(nan, 1e300, -1e300, inf), Rect{0, 0, 100, 100}), 32767, 0,
               32767, -32768);
    const Rect r = Rel2Rect(SetRelRect(2.0, -1.0, 3.0, -0.5), Rect{-30000, 30000, -20000, 32000});
    ExpectRect(r, -32768, 32767, -32768, 32767);
    // A frame wider than 32767 pixels keeps its true width.
    EXPECT_EQ(Rel2Rect(SetRelRect(0.5, 0, 0.75, 1), Rect{0, -30000, 10, 30000}).right, 15000);
}

TEST(relRects, EmptyFrameAxesGiveTheFullFrameInsteadOfDividingByZero)
{
    const relRect flat = Rect2Rel(Rect{0, 10, 5, 30}, Rect{0, 0, 0, 40});
    EXPECT_DOUBLE_EQ(flat.left, 0.25);
    EXPECT_DOUBLE_EQ(flat.top, 0.0);
    EXPECT_DOUBLE_EQ(flat.bottom, 1.0);
    const relPoint p = Point2Rel(Point{3, 4}, Rect{0, 0, 0, 0});
    EXPECT_EQ(p.horiz, 0.0);
    EXPECT_EQ(p.vert, 0.0);
}
