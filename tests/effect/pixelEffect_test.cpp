#include "effect/pixelEffect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "MacMemory.h"
#include "plugin/DataHandling.h"

namespace {

struct Buffer {
    GWorldPtr gw = nullptr;
    explicit Buffer(SInt16 width, SInt16 height)
    {
        Rect bounds{0, 0, height, width};
        EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), 0);
    }
    ~Buffer() { DisposeGWorld(gw); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    UInt8* At(SInt32 x, SInt32 y) const
    {
        PixMapHandle pm = GetGWorldPixMap(gw);
        return reinterpret_cast<UInt8*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
    }
    SInt16 Width() const { return (*GetGWorldPixMap(gw))->bounds.right; }
    SInt16 Height() const { return (*GetGWorldPixMap(gw))->bounds.bottom; }
    void Set(SInt32 x, SInt32 y, UInt8 r, UInt8 g, UInt8 b) const
    {
        UInt8* p = At(x, y);
        p[0] = 0x7F;
        p[1] = r;
        p[2] = g;
        p[3] = b;
    }
    void Randomize(std::mt19937& random) const
    {
        for (SInt32 y = 0; y < Height(); ++y)
            for (SInt32 x = 0; x < Width(); ++x)
                for (int c = 0; c < 4; ++c)
                    At(x, y)[c] = UInt8(random());
    }
    std::vector<UInt8> Bytes() const
    {
        std::vector<UInt8> bytes;
        for (SInt32 y = 0; y < Height(); ++y)
            bytes.insert(bytes.end(), At(0, y), At(0, y) + Width() * 4);
        return bytes;
    }
};

// The effect as a plain loop over every pixel, kept beside the fast pass.
void ReferenceBrimtone(const Buffer& source, const Buffer& dest, Rect activeRect, bool copyRest,
                       const pluginDataRec& config)
{
    const SInt32 threshold = SInt32(config.Sliders[kThresholdSlider]) * 255 / 100;
    const UInt8 fg[4] = {255, UInt8(config.Colors[kDarkColor].red / 256),
                         UInt8(config.Colors[kDarkColor].green / 256),
                         UInt8(config.Colors[kDarkColor].blue / 256)};
    const UInt8 bkg[4] = {255, UInt8(config.Colors[kLightColor].red / 256),
                          UInt8(config.Colors[kLightColor].green / 256),
                          UInt8(config.Colors[kLightColor].blue / 256)};
    for (SInt32 row = 0; row < source.Height(); ++row)
        for (SInt32 col = 0; col < source.Width(); ++col) {
            const UInt8* s = source.At(col, row);
            UInt8* d = dest.At(col, row);
            const bool inside = activeRect.top <= row && row < activeRect.bottom &&
                                activeRect.left <= col && col < activeRect.right;
            if (inside) {
                const UInt16 mixer = UInt16((s[1] + s[2] + s[3]) / 3);
                std::memcpy(d, mixer < threshold ? fg : bkg, 4);
            } else if (copyRest) {
                std::memmove(d, s, 4);
            }
        }
}

pluginDataRec DefaultConfig()
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    return config;
}

TEST(Brimtone, ThresholdSliderKeepsItsMeaningOverItsWholeRange)
{
    Buffer source(3, 1);
    Buffer dest(3, 1);
    source.Set(0, 0, 0, 0, 0);
    source.Set(1, 0, 254, 255, 255);  // mixer 254
    source.Set(2, 0, 255, 255, 255);
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
}

TEST(Brimtone, MismatchedOrNilBuffersWriteNothing)
{
    Buffer source(72, 48);
    Buffer dest(72, 57);
    std::mt19937 random(3);
    source.Randomize(random);
    dest.Randomize(random);
    const std::vector<UInt8> before = dest.Bytes();
    const GWorldFlags destState = GetPixelsState(GetGWorldPixMap(dest.gw));
    pluginDataRec config = DefaultConfig();
    Brimtone(source.gw, dest.gw, Rect{0, 0, 48, 72}, true, &config);
    Brimtone(nullptr, dest.gw, Rect{0, 0, 4, 4}, true, &config);
    Brimtone(dest.gw, nullptr, Rect{0, 0, 4, 4}, true, nullptr);
    EXPECT_EQ(dest.Bytes(), before);
    EXPECT_EQ(GetPixelsState(GetGWorldPixMap(dest.gw)), destState);
}

