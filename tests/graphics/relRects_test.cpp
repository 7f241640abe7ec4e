#include "graphics/relRects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void ExpectRect(const Rect& r, int top, int left, int bottom, int right)
{
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.bottom, bottom);
    EXPECT_EQ(r.right, right);
}

void ExpectRel(const relRect& r, double left, double right, double top, double bottom)
{
    EXPECT_DOUBLE_EQ(r.left, left);
    EXPECT_DOUBLE_EQ(r.right, right);
    EXPECT_DOUBLE_EQ(r.top, top);
    EXPECT_DOUBLE_EQ(r.bottom, bottom);
}

}  // namespace

TEST(relRects, FullFrameConvertsToTheFrameItself)
{
    relRect full;
    InitRelRect(full);
    ExpectRel(full, 0.0, 1.0, 0.0, 1.0);
    ExpectRect(Rel2Rect(full, Rect{0, 0, 480, 720}), 0, 0, 480, 720);
}

TEST(relRects, Rel2RectScalesEachEdgeByItsAxis)
{
    const relRect r = SetRelRect(0.25, 0.1, 0.75, 0.9);
    ExpectRel(r, 0.25, 0.75, 0.1, 0.9);
    ExpectRect(Rel2Rect(r, Rect{0, 0, 480, 720}), 48, 180, 432, 540);
    // Values outside 0..1 are converted as they stand.
    ExpectRect(Rel2Rect(SetRelRect(-0.5, 0, 1.5, 1), Rect{0, 0, 100, 100}), 0, -50, 100, 150);
}

TEST(relRects, ConversionTruncatesTowardZero)
{
    const Rect frame{0, 0, 100, 100};
    EXPECT_EQ(Rel2Rect(SetRelRect(0.29, 0, 1, 1), frame).left, 28);
    const relRect back = Rect2Rel(Rect{0, 29, 100, 100}, frame);
    EXPECT_EQ(Rel2Rect(back, frame).left, 28);
    EXPECT_EQ(Rel2Rect(SetRelRect(-0.015, 0, 1, 1), frame).left, -1) << "-1.5 cuts to -1";
    EXPECT_EQ(Rel2Point(relPoint{0.999, -0.999}, frame).h, 99);
    EXPECT_EQ(Rel2Point(relPoint{0.999, -0.999}, frame).v, -99);
}

TEST(relRects, FramesAwayFromTheOriginAreMeasuredFromTheirCorner)
{
    const Rect frame{10, 20, 110, 220};
    ExpectRel(Rect2Rel(frame, frame), 0.0, 1.0, 0.0, 1.0);
    relRect full;
    InitRelRect(full);
    ExpectRect(Rel2Rect(full, frame), 10, 20, 110, 220);
    ExpectRect(Rel2Rect(SetRelRect(0.5, 0.5, 0.5, 0.5), frame), 60, 120, 60, 120);

    const relPoint p = Point2Rel(Point{35, 70}, frame);
    EXPECT_DOUBLE_EQ(p.horiz, 0.25);
    EXPECT_DOUBLE_EQ(p.vert, 0.25);
    const Point back = Rel2Point(p, frame);
    EXPECT_EQ(back.h, 70);
    EXPECT_EQ(back.v, 35);
}

TEST(relRects, UnrepresentableValuesSaturateInsteadOfWrapping)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const Rect frame{0, 0, 100, 100};
    ExpectRect(Rel2Rect(SetRelRect(nan, 1e300, -1e300, inf), frame), 32767, 0, 32767, -32768);
    // NaN contributes nothing: the frame's own corner.
    ExpectRect(Rel2Rect(SetRelRect(nan, nan, nan, nan), Rect{10, 20, 110, 220}), 10, 20, 10, 20);

    // The sum with the frame's corner saturates too.
    const Rect farFrame{-30000, 30000, -20000, 32000};
    const Rect r = Rel2Rect(SetRelRect(2.0, -1.0, 3.0, -0.5), farFrame);
    EXPECT_EQ(r.left, 32767);
    EXPECT_EQ(r.right, 32767);
    EXPECT_EQ(r.top, -32768);
    EXPECT_EQ(r.bottom, -32768);

    const Point p = Rel2Point(relPoint{-inf, nan}, farFrame);
    EXPECT_EQ(p.h, -32768);
    EXPECT_EQ(p.v, -30000);

    // A frame wider than 32767 pixels keeps its true width.
    EXPECT_EQ(Rel2Rect(SetRelRect(0.5, 0, 0.75, 1), Rect{0, -30000, 10, 30000}).left, 0);
    EXPECT_EQ(Rel2Rect(SetRelRect(0.5, 0, 0.75, 1), Rect{0, -30000, 10, 30000}).right, 15000);
}

TEST(relRects, EmptyFrameAxesGiveTheFullFrameInsteadOfDividingByZero)
{
    const relRect flat = Rect2Rel(Rect{0, 10, 5, 30}, Rect{0, 0, 0, 40});
    ExpectRel(flat, 0.25, 0.75, 0.0, 1.0);
    const relRect narrow = Rect2Rel(Rect{0, 10, 5, 30}, Rect{0, 7, 10, 7});
    ExpectRel(narrow, 0.0, 1.0, 0.0, 0.5);
    const relRect none = Rect2Rel(Rect{1, 2, 3, 4}, Rect{5, 5, 5, 5});
    ExpectRel(none, 0.0, 1.0, 0.0, 1.0);

    const relPoint p = Point2Rel(Point{3, 4}, Rect{0, 0, 0, 0});
    EXPECT_EQ(p.horiz, 0.0);
    EXPECT_EQ(p.vert, 0.0);
    const relPoint q = Point2Rel(Point{5, 4}, Rect{0, 0, 10, 0});
    EXPECT_EQ(q.horiz, 0.0);
    EXPECT_DOUBLE_EQ(q.vert, 0.5);
}
