#include "MediaTestSupport.h"

#include <random>

using namespace brimtone::host;
using namespace brimtone::host::testing;

namespace {

TEST(MediaSink, VideoFilesRoundTripWithPictureAndSound)
{
    TempDir dir;
    auto builtin = MediaSource::openBuiltin(12);
    for (const char* name : {"out.mp4", "out.mov", "out.mkv"}) {
        const std::string path = dir.path + "/" + name;
        writeBuiltin(path, 96, 64, 12);
        auto source = reopen(path);
        ASSERT_TRUE(source) << name;
        EXPECT_EQ(source->frameCount(), 12) << name;
        EXPECT_EQ(source->frameRate().num, 30) << name;
        ASSERT_TRUE(source->hasAudio()) << name;
        // Lossy, but close: a colour-matrix or range mix-up would be far off.
        for (int index : {0, 11}) {
            const Pixels written = readPixels(*builtin, index, 96, 64), decoded = readPixels(*source, index, 96, 64);
            double error = 0;
            for (size_t i = 0; i < written.size(); ++i)
                error += i % 4 ? std::abs(written[i] - decoded[i]) : 0;
            EXPECT_LT(error / (96 * 64 * 3), 6.0) << name << " frame " << index;
        }
        std::vector<float> audio;
        std::string message;
        ASSERT_TRUE(source->readAudio(6, audio, message)) << message;
        EXPECT_NEAR(rms(audio), 0.1776, 0.03) << name;
    }
}

// FFV1 encodes several frames at once and keeps each until it is done:
// every picture must reach the file as it was handed in, none drawn over by
// the next.
TEST(MediaSink, EncodersThatKeepFramesGetEachPictureAsItWas)
{
    TempDir dir;
    const std::string path = dir.path + "/kept.mkv";
    const int w = 320, h = 240, frames = 24;
    SinkSpec spec;
    spec.width = w;
    spec.height = h;
    spec.rate = Rate{25, 1};
    spec.encoding.videoCodec = "ffv1";
    std::string error;
    auto sink = MediaSink::open(path, spec, error);
    ASSERT_TRUE(sink) << error;
    for (int i = 0; i < frames; ++i) {
        Pixels grey(size_t(w) * h * 4, uint8_t(20 + 9 * i));
        ASSERT_TRUE(sink->writeFrame(grey.data(), w * 4, nullptr, error)) << error;
    }
    ASSERT_TRUE(sink->finish(error)) << error;
    auto source = reopen(path);
    ASSERT_TRUE(source);
    ASSERT_EQ(source->frameCount(), frames);
    for (int i = 0; i < frames; ++i) {
        const Pixels decoded = readPixels(*source, i, w, h);
        for (size_t k = 0; k < decoded.size(); k += 4 * 97)
            ASSERT_NEAR(decoded[k + 2], 20 + 9 * i, 1) << "frame " << i << " byte " << k;
    }
}

TEST(MediaSink, MissingOrExtraSoundKeepsPictureAndSoundInStep)
{
    TempDir dir;
    const std::string path = dir.path + "/sync.mkv";
    const int share = 48000 / 25, frames = 40, w = 16, h = 16;
    std::string error;
    auto sink = MediaSink::open(path, w, h, Rate{25, 1}, true, error);
    ASSERT_TRUE(sink) << error;
    const Pixels black(w * h * 4, 0);
    for (int i = 0; i < frames; ++i) {
        std::vector<float> audio;
        const std::vector<float>* given = &audio;
        if (i == 5) // too much: the surplus must be dropped, not pushed on
            audio.assign(4 * share, 0.9f);
        else if (i == 8)
            audio.assign(share, 0.5f); // half of what is due: the rest is silence
        else if (i == 30) // a burst at the start of frame 30
            for (int k = 0; k < 2 * share; ++k)
                audio.push_back(k < 400 ? 0.8f * std::sin(k * 0.3f) : 0.0f);
        else if (i % 2 == 0)
            given = nullptr;
        ASSERT_TRUE(sink->writeFrame(black.data(), w * 4, given, error)) << error;
    }
    ASSERT_TRUE(sink->finish(error)) << error;

    auto source = reopen(path);
    ASSERT_EQ(source->frameCount(), frames);
    std::vector<double> level;
    for (int i = 0; i < frames; ++i) {
        std::vector<float> audio;
        ASSERT_TRUE(source->readAudio(i, audio, error)) << error;
        ASSERT_EQ(audio.size(), 2u * share);
        level.push_back(rms(audio));
    }
    // AAC smears sharp edges a little; a misplaced surplus or gap would move
    // whole frames of sound.
    EXPECT_GT(level[5], 0.5);
    EXPECT_LT(level[6], 0.2);
    EXPECT_NEAR(level[8], 0.5 * std::sqrt(0.5), 0.1);
    EXPECT_LT(level[9], 0.1);
    EXPECT_GT(level[30], 0.15);
    EXPECT_LT(level[29], 0.1);
    EXPECT_LT(level[31], 0.1);
}

TEST(MediaSink, PngPatternIsLosslessIgnoresAlphaAndCountsFromOne)
{
    TempDir dir;
    const int w = 33, h = 17, frames = 3, rowBytes = w * 4 + 8;
    std::mt19937 random(7);
    std::vector<Pixels> written;
    std::string error;
    auto sink = MediaSink::open(dir.path + "/f%05d.png", w, h, Rate{24, 1}, true, error);
    ASSERT_TRUE(sink) << error;
    for (int i = 0; i < frames; ++i) {
        Pixels pixels(rowBytes * h);
        for (auto& byte : pixels)
            byte = static_cast<uint8_t>(random());
        pixels[0] = 0; // an effect may leave alpha at zero
        ASSERT_TRUE(sink->writeFrame(pixels.data(), rowBytes, nullptr, error)) << error;
        written.push_back(pixels);
    }
    ASSERT_TRUE(sink->finish(error)) << error;
    for (int n : {0, 1, 3, 4})
        EXPECT_EQ(std::filesystem::exists(dir.path + "/f0000" + std::to_string(n) + ".png"), n == 1 || n == 3);

    auto source = reopen(dir.path + "/f%05d.png");
    ASSERT_EQ(source->frameCount(), frames);
    for (int i = 0; i < frames; ++i) {
        const Pixels decoded = readPixels(*source, i, w, h);
        for (size_t p = 0; p < decoded.size(); ++p)
            ASSERT_EQ(decoded[p], p % 4 ? written[i][p / (w * 4) * rowBytes + p % (w * 4)] : 255) << "frame " << i << " byte " << p;
    }
}

TEST(MediaSink, UnusableOutputsAndMisuseAreRefusedNamingThePath)
{
    TempDir dir;
    std::string error;
    for (const std::string& path : {dir.path + "/out.xyz", dir.path + "/no/such/folder/out.mp4",
                                    dir.path + "/f%05d%d.png"}) {
        EXPECT_FALSE(MediaSink::open(path, 64, 48, Rate{30, 1}, true, error));
        EXPECT_NE(error.find("'" + path + "'"), std::string::npos) << error;
    }
    const std::string mp4 = dir.path + "/out.mp4";
    EXPECT_FALSE(MediaSink::open(mp4, 63, 48, Rate{30, 1}, true, error)); // H.264 4:2:0 needs even sizes
    EXPECT_FALSE(MediaSink::open(mp4, 64, 16386, Rate{30, 1}, true, error));
    EXPECT_FALSE(MediaSink::open(mp4, 64, 48, Rate{0, 1}, true, error));

    auto sink = MediaSink::open(dir.path + "/a.mkv", 32, 32, Rate{30, 1}, true, error);
    ASSERT_TRUE(sink) << error;
    Pixels pixels(32 * 32 * 4, 128);
    EXPECT_FALSE(sink->writeFrame(pixels.data(), 127, nullptr, error));
    ASSERT_TRUE(sink->writeFrame(pixels.data(), 128, nullptr, error)) << error;
    ASSERT_TRUE(sink->finish(error)) << error;
    EXPECT_FALSE(sink->writeFrame(pixels.data(), 128, nullptr, error));

    // Dropped halfway, with frames still inside the encoders.
    auto unfinished = MediaSink::open(dir.path + "/b.mp4", 32, 32, Rate{30, 1}, true, error);
    ASSERT_TRUE(unfinished) << error;
    std::vector<float> audio(1600 * 2, 0.25f);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(unfinished->writeFrame(pixels.data(), 128, &audio, error)) << error;
}

TEST(MediaSink, ColourMatrixFollowsTheSizeAndPixelShapeIsKept)
{
    TempDir dir;
    // Saturated bars, where BT.601 and BT.709 differ most.
    const uint32_t bars[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff, 0xff00ff, 0x202020, 0xe0e0e0};
    const std::pair<int, int> sizes[] = {{1280, 720}, {720, 576}, {720, 480}};
    for (const auto& [w, h] : sizes) {
        Pixels pixels(static_cast<size_t>(w) * h * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t colour = bars[x * 8 / w];
                uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 4];
                p[0] = 255, p[1] = uint8_t(colour >> 16), p[2] = uint8_t(colour >> 8), p[3] = uint8_t(colour);
            }
        const std::string path = dir.path + "/bars" + std::to_string(h) + ".mp4";
        std::string error;
        auto sink = MediaSink::open(path, w, h, Rate{25, 1}, false, error, PixelAspect{32, 27});
        ASSERT_TRUE(sink) << error;
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(sink->writeFrame(pixels.data(), w * 4, nullptr, error)) << error;
        ASSERT_TRUE(sink->finish(error)) << error;

        auto source = reopen(path);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->pixelAspect().num, 32);
        EXPECT_EQ(source->pixelAspect().den, 27);
        const Pixels decoded = readPixels(*source, 1, w, h);
        double error8 = 0;
        for (size_t i = 0; i < decoded.size(); ++i)
            error8 += i % 4 ? std::abs(decoded[i] - pixels[i]) : 0;
        EXPECT_LT(error8 / (static_cast<double>(w) * h * 3), 2.0) << w << "x" << h;
    }
    const PixelAspect halved = keepShape(PixelAspect{32, 27}, 720, 480, 360, 480);
    EXPECT_EQ(halved.num, 64);
    EXPECT_EQ(halved.den, 27);
}

} // namespace
