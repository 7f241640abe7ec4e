#include "BuiltinClip.h"
#include "MediaSink.h"
#include "MediaSource.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace brimtone::host;

namespace {

constexpr int kW = 64, kH = 48, kFrames = 20;

struct TempDir {
    std::string path;
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "brimtone-source-XXXXXX").string();
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

Pixels readPixels(MediaSource& source, int index, int w, int h, bool highQuality = true)
{
    Pixels pixels(static_cast<size_t>(w) * h * 4);
    std::string error;
    EXPECT_TRUE(source.readFrame(index, w, h, highQuality, pixels.data(), w * 4, error)) << error;
    return pixels;
}

double rms(const std::vector<float>& samples)
{
    double sum = 0;
    for (float s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

// Largest sample difference of two stereo signals at the best offset within
// +-maxShift samples.
double bestShiftedDifference(const std::vector<float>& a, const std::vector<float>& b, int maxShift)
{
    double best = 1e9;
    const int n = static_cast<int>(std::min(a.size(), b.size())) / 2;
    for (int shift = -maxShift; shift <= maxShift; ++shift) {
        double worst = 0;
        for (int i = std::max(0, -shift); i < n && i + shift < n; ++i)
            for (int c = 0; c < 2; ++c)
                worst = std::max(worst, std::abs(static_cast<double>(a[2 * i + c]) - b[2 * (i + shift) + c]));
        best = std::min(best, worst);
    }
    return best;
}

class MediaSourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setMediaLogQuiet(true);
        dir_ = new TempDir;
        clip_ = dir_->path + "/clip.mkv";
        // A small real file: the built-in clip shrunk, as H.264 and AAC.
        auto builtin = MediaSource::openBuiltin(kFrames);
        std::string error;
        auto sink = MediaSink::open(clip_, kW, kH, builtin->frameRate(), true, error);
        ASSERT_TRUE(sink) << error;
        std::vector<float> audio;
        for (int i = 0; i < kFrames; ++i) {
            const Pixels pixels = readPixels(*builtin, i, kW, kH);
            ASSERT_TRUE(builtin->readAudio(i, audio, error)) << error;
            ASSERT_TRUE(sink->writeFrame(pixels.data(), kW * 4, &audio, error)) << error;
        }
        ASSERT_TRUE(sink->finish(error)) << error;
    }
    static void TearDownTestSuite() { delete dir_; }

    std::unique_ptr<MediaSource> openClip()
    {
        std::string error;
        auto source = MediaSource::openFile(clip_, error);
        EXPECT_TRUE(source) << error;
        return source;
    }

    static TempDir* dir_;
    static std::string clip_;
};

TempDir* MediaSourceTest::dir_ = nullptr;
std::string MediaSourceTest::clip_;

TEST_F(MediaSourceTest, FileReportsSizeRateLengthAndAudio)
{
    auto source = openClip();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->width(), kW);
    EXPECT_EQ(source->height(), kH);
    EXPECT_EQ(source->frameCount(), kFrames);
    EXPECT_EQ(source->frameRate().num, 30);
    EXPECT_EQ(source->frameRate().den, 1);
    EXPECT_TRUE(source->hasAudio());
    EXPECT_EQ(source->audioSampleRate(), 48000);
    EXPECT_NE(source->description().find("clip.mkv"), std::string::npos);
}

TEST_F(MediaSourceTest, RandomAccessGivesTheSameBytesAsSequentialReading)
{
    auto sequential = openClip();
    ASSERT_TRUE(sequential);
    std::vector<Pixels> frames;
    for (int i = 0; i < kFrames; ++i)
        frames.push_back(readPixels(*sequential, i, kW, kH));
    // Neighbouring frames of a moving clip differ, so a wrong frame shows.
    EXPECT_NE(frames[14], frames[15]);
    EXPECT_NE(frames[15], frames[16]);

    auto random = openClip();
    ASSERT_TRUE(random);
    EXPECT_EQ(readPixels(*random, 15, kW, kH), frames[15]);
    EXPECT_EQ(readPixels(*random, 3, kW, kH), frames[3]);   // backwards
    EXPECT_EQ(readPixels(*random, 3, kW, kH), frames[3]);   // the same again
    EXPECT_EQ(readPixels(*random, 19, kW, kH), frames[19]); // forwards
    EXPECT_EQ(readPixels(*random, 0, kW, kH), frames[0]);
    EXPECT_EQ(readPixels(*sequential, 15, kW, kH), frames[15]); // after reading to the end
}

