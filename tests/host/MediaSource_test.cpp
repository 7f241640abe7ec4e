#include "MediaTestSupport.h"

#include <climits>
#include <cmath>
#include <fstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

using namespace brimtone::host;
using namespace brimtone::host::testing;

namespace {

constexpr int kW = 64, kH = 48, kFrames = 20;

class MediaSourceTest : public ::testing::Test {
protected:
    // A small real file: the built-in clip shrunk, as H.264 and AAC.
    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        writeBuiltin(clip(), kW, kH, kFrames);
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::string clip() { return dir_->path + "/clip.mkv"; }

    static inline TempDir* dir_ = nullptr;
};

TEST_F(MediaSourceTest, RandomAccessGivesTheSameBytesAsSequentialReading)
{
    auto sequential = reopen(clip());
    ASSERT_TRUE(sequential);
    EXPECT_EQ(sequential->frameCount(), kFrames);
    std::vector<Pixels> frames;
    for (int i = 0; i < kFrames; ++i)
        frames.push_back(readPixels(*sequential, i, kW, kH));
    // Neighbouring frames of a moving clip differ, so a wrong frame shows.
    EXPECT_NE(frames[14], frames[15]);
    EXPECT_NE(frames[15], frames[16]);

    auto random = reopen(clip());
    for (int i : {15, 3, 3, 19, 0})
        EXPECT_EQ(readPixels(*random, i, kW, kH), frames[i]) << "frame " << i;
    EXPECT_EQ(readPixels(*sequential, 15, kW, kH), frames[15]); // after reading to the end
}

// Scrubbing: a frame far from where the decoder stands comes as the key frame
// before it (the clip has one, at 0), a frame just ahead comes exactly, and
// one further ahead before the next key frame as the frame already decoded.
TEST_F(MediaSourceTest, ScrubbingReadsGiveTheKeyFrameBeforeAFarFrameAndNearOnesExactly)
{
    // Scrubbing pictures are of low quality; so are those they are compared with.
    const auto read = [](MediaSource& source, int index, bool near) {
        Pixels pixels(static_cast<size_t>(kW) * kH * 4);
        std::string error;
        EXPECT_TRUE(near ? source.readNearbyFrame(index, kW, kH, pixels.data(), kW * 4, error)
                         : source.readFrame(index, kW, kH, false, pixels.data(), kW * 4, error))
            << error;
        return pixels;
    };
    auto sequential = reopen(clip());
    ASSERT_TRUE(sequential);
    std::vector<Pixels> frames;
    for (int i = 0; i < kFrames; ++i)
        frames.push_back(read(*sequential, i, false));
    EXPECT_NE(frames[0], frames[9]);
    auto scrubbed = reopen(clip());
    const auto nearby = [&](int index) { return read(*scrubbed, index, true); };
    const auto readPixels = [&](MediaSource& source, int index, int, int) { return read(source, index, false); };
    EXPECT_EQ(nearby(15), frames[0]);
    EXPECT_EQ(nearby(9), frames[0]);
    EXPECT_EQ(readPixels(*scrubbed, 10, kW, kH), frames[10]);
    EXPECT_EQ(nearby(11), frames[11]);
    EXPECT_EQ(nearby(12), frames[12]);
    // Further on, before the next key frame, the frame shown is the nearest.
    EXPECT_EQ(nearby(16), frames[12]);
    EXPECT_EQ(readPixels(*scrubbed, 17, kW, kH), frames[17]);
    EXPECT_EQ(nearby(5), frames[0]);
}

TEST_F(MediaSourceTest, ScaledReadsFillExactlyTheWantedRectangleOpaque)
{
    auto source = reopen(clip());
    std::string error;
    for (bool highQuality : {false, true}) {
        // Odd sizes and a row with padding that must stay untouched.
        const int W = 37, H = 23, rowBytes = W * 4 + 24;
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

// The first frames of a clip as ffmpeg's slow, accurate conversion gives them
// (bicubic chroma, accurate rounding), in the stream's own matrix.
std::vector<Pixels> accurateFrames(const std::string& path, int count)
{
    std::vector<Pixels> frames;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return frames;
    avformat_find_stream_info(format, nullptr);
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar);
    avcodec_open2(decoder, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto take = [&] {
        while (static_cast<int>(frames.size()) < count && avcodec_receive_frame(decoder, frame) == 0) {
            SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                             frame->height, AV_PIX_FMT_ARGB,
                                             SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                             nullptr, nullptr);
            const int matrix = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
            sws_setColorspaceDetails(sws, sws_getCoefficients(matrix), frame->color_range == AVCOL_RANGE_JPEG,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            Pixels pixels(static_cast<size_t>(frame->width) * frame->height * 4);
            uint8_t* planes[4] = {pixels.data()};
            const int strides[4] = {frame->width * 4};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
            sws_freeContext(sws);
            frames.push_back(std::move(pixels));
        }
    };
    while (static_cast<int>(frames.size()) < count && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(decoder, packet) == 0)
            take();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return frames;
}

double psnr(const Pixels& a, const Pixels& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * a.size() / sum);
}

// Full-size reads of 4:2:0 clips (widths that leave partial blocks, SD and HD
// matrices) are as close to ffmpeg's accurate conversion as its rounding.
TEST_F(MediaSourceTest, FullSizeReadsMatchFFmpegsAccurateConversion)
{
    for (auto [w, h] : {std::pair{70, 46}, std::pair{1282, 720}}) {
        const std::string path = dir_->path + "/full" + std::to_string(w) + ".mp4";
        writeBuiltin(path, w, h, 3);
        const std::vector<Pixels> reference = accurateFrames(path, 3);
        ASSERT_EQ(reference.size(), 3u);
        auto source = reopen(path);
        for (int i = 0; i < 3; ++i) {
            const Pixels pixels = readPixels(*source, i, w, h);
            int worst = 0;
            for (size_t k = 0; k < pixels.size(); ++k)
                worst = std::max(worst, std::abs(pixels[k] - reference[i][k]));
            EXPECT_LE(worst, 2) << w << "x" << h << " frame " << i;
            EXPECT_GE(psnr(pixels, reference[i]), 55.0) << w << "x" << h << " frame " << i;
        }
    }
}

// The MKV muxer starts the video after the audio's encoder delay, and on a
// short clip FFmpeg reports the stream as starting earlier: index 0 is still
// the first picture, and no picture is repeated or lost.
TEST_F(MediaSourceTest, FramesOfAnMkvWithSoundAreTheFilesPicturesInOrder)
{
    const std::string shortClip = dir_->path + "/short.mkv";
    writeBuiltin(shortClip, kW, kH, 3);
    for (auto [path, frames] : {std::pair{clip(), kFrames}, std::pair{shortClip, 3}}) {
        const std::vector<Pixels> pictures = accurateFrames(path, frames + 1);
        ASSERT_EQ(pictures.size(), size_t(frames));
        auto source = reopen(path);
        EXPECT_EQ(source->frameCount(), frames) << path;
        for (int i = 0; i < frames; ++i)
            EXPECT_GE(psnr(readPixels(*source, i, kW, kH), pictures[i]), 50.0) << path << " frame " << i;
    }
}

TEST_F(MediaSourceTest, BadRequestsAndNonClipsFailWithAMessageNamingTheFile)
{
    auto source = reopen(clip());
    Pixels pixels(kW * kH * 4);
    std::string error;
    EXPECT_FALSE(source->readFrame(0, kW, kH, true, nullptr, kW * 4, error));
    EXPECT_NE(error.find("clip.mkv"), std::string::npos) << error;
    EXPECT_FALSE(source->readFrame(0, 16385, 1, true, pixels.data(), INT_MAX, error));
    EXPECT_FALSE(source->readFrame(0, kW, kH, true, pixels.data(), kW * 4 - 1, error));
    EXPECT_FALSE(source->readFrame(kFrames, kW, kH, true, pixels.data(), kW * 4, error));
    EXPECT_FALSE(source->readFrame(-1, kW, kH, true, pixels.data(), kW * 4, error));
    std::vector<float> audio;
    EXPECT_FALSE(source->readAudio(kFrames, audio, error));
    EXPECT_TRUE(source->readFrame(2, kW, kH, true, pixels.data(), kW * 4, error)) << error;

    const std::string missing = dir_->path + "/missing.mov";
    EXPECT_FALSE(MediaSource::openFile(missing, error));
    EXPECT_EQ(error, "cannot open '" + missing + "': No such file or directory");
    const std::string text = dir_->path + "/notes.mov";
    std::ofstream(text) << "This is not a video.\n";
    EXPECT_FALSE(MediaSource::openFile(text, error));
    EXPECT_NE(error.find(text), std::string::npos) << error;
}

TEST_F(MediaSourceTest, EachFrameCarriesItsOwnShareOfTheSound)
{
    auto source = reopen(clip());
    std::vector<std::vector<float>> sequential(kFrames);
    std::string error;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(source->readAudio(i, sequential[i], error)) << error;
        ASSERT_EQ(sequential[i].size(), 2u * 1600) << "frame " << i;
        // The tone (-12 dBFS sine) survives the AAC round trip.
        EXPECT_NEAR(rms(sequential[i]), 0.1776, i >= 2 && i < kFrames - 2 ? 0.03 : 1.0) << "frame " << i;
    }
}

TEST(AudioTimeline, FrameSharesAddUpExactlyAndLargeIndicesDoNotOverflow)
{
    for (Rate rate : {Rate{30000, 1001}, Rate{25, 1}, Rate{7, 3}}) {
        int64_t total = 0;
        for (int i = 0; i < 1000; ++i)
            total += audioSampleStart(i + 1, rate) - audioSampleStart(i, rate);
        EXPECT_EQ(total, 1000LL * 48000 * rate.den / rate.num) << rate.num << "/" << rate.den;
    }
    const Rate ntsc{30000, 1001};
    EXPECT_EQ(audioSampleStart(INT_MAX, ntsc), static_cast<int64_t>(INT_MAX) * 48000 * 1001 / 30000);
    EXPECT_EQ(audioSampleStart(INT_MAX, Rate{1, INT_MAX}), INT64_MAX);
    EXPECT_EQ(audioSampleStart(-1, ntsc), -1602); // floor, also before the start
    EXPECT_EQ(audioSampleStart(5, Rate{0, 1}), 0);
}

} // namespace
