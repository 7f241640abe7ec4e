#include "VideoDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/display.h>
}

namespace brimtone::host {

namespace {

constexpr int kMaxEdge = 16384;
constexpr int64_t kMaxFrames = 1 << 30;

int64_t bestPts(const AVFrame* f)
{
    return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
}

// A stream's own length: FFmpeg's, or the DURATION tag Matroska muxers write
// (hh:mm:ss.nnnnnnnnn), in AV_TIME_BASE units; 0 when it does not say.
int64_t statedLength(const AVStream* st)
{
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q);
    const AVDictionaryEntry* tag = av_dict_get(st->metadata, "DURATION", nullptr, 0);
    double hours = 0, minutes = 0, seconds = 0;
    if (!tag || std::sscanf(tag->value, "%lf:%lf:%lf", &hours, &minutes, &seconds) != 3) return 0;
    // The file's text: only a sane length becomes a number of microseconds.
    const double length = (hours * 60.0 + minutes) * 60.0 + seconds;
    if (!std::isfinite(length) || length <= 0 || length > 1e9) return 0;
    return static_cast<int64_t>(length * AV_TIME_BASE);
}

}  // namespace

std::unique_ptr<VideoDecoder> VideoDecoder::open(Demuxer& demuxer, std::string& error)
{
    std::unique_ptr<VideoDecoder> d(new VideoDecoder(demuxer));
    AVStream* st = demuxer.video();
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        error = demuxer.name() + ": no decoder for video codec " + avcodec_get_name(st->codecpar->codec_id);
        return nullptr;
    }
    d->codec_.reset(avcodec_alloc_context3(codec));
    d->packet_.reset(av_packet_alloc());
    d->current_.reset(av_frame_alloc());
    d->next_.reset(av_frame_alloc());
    if (!d->codec_ || !d->packet_ || !d->current_ || !d->next_ ||
        avcodec_parameters_to_context(d->codec_.get(), st->codecpar) < 0) {
        error = demuxer.name() + ": out of memory";
        return nullptr;
    }
    d->codec_->pkt_timebase = st->time_base;
    d->codec_->thread_count = 0;
    // The decoder's threads log through copies of the context, which keep this.
    d->codec_->opaque = d->codec_.get();
    demuxer.watch().watchAlso(d->codec_.get());
    int r = avcodec_open2(d->codec_.get(), codec, nullptr);
    if (r < 0) {
        error = demuxer.name() + ": cannot open the video decoder: " + avErrorText(r);
        return nullptr;
    }
    if (d->codec_->width <= 0 || d->codec_->height <= 0 || d->codec_->width > kMaxEdge ||
        d->codec_->height > kMaxEdge) {
        error = demuxer.name() + ": unusable picture size " + std::to_string(d->codec_->width) + "x" +
                std::to_string(d->codec_->height);
        return nullptr;
    }
    AVRational rate = av_guess_frame_rate(demuxer.format(), st, nullptr);
    if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000.0 || av_q2d(rate) < 0.1)
        rate = AVRational{25, 1};
    av_reduce(&rate.num, &rate.den, rate.num, rate.den, 1 << 30);
    d->rate_ = rate;
    AVRational sar = av_guess_sample_aspect_ratio(demuxer.format(), st, nullptr);
    if (sar.num > 0 && sar.den > 0 && av_reduce(&sar.num, &sar.den, sar.num, sar.den, 1 << 16) >= 0 && sar.num > 0)
        d->aspect_ = sar;
    size_t size = 0;
    if (const auto* matrix = reinterpret_cast<const int32_t*>(
            av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size));
        matrix && size >= 9 * sizeof(int32_t)) {
        int32_t m[9];
        std::copy(matrix, matrix + 9, m);
        // A mirrored picture: undo the mirror, then read the turn.
        d->flip_ = static_cast<int64_t>(m[0]) * m[4] - static_cast<int64_t>(m[1]) * m[3] < 0;
        if (d->flip_)
            m[0] = -m[0], m[3] = -m[3];
        const double angle = av_display_rotation_get(m);
        if (!std::isnan(angle)) {
            // The matrix turns counter-clockwise; players turn the picture back.
            const long turns = std::lround(-angle / 90.0);
            d->quarterTurns_ = static_cast<int>(((turns % 4) + 4) % 4);
        }
    }
    if (!d->index(error))
        return nullptr;
    return d;
}

std::string VideoDecoder::damaged(int index, const std::string& line) const
{
    return demuxer_.name() + " is damaged at frame " + std::to_string(index) + ": " + line;
}