TEST_F(MediaSourceTest, ScaledReadsFillExactlyTheWantedRectangleOpaque)
{
    auto source = openClip();
    ASSERT_TRUE(source);
    for (bool highQuality : {false, true}) {
        // Odd sizes, a buffer with no slack (ASan sees any overrun) ...
        const int w = 37, h = 23;
        Pixels tight(static_cast<size_t>(w) * h * 4, 0);
        std::string error;
        ASSERT_TRUE(source->readFrame(7, w, h, highQuality, tight.data(), w * 4, error)) << error;
        for (size_t i = 0; i < tight.size(); i += 4)
            ASSERT_EQ(tight[i], 255) << "pixel " << i / 4;

        // ... and a wider row whose padding must stay untouched.
        const int W = 130, H = 97, rowBytes = W * 4 + 24;
        Pixels padded(static_cast<size_t>(rowBytes) * H, 0xAB);
        ASSERT_TRUE(source->readFrame(7, W, H, highQuality, padded.data(), rowBytes, error)) << error;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x)
                ASSERT_EQ(padded[y * rowBytes + x * 4], 255);
            for (int b = W * 4; b < rowBytes; ++b)
                ASSERT_EQ(padded[y * rowBytes + b], 0xAB) << "row " << y;
        }
    }
}

TEST_F(MediaSourceTest, BadRequestsFailWithAMessageNamingTheFile)
{
    auto source = openClip();
    ASSERT_TRUE(source);
    Pixels pixels(kW * kH * 4);
    std::string error;
    EXPECT_FALSE(source->readFrame(0, kW, kH, true, nullptr, kW * 4, error));
    EXPECT_NE(error.find("clip.mkv"), std::string::npos) << error;
    EXPECT_FALSE(source->readFrame(0, 0, kH, true, pixels.data(), kW * 4, error));
    EXPECT_FALSE(source->readFrame(0, kW, -5, true, pixels.data(), kW * 4, error));
    EXPECT_FALSE(source->readFrame(0, 16385, 1, true, pixels.data(), INT_MAX, error));
    EXPECT_FALSE(source->readFrame(0, kW, kH, true, pixels.data(), kW * 4 - 1, error));
    error.clear();
    EXPECT_FALSE(source->readFrame(kFrames, kW, kH, true, pixels.data(), kW * 4, error));
    EXPECT_NE(error.find("clip.mkv"), std::string::npos) << error;
    EXPECT_FALSE(source->readFrame(-1, kW, kH, true, pixels.data(), kW * 4, error));
    std::vector<float> audio;
    EXPECT_FALSE(source->readAudio(kFrames, audio, error));
    EXPECT_FALSE(source->readAudio(-1, audio, error));
    // The source still works after refusals.
    EXPECT_TRUE(source->readFrame(2, kW, kH, true, pixels.data(), kW * 4, error)) << error;
}

TEST_F(MediaSourceTest, OpeningSomethingThatIsNotAClipNamesTheFileAndCause)
{
    std::string error;
    const std::string missing = dir_->path + "/missing.mov";
    EXPECT_FALSE(MediaSource::openFile(missing, error));
    EXPECT_EQ(error, "cannot open '" + missing + "': No such file or directory");

    for (const char* name : {"notes.txt", "notes.mov"}) {
        const std::string text = dir_->path + "/" + name;
        std::ofstream(text) << "This is not a video.\nJust some words in a file.\n";
        error.clear();
        EXPECT_FALSE(MediaSource::openFile(text, error)) << name;
        EXPECT_NE(error.find(text), std::string::npos) << error;
    }

    const std::string folder = dir_->path;
    error.clear();
    EXPECT_FALSE(MediaSource::openFile(folder, error));
    EXPECT_NE(error.find(folder), std::string::npos) << error;
}

TEST_F(MediaSourceTest, EachFrameCarriesItsOwnShareOfTheSound)
{
    auto source = openClip();
    ASSERT_TRUE(source);
    std::vector<std::vector<float>> sequential;
    std::string error;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<float> audio;
        ASSERT_TRUE(source->readAudio(i, audio, error)) << error;
        ASSERT_EQ(audio.size(), 2u * 1600) << "frame " << i;
        sequential.push_back(audio);
    }
    // The tone (-12 dBFS sine, RMS about 0.18) survives the AAC round trip.
    for (int i = 2; i < kFrames - 2; ++i)
        EXPECT_NEAR(rms(sequential[i]), 0.1776, 0.03) << "frame " << i;

    // Going back decodes the same sound again; Matroska keeps audio times to
    // the millisecond, so allow the restart to land up to 1 ms off.
    std::vector<float> again;
    for (int i : {12, 3, 17}) {
        ASSERT_TRUE(source->readAudio(i, again, error)) << error;
        ASSERT_EQ(again.size(), sequential[i].size());
        EXPECT_LT(bestShiftedDifference(again, sequential[i], 48), 1e-4) << "frame " << i;
    }
}