// The fast pass against the plain loop on random buffers, regions and settings.
TEST(Brimtone, FastPassMatchesThePlainLoopByteForByte)
{
    std::mt19937 random(20240611);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 300; ++round) {
        const SInt16 width = SInt16(pick(1, 70));
        const SInt16 height = SInt16(pick(1, 40));
        Buffer source(width, height);
        Buffer fast(width, height);
        Buffer plain(width, height);
        source.Randomize(random);
        // Some pixels right at the threshold's edge.
        for (int i = 0; i < 20; ++i) {
            const UInt8 v = UInt8(pick(0, 255));
            source.Set(pick(0, width - 1), pick(0, height - 1), v, v, UInt8(v + pick(0, 2)));
        }
        fast.Randomize(random);
        std::memcpy(plain.At(0, 0), fast.At(0, 0), size_t(GetPixRowBytes(GetGWorldPixMap(fast.gw))) * height);

        pluginDataRec config = DefaultConfig();
        const int sliderKind = pick(0, 3);
        config.Sliders[kThresholdSlider] = SInt16(sliderKind == 0 ? pick(0, 100)
                                                  : sliderKind == 1 ? pick(-32768, 32767)
                                                                    : pick(-5, 110));
        for (int c = 0; c < 2; ++c)
            config.Colors[c] = RGBColor{UInt16(pick(0, 65535)), UInt16(pick(0, 65535)),
                                        UInt16(pick(0, 65535))};
        Rect region{SInt16(pick(-20, height + 20)), SInt16(pick(-20, width + 20)),
                    SInt16(pick(-20, height + 20)), SInt16(pick(-20, width + 20))};
        if (pick(0, 5) == 0)
            region = Rect{-32768, -32768, 32767, 32767};
        const bool copyRest = pick(0, 1) == 1;
        const bool inPlace = pick(0, 4) == 0;

        if (inPlace) {
            std::memcpy(fast.At(0, 0), source.At(0, 0), size_t(GetPixRowBytes(GetGWorldPixMap(fast.gw))) * height);
            std::memcpy(plain.At(0, 0), source.At(0, 0), size_t(GetPixRowBytes(GetGWorldPixMap(fast.gw))) * height);
            Brimtone(fast.gw, nullptr, region, copyRest, &config);
            ReferenceBrimtone(plain, plain, region, copyRest, config);
        } else {
            Brimtone(source.gw, fast.gw, region, copyRest, &config);
            ReferenceBrimtone(source, plain, region, copyRest, config);
        }
        ASSERT_EQ(fast.Bytes(), plain.Bytes())
            << "round " << round << " slider " << config.Sliders[0] << " region " << region.top
            << "," << region.left << "," << region.bottom << "," << region.right;
    }
}

// The plain loop on rows of pixels whose bytes are red, green, blue, alpha.
void ReferenceRGBA(const std::vector<UInt8>& source, std::vector<UInt8>& dest, SInt32 rowBytes,
                   SInt32 width, SInt32 height, Rect activeRect, bool copyRest,
                   const pluginDataRec& config)
{
    const SInt32 threshold = SInt32(config.Sliders[kThresholdSlider]) * 255 / 100;
    auto colour = [](const RGBColor& c) {
        return std::vector<UInt8>{UInt8(c.red / 256), UInt8(c.green / 256), UInt8(c.blue / 256), 255};
    };
    const std::vector<UInt8> fg = colour(config.Colors[kDarkColor]);
    const std::vector<UInt8> bkg = colour(config.Colors[kLightColor]);
    for (SInt32 row = 0; row < height; ++row)
        for (SInt32 col = 0; col < width; ++col) {
            const UInt8* s = &source[size_t(row) * rowBytes + size_t(col) * 4];
            UInt8* d = &dest[size_t(row) * rowBytes + size_t(col) * 4];
            const bool inside = activeRect.top <= row && row < activeRect.bottom &&
                                activeRect.left <= col && col < activeRect.right;
            if (inside) {
                const UInt16 mixer = UInt16((s[0] + s[1] + s[2]) / 3);
                std::memcpy(d, mixer < threshold ? fg.data() : bkg.data(), 4);
            } else if (copyRest) {
                std::memmove(d, s, 4);
            }
        }
}

