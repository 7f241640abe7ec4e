// What every part of the media layer shares: an owner for each FFmpeg
// object, the texts of messages, and the watch on FFmpeg's own error lines,
// which is how a damaged input makes itself known whatever its container.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace brimtone::host {

struct InputCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct OutputCloser {
    void operator()(AVFormatContext* f) const
    {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE))
            avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct DictionaryFreer {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFreer>;

// FFmpeg's text for an error code, and a path in quotes, for messages.
std::string avErrorText(int code);
std::string quotedPath(const std::string& path);

// The name FFmpeg opens for `path`: a local path is a file whatever it looks
// like ("take:2.mp4" is not a protocol); only "scheme://" names a URL, and
// "-" is standard input or output.
std::string localUrl(const std::string& path);
std::string inputUrl(const std::string& path);
std::string outputUrl(const std::string& path);

// How a path is named in messages: "standard input" for "-".
std::string inputName(const std::string& path);

// Quiets FFmpeg's own log to errors only (true) or restores its default.
void setMediaLogQuiet(bool quiet);
// Called before FFmpeg prints a line of its own (the progress line ends first).
void setMediaLogHook(void (*beforeLine)());

// The first error line FFmpeg wrote about one demuxer or decoder since it
// was watched: that is how damage shows, whatever the container. Watches
// are per object and thread-safe.
class ErrorWatch {
public:
    explicit ErrorWatch(const void* context);
    ~ErrorWatch();
    ErrorWatch(const ErrorWatch&) = delete;
    ErrorWatch& operator=(const ErrorWatch&) = delete;
    // Empty while nothing went wrong.
    std::string firstError() const;
    // Forgets what was seen, as after a seek whose first frames may lack
    // their references.
    void clear();
    void watchAlso(const void* context);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace brimtone::host
