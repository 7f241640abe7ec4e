#include "graphics/CGglue.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "graphics/CommonProcs.h"

namespace {

using ARGB = std::array<UInt8, 4>;

// A real offscreen buffer with direct access to its A, R, G, B bytes.
class Buffer {
public:
    Buffer(SInt16 wid, SInt16 hig) : fGW(AllocateGWorld(wid, hig)), fWid(wid), fHig(hig) {}
    ~Buffer() { DisposeGWorld(fGW); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    GWorldPtr gw() const { return fGW; }
    UInt8* At(int x, int y) const
    {
        PixMapHandle thePixMap = GetGWorldPixMap(fGW);
        return reinterpret_cast<UInt8*>(GetPixBaseAddr(thePixMap)) +
               y * GetPixRowBytes(thePixMap) + 4 * x;
    }
    ARGB Get(int x, int y) const
    {
        const UInt8* p = At(x, y);
        return {p[0], p[1], p[2], p[3]};
    }
    void Set(int x, int y, ARGB thePixel) { std::memcpy(At(x, y), thePixel.data(), 4); }
    void Fill(ARGB thePixel)
    {
        for (int y = 0; y < fHig; ++y)
            for (int x = 0; x < fWid; ++x)
                Set(x, y, thePixel);
    }

private:
    GWorldPtr fGW;
    int fWid;
    int fHig;
};

bool Near(ARGB theActual, ARGB theExpected, int theTolerance)
{
    for (int i = 0; i < 4; ++i)
        if (std::abs(int(theActual[i]) - int(theExpected[i])) > theTolerance)
            return false;
    return true;
}

std::string Show(ARGB p)
{
    return "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
           "," + std::to_string(p[3]) + ")";
}

#define EXPECT_PIXEL_NEAR(buffer, x, y, expected, tolerance)                                 \
    EXPECT_TRUE(Near((buffer).Get(x, y), expected, tolerance))                               \
        << "at (" << (x) << "," << (y) << ") got " << Show((buffer).Get(x, y)) << " wanted " \
        << Show(expected)

void ExpectCGRect(CGRect theRect, CGFloat x, CGFloat y, CGFloat w, CGFloat h)
{
    EXPECT_EQ(theRect.origin.x, x);
    EXPECT_EQ(theRect.origin.y, y);
    EXPECT_EQ(theRect.size.width, w);
    EXPECT_EQ(theRect.size.height, h);
}

TEST(CGglueRects, QDRectToGCRectMeasuresFromTheBottomLeftOfThePort)
{
    const Rect thePort{0, 0, 100, 200};
    ExpectCGRect(QDRectToGCRect(Rect{10, 20, 30, 60}, thePort), 20, 70, 40, 20);
    ExpectCGRect(QDRectToGCRect(thePort, thePort), 0, 0, 200, 100);
    ExpectCGRect(QDRectToGCRect(Rect{0, 0, 10, 50}, thePort), 0, 90, 50, 10);
    // A frame away from (0,0) is measured from its own corner on both axes.
    ExpectCGRect(QDRectToGCRect(Rect{20, 15, 40, 55}, Rect{10, 5, 110, 205}), 10, 70, 40, 20);
}

TEST(CGglueRects, CropRectanglesKeepTheTopLeftOrigin)
{
    ExpectCGRect(QDCrop2CGCrop(Rect{5, 7, 25, 47}, nullptr), 7, 5, 40, 20);
}

TEST(CGglueRects, ImageRectsAndProportionalFits)
{
    Buffer theWide(640, 480);
    CGImageRef theImage = GWorld2CGImage(theWide.gw());
    ASSERT_NE(theImage, nullptr);
    const Rect theRect = GetImageRect(theImage);
    EXPECT_TRUE(theRect.top == 0 && theRect.left == 0 && theRect.bottom == 480 &&
                theRect.right == 640);
    CGImageRelease(theImage);

    const Rect theEmpty = GetImageRect(nullptr);
    EXPECT_TRUE(theEmpty.top == 0 && theEmpty.left == 0 && theEmpty.bottom == 0 &&
                theEmpty.right == 0);

    // Both wider than tall: the width is kept and the fit sticks out below the frame.
    Buffer theTall(400, 350);
    theImage = GWorld2CGImage(theTall.gw());
    const Rect theFit = CalcProportionalImageForFrame(theImage, Rect{0, 0, 300, 400});
    EXPECT_TRUE(theFit.top == 0 && theFit.left == 0 && theFit.bottom == 350 && theFit.right == 400);
    CGImageRelease(theImage);
}

TEST(CGglueColors, RGBColorBecomesUnitComponentsWithByteAlpha)
{
    CGColorSpaceRef theSpace = CGColorSpaceCreateDeviceRGB();
    CGColorRef theColor = RGBColor2CGColorRef(RGBColor{65535, 32768, 0}, 128, theSpace);
    ASSERT_EQ(CGColorGetNumberOfComponents(theColor), 4u);
    const CGFloat* c = CGColorGetComponents(theColor);
    EXPECT_FLOAT_EQ(c[0], 1.0f);
    EXPECT_NEAR(c[1], 0.5f, 1e-4);
    EXPECT_FLOAT_EQ(c[2], 0.0f);
    EXPECT_FLOAT_EQ(c[3], 128 / 255.0f);
    CGColorRelease(theColor);
    CGColorSpaceRelease(theSpace);
}

// ---- Painting and clearing -------------------------------------------------

constexpr ARGB kWhite{255, 255, 255, 255};

TEST(CGgluePaint, PaintWithAlphaCompositesOnlyInsideTheRectangle)
{
    Buffer theBuffer(8, 6);
    theBuffer.Fill(kWhite);
    GWPaintRectWithAlpha(theBuffer.gw(), Rect{1, 2, 3, 5}, RGBColor{65535, 32768, 0}, 128);
    // Source (1, 128/255, 0) at 128/255 over opaque white.
    const ARGB theBlend{255, 255, 191, 127};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = y >= 1 && y < 3 && x >= 2 && x < 5;
            EXPECT_PIXEL_NEAR(theBuffer, x, y, inside ? theBlend : kWhite, inside ? 1 : 0);
        }
}

TEST(CGgluePaint, AlphaZeroLeavesPixelsAndFullAlphaCoversThem)
{
    Buffer theBuffer(4, 4);
    const ARGB theOld{200, 150, 100, 50};
    theBuffer.Fill(theOld);
    GWPaintRectWithAlpha(theBuffer.gw(), Rect{0, 0, 4, 4}, RGBColor{0, 65535, 0}, 0);
    EXPECT_PIXEL_NEAR(theBuffer, 1, 1, theOld, 0);
    EXPECT_PIXEL_NEAR(theBuffer, 3, 3, theOld, 0);

    // Only the high byte of each channel counts.
    GWPaintRectWithAlpha(theBuffer.gw(), Rect{0, 0, 4, 4}, RGBColor{0x12FF, 65535, 0x00FF}, 255);
    EXPECT_PIXEL_NEAR(theBuffer, 2, 2, (ARGB{255, 0x12, 255, 0}), 0);
}

TEST(CGgluePaint, ClearMakesTheRectangleZeroBytes)
{
    Buffer theBuffer(6, 5);
    theBuffer.Fill(kWhite);
    GWClearRect(theBuffer.gw(), Rect{0, 1, 2, 4});
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = y < 2 && x >= 1 && x < 4;
            EXPECT_PIXEL_NEAR(theBuffer, x, y, inside ? (ARGB{0, 0, 0, 0}) : kWhite, 0);
        }
}

