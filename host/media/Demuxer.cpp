#include "Demuxer.h"

#include <algorithm>
#include <cstring>

namespace brimtone::host {

namespace {

int64_t packetTime(const AVPacket* packet, const AVFormatContext* input)
{
    const int64_t t = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (t == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    return av_rescale_q(t, input->streams[packet->stream_index]->time_base, AV_TIME_BASE_Q);
}

// A packet as read from the input: where it lies, and what it holds.
uint64_t identity(const AVPacket* packet)
{
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    const auto mix = [&hash](uint64_t byte) { hash = (hash ^ byte) * 1099511628211ull; };
    for (int shift = 0; shift < 64; shift += 8)
        mix(uint64_t(packet->pos) >> shift & 0xff);
    for (int i = 0; i < packet->size; ++i)
        mix(packet->data[i]);
    return hash;
}

}  // namespace

void PacketQueue::push(const AVPacket* packet)
{
    std::lock_guard lock(mutex_);
    const auto stream = static_cast<size_t>(packet->stream_index);
    if (latest_.size() <= stream)
        latest_.resize(stream + 1);
    if (packet->dts != AV_NOPTS_VALUE) {
        Latest& latest = latest_[stream];
        if (latest.dts != AV_NOPTS_VALUE && packet->dts < latest.dts)
            return; // read again after a seek back
        if (packet->dts != latest.dts) {
            latest.dts = packet->dts;
            latest.packets.clear();
        }
        if (!latest.packets.insert(identity(packet)).second)
            return; // the same packet, read again
    }
    PacketPtr copy(av_packet_clone(packet));
    if (copy)
        packets_.push_back(std::move(copy));
}

std::vector<PacketPtr> PacketQueue::takeBefore(int64_t until, const AVFormatContext* input)
{
    std::lock_guard lock(mutex_);
    std::vector<PacketPtr> taken;
    // Streams stay in order among themselves; a packet of one stream that is
    // not yet due keeps the later packets of that stream back.
    std::vector<bool> held(input->nb_streams, false);
    for (auto it = packets_.begin(); it != packets_.end();) {
        const auto stream = static_cast<size_t>((*it)->stream_index);
        const int64_t t = packetTime(it->get(), input);
        if (!held[stream] && (t == AV_NOPTS_VALUE || t < until)) {
            taken.push_back(std::move(*it));
            it = packets_.erase(it);
        } else {
            held[stream] = true;
            ++it;
        }
    }
    return taken;
}

std::vector<PacketPtr> PacketQueue::takeAll()
{
    std::lock_guard lock(mutex_);
    std::vector<PacketPtr> taken;
    for (auto& packet : packets_)
        taken.push_back(std::move(packet));
    packets_.clear();
    return taken;
}

Demuxer::Demuxer(InputPtr format, const std::string& path)
    : format_(std::move(format)), watch_(format_.get()), name_(inputName(path)), spare_(av_packet_alloc())
{
}

std::unique_ptr<Demuxer> Demuxer::open(const std::string& path, std::string& error)
{
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        error = inputName(path) + ": out of memory";
        return nullptr;
    }
    // Errors while the header is read count as damage too.
    ErrorWatch opening(raw);
    int r = avformat_open_input(&raw, inputUrl(path).c_str(), nullptr, nullptr);
    if (r < 0) {
        error = "cannot open " + inputName(path) + ": " + avErrorText(r);
        return nullptr;
    }
    std::unique_ptr<Demuxer> demuxer(new Demuxer(InputPtr(raw), path));
    AVFormatContext* format = demuxer->format();
    // A text file would open as ANSI art; that is never a clip.
    if (std::strcmp(format->iformat->name, "tty") == 0) {
        error = inputName(path) + ": not a video file";
        return nullptr;
    }
    r = avformat_find_stream_info(format, nullptr);
    if (r < 0) {
        error = inputName(path) + ": cannot read stream information: " + avErrorText(r);
        return nullptr;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* s = format->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            demuxer->video_ = static_cast<int>(i);
            break;
        }
    }
    if (demuxer->video_ < 0) {
        error = inputName(path) + ": no video stream";
        return nullptr;
    }
    if (!demuxer->spare_) {
        error = inputName(path) + ": out of memory";
        return nullptr;
    }
    if (const std::string damage = opening.firstError(); !damage.empty()) {
        error = inputName(path) + " is damaged: " + damage;
        return nullptr;
    }
    demuxer->carryTo(nullptr);
    return demuxer;
}

bool Demuxer::seekable() const
{
    return format_->pb && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL);
}

void Demuxer::carryTo(std::shared_ptr<PacketQueue> queue)
{
    carried_ = std::move(queue);
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        format_->streams[i]->discard =
            static_cast<int>(i) == video_ || carried_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

int Demuxer::nextVideoPacket(AVPacket* packet)
{
    for (;;) {
        if (ended_)
            return 0;
        const int r = av_read_frame(format_.get(), packet);
        if (r == AVERROR_EOF) {
            ended_ = true;
            return 0;
        }
        if (r < 0)
            return r;
        if (packet->stream_index == video_)
            return 1;
        if (carried_)
            carried_->push(packet);
        av_packet_unref(packet);
    }
}

bool Demuxer::seek(int64_t timestamp)
{
    if (!seekable())
        return false;
    int r = av_seek_frame(format_.get(), video_, timestamp, AVSEEK_FLAG_BACKWARD);
    if (r < 0)
        r = avformat_seek_file(format_.get(), video_, INT64_MIN, timestamp, timestamp, 0);
    ended_ = false;
    return r >= 0;
}

void Demuxer::carryUntil(int64_t until)
{
    if (!carried_)
        return;
    std::vector<bool> done(format_->nb_streams, false);
    size_t remaining = 0;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const bool carried = static_cast<int>(i) != video_ && format_->streams[i]->discard != AVDISCARD_ALL;
        done[i] = !carried;
        remaining += carried ? 1 : 0;
    }
    // Sparse streams (subtitles) may say nothing for long: a few seconds past
    // the end is as far as sound is ever stored from its picture.
    const int64_t limit = until + 5 * AV_TIME_BASE;
    while (remaining > 0 && !ended_) {
        const int r = av_read_frame(format_.get(), spare_.get());
        if (r < 0) {
            ended_ = true;
            break;
        }
        const auto stream = static_cast<size_t>(spare_->stream_index);
        const int64_t t = packetTime(spare_.get(), format_.get());
        if (stream != static_cast<size_t>(video_) && stream < done.size()) {
            carried_->push(spare_.get());
            if (!done[stream] && t != AV_NOPTS_VALUE && t >= until) {
                done[stream] = true;
                --remaining;
            }
        }
        av_packet_unref(spare_.get());
        if (t != AV_NOPTS_VALUE && t > limit)
            break;
    }
}

}  // namespace brimtone::host
