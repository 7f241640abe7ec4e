#include "effect/CallPixelFX.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "graphics/CommonProcs.h"
#include "graphics/relRects.h"
#include "plugin/DataHandling.h"
#include "plugin/globals.h"

namespace {

struct Buffer {
    GWorldPtr gw = nullptr;
    SInt16 width, height;
    Buffer(SInt16 theWidth, SInt16 theHeight) : width(theWidth), height(theHeight)
    {
        const Rect bounds{0, 0, height, width};
        EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), 0);
    }
    ~Buffer() { DisposeGWorld(gw); }
    UInt8* At(SInt32 x, SInt32 y) const
    {
        PixMapHandle pm = GetGWorldPixMap(gw);
        return reinterpret_cast<UInt8*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
    }
    // Dark pixels everywhere, so the effect paints colour 1 wherever it runs.
    void FillDark(std::mt19937& random) const
    {
        for (SInt32 y = 0; y < height; ++y)
            for (SInt32 x = 0; x < width; ++x) {
                UInt8* p = At(x, y);
                p[0] = 255;
                for (int c = 1; c < 4; ++c)
                    p[c] = UInt8(random() % 40);
            }
    }
};

bool IsDarkColour(const UInt8* p)
{
    return p[1] == 0 && p[2] == 0 && p[3] == 255;
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override { ResetConfig(&fConfig, true); }
    pluginDataRec fConfig{};
    std::mt19937 fRandom{11};
};

TEST_F(Driver, RelativeRegionCoversItsPixelsTheRestIsCopiedAndTheFrameClipsIt)
{
    Buffer source(720, 480);
    Buffer dest(720, 480);
    source.FillDark(fRandom);
    const struct {
        relRect rel;
        Rect pixels;
    } cases[] = {{relRect{0.25, 0.75, 0.1, 0.9}, Rect{48, 180, 432, 540}},
                 {relRect{-3.0, 0.5, 0.5, 40.0}, Rect{240, 0, 480, 360}}};
    for (const auto& c : cases) {
        fConfig.StartRel = c.rel;
        DoPixelEffect(source.gw, dest.gw, &fConfig, 5, 100);
        for (SInt32 y = 0; y < 480; ++y)
            for (SInt32 x = 0; x < 720; ++x) {
                if (x >= c.pixels.left && x < c.pixels.right && y >= c.pixels.top && y < c.pixels.bottom)
                    ASSERT_TRUE(IsDarkColour(dest.At(x, y))) << x << "," << y;
                else
                    ASSERT_EQ(0, std::memcmp(dest.At(x, y), source.At(x, y), 4)) << x << "," << y;
            }
    }
}

TEST_F(Driver, PreviewOfAnotherSizeKeepsTheScaledCopyUntouched)
{
    Buffer source(72, 48);
    Buffer preview(36, 24);
    Buffer expected(36, 24);
    source.FillDark(fRandom);
    gConfigWorkSpace.TheConfig = &fConfig;
    CallPixelEffect(source.gw, preview.gw);
    Source2Target(source.gw, expected.gw);
    EXPECT_EQ(0, std::memcmp(preview.At(0, 0), expected.At(0, 0),
                             size_t(GetPixRowBytes(GetGWorldPixMap(preview.gw))) * 24));
    EXPECT_FALSE(IsDarkColour(preview.At(5, 5)));

    Buffer samePreview(72, 48);
    CallPixelEffect(source.gw, samePreview.gw);
    EXPECT_TRUE(IsDarkColour(samePreview.At(5, 5)));
    gConfigWorkSpace.TheConfig = nullptr;
}

}  // namespace
