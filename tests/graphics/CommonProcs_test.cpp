#include "graphics/CommonProcs.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "MacMemory.h"

namespace {

void ExpectRect(const Rect& r, int top, int left, int bottom, int right)
{
    EXPECT_EQ((std::array<int, 4>{r.top, r.left, r.bottom, r.right}), (std::array<int, 4>{top, left, bottom, right}));
}

}  // namespace

TEST(CommonProcsGeometry, TruncToCoordTruncatesAndSaturates)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TruncToCoord(-2.9), -2);
    EXPECT_EQ(TruncToCoord(std::nan("")), 0);
    EXPECT_EQ(TruncToCoord(1e300), 32767);
    EXPECT_EQ(TruncToCoord(-inf), -32768);
    EXPECT_EQ(TruncToCoord(-32768.9), -32768);
    EXPECT_EQ(TruncToCoord(5000.7, 30000), 32767);
    EXPECT_EQ(TruncToCoord(-5000.0, -30000), -32768);
    EXPECT_EQ(TruncToCoord(std::nan(""), 100), 100);
}

TEST(CommonProcsBuffers, AllocationFailureAndEmptyBoundsGiveNil)
{
    TBFailAllocationAfter(1);
    EXPECT_EQ(AllocateGWorld(10, 10), nullptr);
    TBFailAllocationAfter(0);
    EXPECT_EQ(AllocateRectGWorld(Rect{5, 5, 5, 9}), nullptr) << "empty bounds";
    EXPECT_EQ(MakeGWorldClone(nullptr), nullptr);

    GWorldPtr gw = AllocateRectGWorld(Rect{10, 20, 110, 220});
    ASSERT_NE(gw, nullptr);
    ExpectRect(GetPortRect(gw), 0, 0, 100, 200);
    DisposeGWorld(gw);
}

TEST(CommonProcsGeometry, DimsAndVerifyRectWorkBeyond16Bits)
{
    SInt32 wid, hig;
    GetDims(Rect{-30000, -30000, 30000, 30000}, wid, hig);
    EXPECT_EQ(wid, 60000);
    EXPECT_EQ(hig, 60000);

    Rect r{10, 20, 5, 15};
    VerifyRect(r);
    ExpectRect(r, 5, 15, 10, 20);
}

TEST(CommonProcsGeometry, KeepPropsRoundsAndLeavesDegenerateOriginalsAlone)
{
    ExpectRect(KeepPropsWithFixedVertical(Rect{0, 0, 100, 200}, Rect{7, 3, 57, 403}), 7, 3, 57, 103);
    // Half a pixel rounds up: 1 × 33.4 gives 33, 1 × 33.5 gives 34.
    EXPECT_EQ(KeepPropsWithFixedVertical(Rect{0, 0, 5, 167}, Rect{0, 0, 1, 1}).right, 33);
    EXPECT_EQ(KeepPropsWithFixedVertical(Rect{0, 0, 2, 67}, Rect{0, 0, 1, 1}).right, 34);

    const Rect newSize{1, 2, 30, 40};
    ExpectRect(KeepPropsWithFixedVertical(Rect{5, 0, 5, 10}, newSize), 1, 2, 30, 40);
    // Zero height with a width would need an infinite ratio.
    ExpectRect(KeepPropsWithFixedHorizontal(Rect{5, 0, 5, 10}, newSize), 1, 2, 30, 40);
    // A very flat original makes the far edge saturate instead of wrapping.
    EXPECT_EQ(KeepPropsWithFixedVertical(Rect{0, 0, 1, 30000}, Rect{0, 30000, 2, 30001}).right,
              32767);
    EXPECT_EQ(KeepPropsWithFixedHorizontal(Rect{0, 0, 30000, 1}, Rect{10000, 0, 10001, 2}).bottom,
              32767);
    // An empty image leaves the frame's size.
    ExpectRect(CalcProportionalRectForFrame(Rect{0, 0, 0, 0}, Rect{0, 0, 30, 40}), 0, 0, 30, 40);
}

TEST(CommonProcsColours, PackedColoursKeepTheHighByteOfEachChannel)
{
    const RGBColor c = Longint2RGBColor(0xFF8001);
    EXPECT_EQ((std::array<int, 3>{c.red, c.green, c.blue}), (std::array<int, 3>{65280, 32768, 256}));
    EXPECT_EQ(RGBColor2Longint(RGBColor{65535, 256, 255}), 0xFF0100);
    const pixRec p = Longint2PixRec(SInt32(0x7F123456));
    EXPECT_EQ((std::array<int, 3>{p.alpha, p.red, p.blue}), (std::array<int, 3>{0, 0x12, 0x56}));
    EXPECT_EQ(PixRec2Longint(pixRec{0xFF, 0x12, 0x34, 0x56}), 0x123456) << "alpha ignored";
    EXPECT_EQ(CarbonHiWord(SInt32(0x8001FFFF)), -32767);
    EXPECT_EQ(CarbonLoWord(SInt32(0x8001FFFF)), -1);
}
