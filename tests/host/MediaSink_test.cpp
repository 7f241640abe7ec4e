#include "MediaSink.h"
#include "MediaSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>

using namespace brimtone::host;

namespace {

struct TempDir {
    std::string path;
    TempDir()
    {
        setMediaLogQuiet(true);
        std::string pattern = (std::filesystem::temp_directory_path() / "brimtone-sink-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
};

using Pixels = std::vector<uint8_t>;

Pixels readPixels(MediaSource& source, int index, int w, int h)
{
    Pixels pixels(static_cast<size_t>(w) * h * 4);
    std::string error;
    EXPECT_TRUE(source.readFrame(index, w, h, true, pixels.data(), w * 4, error)) << error;
    return pixels;
}

double rms(const std::vector<float>& samples)
{
    double sum = 0;
    for (float s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

std::unique_ptr<MediaSource> reopen(const std::string& path)
{
    std::string error;
    auto source = MediaSource::openFile(path, error);
    EXPECT_TRUE(source) << error;
    return source;
}

// Writes frames of the built-in clip shrunk to w x h, with its sound.
void writeBuiltin(const std::string& path, int w, int h, int frames, bool withAudio)
{
    auto builtin = MediaSource::openBuiltin(frames);
    std::string error;
    auto sink = MediaSink::open(path, w, h, builtin->frameRate(), withAudio, error);
    ASSERT_TRUE(sink) << error;
    std::vector<float> audio;
    for (int i = 0; i < frames; ++i) {
        const Pixels pixels = readPixels(*builtin, i, w, h);
        ASSERT_TRUE(builtin->readAudio(i, audio, error));
        ASSERT_TRUE(sink->writeFrame(pixels.data(), w * 4, &audio, error)) << error;
    }
    EXPECT_EQ(sink->framesWritten(), frames);
    ASSERT_TRUE(sink->finish(error)) << error;
}

TEST(MediaSink, VideoFilesRoundTripWithPictureAndSound)
{
    TempDir dir;
    for (const char* name : {"out.mp4", "out.mov", "out.mkv"}) {
        const std::string path = dir.path + "/" + name;
        writeBuiltin(path, 96, 64, 12, true);
        auto source = reopen(path);
        ASSERT_TRUE(source) << name;
        EXPECT_EQ(source->frameCount(), 12) << name;
        EXPECT_EQ(source->width(), 96);
        EXPECT_EQ(source->height(), 64);
        EXPECT_EQ(source->frameRate().num, 30) << name;
        EXPECT_EQ(source->frameRate().den, 1) << name;
        ASSERT_TRUE(source->hasAudio()) << name;

        // Lossy, but close: a colour-matrix or range mix-up would be far off.
        auto builtin = MediaSource::openBuiltin(12);
        for (int index : {0, 6, 11}) {
            const Pixels written = readPixels(*builtin, index, 96, 64);
            const Pixels decoded = readPixels(*source, index, 96, 64);
            double error = 0;
            for (size_t i = 0; i < written.size(); i += 4)
                for (int c = 1; c < 4; ++c)
                    error += std::abs(written[i + c] - decoded[i + c]);
            EXPECT_LT(error / (96 * 64 * 3), 6.0) << name << " frame " << index;
        }
        std::vector<float> audio;
        std::string message;
        ASSERT_TRUE(source->readAudio(6, audio, message)) << message;
        EXPECT_NEAR(rms(audio), 0.1776, 0.03) << name;
    }
}

TEST(MediaSink, VideoWithoutSoundHasNoAudioTrack)
{
    TempDir dir;
    const std::string path = dir.path + "/silent.mp4";
    writeBuiltin(path, 32, 32, 3, false);
    auto source = reopen(path);
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->hasAudio());
    EXPECT_EQ(source->frameCount(), 3);
    std::vector<float> audio{1.0f};
    std::string error;
    EXPECT_TRUE(source->readAudio(1, audio, error));
    EXPECT_TRUE(audio.empty());
}

TEST(MediaSink, MissingOrExtraSoundKeepsPictureAndSoundInStep)
{
    TempDir dir;
    const std::string path = dir.path + "/sync.mkv";
    const Rate rate{25, 1};
    const int share = 48000 / 25, frames = 40, w = 16, h = 16;
    std::string error;
    auto sink = MediaSink::open(path, w, h, rate, true, error);
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
    ASSERT_TRUE(source);
    ASSERT_EQ(source->frameCount(), frames);
    std::vector<double> level;
    for (int i = 0; i < frames; ++i) {
        std::vector<float> audio;
        ASSERT_TRUE(source->readAudio(i, audio, error)) << error;
        ASSERT_EQ(audio.size(), 2u * share);
        level.push_back(rms(audio));
    }
    // AAC smears sharp edges a little into the neighbours; a misplaced
    // surplus or gap would move whole frames of sound.
    EXPECT_GT(level[5], 0.5);
    EXPECT_LT(level[6], 0.2); // the surplus of frame 5 is dropped
    EXPECT_NEAR(level[8], 0.5 * std::sqrt(0.5), 0.1);
    EXPECT_LT(level[9], 0.1);
    EXPECT_LT(level[20], 0.01);
    EXPECT_GT(level[30], 0.15);
    EXPECT_LT(level[29], 0.1); // the burst was not moved earlier ...
    EXPECT_LT(level[31], 0.1); // ... nor later
}

TEST(MediaSink, PngPatternIsLosslessIgnoresAlphaAndCountsFromOne)
{
    TempDir dir;
    const int w = 33, h = 17, frames = 3; // odd sizes are fine for PNG
    std::mt19937 random(7);
    std::vector<Pixels> written;
    std::string error;
    auto sink = MediaSink::open(dir.path + "/f%05d.png", w, h, Rate{24, 1}, true, error);
    ASSERT_TRUE(sink) << error;
    for (int i = 0; i < frames; ++i) {
        const int rowBytes = w * 4 + 8;
        Pixels pixels(rowBytes * h);
        for (auto& byte : pixels)
            byte = static_cast<uint8_t>(random());
        for (int y = 0; y < h; ++y)
            pixels[y * rowBytes] = 0; // an effect may leave alpha at zero
        ASSERT_TRUE(sink->writeFrame(pixels.data(), rowBytes, nullptr, error)) << error;
        Pixels packed;
        for (int y = 0; y < h; ++y)
            packed.insert(packed.end(), pixels.begin() + y * rowBytes, pixels.begin() + y * rowBytes + w * 4);
        written.push_back(packed);
    }
    ASSERT_TRUE(sink->finish(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/f00000.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.path + "/f00001.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.path + "/f00003.png"));
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/f00004.png"));

    auto source = reopen(dir.path + "/f%05d.png");
    ASSERT_TRUE(source);
    ASSERT_EQ(source->frameCount(), frames);
    for (int i = 0; i < frames; ++i) {
        const Pixels decoded = readPixels(*source, i, w, h);
        for (size_t p = 0; p < decoded.size(); p += 4) {
            ASSERT_EQ(decoded[p], 255);
            for (int c = 1; c < 4; ++c)
                ASSERT_EQ(decoded[p + c], written[i][p + c]) << "frame " << i << " byte " << p + c;
        }
    }
}

TEST(MediaSink, PlainPngNameHoldsTheLastFrame)
{
    TempDir dir;
    const std::string path = dir.path + "/thumb.png";
    std::string error;
    auto sink = MediaSink::open(path, 4, 2, Rate{30, 1}, false, error);
    ASSERT_TRUE(sink) << error;
    Pixels first(4 * 2 * 4, 255), second(4 * 2 * 4, 255);
    for (size_t i = 0; i < second.size(); i += 4)
        second[i + 1] = static_cast<uint8_t>(i);
    ASSERT_TRUE(sink->writeFrame(first.data(), 16, nullptr, error)) << error;
    ASSERT_TRUE(sink->writeFrame(second.data(), 16, nullptr, error)) << error;
    ASSERT_TRUE(sink->finish(error)) << error;
    auto source = reopen(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(readPixels(*source, 0, 4, 2), second);
}

TEST(MediaSink, UnusableOutputsAreRefusedNamingThePath)
{
    TempDir dir;
    std::string error;
    const std::string avi = dir.path + "/out.avi";
    EXPECT_FALSE(MediaSink::open(avi, 64, 48, Rate{30, 1}, true, error));
    EXPECT_NE(error.find("'" + avi + "'"), std::string::npos) << error;

    const std::string nowhere = dir.path + "/no/such/folder/out.mp4";
    EXPECT_FALSE(MediaSink::open(nowhere, 64, 48, Rate{30, 1}, true, error));
    EXPECT_NE(error.find("'" + nowhere + "'"), std::string::npos) << error;
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;

    const std::string frames = dir.path + "/missing/%05d.png";
    EXPECT_FALSE(MediaSink::open(frames, 64, 48, Rate{30, 1}, false, error));
    EXPECT_NE(error.find("'" + frames + "'"), std::string::npos) << error;

    const std::string badPattern = dir.path + "/f%05d%d.png";
    EXPECT_FALSE(MediaSink::open(badPattern, 64, 48, Rate{30, 1}, false, error));
    EXPECT_NE(error.find("'" + badPattern + "'"), std::string::npos) << error;

    const std::string mp4 = dir.path + "/out.mp4";
    EXPECT_FALSE(MediaSink::open(mp4, 63, 48, Rate{30, 1}, true, error)); // H.264 4:2:0 needs even sizes
    EXPECT_FALSE(MediaSink::open(mp4, 0, 48, Rate{30, 1}, true, error));
    EXPECT_FALSE(MediaSink::open(mp4, 64, 16386, Rate{30, 1}, true, error));
    EXPECT_FALSE(MediaSink::open(mp4, 64, 48, Rate{0, 1}, true, error));
    EXPECT_FALSE(MediaSink::open(mp4, 64, 48, Rate{30, -1}, true, error));
    EXPECT_NE(error.find("'" + mp4 + "'"), std::string::npos) << error;
}

TEST(MediaSink, MisuseIsRefusedAndAnUnfinishedSinkClosesCleanly)
{
    TempDir dir;
    std::string error;
    auto sink = MediaSink::open(dir.path + "/a.mkv", 32, 32, Rate{30, 1}, true, error);
    ASSERT_TRUE(sink) << error;
    Pixels pixels(32 * 32 * 4, 128);
    EXPECT_FALSE(sink->writeFrame(nullptr, 128, nullptr, error));
    EXPECT_FALSE(sink->writeFrame(pixels.data(), 127, nullptr, error));
    EXPECT_NE(error.find("a.mkv"), std::string::npos) << error;
    ASSERT_TRUE(sink->writeFrame(pixels.data(), 128, nullptr, error)) << error;
    ASSERT_TRUE(sink->finish(error)) << error;
    EXPECT_FALSE(sink->writeFrame(pixels.data(), 128, nullptr, error));
    EXPECT_FALSE(sink->finish(error));

    // Dropped halfway, with frames still inside the encoders.
    for (const char* name : {"b.mp4", "c%03d.png"}) {
        auto unfinished = MediaSink::open(dir.path + "/" + name, 32, 32, Rate{30, 1}, true, error);
        ASSERT_TRUE(unfinished) << error;
        std::vector<float> audio(1600 * 2, 0.25f);
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(unfinished->writeFrame(pixels.data(), 128, &audio, error)) << error;
    }
}

} // namespace