// ---- Images ----------------------------------------------------------------

TEST(CGglueImages, GWorldImageIsASnapshotInTheBuffersByteOrder)
{
    Buffer theBuffer(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            theBuffer.Set(x, y, ARGB{255, UInt8(10 * x), UInt8(100 + y), UInt8(x + 3 * y)});
    CGImageRef theImage = GWorld2CGImage(theBuffer.gw());
    ASSERT_NE(theImage, nullptr);
    theBuffer.Fill(ARGB{0, 0, 0, 0});

    size_t theRowBytes = 0;
    const UInt8* thePixels = TBCGImageGetARGBData(theImage, &theRowBytes);
    ASSERT_NE(thePixels, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const UInt8* p = thePixels + y * theRowBytes + 4 * x;
            EXPECT_EQ((ARGB{p[0], p[1], p[2], p[3]}),
                      (ARGB{255, UInt8(10 * x), UInt8(100 + y), UInt8(x + 3 * y)}))
                << x << "," << y;
        }
    CGImageRelease(theImage);
    EXPECT_EQ(GWorld2CGImage(nullptr), nullptr);
}

// An opaque image whose left half is red and right half blue.
CGImageRef MakeRedBlueImage(SInt16 wid, SInt16 hig)
{
    Buffer theSource(wid, hig);
    for (int y = 0; y < hig; ++y)
        for (int x = 0; x < wid; ++x)
            theSource.Set(x, y, x < wid / 2 ? ARGB{255, 255, 0, 0} : ARGB{255, 0, 0, 255});
    return GWorld2CGImage(theSource.gw());
}

TEST(CGglueImages, UnturnedImageLandsExactlyInItsTargetRectangle)
{
    Buffer theSource(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            theSource.Set(x, y, ARGB{255, UInt8(40 * x), UInt8(200 * y), 7});
    CGImageRef theImage = GWorld2CGImage(theSource.gw());

    Buffer theTarget(10, 8);
    theTarget.Fill(ARGB{0, 0, 0, 0});
    DrawCGImageInQDRect(theTarget.gw(), theImage, Rect{3, 2, 5, 6}, 0, false);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = y >= 3 && y < 5 && x >= 2 && x < 6;
            const ARGB theExpected =
                inside ? ARGB{255, UInt8(40 * (x - 2)), UInt8(200 * (y - 3)), 7} : ARGB{0, 0, 0, 0};
            EXPECT_PIXEL_NEAR(theTarget, x, y, theExpected, 1);
        }

    // A nil image draws nothing.
    DrawCGImageInQDRect(theTarget.gw(), nullptr, Rect{0, 0, 8, 10}, 0, true);
    EXPECT_PIXEL_NEAR(theTarget, 0, 0, (ARGB{0, 0, 0, 0}), 0);
    CGImageRelease(theImage);
}

TEST(CGglueImages, QuarterTurnKeepsTargetSizeAndTurnsCounterClockwise)
{
    CGImageRef theImage = MakeRedBlueImage(8, 4);
    Buffer theTarget(12, 12);
    theTarget.Fill(ARGB{0, 0, 0, 0});
    // Target 8 wide and 4 high centred on (6, 6); turned, it covers x 4..8, y 2..10.
    DrawCGImageInQDRect(theTarget.gw(), theImage, Rect{4, 2, 8, 10},
                        float(std::numbers::pi / 2), false);
    CGImageRelease(theImage);

    const ARGB theRed{255, 255, 0, 0}, theBlue{255, 0, 0, 255}, theEmpty{0, 0, 0, 0};
    // The image's right (blue) end now points up, sticking out above the target.
    EXPECT_PIXEL_NEAR(theTarget, 5, 2, theBlue, 8);
    EXPECT_PIXEL_NEAR(theTarget, 6, 3, theBlue, 8);
    EXPECT_PIXEL_NEAR(theTarget, 5, 8, theRed, 8);
    EXPECT_PIXEL_NEAR(theTarget, 6, 9, theRed, 8);
    // The target's own left and right ends stay uncovered.
    EXPECT_PIXEL_NEAR(theTarget, 2, 5, theEmpty, 8);
    EXPECT_PIXEL_NEAR(theTarget, 9, 6, theEmpty, 8);
    EXPECT_PIXEL_NEAR(theTarget, 6, 0, theEmpty, 8);
    EXPECT_PIXEL_NEAR(theTarget, 6, 11, theEmpty, 8);
}

TEST(CGglueImages, ClearFirstClearsTheTurnedAreaOnly)
{
    Buffer theHalfClear(4, 2);
    theHalfClear.Fill(ARGB{0, 0, 0, 0});
    theHalfClear.Set(0, 0, ARGB{255, 255, 255, 255});
    CGImageRef theImage = GWorld2CGImage(theHalfClear.gw());
    Buffer theTarget(8, 4);
    theTarget.Fill(ARGB{255, 0, 255, 0});
    DrawCGImageInQDRect(theTarget.gw(), theImage, Rect{1, 2, 3, 6}, 0, true);
    CGImageRelease(theImage);
    EXPECT_PIXEL_NEAR(theTarget, 2, 1, kWhite, 1);
    EXPECT_PIXEL_NEAR(theTarget, 4, 2, (ARGB{0, 0, 0, 0}), 0);
    EXPECT_PIXEL_NEAR(theTarget, 1, 1, (ARGB{255, 0, 255, 0}), 0);
    EXPECT_PIXEL_NEAR(theTarget, 6, 2, (ARGB{255, 0, 255, 0}), 0);
}

class CGglueAlpha : public ::testing::Test {
protected:
    void SetUp() override
    {
        Buffer theSource(2, 2);
        theSource.Fill(ARGB{255, 100, 100, 100});
        fImage = GWorld2CGImage(theSource.gw());
        fTarget.Fill(fOld);
    }
    void TearDown() override { CGImageRelease(fImage); }

    CGImageRef fImage = nullptr;
    const ARGB fOld{255, 200, 100, 50};
    Buffer fTarget{2, 2};
};

TEST_F(CGglueAlpha, NegativeAlphaKeepsFullOpacityButStillAppliesTheBlendMode)
{
    DrawCGImageInQDRectWithAlpha(fTarget.gw(), fImage, Rect{0, 0, 2, 2}, 0, false, -1,
                                 kCGBlendModeMultiply);
    EXPECT_PIXEL_NEAR(fTarget, 1, 1, (ARGB{255, 78, 39, 20}), 2);
}

TEST_F(CGglueAlpha, AlphaScalesTheImageOverTheTarget)
{
    DrawCGImageInQDRectWithAlpha(fTarget.gw(), fImage, Rect{0, 0, 2, 2}, 0, false, 0.5,
                                 kCGBlendModeNormal);
    EXPECT_PIXEL_NEAR(fTarget, 0, 0, (ARGB{255, 150, 100, 75}), 2);
}

TEST_F(CGglueAlpha, ZeroAlphaAndNilImageOrBufferLeaveTheTarget)
{
    DrawCGImageInQDRectWithAlpha(fTarget.gw(), fImage, Rect{0, 0, 2, 2}, 0, false, 0,
                                 kCGBlendModeNormal);
    DrawCGImageInQDRectWithAlpha(fTarget.gw(), nullptr, Rect{0, 0, 2, 2}, 0, true, 1,
                                 kCGBlendModeCopy);
    DrawCGImageInQDRectWithAlpha(nullptr, fImage, Rect{0, 0, 2, 2}, 0, true, 1, kCGBlendModeCopy);
    EXPECT_PIXEL_NEAR(fTarget, 0, 1, fOld, 0);
}

bool ExitedWithFailure(int theStatus)
{
    return WIFEXITED(theStatus) && WEXITSTATUS(theStatus) != 0;
}

TEST(CGglueDeathTest, NilBuffersAndImagesEndTheProcessWithTheirMessage)
{
    EXPECT_EXIT(GWClearRect(nullptr, Rect{0, 0, 1, 1}), ExitedWithFailure,
                "Assertion failed in: NIL GWorld in GWClearRect");
    EXPECT_EXIT(GWPaintRectWithAlpha(nullptr, Rect{0, 0, 1, 1}, RGBColor{0, 0, 0}, 9),
                ExitedWithFailure, "Assertion failed in: NIL GWorld in GWPaintRect");
    Buffer theBuffer(2, 2);
    CGContextRef theContext = nullptr;
    QDBeginCGContext(theBuffer.gw(), &theContext);
    EXPECT_EXIT(DrawRotatedImageInCGRect(theContext, nullptr, CGRectMake(0, 0, 1, 1), 0, false),
                ExitedWithFailure,
                "Assertion failed in: NIL Image for DrawRotatedImageInQDRect");
    QDEndCGContext(theBuffer.gw(), &theContext);
}

}  // namespace
