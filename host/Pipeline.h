// A render in three stages that overlap: decoding runs ahead of the plug-in
// into a small pool of reused frames, encoding runs behind it on its own
// thread. The plug-in itself is called on the caller's thread only, in the
// order of a rendering pass, and keeps every frame it fetched until it
// releases it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "PluginHost.h"

namespace brimtone::host {

class MediaSink;
class MediaSource;

// Decodes the frames of `source` in order on a thread of its own, ahead of
// the plug-in, into `depth` buffers that are used again once given back. A
// request out of that order (another frame, size or quality) starts the
// decoding again from there. Frames that the plug-in holds are never written
// to; when it holds them all, one more buffer is made.
class FramePrefetcher final : public FrameSupply {
public:
    // Frames 0 .. frameCount - 1 are decoded ahead; `withAudio` reads each
    // frame's sound with it.
    FramePrefetcher(MediaSource& source, int frameCount, bool withAudio, int depth);
    ~FramePrefetcher() override;
    FramePrefetcher(const FramePrefetcher&) = delete;
    FramePrefetcher& operator=(const FramePrefetcher&) = delete;

    Frame take(int index, int width, int height, bool highQuality) override;
    void giveBack(GWorldPtr world) override;

    // The buffer of frame `index` when it is the next one decoded, at this
    // size, for the render to hand the plug-in as the frame to draw into:
    // when the plug-in then fetches that frame it gets the same buffer and
    // draws in place, not copying the pixels it leaves alone. Held until
    // outputWritten(), which any thread may call. Nil when the frame is not
    // there in order (the plug-in's own fetch then decodes it, or says why not).
    GWorldPtr lendForOutput(int index, int width, int height);
    void outputWritten(GWorldPtr world);

    // Buffers made so far, for the tests.
    int buffersMade() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

struct RenderJob {
    int frameCount = 0;
    int width = 0;
    int height = 0;
    bool proxy = false;
    // Asked before each frame; true stops the render after the frames done.
    std::function<bool()> stopRequested;
    // Told the number of frames rendered so far.
    std::function<void(int)> progress;
};

struct RenderOutcome {
    int framesRendered = 0;  // all of them written to the sink
    bool stopped = false;
    std::string failure;  // empty when every frame asked for is in the sink
};

// Runs one rendering pass of the plug-in over frames 0 .. frameCount - 1 of
// `source` (kPlugInitialize, kPlugDoFrame for each, kPlugTerminate) and hands
// the rendered frames and their sound to `sink` in order. The plug-in must
// have been described (kPlugGetInfo) and attached to `source`. The sink is
// left open: the caller finishes it, or drops it after a failure.
RenderOutcome renderPipelined(PluginHost& host, MediaSource& source, MediaSink& sink, const RenderJob& job);

}  // namespace brimtone::host
