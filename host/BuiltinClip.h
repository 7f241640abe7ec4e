// The clip that brimtone renders when it is given no input: a moving colour
// pattern with a tone, generated in the process so every command works on a
// machine without media files.
#pragma once

#include <cstdint>
#include <vector>

namespace brimtone::host {

class BuiltinClip {
public:
    static constexpr int kWidth = 720;
    static constexpr int kHeight = 480;
    static constexpr int kRateNum = 30;
    static constexpr int kRateDen = 1;

    explicit BuiltinClip(int frameCount);

    int frameCount() const { return frameCount_; }

    // Writes frame `index` at kWidth x kHeight as bytes A, R, G, B (alpha 255).
    // The same index always gives the same pixels. `argb` must hold
    // kHeight rows of `rowBytes` >= kWidth * 4 bytes.
    void renderFrame(int index, uint8_t* argb, int rowBytes) const;

    // The clip's sound for output samples [first, first + count) at 48000 Hz,
    // stereo interleaved float: a 440 Hz sine at -12 dBFS with a short tick
    // at the start of every second. `samples` gets 2 * count values.
    static void renderAudio(int64_t first, int64_t count, std::vector<float>& samples);

private:
    int frameCount_;
};

} // namespace brimtone::host
