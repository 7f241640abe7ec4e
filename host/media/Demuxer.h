// Reads an input once, in order: video packets go to the one decoder that
// feeds the plug-in, the packets of every other stream to the carried
// streams' queue. Files, pipes and FIFOs alike; it seeks only when asked, and
// an input that cannot seek says so.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "Ffmpeg.h"

namespace brimtone::host {

// Packets of the carried streams, from the thread that demuxes to the one
// that writes. A stream's packets go in once: after a seek back, those
// already queued are not queued again, while packets that only share a time
// (two subtitle lines that start together) are each queued.
class PacketQueue {
public:
    void push(const AVPacket* packet);
    // Takes the packets whose time (in AV_TIME_BASE units, from the input's
    // timestamps) is before `until`, in the order they were read.
    std::vector<PacketPtr> takeBefore(int64_t until, const AVFormatContext* input);
    std::vector<PacketPtr> takeAll();

private:
    // Per stream, the latest time queued and the packets queued at it.
    struct Latest {
        int64_t dts = AV_NOPTS_VALUE;
        std::unordered_set<uint64_t> packets;
    };

    std::mutex mutex_;
    std::deque<PacketPtr> packets_;
    std::vector<Latest> latest_;
};

class Demuxer {
public:
    // "-" is standard input. Picks the first video stream that is not a
    // cover picture.
    static std::unique_ptr<Demuxer> open(const std::string& path, std::string& error);

    AVFormatContext* format() const { return format_.get(); }
    AVStream* video() const { return format_->streams[video_]; }
    int videoIndex() const { return video_; }
    // The input as messages name it.
    const std::string& name() const { return name_; }
    bool seekable() const;

    // Packets of the other streams go to `queue` from now on (nullptr: dropped).
    void carryTo(std::shared_ptr<PacketQueue> queue);

    // The next video packet, in file order. 1: a packet; 0: the end; < 0: an error.
    int nextVideoPacket(AVPacket* packet);
    // Positions at the last key frame at or before `timestamp` (video time base).
    bool seek(int64_t timestamp);
    // Reads on, dropping video, until every carried stream's packets reach
    // `until` (AV_TIME_BASE units) or the input ends: the sound that plays
    // under the last frame.
    void carryUntil(int64_t until);

    // The first error FFmpeg reported while reading, empty when none.
    std::string damage() const { return watch_.firstError(); }
    ErrorWatch& watch() { return watch_; }

private:
    Demuxer(InputPtr format, const std::string& path);

    InputPtr format_;
    ErrorWatch watch_;
    std::string name_;
    int video_ = -1;
    std::shared_ptr<PacketQueue> carried_;
    PacketPtr spare_;
    bool ended_ = false;
};

}  // namespace brimtone::host