// The same pass on frei0r's byte order: against the plain loop, and against
// the toolbox order on the same picture with its bytes rotated.
TEST(BrimtonePixels, RGBAOrderMatchesThePlainLoopAndTheToolboxOrder)
{
    std::mt19937 random(6021);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 300; ++round) {
        const SInt16 width = SInt16(pick(1, 70));
        const SInt16 height = SInt16(pick(1, 40));
        const SInt32 rowBytes = width * 4 + pick(0, 2) * 4;
        std::vector<UInt8> source(size_t(rowBytes) * height);
        for (UInt8& b : source)
            b = UInt8(random());
        for (int i = 0; i < 20; ++i) {
            UInt8* p = &source[size_t(pick(0, height - 1)) * rowBytes + size_t(pick(0, width - 1)) * 4];
            p[0] = p[1] = UInt8(pick(0, 255));
            p[2] = UInt8(p[0] + pick(0, 2));
        }
        std::vector<UInt8> fast(source.size());
        for (UInt8& b : fast)
            b = UInt8(random());
        std::vector<UInt8> plain = fast;

        pluginDataRec config = DefaultConfig();
        config.Sliders[kThresholdSlider] = SInt16(pick(0, 1) ? pick(0, 100) : pick(-32768, 32767));
        for (int c = 0; c < 2; ++c)
            config.Colors[c] = RGBColor{UInt16(pick(0, 65535)), UInt16(pick(0, 65535)),
                                        UInt16(pick(0, 65535))};
        const Rect region{SInt16(pick(-20, height + 20)), SInt16(pick(-20, width + 20)),
                          SInt16(pick(-20, height + 20)), SInt16(pick(-20, width + 20))};
        const bool copyRest = pick(0, 1) == 1;
        const bool inPlace = pick(0, 4) == 0;
        const Rect frame{0, 0, height, width};

        if (inPlace) {
            fast = source;
            plain = source;
            BrimtonePixels(PixelOrder::RGBA, fast.data(), rowBytes, fast.data(), rowBytes, frame,
                           region, copyRest, config);
            ReferenceRGBA(plain, plain, rowBytes, width, height, region, copyRest, config);
        } else {
            BrimtonePixels(PixelOrder::RGBA, source.data(), rowBytes, fast.data(), rowBytes, frame,
                           region, copyRest, config);
            ReferenceRGBA(source, plain, rowBytes, width, height, region, copyRest, config);
        }
        ASSERT_EQ(fast, plain) << "round " << round;

        // R,G,B,A -> A,R,G,B and back: the toolbox order paints the same picture.
        auto rotate = [&](std::vector<UInt8> bytes, bool toARGB) {
            for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
                toARGB ? std::rotate(&bytes[i], &bytes[i + 3], &bytes[i + 4])
                       : std::rotate(&bytes[i], &bytes[i + 1], &bytes[i + 4]);
            return bytes;
        };
        if (!inPlace) {
            const std::vector<UInt8> argbSource = rotate(source, true);
            std::vector<UInt8> argbDest(source.size(), 0);
            BrimtonePixels(PixelOrder::ARGB, argbSource.data(), rowBytes, argbDest.data(), rowBytes,
                           frame, region, true, config);
            std::vector<UInt8> rgbaDest(source.size(), 0);
            BrimtonePixels(PixelOrder::RGBA, source.data(), rowBytes, rgbaDest.data(), rowBytes,
                           frame, region, true, config);
            ASSERT_EQ(rotate(argbDest, false), rgbaDest) << "round " << round;
        }
    }
}

}  // namespace
