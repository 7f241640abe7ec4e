#include "graphics/CGglue.h"

#include <gtest/gtest.h>

#include <array>
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
    GWorldPtr gw() const { return fGW; }
    UInt8* At(int x, int y) const
    {
        PixMapHandle thePixMap = GetGWorldPixMap(fGW);
        return reinterpret_cast<UInt8*>(GetPixBaseAddr(thePixMap)) + y * GetPixRowBytes(thePixMap) + 4 * x;
    }
    ARGB Get(int x, int y) const { return {At(x, y)[0], At(x, y)[1], At(x, y)[2], At(x, y)[3]}; }
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

std::array<CGFloat, 4> Parts(CGRect r)
{
    return {r.origin.x, r.origin.y, r.size.width, r.size.height};
}

TEST(CGglueRects, QDRectToGCRectMeasuresFromTheBottomLeftOfThePort)
{
    const Rect thePort{0, 0, 100, 200};
    EXPECT_EQ(Parts(QDRectToGCRect(Rect{10, 20, 30, 60}, thePort)), (std::array<CGFloat, 4>{20, 70, 40, 20}));
    // A frame away from (0,0) is measured from its own corner on both axes.
    EXPECT_EQ(Parts(QDRectToGCRect(Rect{20, 15, 40, 55}, Rect{10, 5, 110, 205})),
              (std::array<CGFloat, 4>{10, 70, 40, 20}));
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
            EXPECT_TRUE(Near(theBuffer.Get(x, y), inside ? theBlend : kWhite, inside ? 1 : 0)) << x << "," << y;
        }
}

// ---- Images ----------------------------------------------------------------

TEST(CGglueImages, BufferSnapshotDrawnUnturnedLandsExactlyInItsTargetRectangle)
{
    Buffer theSource(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            theSource.Set(x, y, ARGB{255, UInt8(40 * x), UInt8(200 * y), 7});
    CGImageRef theImage = GWorld2CGImage(theSource.gw());
    ASSERT_NE(theImage, nullptr);
    theSource.Fill(ARGB{0, 0, 0, 0});  // the image keeps its own copy
    EXPECT_EQ(GWorld2CGImage(nullptr), nullptr);

    Buffer theTarget(10, 8);
    theTarget.Fill(ARGB{0, 0, 0, 0});
    DrawCGImageInQDRect(theTarget.gw(), theImage, Rect{3, 2, 5, 6}, 0, false);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = y >= 3 && y < 5 && x >= 2 && x < 6;
            const ARGB theExpected =
                inside ? ARGB{255, UInt8(40 * (x - 2)), UInt8(200 * (y - 3)), 7} : ARGB{0, 0, 0, 0};
            EXPECT_TRUE(Near(theTarget.Get(x, y), theExpected, 1)) << x << "," << y;
        }

    // A nil image, or no opacity, draws nothing.
    DrawCGImageInQDRect(theTarget.gw(), nullptr, Rect{0, 0, 8, 10}, 0, true);
    DrawCGImageInQDRectWithAlpha(theTarget.gw(), theImage, Rect{0, 0, 8, 10}, 0, false, 0, kCGBlendModeNormal);
    EXPECT_EQ(theTarget.Get(0, 0), (ARGB{0, 0, 0, 0}));
    CGImageRelease(theImage);
}

}  // namespace
