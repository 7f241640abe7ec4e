#include "effect/pixelEffect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "plugin/DataHandling.h"

namespace {

using Bytes = std::vector<UInt8>;

struct Buffer {
    GWorldPtr gw = nullptr;
    SInt16 height;
    Buffer(SInt16 width, SInt16 theHeight) : height(theHeight)
    {
        const Rect bounds{0, 0, theHeight, width};
        EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), 0);
    }
    ~Buffer() { DisposeGWorld(gw); }
    SInt32 RowBytes() const { return GetPixRowBytes(GetGWorldPixMap(gw)); }
    UInt8* At(SInt32 x, SInt32 y) const
    {
        return reinterpret_cast<UInt8*>(GetPixBaseAddr(GetGWorldPixMap(gw))) + y * RowBytes() + x * 4;
    }
    Bytes All() const { return Bytes(At(0, 0), At(0, 0) + size_t(RowBytes()) * height); }
};

pluginDataRec DefaultConfig()
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    return config;
}

// The effect as a plain loop over every pixel, kept beside the fast pass. In
// place when source and dest are the same vector: each pixel is read first.
void Reference(PixelOrder order, const Bytes& source, SInt32 sourceRowBytes, Bytes& dest,
               SInt32 destRowBytes, SInt32 width, SInt32 height, Rect active, bool copyRest,
               const pluginDataRec& config)
{
    const int rgb = order == PixelOrder::ARGB ? 1 : 0;
    const int alpha = order == PixelOrder::ARGB ? 0 : 3;
    const SInt32 threshold = SInt32(config.Sliders[kThresholdSlider]) * 255 / 100;
    for (SInt32 row = 0; row < height; ++row)
        for (SInt32 col = 0; col < width; ++col) {
            const UInt8* s = &source[size_t(row) * sourceRowBytes + size_t(col) * 4];
            UInt8* d = &dest[size_t(row) * destRowBytes + size_t(col) * 4];
            if (active.top <= row && row < active.bottom && active.left <= col && col < active.right) {
                const UInt16 mixer = UInt16((s[rgb] + s[rgb + 1] + s[rgb + 2]) / 3);
                const RGBColor c = config.Colors[mixer < threshold ? kDarkColor : kLightColor];
                d[alpha] = 255;
                d[rgb] = UInt8(c.red / 256);
                d[rgb + 1] = UInt8(c.green / 256);
                d[rgb + 2] = UInt8(c.blue / 256);
            } else if (copyRest) {
                std::memmove(d, s, 4);
            }
        }
}

TEST(Brimtone, ThresholdSliderKeepsItsMeaningOverItsWholeRange)
{
    Buffer source(3, 1);
    Buffer dest(3, 1);
    const UInt8 pixels[12] = {0x7F, 0, 0, 0, 0x7F, 254, 255, 255, 0x7F, 255, 255, 255};  // mixer 254
    std::memcpy(source.At(0, 0), pixels, 12);
    pluginDataRec config = DefaultConfig();
    struct Case {
        SInt16 slider;
        bool dark[3];
    };
    for (const Case c : {Case{0, {false, false, false}}, Case{100, {true, true, false}},
                         Case{101, {true, true, true}}, Case{32767, {true, true, true}},
                         Case{-1, {false, false, false}}, Case{-32768, {false, false, false}}}) {
        config.Sliders[kThresholdSlider] = c.slider;
        Brimtone(source.gw, dest.gw, Rect{0, 0, 1, 3}, true, &config);
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(dest.At(x, 0)[1], c.dark[x] ? 0 : 255) << c.slider << " at " << x;
    }
    // A nil dest paints the source itself; without copyRest the rest stays.
    config.Sliders[kThresholdSlider] = 17;
    Brimtone(source.gw, nullptr, Rect{0, 0, 1, 1}, false, &config);
    EXPECT_EQ(Bytes(source.At(0, 0), source.At(0, 0) + 4), (Bytes{255, 0, 0, 255}));
    EXPECT_EQ(0, std::memcmp(source.At(1, 0), pixels + 4, 8));
}

TEST(Brimtone, MismatchedOrNilBuffersWriteNothing)
{
    Buffer source(72, 48);
    Buffer dest(72, 57);
    std::memset(dest.At(0, 0), 0x5A, size_t(dest.RowBytes()) * 57);
    const Bytes before = dest.All();
    const GWorldFlags destState = GetPixelsState(GetGWorldPixMap(dest.gw));
    pluginDataRec config = DefaultConfig();
    Brimtone(source.gw, dest.gw, Rect{0, 0, 48, 72}, true, &config);
    Brimtone(nullptr, dest.gw, Rect{0, 0, 4, 4}, true, &config);
    Brimtone(dest.gw, nullptr, Rect{0, 0, 4, 4}, true, nullptr);
    EXPECT_EQ(dest.All(), before);
    EXPECT_EQ(GetPixelsState(GetGWorldPixMap(dest.gw)), destState);
}

