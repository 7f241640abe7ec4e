// Frames decoded ahead of the plug-in: what GetFrame, MixAudio and
// ReleaseFrame hand out while the decoding thread runs on, driven through the
// host's callbacks as a plug-in calls them.
#include "MediaTestSupport.h"
#include "Pipeline.h"
#include "PluginHost.h"
#include "QuickDraw.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}
#include <utility>

using namespace brimtone::host;
using namespace brimtone::host::testing;

namespace {

constexpr int kW = 64, kH = 48, kFrames = 24;

// The frame's pixels as rows of A, R, G, B without padding.
Pixels pixelsOf(GWorldPtr world, int width, int height)
{
    PixMapHandle map = GetGWorldPixMap(world);
    const auto* base = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(map));
    const int rowBytes = GetPixRowBytes(map);
    Pixels pixels;
    for (int y = 0; y < height; ++y)
        pixels.insert(pixels.end(), base + y * rowBytes, base + y * rowBytes + width * 4);
    return pixels;
}

TEST(FramePrefetcher, HeldFramesStayUntouchedAndEveryFrameIsTheClipsOwnInAnyOrder)
{
    TempDir dir;
    const std::string clip = dir.path + "/clip.mkv";
    writeBuiltin(clip, kW, kH, kFrames);
    auto reference = reopen(clip);
    std::vector<Pixels> pictures;
    std::vector<std::vector<float>> sounds(kFrames);
    std::string error;
    for (int i = 0; i < kFrames; ++i) {
        pictures.push_back(readPixels(*reference, i, kW, kH));
        ASSERT_TRUE(reference->readAudio(i, sounds[i], error)) << error;
    }

    auto source = reopen(clip);
    auto host = PluginHost::load(BRIMTONE_BUILT_BUNDLE, error);
    ASSERT_TRUE(host) << error;
    host->attach(source.get(), {});
    FramePrefetcher prefetcher(*source, kFrames, true, 2);
    host->supplyFrames(&prefetcher);
    const HYProcs& procs = *host->params().procs;
    void* const instance = host->params().instance;
    const auto get = [&](int index, int width, int height) {
        std::pair<GWorldPtr, void*> frame{};
        SInt16 volume = 0;
        EXPECT_EQ(procs.GetFrame(instance, index, &frame.first, SInt16(width), SInt16(height), kDVHighQuality,
                                 &volume, &frame.second),
                  kPluginOK)
            << "frame " << index;
        return frame;
    };

    // A plug-in that keeps the first three frames while it walks on through
    // the clip, past more frames than the pool has buffers.
    const std::pair<GWorldPtr, void*> held[] = {get(0, kW, kH), get(1, kW, kH), get(2, kW, kH)};
    for (int i = 3; i < kFrames; ++i) {
        const auto [world, cookie] = get(i, kW, kH);
        ASSERT_TRUE(world);
        EXPECT_EQ(pixelsOf(world, kW, kH), pictures[i]) << "frame " << i;
        EXPECT_EQ(procs.MixAudio(instance, cookie, 256), kPluginOK);
        EXPECT_EQ(host->takeMixedAudio(), sounds[i]) << "frame " << i;
        EXPECT_EQ(procs.ReleaseFrame(instance, cookie), kPluginOK);
    }
    for (int i : {2, 0, 1}) {
        EXPECT_EQ(pixelsOf(held[i].first, kW, kH), pictures[i]) << "held frame " << i;
        EXPECT_EQ(procs.ReleaseFrame(instance, held[i].second), kPluginOK);
    }
    // Two in the pool, one more for each frame held beyond them: none per frame.
    EXPECT_EQ(prefetcher.buffersMade(), 4);

    // Back, forth and at another size: a new start each time, the right frame.
    for (const auto& [index, width, height] : {std::tuple{5, kW, kH}, {17, kW, kH}, {7, 32, 24}, {8, 32, 24}}) {
        const auto [world, cookie] = get(index, width, height);
        ASSERT_TRUE(world);
        EXPECT_EQ(pixelsOf(world, width, height), readPixels(*reference, index, width, height)) << "frame " << index;
        EXPECT_EQ(procs.ReleaseFrame(instance, cookie), kPluginOK);
    }
    const auto kept = get(9, 32, 24);
    host->supplyFrames(nullptr);  // the frame still held goes back
    EXPECT_EQ(host->outstandingFrames(), 0u);
    EXPECT_EQ(procs.ReleaseFrame(instance, kept.second), kPluginBadParams);

    // The frame a render draws into is the one the plug-in fetches next, and
    // the fetch gets that buffer once: a second fetch is the clip's own frame
    // whatever was drawn over the first.
    host->supplyFrames(&prefetcher);
    EXPECT_EQ(prefetcher.lendForOutput(10, kW, kH), nullptr) << "not the next frame in order";
    const auto before = get(10, kW, kH);
    EXPECT_EQ(procs.ReleaseFrame(instance, before.second), kPluginOK);
    EXPECT_EQ(prefetcher.lendForOutput(12, kW, kH), nullptr) << "not the next frame in order";
    GWorldPtr output = prefetcher.lendForOutput(11, kW, kH);
    ASSERT_TRUE(output);
    EXPECT_EQ(pixelsOf(output, kW, kH), pictures[11]);
    const auto shared = get(11, kW, kH);
    EXPECT_EQ(shared.first, output);
    PixMapHandle map = GetGWorldPixMap(output);
    std::memset(GetPixBaseAddr(map), 7, size_t(GetPixRowBytes(map)) * kH);
    const auto again = get(11, kW, kH);
    EXPECT_NE(again.first, output);
    EXPECT_EQ(pixelsOf(again.first, kW, kH), pictures[11]);
    for (const auto& frame : {shared, again})
        EXPECT_EQ(procs.ReleaseFrame(instance, frame.second), kPluginOK);
    // Written, the buffer is decoded into again: frames 12 on, at most four
    // buffers held at a time, come in the pool's buffers.
    prefetcher.outputWritten(output);
    const int made = prefetcher.buffersMade();
    for (int i = 12; i < kFrames; ++i) {
        const auto frame = get(i, kW, kH);
        EXPECT_EQ(pixelsOf(frame.first, kW, kH), pictures[i]) << "frame " << i;
        EXPECT_EQ(procs.ReleaseFrame(instance, frame.second), kPluginOK);
    }
    EXPECT_EQ(prefetcher.buffersMade(), made);
    host->supplyFrames(nullptr);
}