// Every video packet's timestamp, read without decoding; then back to the start.
bool VideoDecoder::index(std::string& error)
{
    AVFormatContext* format = demuxer_.format();
    AVStream* st = demuxer_.video();
    if (demuxer_.seekable()) {
        std::vector<AVDiscard> discards;
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            discards.push_back(format->streams[i]->discard);
            if (static_cast<int>(i) != demuxer_.videoIndex())
                format->streams[i]->discard = AVDISCARD_ALL;
        }
        bool timed = true;
        int64_t end = AV_NOPTS_VALUE;
        int r = 0;
        while ((r = av_read_frame(format, packet_.get())) >= 0) {
            if (packet_->stream_index == demuxer_.videoIndex() && !(packet_->flags & AV_PKT_FLAG_DISCARD)) {
                if (packet_->pts == AV_NOPTS_VALUE)
                    timed = false;
                else
                    end = std::max(end, packet_->pts + std::max<int64_t>(packet_->duration, 0));
                table_.push_back(packet_->pts);
            }
            av_packet_unref(packet_.get());
            if (const std::string damage = demuxer_.damage(); !damage.empty()) {
                error = damaged(static_cast<int>(table_.size()), damage);
                return false;
            }
            if (table_.size() >= static_cast<size_t>(kMaxFrames))
                break;
        }
        if (r != AVERROR_EOF && r < 0 && table_.size() < static_cast<size_t>(kMaxFrames)) {
            error = damaged(static_cast<int>(table_.size()), avErrorText(r));
            return false;
        }
        for (unsigned i = 0; i < format->nb_streams; ++i)
            format->streams[i]->discard = discards[i];
        const int64_t promised = st->nb_frames;
        if (promised > static_cast<int64_t>(table_.size())) {
            error = demuxer_.name() + " ends after frame " + std::to_string(table_.size()) + " of the " +
                    std::to_string(promised) + " it promises";
            return false;
        }
        const int64_t length = statedLength(st);
        if (timed && !table_.empty() && length > 0) {
            const int64_t first = *std::min_element(table_.begin(), table_.end());
            const int64_t reached = av_rescale_q(end - first, st->time_base, AV_TIME_BASE_Q);
            // A frame and a tenth of a second of slack for muxers' rounding.
            const int64_t slack = av_rescale_q(1, av_inv_q(rate_), AV_TIME_BASE_Q) + AV_TIME_BASE / 10;
            if (reached + slack < length) {
                error = demuxer_.name() + " ends after frame " + std::to_string(table_.size()) + " (" +
                        std::to_string(reached / 1000) + " ms) of the " + std::to_string(length / 1000) +
                        " ms it promises";
                return false;
            }
        }
        const int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
        if (avformat_seek_file(format, -1, INT64_MIN, start, start, 0) < 0 &&
            avformat_seek_file(format, -1, INT64_MIN, INT64_MIN, INT64_MIN, AVSEEK_FLAG_BYTE) < 0) {
            error = demuxer_.name() + ": cannot go back to its start";
            return false;
        }
        avcodec_flush_buffers(codec_.get());
        if (!timed) { // frames without timestamps: counted, then taken in the order they come
            count_ = static_cast<int>(table_.size());
            exactCount_ = true;
            table_.clear();
            startPts_ = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
            if (count_ > 0)
                return true;
        }
        std::sort(table_.begin(), table_.end());
        if (!table_.empty()) {
            startPts_ = table_.front();
            count_ = static_cast<int>(table_.size());
            return true;
        }
    }
    // Not indexed: the header says how long the clip is.
    exactCount_ = st->nb_frames > 0;
    int64_t n = st->nb_frames;
    if (n <= 0) {
        int64_t length = statedLength(st);
        if (length <= 0 && format->duration != AV_NOPTS_VALUE)
            length = format->duration;
        // Containers state the longest stream's length, which the sound may
        // make longer than the picture by a fraction of a frame: whole frames only.
        n = av_rescale_q_rnd(length + AV_TIME_BASE / 1000, AV_TIME_BASE_Q, av_inv_q(rate_), AV_ROUND_DOWN);
    }
    startPts_ = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    count_ = static_cast<int>(std::clamp<int64_t>(n, 0, kMaxFrames));
    if (count_ <= 0) {
        error = demuxer_.name() + ": the video stream has no frames, or does not say how many";
        return false;
    }
    return true;
}