// The environment's switch picks the path of a process's first pass.
TEST(PixelPath, TheSwitchLimitsThePathToTheOneItNames)
{
    EXPECT_EQ(CurrentPixelPath(), ChoosePixelPath(std::getenv("BRIMTONE_PIXEL_PATH")));
    EXPECT_EQ(ChoosePixelPath("plain"), PixelPath::Plain);
#if defined(__x86_64__)
    EXPECT_TRUE(PixelPathAvailable(PixelPath::SSE2));
    EXPECT_EQ(bool(PixelPathAvailable(PixelPath::AVX2)), __builtin_cpu_supports("avx2") != 0);
#endif
    PixelPath fastest = PixelPath::Plain;
    for (const PixelPath path : {PixelPath::SSE2, PixelPath::AVX2})
        if (PixelPathAvailable(path))
            fastest = path;
    EXPECT_EQ(ChoosePixelPath(nullptr), fastest);
    EXPECT_EQ(ChoosePixelPath("no such path"), fastest);
    EXPECT_EQ(ChoosePixelPath("sse2"), fastest == PixelPath::AVX2 ? PixelPath::SSE2 : fastest);
}

// Every path the processor has against the plain loop on random rows, regions
// and settings, in the toolbox's byte order and in frei0r's.
TEST(Brimtone, EveryPathMatchesThePlainLoopByteForByteInBothOrders)
{
    const PixelPath initial = CurrentPixelPath();
    std::mt19937 random(20240611);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    auto randomBytes = [&](size_t size) {
        Bytes bytes(size);
        std::generate(bytes.begin(), bytes.end(), [&] { return UInt8(random()); });
        return bytes;
    };
    for (const PixelPath path : {PixelPath::Plain, PixelPath::SSE2, PixelPath::AVX2}) {
        if (!PixelPathAvailable(path))
            continue;
        UsePixelPath(path);
        ASSERT_EQ(CurrentPixelPath(), path);
        for (int round = 0; round < 600; ++round) {
            const PixelOrder order = round % 2 ? PixelOrder::RGBA : PixelOrder::ARGB;
            const int rgb = order == PixelOrder::ARGB ? 1 : 0;
            const SInt16 width = SInt16(pick(1, 70));
            const SInt16 height = SInt16(pick(1, 40));
            const SInt32 sourceRowBytes = width * 4 + pick(0, 2) * 4;
            const bool inPlace = pick(0, 4) == 0;
            const SInt32 destRowBytes = inPlace ? sourceRowBytes : width * 4 + pick(0, 2) * 4;
            Bytes source = randomBytes(size_t(sourceRowBytes) * height);
            // Some pixels right at the threshold's edge, some with the sum's extremes.
            for (int i = 0; i < 20; ++i) {
                UInt8* p = &source[size_t(pick(0, height - 1)) * sourceRowBytes + size_t(pick(0, width - 1)) * 4];
                const UInt8 level = UInt8(pick(0, 3) == 0 ? pick(0, 1) * 255 : pick(0, 255));
                p[rgb] = p[rgb + 1] = level;
                p[rgb + 2] = UInt8(level + pick(0, 2));
            }
            Bytes fast = inPlace ? source : randomBytes(size_t(destRowBytes) * height);
            Bytes plain = fast;

            pluginDataRec config = DefaultConfig();
            config.Sliders[kThresholdSlider] = SInt16(pick(0, 2) ? pick(-5, 110) : pick(-32768, 32767));
            for (int c = 0; c < 2; ++c)
                config.Colors[c] = RGBColor{UInt16(pick(0, 65535)), UInt16(pick(0, 65535)),
                                            UInt16(pick(0, 65535))};
            Rect region{SInt16(pick(-20, height + 20)), SInt16(pick(-20, width + 20)),
                        SInt16(pick(-20, height + 20)), SInt16(pick(-20, width + 20))};
            if (pick(0, 5) == 0)
                region = Rect{-32768, -32768, 32767, 32767};
            const bool copyRest = pick(0, 1) == 1;
            const Rect frame{0, 0, height, width};

            BrimtonePixels(order, inPlace ? fast.data() : source.data(), sourceRowBytes, fast.data(),
                           destRowBytes, frame, region, copyRest, config);
            Reference(order, inPlace ? plain : source, sourceRowBytes, plain, destRowBytes, width,
                      height, region, copyRest, config);
            ASSERT_EQ(fast, plain) << PixelPathName(path) << ", round " << round;
        }
    }
    UsePixelPath(initial);
}

}  // namespace
