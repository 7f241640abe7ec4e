// Reading frames and sound from a media file (through FFmpeg) or from the
// built-in clip, in the form the plug-in's host callbacks hand out: frames as
// A, R, G, B bytes scaled to the wanted size, and each frame's own audio.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// Sizes that take BT.709 colour; smaller ones take BT.601.
bool isHighDefinition(int width, int height);

// The shape of one stored pixel, width : height.
struct PixelAspect {
    int num = 1;
    int den = 1;
};

// The pixel shape that shows a picture stored at fromW x fromH with pixels
// `aspect` at the same shape once it is stored at toW x toH.
PixelAspect keepShape(PixelAspect aspect, int fromW, int fromH, int toW, int toH);

// FFmpeg's text for an error code, and a path in quotes, for messages.
std::string avErrorText(int code);
std::string quotedPath(const std::string& path);

// The name FFmpeg opens for `path`: a local path is a file whatever it looks
// like ("take:2.mp4" is not a protocol); only "scheme://" names a URL.
std::string localUrl(const std::string& path);

// Quiets FFmpeg's own log to errors only (true) or restores its default.
void setMediaLogQuiet(bool quiet);

// Largest frame edge accepted anywhere in the media layer.
inline constexpr int kMaxFrameEdge = 16384;

class MediaSource {
public:
    // Opens the first video stream of `path` and its first audio stream, if any.
    static std::unique_ptr<MediaSource> openFile(const std::string& path, std::string& error);
    // The generated test clip: 720x480 at 30 fps with a tone.
    static std::unique_ptr<MediaSource> openBuiltin(int frameCount = 150);

    ~MediaSource();
    MediaSource(const MediaSource&) = delete;
    MediaSource& operator=(const MediaSource&) = delete;

    int width() const;
    int height() const;
    int frameCount() const;
    Rate frameRate() const;
    bool hasAudio() const;
    // Square for the built-in clip and for files that do not say.
    PixelAspect pixelAspect() const;
    int audioSampleRate() const { return kAudioSampleRate; }
    // One line for people: name, size, rate, length, codecs.
    std::string description() const;

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