TEST(AudioTimeline, FrameSharesAddUpExactlyAtEveryRate)
{
    for (Rate rate : {Rate{30000, 1001}, Rate{24000, 1001}, Rate{25, 1}, Rate{60, 1}, Rate{7, 3}}) {
        int64_t total = 0;
        const double exact = 48000.0 * rate.den / rate.num;
        for (int i = 0; i < 1000; ++i) {
            const int64_t share = audioSampleStart(i + 1, rate) - audioSampleStart(i, rate);
            EXPECT_GE(share, std::floor(exact));
            EXPECT_LE(share, std::ceil(exact));
            total += share;
        }
        EXPECT_EQ(total, 1000LL * 48000 * rate.den / rate.num) << rate.num << "/" << rate.den;
    }
    // Large indices and rates must not overflow.
    const Rate ntsc{30000, 1001};
    EXPECT_EQ(audioSampleStart(INT_MAX, ntsc), static_cast<int64_t>(INT_MAX) * 48000 * 1001 / 30000);
    EXPECT_EQ(audioSampleStart(INT_MAX, Rate{1, INT_MAX}), INT64_MAX);
    EXPECT_EQ(audioSampleStart(-1, ntsc), -1602); // floor, also before the start
    EXPECT_EQ(audioSampleStart(5, Rate{0, 1}), 0);
}

TEST(BuiltinClip, FramesAreDeterministicAndShowDarkAndBrightAreas)
{
    auto a = MediaSource::openBuiltin();
    auto b = MediaSource::openBuiltin();
    EXPECT_EQ(a->width(), 720);
    EXPECT_EQ(a->height(), 480);
    EXPECT_EQ(a->frameCount(), 150);
    EXPECT_EQ(a->frameRate().num, 30);
    EXPECT_EQ(a->frameRate().den, 1);
    EXPECT_TRUE(a->hasAudio());

    const Pixels frame42 = readPixels(*a, 42, 720, 480, false);
    readPixels(*a, 43, 720, 480); // a different frame in between
    EXPECT_EQ(readPixels(*a, 42, 720, 480, true), frame42);
    EXPECT_EQ(readPixels(*b, 42, 720, 480), frame42);
    EXPECT_NE(readPixels(*b, 43, 720, 480), frame42);

    // Reading at native size passes the generated pixels through unchanged.
    Pixels direct(720 * 480 * 4);
    BuiltinClip(150).renderFrame(42, direct.data(), 720 * 4);
    EXPECT_EQ(direct, frame42);

    for (int index : {0, 42, 149}) {
        const Pixels pixels = readPixels(*a, index, 720, 480);
        int dark = 0, bright = 0;
        for (size_t i = 0; i < pixels.size(); i += 4) {
            ASSERT_EQ(pixels[i], 255);
            const int mean = (pixels[i + 1] + pixels[i + 2] + pixels[i + 3]) / 3;
            dark += mean < 40;
            bright += mean > 200;
        }
        EXPECT_GT(dark, 720 * 20) << "frame " << index;
        EXPECT_GT(bright, 3000) << "frame " << index;
    }
}

TEST(BuiltinClip, ToneIsDeterministicWithATickEachSecond)
{
    auto source = MediaSource::openBuiltin();
    std::vector<float> first, again, quiet;
    std::string error;
    ASSERT_TRUE(source->readAudio(30, first, error));
    ASSERT_TRUE(source->readAudio(31, quiet, error));
    ASSERT_TRUE(source->readAudio(30, again, error));
    EXPECT_EQ(first, again);
    ASSERT_EQ(first.size(), 2u * 1600);
    EXPECT_NEAR(rms(quiet), 0.2512 / std::sqrt(2.0), 0.005);
    EXPECT_GT(rms(first), rms(quiet) * 1.1); // frame 30 starts second 1: tick
    for (size_t k = 0; k < first.size(); k += 2)
        ASSERT_EQ(first[k], first[k + 1]);
}

} // namespace
