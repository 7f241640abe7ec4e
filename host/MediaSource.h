// The clip the plug-in renders: a media file (or standard input, a pipe, a
// FIFO) read once through the media layer, or the built-in clip, in the form
// the plug-in's host callbacks hand out: upright frames as A, R, G, B bytes
// scaled to the wanted size. A file's other streams are carried to the output
// by the media sink; the built-in clip's frames carry their own sound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/Convert.h"
#include "media/Demuxer.h"
#include "media/Encoder.h"
#include "media/VideoDecoder.h"

namespace brimtone::host {

struct Rate {
    int num = 0;
    int den = 1;
};

// Audio handed out and taken in is always 48000 Hz stereo float, interleaved
// (left, right, left, right, ...).
inline constexpr int kAudioSampleRate = 48000;
inline constexpr int kAudioChannels = 2;

// First output audio sample of frame `index` at `rate`:
// floor(index * 48000 * den / num), so consecutive frames tile the timeline
// exactly. Frame i owns [audioSampleStart(i), audioSampleStart(i + 1)).
int64_t audioSampleStart(int64_t index, Rate rate);

// The shape of one stored pixel, width : height.
struct PixelAspect {
    int num = 1;
    int den = 1;
};

// The pixel shape that shows a picture stored at fromW x fromH with pixels
// `aspect` at the same shape once it is stored at toW x toH.
PixelAspect keepShape(PixelAspect aspect, int fromW, int fromH, int toW, int toH);

// Largest frame edge accepted anywhere in the media layer.
inline constexpr int kMaxFrameEdge = 16384;

class MediaSource {
public:
    // Opens the first video stream of `path` ("-": standard input).
    static std::unique_ptr<MediaSource> openFile(const std::string& path, std::string& error);
    // The generated test clip: 720x480 at 30 fps with a tone.
    static std::unique_ptr<MediaSource> openBuiltin(int frameCount = 150);

    ~MediaSource();
    MediaSource(const MediaSource&) = delete;
    MediaSource& operator=(const MediaSource&) = delete;

    // The upright picture's size.
    int width() const;
    int height() const;
    // Frames of the clip (of the part, once limited).
    int frameCount() const;
    Rate frameRate() const;
    bool hasAudio() const;
    // A file's sound goes to the output as its own streams, not through the
    // frames (readAudio answers it for the plug-in's MixAudio outside renders).
    bool soundIsCarried() const;

    // Only the frames shown from `from` up to `to` (AV_TIME_BASE units as
    // players count; to 0: the end) make the clip; an error when that is none.
    bool limit(int64_t from, int64_t to, std::string& error);
    // Where the part starts, in AV_TIME_BASE units of the input's timestamps;
    // 0 when the whole input is the clip.
    int64_t partOffset() const;

    // Frame `index`'s timestamp and duration in timeBase().
    FrameTime frameTime(int index) const;
    AVRational timeBase() const;
    // The input's shape, depth and colour, for an encoder to keep.
    VideoShape shape() const;
    // The demuxed input and its video stream, for the muxer; nullptr for
    // the built-in clip.
    const AVFormatContext* container() const;
    int videoStream() const;
    // The packets of every other stream go to `queue` as the input is read.
    void carryTo(std::shared_ptr<PacketQueue> queue);
    // Reads on until the carried streams reach `until` (AV_TIME_BASE units).
    void carryUntil(int64_t until);
    // Square for the built-in clip and for files that do not say.
    PixelAspect pixelAspect() const;
    int audioSampleRate() const { return kAudioSampleRate; }

    // Decodes frame `index` (0-based) and scales it into `dst` as A, R, G, B
    // bytes per pixel with alpha 255; rows are `rowBytes` apart.
    bool readFrame(int index, int width, int height, bool highQuality, uint8_t* dst, int rowBytes,
                   std::string& error);
    // As readFrame at low quality, but a frame far from where the decoder
    // stands may come as the key frame before it, which decodes at once: a
    // picture for scrubbing, never for rendering.
    bool readNearbyFrame(int index, int width, int height, uint8_t* dst, int rowBytes, std::string& error);

    // The sound of frame `index`: 48000 Hz stereo interleaved float, exactly
    // 2 * (audioSampleStart(index + 1) - audioSampleStart(index)) values, or
    // none for a source without audio. Missing audio reads as silence.
    bool readAudio(int index, std::vector<float>& samples, std::string& error);

    struct Impl;

private:
    explicit MediaSource(std::unique_ptr<Impl> impl);
    bool read(int index, int width, int height, bool highQuality, bool nearby, uint8_t* dst, int rowBytes,
              std::string& error);
    std::unique_ptr<Impl> impl_;
};

} // namespace brimtone::host
