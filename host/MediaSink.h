// Writing rendered frames and their sound: a video file (.mp4, .mkv, .mov with
// H.264 and AAC) or lossless PNG images (a pattern such as frames/%05d.png,
// numbered from 1; a plain name.png is rewritten with each frame).
#pragma once

#include "MediaSource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brimtone::host {

class MediaSink {
public:
    // The folder of `path` must exist. `withAudio` adds an AAC track to a
    // video file; PNG output has no sound. `aspect` is the shape of a pixel.
    // Messages name `shownPath` when given (the file the user asked for,
    // when `path` is a temporary one).
    static std::unique_ptr<MediaSink> open(const std::string& path, int width, int height, Rate rate,
                                           bool withAudio, std::string& error, PixelAspect aspect = {},
                                           const std::string& shownPath = {});

    // Why `path` names no output this class can write (an unknown type, a PNG
    // pattern without a frame number); empty when it is good.
    static std::string checkName(const std::string& path);

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

    struct Impl;

private:
    explicit MediaSink(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace brimtone::host
