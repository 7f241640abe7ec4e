// The input's pictures, addressed by frame number: decoded in order from the
// demuxer, each with its own timestamp and duration (variable frame rates
// stay as they are), turned upright as the input's display matrix asks.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Demuxer.h"

namespace brimtone::host {

struct FrameTime {
    int64_t pts = 0;       // in the decoder's time base
    int64_t duration = 0;  // likewise
};

class VideoDecoder {
public:
    // Seekable inputs are indexed first (their packets read, not decoded), so
    // that the number of frames and each frame's time are known exactly and a
    // file that ends before its header says, or that lost packets, is found
    // before anything is written. Other inputs go by what their header says.
    static std::unique_ptr<VideoDecoder> open(Demuxer& demuxer, std::string& error);

    // The upright picture's size.
    int width() const { return (quarterTurns_ & 1) ? codec_->height : codec_->width; }
    int height() const { return (quarterTurns_ & 1) ? codec_->width : codec_->height; }
    int quarterTurns() const { return quarterTurns_; }
    bool flipped() const { return flip_; }
    AVRational rate() const { return rate_; }
    AVRational timeBase() const { return demuxer_.video()->time_base; }
    AVRational sampleAspect() const { return aspect_; }
    const AVCodecContext* codec() const { return codec_.get(); }
    // Frames of the part (all of them unless limited).
    int frameCount() const { return count_; }
    // Whether frameCount() is known rather than estimated from the header.
    bool exactCount() const { return !table_.empty() || exactCount_; }

    // Only the frames shown from `from` up to `to` (AV_TIME_BASE units from
    // the start of the input, as players count; to <= 0 means the end) make
    // the clip. False when the part holds no frame.
    bool limit(int64_t from, int64_t to);
    // The time of the part's start in AV_TIME_BASE units from the input's
    // start, and the first frame's timestamp.
    int64_t partStartPts() const;

    // The decoded picture of frame `index` of the part, as stored (not yet turned).
    const AVFrame* frame(int index, std::string& error);
    // The frame at `index` when the decoder reaches it at once; else the key
    // frame at or before it, which decodes alone: what an editor shows while
    // scrubbing through long stretches between key frames.
    const AVFrame* nearbyFrame(int index, std::string& error);
    // Frame `index`'s time; known once it was decoded, or from the index.
    FrameTime time(int index) const;

private:
    explicit VideoDecoder(Demuxer& demuxer) : demuxer_(demuxer) {}
    bool index(std::string& error);
    bool decodeNext(std::string& error, int wanted);
    int64_t indexOf(int64_t pts) const;
    std::string damaged(int index, const std::string& line) const;
    void record(int64_t index, const AVFrame* frame);

    Demuxer& demuxer_;
    CodecPtr codec_;
    PacketPtr packet_;
    FramePtr current_, next_;
    std::vector<int64_t> table_;  // every frame's timestamp, in order, when indexed
    int64_t first_ = 0;           // the part's first frame, counted from the input's first
    int count_ = 0;
    int64_t partEnd_ = INT64_MAX; // pts where the part ends, when not indexed
    int64_t startPts_ = 0;
    bool exactCount_ = false;
    AVRational rate_{25, 1};
    AVRational aspect_{0, 1};
    int quarterTurns_ = 0;
    bool flip_ = false;
    int64_t currentIndex_ = -1;  // of the input, not of the part
    int64_t decodedIndex_ = -1;  // the last frame taken from the decoder, without an index
    bool draining_ = false, seeking_ = false;
    mutable std::mutex timesMutex_;
    std::vector<FrameTime> times_;  // by index of the part, as decoded
};

}  // namespace brimtone::host