// The sink gets every frame, in order, each as the plug-in renders it from
// its own source frame when called frame by frame without the pipeline; fade
// frames included. The pipeline has the plug-in draw in place over the frame
// it fetches, the straight render into a frame of its own: around a region,
// the pixels left alone are the same. Under ThreadSanitizer this is the run
// of the writing thread.
TEST(RenderPipelined, EveryFrameReachesTheSinkInOrderAsAStraightRenderGivesIt)
{
    TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);  // the plug-in's preferences, fresh
    const std::string clip = dir.path + "/clip.mkv";
    writeBuiltin(clip, kW, kH, kFrames);
    std::string error;
    const std::string saveRegion =
        std::string("'") + BRIMTONE_HOST_EXE + "' settings --region 0.25,0.2,0.7,0.8 >/dev/null";
    ASSERT_EQ(std::system(saveRegion.c_str()), 0);
    auto host = PluginHost::load(BRIMTONE_BUILT_BUNDLE, error);
    ASSERT_TRUE(host) << error;
    const FilterSettings fades{3, 4};
    PluginParams& params = host->params();

    auto source = reopen(clip);
    host->attach(source.get(), fades);
    params.getInfo2.selectedFrames = kFrames;
    ASSERT_EQ(host->call(kPlugGetInfo), kPluginOK);
    auto sink = MediaSink::open(dir.path + "/f%03d.png", kW, kH, source->frameRate(), false, error);
    ASSERT_TRUE(sink) << error;
    RenderJob job;
    job.frameCount = kFrames;
    job.width = kW;
    job.height = kH;
    const RenderOutcome outcome = renderPipelined(*host, *source, *sink, job);
    EXPECT_EQ(outcome.failure, "");
    EXPECT_EQ(outcome.framesRendered, kFrames);
    ASSERT_TRUE(sink->finish(error)) << error;

    auto again = reopen(clip);
    host->attach(again.get(), fades);
    GWorldPtr frame = nullptr;
    const Rect bounds{0, 0, kH, kW};
    ASSERT_EQ(NewGWorld(&frame, 32, &bounds, nullptr, nullptr, 0), noErr);
    params.startFrame = 0;
    params.frameCount = kFrames;
    params.frameRect = bounds;
    params.frame = frame;
    ASSERT_EQ(host->call(kPlugInitialize), kPluginOK);
    auto written = reopen(dir.path + "/f%03d.png");
    ASSERT_EQ(written->frameCount(), kFrames);
    for (int i = 0; i < kFrames; ++i) {
        params.renderFrame = i;
        ASSERT_EQ(host->call(kPlugDoFrame), kPluginOK);
        Pixels straight = pixelsOf(frame, kW, kH);
        for (size_t at = 0; at < straight.size(); at += 4)
            straight[at] = 255;  // a PNG frame keeps no alpha
        EXPECT_EQ(readPixels(*written, i, kW, kH), straight) << "frame " << i;
    }
    host->call(kPlugTerminate);
    DisposeGWorld(frame);
}

// The sound of a file goes around the plug-in: demuxed on the decoding
// thread, written on the encoding thread, every packet as it was.
TEST(RenderPipelined, CarriedSoundReachesTheOutputPacketForPacket)
{
    TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    const std::string clip = dir.path + "/clip.mkv";
    writeBuiltin(clip, kW, kH, kFrames);
    std::string error;
    auto host = PluginHost::load(BRIMTONE_BUILT_BUNDLE, error);
    ASSERT_TRUE(host) << error;
    auto source = reopen(clip);
    host->attach(source.get(), FilterSettings{});
    host->params().getInfo2.selectedFrames = kFrames;
    ASSERT_EQ(host->call(kPlugGetInfo), kPluginOK);
    SinkSpec spec;
    spec.width = kW;
    spec.height = kH;
    spec.rate = source->frameRate();
    spec.input = source.get();
    auto sink = MediaSink::open(dir.path + "/out.mkv", spec, error);
    ASSERT_TRUE(sink) << error;
    RenderJob job;
    job.frameCount = kFrames;
    job.width = kW;
    job.height = kH;
    const RenderOutcome outcome = renderPipelined(*host, *source, *sink, job);
    EXPECT_EQ(outcome.failure, "");
    ASSERT_TRUE(sink->finish(error)) << error;

    const auto soundPackets = [](const std::string& path) {
        std::vector<std::vector<uint8_t>> packets;
        AVFormatContext* format = nullptr;
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return packets;
        avformat_find_stream_info(format, nullptr);
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            if (format->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                packets.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&format);
        return packets;
    };
    const auto in = soundPackets(clip);
    EXPECT_GT(in.size(), 10u);
    EXPECT_EQ(soundPackets(dir.path + "/out.mkv"), in);
}

}  // namespace