bool VideoDecoder::limit(int64_t from, int64_t to)
{
    const AVRational tb = demuxer_.video()->time_base;
    const int64_t origin = demuxer_.format()->start_time != AV_NOPTS_VALUE ? demuxer_.format()->start_time
                                                                            : av_rescale_q(startPts_, tb, AV_TIME_BASE_Q);
    const int64_t fromPts = av_rescale_q_rnd(origin + from, AV_TIME_BASE_Q, tb, AV_ROUND_NEAR_INF);
    const int64_t toPts = to > 0 ? av_rescale_q_rnd(origin + to, AV_TIME_BASE_Q, tb, AV_ROUND_NEAR_INF) : INT64_MAX;
    if (!table_.empty()) {
        first_ = std::lower_bound(table_.begin(), table_.end(), fromPts) - table_.begin();
        const int64_t end = std::lower_bound(table_.begin(), table_.end(), toPts) - table_.begin();
        count_ = static_cast<int>(std::max<int64_t>(end - first_, 0));
    } else {
        // Estimated from the rate: only the frames before `from` are skipped,
        // by their timestamps, as they are decoded.
        startPts_ = std::max(startPts_, fromPts);
        partEnd_ = toPts;
        const int64_t seconds = (to > 0 ? std::min<int64_t>(to, av_rescale_q(count_, av_inv_q(rate_), AV_TIME_BASE_Q))
                                         : av_rescale_q(count_, av_inv_q(rate_), AV_TIME_BASE_Q)) - from;
        count_ = static_cast<int>(std::clamp<int64_t>(
            av_rescale_q_rnd(seconds, AV_TIME_BASE_Q, av_inv_q(rate_), AV_ROUND_NEAR_INF), 0, kMaxFrames));
        exactCount_ = false;
    }
    return count_ > 0;
}

int64_t VideoDecoder::partStartPts() const
{
    if (!table_.empty() && first_ < static_cast<int64_t>(table_.size()))
        return table_[first_];
    return startPts_;
}

int64_t VideoDecoder::indexOf(int64_t pts) const
{
    const auto at = std::lower_bound(table_.begin(), table_.end(), pts);
    return at - table_.begin();
}

