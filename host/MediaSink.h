// Writing rendered frames: a video file or standard output (the container by
// the name's extension or --format, the encoder the user chose) with every
// other stream of the input carried into it, or lossless PNG images (a
// pattern such as frames/%05d.png, numbered from 1; a plain name.png is
// rewritten with each frame).
#pragma once

#include "MediaSource.h"
#include "media/Encoding.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brimtone::host {

struct SinkSpec {
    int width = 0, height = 0;
    Rate rate;
    PixelAspect aspect;
    // The frames' own sound (the built-in clip's) as an AAC track.
    bool withAudio = false;
    // The clip rendered: its other streams, tags, chapters, timing, depth
    // and colour go into the output. Must outlive the sink.
    MediaSource* input = nullptr;
    // False leaves the input's sound tracks out (a render without sound).
    bool withSound = true;
    Encoding encoding;
    // The file the user asked for, when the path is a temporary one.
    std::string shownPath;
};

class MediaSink {
public:
    // The folder of `path` must exist. An error that starts with "--" names
    // an option that does not fit this input or container.
    static std::unique_ptr<MediaSink> open(const std::string& path, const SinkSpec& spec, std::string& error);
    static std::unique_ptr<MediaSink> open(const std::string& path, int width, int height, Rate rate,
                                           bool withAudio, std::string& error, PixelAspect aspect = {},
                                           const std::string& shownPath = {});

    // Why `path` with `encoding` names no output this class can write (an
    // unknown type, a codec the container cannot hold, a PNG pattern without
    // a frame number); empty when it is good. Nothing is opened.
    static std::string checkName(const std::string& path, const Encoding& encoding = {});

    // Without finish() the output is closed unfinished.
    ~MediaSink();
    MediaSink(const MediaSink&) = delete;
    MediaSink& operator=(const MediaSink&) = delete;

    // One frame of A, R, G, B bytes (alpha ignored) and its sound: 48000 Hz
    // stereo interleaved float. The frame owns exactly
    // audioSampleStart(i + 1) - audioSampleStart(i) samples; missing ones are
    // silence and extra ones are dropped, so sound stays in step with the picture.
    bool writeFrame(const uint8_t* argb, int rowBytes, const std::vector<float>* audio, std::string& error);

    // Flushes the encoders and completes the file. Must be called once.
    bool finish(std::string& error);

    int framesWritten() const;
    // Something the user may want to know, such as a substitute encoder; or empty.
    const std::string& note() const;
    // One line per stream of the input that is converted or left out.
    const std::vector<std::string>& streamLines() const;

    struct Impl;

private:
    explicit MediaSink(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace brimtone::host
