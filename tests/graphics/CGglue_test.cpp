#include "graphics/CGglue.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

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
    // A frame away from (0,0) is measured from its own corner on both axes.
    ExpectCGRect(QDRectToGCRect(Rect{20, 15, 40, 55}, Rect{10, 5, 110, 205}), 10, 70, 40, 20);
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

TEST(CGglueImages, ZeroAlphaAndNilImageOrBufferLeaveTheTarget)
{
    Buffer theSource(2, 2);
    theSource.Fill(ARGB{255, 100, 100, 100});
    CGImageRef theImage = GWorld2CGImage(theSource.gw());
    const ARGB theOld{255, 200, 100, 50};
    Buffer theTarget(2, 2);
    theTarget.Fill(theOld);
    DrawCGImageInQDRectWithAlpha(theTarget.gw(), theImage, Rect{0, 0, 2, 2}, 0, false, 0,
                                 kCGBlendModeNormal);
    DrawCGImageInQDRectWithAlpha(theTarget.gw(), nullptr, Rect{0, 0, 2, 2}, 0, true, 1,
                                 kCGBlendModeCopy);
    DrawCGImageInQDRectWithAlpha(nullptr, theImage, Rect{0, 0, 2, 2}, 0, true, 1, kCGBlendModeCopy);
    EXPECT_PIXEL_NEAR(theTarget, 0, 1, theOld, 0);
    CGImageRelease(theImage);
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