// Takes the next picture from the decoder into next_; `wanted` names the
// frame asked for in messages. False at the end (error empty) or on an error.
bool VideoDecoder::decodeNext(std::string& error, int wanted)
{
    for (;;) {
        int r = avcodec_receive_frame(codec_.get(), next_.get());
        if (r == 0) {
            if (!seeking_) {
                if (const std::string damage = demuxer_.damage(); !damage.empty()) {
                    error = damaged(wanted, damage);
                    return false;
                }
            }
            return true;
        }
        if (r == AVERROR_EOF)
            return false;
        if (r != AVERROR(EAGAIN)) {
            error = damaged(wanted, avErrorText(r));
            return false;
        }
        if (draining_)
            return false;
        r = demuxer_.nextVideoPacket(packet_.get());
        if (r < 0) {
            error = damaged(wanted, avErrorText(r));
            return false;
        }
        if (r == 0) {
            draining_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        r = avcodec_send_packet(codec_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (r < 0 && r != AVERROR(EAGAIN) && !seeking_) {
            error = damaged(wanted, avErrorText(r));
            return false;
        }
        if (!seeking_) {
            if (const std::string damage = demuxer_.damage(); !damage.empty()) {
                error = damaged(wanted, damage);
                return false;
            }
        }
    }
}

const AVFrame* VideoDecoder::frame(int index, std::string& error)
{
    if (index < 0 || index >= count_) {
        error = demuxer_.name() + ": frame " + std::to_string(index) + " is outside the clip (" +
                std::to_string(count_) + (count_ == 1 ? " frame)" : " frames)");
        return nullptr;
    }
    const int64_t k = first_ + index;
    if (k == currentIndex_)
        return current_.get();
    constexpr int kMaxDecodeAhead = 48;
    const bool behind = k < currentIndex_;
    const bool farAhead = !table_.empty() && k - std::max<int64_t>(currentIndex_, 0) > kMaxDecodeAhead;
    if (behind || (farAhead && demuxer_.seekable()) || (currentIndex_ < 0 && decodedIndex_ >= 0)) {
        if (!demuxer_.seekable()) {
            error = demuxer_.name() + ": frame " + std::to_string(index) +
                    " lies behind what was read, and the input cannot seek back";
            return nullptr;
        }
        const int64_t target = table_.empty() ? startPts_ : table_[k];
        if (!demuxer_.seek(target)) {
            error = demuxer_.name() + ": cannot seek to frame " + std::to_string(index);
            return nullptr;
        }
        avcodec_flush_buffers(codec_.get());
        draining_ = false;
        seeking_ = true;
        currentIndex_ = -1;
        decodedIndex_ = -1;
    }
    for (;;) {
        if (!decodeNext(error, index)) {
            if (!error.empty())
                return nullptr;
            // A length worked out from the duration may be a frame long.
            if (!exactCount() && currentIndex_ >= 0 && currentIndex_ + 1 == k && index == count_ - 1)
                return current_.get();
            error = demuxer_.name() + ": frame " + std::to_string(index) + " cannot be decoded: the input ends" +
                    (currentIndex_ >= 0 ? " after frame " + std::to_string(currentIndex_ - first_) : "") +
                    " of the " + std::to_string(count_) + " it promises";
            return nullptr;
        }
        const int64_t pts = bestPts(next_.get());
        int64_t at = 0;
        if (!table_.empty()) {
            at = pts != AV_NOPTS_VALUE ? indexOf(pts) : currentIndex_ + 1;
        } else {
            if (pts != AV_NOPTS_VALUE && (pts < startPts_ || pts >= partEnd_)) {
                if (pts >= partEnd_)
                    draining_ = true;
                av_frame_unref(next_.get());
                if (pts >= partEnd_) {
                    error = demuxer_.name() + ": frame " + std::to_string(index) + " is past the part's end";
                    return nullptr;
                }
                continue;
            }
            at = ++decodedIndex_;
        }
        av_frame_unref(current_.get());
        av_frame_move_ref(current_.get(), next_.get());
        currentIndex_ = at;
        if (at >= first_)
            record(at - first_, current_.get());
        if (at >= k) {
            if (seeking_) {
                seeking_ = false;
                demuxer_.watch().clear();
            }
            return current_.get();
        }
    }
}

const AVFrame* VideoDecoder::nearbyFrame(int index, std::string& error)
{
    constexpr int kQuickSteps = 2;
    const int64_t k = first_ + index;
    const bool reachable = currentIndex_ == k || (currentIndex_ >= 0 && currentIndex_ < k && k - currentIndex_ <= kQuickSteps);
    if (reachable || index == 0 || index < 0 || index >= count_ || table_.empty() || !demuxer_.seekable())
        return frame(index, error);
    // A frame decoded since the key frame before `index`, and not past it,
    // is as near as a seek would get: no work at all.
    const AVIndexEntry* key =
        avformat_index_get_entry_from_timestamp(demuxer_.video(), table_[k], AVSEEK_FLAG_BACKWARD);
    if (currentIndex_ >= 0 && currentIndex_ < k && bestPts(current_.get()) != AV_NOPTS_VALUE && key &&
        (key->flags & AVINDEX_KEYFRAME) && bestPts(current_.get()) >= key->timestamp)
        return current_.get();
    if (!demuxer_.seek(table_[k]))
        return frame(index, error);
    avcodec_flush_buffers(codec_.get());
    draining_ = false;
    seeking_ = true;
    currentIndex_ = -1;
    decodedIndex_ = -1;
    if (!decodeNext(error, index) || bestPts(next_.get()) == AV_NOPTS_VALUE) {
        if (!error.empty())
            return nullptr;
        return frame(index, error);
    }
    const int64_t at = indexOf(bestPts(next_.get()));
    av_frame_unref(current_.get());
    av_frame_move_ref(current_.get(), next_.get());
    currentIndex_ = at;
    seeking_ = false;
    demuxer_.watch().clear();
    if (at > k)
        return frame(index, error); // the seek landed past it
    return current_.get();
}

void VideoDecoder::record(int64_t index, const AVFrame* f)
{
    if (index < 0 || index >= count_)
        return;
    FrameTime t;
    t.pts = bestPts(f);
    const int64_t k = first_ + index;
    if (!table_.empty() && k + 1 < static_cast<int64_t>(table_.size()))
        t.duration = table_[k + 1] - table_[k];
    else if (f->pkt_duration > 0)
        t.duration = f->pkt_duration;
    else
        t.duration = std::max<int64_t>(av_rescale_q(1, av_inv_q(rate_), demuxer_.video()->time_base), 1);
    std::lock_guard lock(timesMutex_);
    if (times_.size() <= static_cast<size_t>(index))
        times_.resize(static_cast<size_t>(index) + 1, FrameTime{AV_NOPTS_VALUE, 0});
    times_[index] = t;
}

FrameTime VideoDecoder::time(int index) const
{
    {
        std::lock_guard lock(timesMutex_);
        if (index >= 0 && static_cast<size_t>(index) < times_.size() && times_[index].pts != AV_NOPTS_VALUE)
            return times_[index];
    }
    const AVRational tb = demuxer_.video()->time_base;
    const int64_t step = std::max<int64_t>(av_rescale_q(1, av_inv_q(rate_), tb), 1);
    const int64_t k = first_ + index;
    if (index >= 0 && k < static_cast<int64_t>(table_.size()))
        return FrameTime{table_[k], k + 1 < static_cast<int64_t>(table_.size()) ? table_[k + 1] - table_[k] : step};
    return FrameTime{partStartPts() + index * step, step};
}

}  // namespace brimtone::host
