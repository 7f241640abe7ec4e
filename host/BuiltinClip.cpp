#include "BuiltinClip.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brimtone::host {

namespace {

constexpr int kAudioRate = 48000;

// 0..255 and back down over 510 steps: a smooth ramp without a jump.
inline int triangle(int v)
{
    const int m = v % 510;
    return m < 256 ? m : 509 - m;
}

// Position bouncing between 0 and span.
inline int bounce(int v, int span)
{
    const int m = v % (2 * span);
    return m <= span ? m : 2 * span - m;
}

} // namespace

BuiltinClip::BuiltinClip(int frameCount) : frameCount_(std::max(frameCount, 0)) {}

void BuiltinClip::renderFrame(int index, uint8_t* argb, int rowBytes) const
{
    // Integer arithmetic only, so the pixels are the same on every machine.
    const int t = std::clamp(index, 0, 1 << 20);
    constexpr int kBandHeight = 56;
    const int bandTop = (40 + 3 * t) % kHeight;
    constexpr int kRadius = 64;
    const int cx = kRadius + bounce(100 + 7 * t, kWidth - 2 * kRadius);
    const int cy = kRadius + bounce(40 + 5 * t, kHeight - 2 * kRadius);

    for (int y = 0; y < kHeight; ++y) {
        uint8_t* p = argb + static_cast<std::ptrdiff_t>(y) * rowBytes;
        const bool inBand = (y - bandTop + kHeight) % kHeight < kBandHeight;
        const int dy = y - cy;
        for (int x = 0; x < kWidth; ++x, p += 4) {
            const int dx = x - cx;
            const int d1 = x + y;
            const int d2 = x - y + (kHeight - 1);
            int r = triangle(d1 / 3 + 6 * t);
            int g = triangle(d2 / 3 + 4 * t + 85);
            int b = triangle((d1 + d2) / 6 + 2 * t + 170);
            if (dx * dx + dy * dy <= kRadius * kRadius) {
                r = 250, g = 246, b = 236;
            } else if (inBand) {
                r = 14, g = 12, b = 20;
            }
            p[0] = 255;
            p[1] = static_cast<uint8_t>(r);
            p[2] = static_cast<uint8_t>(g);
            p[3] = static_cast<uint8_t>(b);
        }
    }
}

void BuiltinClip::renderAudio(int64_t first, int64_t count, std::vector<float>& samples)
{
    samples.assign(static_cast<size_t>(std::max<int64_t>(count, 0)) * 2, 0.0f);
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    constexpr double kToneLevel = 0.251188643; // -12 dBFS
    constexpr int kTickLength = kAudioRate / 100;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t s = first + i;
        if (s < 0)
            continue;
        // Phases from the position within the second keep long clips precise.
        const int64_t inSecond = s % kAudioRate;
        double v = kToneLevel * std::sin(kTwoPi * static_cast<double>((440 * inSecond) % kAudioRate) / kAudioRate);
        if (inSecond < kTickLength) {
            const double fade = 1.0 - static_cast<double>(inSecond) / kTickLength;
            v += 0.5 * fade * std::sin(kTwoPi * static_cast<double>((2000 * inSecond) % kAudioRate) / kAudioRate);
        }
        samples[2 * i] = samples[2 * i + 1] = static_cast<float>(v);
    }
}

} // namespace brimtone::host
