#include "MediaSource.h"

#include "BuiltinClip.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace brimtone::host {

int64_t audioSampleStart(int64_t index, Rate rate)
{
    if (rate.num <= 0 || rate.den <= 0)
        return 0;
    // 128-bit so that any 32-bit index and rate multiply without overflow.
    const __int128 n = static_cast<__int128>(index) * kAudioSampleRate * rate.den;
    __int128 q = n / rate.num;
    if (n % rate.num != 0 && n < 0)
        --q; // floor, not truncation, for negative indices
    return static_cast<int64_t>(std::clamp<__int128>(q, INT64_MIN, INT64_MAX));
}

PixelAspect keepShape(PixelAspect aspect, int fromW, int fromH, int toW, int toH)
{
    if (aspect.num <= 0 || aspect.den <= 0 || fromW <= 0 || fromH <= 0 || toW <= 0 || toH <= 0)
        return {};
    PixelAspect shaped;
    av_reduce(&shaped.num, &shaped.den, int64_t(aspect.num) * fromW * toH, int64_t(aspect.den) * fromH * toW,
              1 << 16);
    return shaped.num > 0 && shaped.den > 0 ? shaped : PixelAspect{};
}

namespace {



// The sound of a file for the plug-in's MixAudio outside a render (a render
// carries the file's sound tracks as they are): a demuxer and decoder of its
// own, opened when first asked, on files only.
class StreamDecoder {
public:
    bool open(const std::string& path, AVMediaType type, std::string& error)
    {
        AVFormatContext* raw = nullptr;
        int r = avformat_open_input(&raw, localUrl(path).c_str(), nullptr, nullptr);
        if (r < 0) {
            error = "cannot open " + quotedPath(path) + ": " + avErrorText(r);
            return false;
        }
        format_.reset(raw);
        // A text file would open as ANSI art; that is never a clip.
        if (std::strcmp(format_->iformat->name, "tty") == 0) {
            error = quotedPath(path) + ": not a video file";
            return false;
        }
        r = avformat_find_stream_info(format_.get(), nullptr);
        if (r < 0) {
            error = quotedPath(path) + ": cannot read stream information: " + avErrorText(r);
            return false;
        }
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            const AVStream* s = format_->streams[i];
            if (s->codecpar->codec_type != type)
                continue;
            if (type == AVMEDIA_TYPE_VIDEO && (s->disposition & AV_DISPOSITION_ATTACHED_PIC))
                continue;
            stream_ = static_cast<int>(i);
            break;
        }
        const char* kind = type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
        if (stream_ < 0) {
            error = quotedPath(path) + ": no " + std::string(kind) + " stream";
            return false;
        }
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            format_->streams[i]->discard = static_cast<int>(i) == stream_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

        const AVCodecParameters* par = stream()->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) {
            error = quotedPath(path) + ": no decoder for " + std::string(kind) + " codec " +
                    avcodec_get_name(par->codec_id);
            return false;
        }
        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_ || avcodec_parameters_to_context(codec_.get(), par) < 0) {
            error = quotedPath(path) + ": out of memory";
            return false;
        }
        codec_->pkt_timebase = stream()->time_base;
        codec_->thread_count = 0;
        r = avcodec_open2(codec_.get(), codec, nullptr);
        if (r < 0) {
            error = quotedPath(path) + ": cannot open the " + std::string(kind) + " decoder: " + avErrorText(r);
            return false;
        }
        packet_.reset(av_packet_alloc());
        if (!packet_) {
            error = quotedPath(path) + ": out of memory";
            return false;
        }
        return true;
    }

    AVStream* stream() const { return format_->streams[stream_]; }
    AVCodecContext* codec() const { return codec_.get(); }

    // 1: a frame; 0: the stream has ended; < 0: an error.
    int receive(AVFrame* frame)
    {
        for (;;) {
            int r = avcodec_receive_frame(codec_.get(), frame);
            if (r == 0)
                return 1;
            if (r == AVERROR_EOF)
                return 0;
            if (r != AVERROR(EAGAIN))
                return r;
            if (draining_)
                return 0;
            r = av_read_frame(format_.get(), packet_.get());
            if (r < 0) { // end of file, or a damaged tail: drain what is decoded
                draining_ = true;
                avcodec_send_packet(codec_.get(), nullptr);
                continue;
            }
            if (packet_->stream_index == stream_)
                avcodec_send_packet(codec_.get(), packet_.get()); // damaged packets are skipped
            av_packet_unref(packet_.get());
        }
    }

    // Positions at the last key frame at or before `timestamp` (stream time base).
    bool seek(int64_t timestamp)
    {
        int r = av_seek_frame(format_.get(), stream_, timestamp, AVSEEK_FLAG_BACKWARD);
        if (r < 0)
            r = avformat_seek_file(format_.get(), stream_, INT64_MIN, timestamp, timestamp, 0);
        avcodec_flush_buffers(codec_.get());
        draining_ = false;
        return r >= 0;
    }

private:
    InputPtr format_;
    CodecPtr codec_;
    PacketPtr packet_;
    int stream_ = -1;
    bool draining_ = false;
};

int64_t pts(const AVFrame* f)
{
    return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
}

// The audio stream as one 48000 Hz stereo timeline whose sample 0 is the
// start of the video.
class AudioReader {
public:
    bool open(const std::string& path, double videoStartSeconds, std::string& error)
    {
        if (!decoder_.open(path, AVMEDIA_TYPE_AUDIO, error))
            return false;
        videoStart_ = videoStartSeconds;
        frame_.reset(av_frame_alloc());
        if (!frame_) {
            error = quotedPath(path) + ": out of memory";
            return false;
        }
        return true;
    }

    bool read(int64_t first, int64_t count, std::vector<float>& out, std::string& error)
    {
        const int64_t end = first + count;
        constexpr int64_t kMaxSkipAhead = 5 * kAudioSampleRate;
        if (anchored_ && (first < bufferStart_ || first > bufferEnd() + kMaxSkipAhead))
            seekTo(first);
        while ((!anchored_ || bufferEnd() < end) && !ended_) {
            if (!decodeMore(error))
                return false;
        }
        out.assign(static_cast<size_t>(count) * kAudioChannels, 0.0f);
        const int64_t from = std::max(first, bufferStart_);
        const int64_t to = std::min(end, bufferEnd());
        if (anchored_ && from < to)
            std::copy(buffer_.begin() + (from - bufferStart_) * kAudioChannels,
                      buffer_.begin() + (to - bufferStart_) * kAudioChannels,
                      out.begin() + (from - first) * kAudioChannels);
        // Keep the asked range, for a second read of the same frame.
        if (anchored_ && first > bufferStart_) {
            const int64_t drop = std::min(first, bufferEnd()) - bufferStart_;
            buffer_.erase(buffer_.begin(), buffer_.begin() + drop * kAudioChannels);
            bufferStart_ += drop;
        }
        return true;
    }

private:
    int64_t bufferEnd() const { return bufferStart_ + static_cast<int64_t>(buffer_.size()) / kAudioChannels; }

    void seekTo(int64_t sample)
    {
        const AVRational tb = decoder_.stream()->time_base;
        const double seconds = videoStart_ + static_cast<double>(sample) / kAudioSampleRate - 0.1;
        decoder_.seek(static_cast<int64_t>(std::floor(seconds / av_q2d(tb))));
        resampler_.reset();
        buffer_.clear();
        anchored_ = false;
        ended_ = false;
    }

    bool decodeMore(std::string& error)
    {
        const int r = decoder_.receive(frame_.get());
        if (r < 0) { // a broken stream sounds silent from here on
            ended_ = true;
            return true;
        }
        if (r == 0) {
            if (resampler_)
                append(nullptr, 0);
            ended_ = true;
            if (!anchored_) {
                anchored_ = true;
                bufferStart_ = 0;
            }
            return true;
        }
        const AVFrame* f = frame_.get();
        if (f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0) {
            av_frame_unref(frame_.get());
            return true;
        }
        if (!resampler_ || f->sample_rate != inRate_ || f->format != inFormat_ ||
            av_channel_layout_compare(&f->ch_layout, &inLayout_) != 0) {
            if (resampler_)
                append(nullptr, 0);
            if (!makeResampler(f, error))
                return false;
        }
        if (!anchored_) {
            const int64_t p = pts(f);
            const double seconds = p == AV_NOPTS_VALUE ? videoStart_
                                                       : static_cast<double>(p) * av_q2d(decoder_.stream()->time_base);
            bufferStart_ = std::llround((seconds - videoStart_) * kAudioSampleRate);
            buffer_.clear();
            anchored_ = true;
        }
        append(const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        av_frame_unref(frame_.get());
        return true;
    }

    bool makeResampler(const AVFrame* f, std::string& error)
    {
        resampler_.reset();
        av_channel_layout_uninit(&inLayout_);
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout_, f->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&inLayout_, &f->ch_layout);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        SwrContext* raw = nullptr;
        int r = swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLT, kAudioSampleRate, &inLayout_,
                                    static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
        if (r >= 0)
            r = swr_init(raw);
        if (r < 0) {
            swr_free(&raw);
            error = "cannot convert the audio: " + avErrorText(r);
            return false;
        }
        resampler_.reset(raw);
        // Keep the layout as the frame states it, for the comparison above.
        av_channel_layout_uninit(&inLayout_);
        av_channel_layout_copy(&inLayout_, &f->ch_layout);
        inRate_ = f->sample_rate;
        inFormat_ = f->format;
        return true;
    }

    // Resamples `count` input samples (none flushes) onto the end of the buffer.
    void append(const uint8_t** in, int count)
    {
        const int room = swr_get_out_samples(resampler_.get(), count);
        if (room <= 0)
            return;
        const size_t old = buffer_.size();
        buffer_.resize(old + static_cast<size_t>(room) * kAudioChannels);
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(buffer_.data() + old)};
        const int made = swr_convert(resampler_.get(), out, room, in, count);
        buffer_.resize(old + static_cast<size_t>(std::max(made, 0)) * kAudioChannels);
    }

public:
    ~AudioReader() { av_channel_layout_uninit(&inLayout_); }
    AudioReader() = default;
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

private:
    StreamDecoder decoder_;
    FramePtr frame_;
    SwrPtr resampler_;
    AVChannelLayout inLayout_{};
    int inRate_ = 0, inFormat_ = -1;
    double videoStart_ = 0.0;
    std::vector<float> buffer_;
    int64_t bufferStart_ = 0;
    bool anchored_ = false, ended_ = false;
};

} // namespace

struct MediaSource::Impl {
    std::string path;
    std::string name;
    std::unique_ptr<BuiltinClip> builtin;
    std::vector<uint8_t> native; // the built-in clip's last rendered frame
    int nativeIndex = -1;
    std::unique_ptr<Demuxer> demuxer;
    std::unique_ptr<VideoDecoder> video;
    std::unique_ptr<AudioReader> audio; // opened when first asked
    bool audioTried = false;
    int64_t offset = 0;
    ToArgb toArgb;
    std::vector<uint8_t> stored, turned; // a turned picture on its way
};

MediaSource::MediaSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaSource::~MediaSource() = default;

std::unique_ptr<MediaSource> MediaSource::openFile(const std::string& path, std::string& error)
{
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->name = inputName(path);
    impl->demuxer = Demuxer::open(path, error);
    if (!impl->demuxer)
        return nullptr;
    impl->video = VideoDecoder::open(*impl->demuxer, error);
    if (!impl->video)
        return nullptr;
    return std::unique_ptr<MediaSource>(new MediaSource(std::move(impl)));
}

std::unique_ptr<MediaSource> MediaSource::openBuiltin(int frameCount)
{
    auto impl = std::make_unique<Impl>();
    impl->name = "built-in clip";
    impl->builtin = std::make_unique<BuiltinClip>(std::clamp(frameCount, 1, 1 << 24));
    impl->native.resize(static_cast<size_t>(BuiltinClip::kWidth) * BuiltinClip::kHeight * 4);
    return std::unique_ptr<MediaSource>(new MediaSource(std::move(impl)));
}

int MediaSource::width() const
{
    return impl_->builtin ? BuiltinClip::kWidth : impl_->video->width();
}

int MediaSource::height() const
{
    return impl_->builtin ? BuiltinClip::kHeight : impl_->video->height();
}

int MediaSource::frameCount() const
{
    return impl_->builtin ? impl_->builtin->frameCount() : impl_->video->frameCount();
}

Rate MediaSource::frameRate() const
{
    if (impl_->builtin)
        return Rate{BuiltinClip::kRateNum, BuiltinClip::kRateDen};
    const AVRational r = impl_->video->rate();
    return Rate{r.num, r.den};
}

bool MediaSource::hasAudio() const
{
    if (impl_->builtin)
        return true;
    const AVFormatContext* f = impl_->demuxer->format();
    for (unsigned i = 0; i < f->nb_streams; ++i)
        if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return true;
    return false;
}

bool MediaSource::soundIsCarried() const
{
    return !impl_->builtin;
}

PixelAspect MediaSource::pixelAspect() const
{
    if (impl_->builtin)
        return {};
    AVRational sar = impl_->video->sampleAspect();
    if (sar.num <= 0 || sar.den <= 0)
        return {};
    // A quarter turn turns the pixels too.
    if (impl_->video->quarterTurns() & 1)
        std::swap(sar.num, sar.den);
    return PixelAspect{sar.num, sar.den};
}

bool MediaSource::limit(int64_t from, int64_t to, std::string& error)
{
    if (impl_->builtin) {
        error = "the built-in clip has no parts; give an INPUT";
        return false;
    }
    if (!impl_->video->limit(from, to)) {
        error = impl_->name + " has no frame from " + std::to_string(from / 1000) + " ms" +
                (to > 0 ? " to " + std::to_string(to / 1000) + " ms" : std::string());
        return false;
    }
    impl_->offset = av_rescale_q(impl_->video->partStartPts(), impl_->video->timeBase(), AV_TIME_BASE_Q);
    return true;
}

int64_t MediaSource::partOffset() const
{
    return impl_->offset;
}

FrameTime MediaSource::frameTime(int index) const
{
    if (impl_->builtin)
        return FrameTime{index, 1};
    return impl_->video->time(index);
}

AVRational MediaSource::timeBase() const
{
    if (impl_->builtin)
        return AVRational{BuiltinClip::kRateDen, BuiltinClip::kRateNum};
    return impl_->video->timeBase();
}

VideoShape MediaSource::shape() const
{
    VideoShape shape;
    const Rate r = frameRate();
    shape.rate = AVRational{r.num, r.den};
    shape.timeBase = timeBase();
    shape.width = width();
    shape.height = height();
    if (impl_->builtin)
        return shape;
    const AVCodecContext* c = impl_->video->codec();
    shape.source = c->pix_fmt != AV_PIX_FMT_NONE ? c->pix_fmt
                                                 : static_cast<AVPixelFormat>(impl_->demuxer->video()->codecpar->format);
    shape.primaries = c->color_primaries;
    shape.transfer = c->color_trc;
    shape.space = c->colorspace;
    shape.range = c->color_range;
    return shape;
}

const AVFormatContext* MediaSource::container() const
{
    return impl_->demuxer ? impl_->demuxer->format() : nullptr;
}

int MediaSource::videoStream() const
{
    return impl_->demuxer ? impl_->demuxer->videoIndex() : -1;
}

void MediaSource::carryTo(std::shared_ptr<PacketQueue> queue)
{
    if (impl_->demuxer)
        impl_->demuxer->carryTo(std::move(queue));
}

void MediaSource::carryUntil(int64_t until)
{
    if (impl_->demuxer)
        impl_->demuxer->carryUntil(until);
}

bool MediaSource::readFrame(int index, int width, int height, bool highQuality, uint8_t* dst, int rowBytes,
                            std::string& error)
{
    return read(index, width, height, highQuality, false, dst, rowBytes, error);
}

bool MediaSource::readNearbyFrame(int index, int width, int height, uint8_t* dst, int rowBytes, std::string& error)
{
    return read(index, width, height, false, true, dst, rowBytes, error);
}

bool MediaSource::read(int index, int width, int height, bool highQuality, bool nearby, uint8_t* dst, int rowBytes,
                       std::string& error)
{
    if (!dst) {
        error = impl_->name + ": no buffer for frame " + std::to_string(index);
        return false;
    }
    if (width <= 0 || height <= 0 || width > kMaxFrameEdge || height > kMaxFrameEdge) {
        error = impl_->name + ": cannot scale to " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    if (rowBytes < static_cast<int64_t>(width) * 4) {
        error = impl_->name + ": row bytes " + std::to_string(rowBytes) + " too small for width " +
                std::to_string(width);
        return false;
    }
    if (index < 0 || index >= frameCount()) {
        error = impl_->name + ": frame " + std::to_string(index) + " is outside the clip (" +
                std::to_string(frameCount()) + (frameCount() == 1 ? " frame)" : " frames)");
        return false;
    }
    std::string cause;
    bool ok = false;
    Impl& s = *impl_;
    if (s.builtin) {
        if (s.nativeIndex != index) {
            s.builtin->renderFrame(index, s.native.data(), BuiltinClip::kWidth * 4);
            s.nativeIndex = index;
        }
        const uint8_t* planes[4] = {s.native.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {BuiltinClip::kWidth * 4, 0, 0, 0};
        ok = s.toArgb.convert(Picture{planes, strides, BuiltinClip::kWidth, BuiltinClip::kHeight, AV_PIX_FMT_ARGB,
                                      AVCOL_SPC_RGB, AVCOL_RANGE_JPEG},
                              width, height, highQuality, dst, rowBytes, cause);
    } else {
        const AVFrame* f = nearby ? s.video->nearbyFrame(index, error) : s.video->frame(index, error);
        if (!f)
            return false;
        const Picture stored{f->data, f->linesize, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                             f->colorspace, f->color_range};
        const int turns = s.video->quarterTurns();
        if (turns == 0 && !s.video->flipped()) {
            ok = s.toArgb.convert(stored, width, height, highQuality, dst, rowBytes, cause);
        } else {
            // Upright first, at the stored size; then to the wanted size.
            const size_t bytes = static_cast<size_t>(f->width) * f->height * 4;
            s.stored.resize(bytes);
            const bool direct = (turns & 1) ? width == f->height && height == f->width
                                            : width == f->width && height == f->height;
            ok = s.toArgb.convert(stored, f->width, f->height, true, s.stored.data(), f->width * 4, cause);
            const int uprightW = (turns & 1) ? f->height : f->width, uprightH = (turns & 1) ? f->width : f->height;
            if (ok && direct) {
                turnArgb(s.stored.data(), f->width * 4, f->width, f->height, turns, s.video->flipped(), dst, rowBytes);
            } else if (ok) {
                s.turned.resize(bytes);
                turnArgb(s.stored.data(), f->width * 4, f->width, f->height, turns, s.video->flipped(),
                         s.turned.data(), uprightW * 4);
                const uint8_t* planes[4] = {s.turned.data(), nullptr, nullptr, nullptr};
                const int strides[4] = {uprightW * 4, 0, 0, 0};
                ok = s.toArgb.convert(Picture{planes, strides, uprightW, uprightH, AV_PIX_FMT_ARGB, AVCOL_SPC_RGB,
                                              AVCOL_RANGE_JPEG},
                                      width, height, highQuality, dst, rowBytes, cause);
            }
        }
    }
    if (!ok)
        error = impl_->name + ": frame " + std::to_string(index) + ": " + cause;
    return ok;
}

bool MediaSource::readAudio(int index, std::vector<float>& samples, std::string& error)
{
    samples.clear();
    if (index < 0 || index >= frameCount()) {
        error = impl_->name + ": frame " + std::to_string(index) + " is outside the clip (" +
                std::to_string(frameCount()) + (frameCount() == 1 ? " frame)" : " frames)");
        return false;
    }
    if (!hasAudio())
        return true;
    if (!impl_->builtin && !impl_->audioTried) {
        impl_->audioTried = true;
        std::string ignored;
        auto audio = std::make_unique<AudioReader>();
        const double start = static_cast<double>(impl_->video->partStartPts()) * av_q2d(timeBase());
        // A second reader only where the input can be read again: never a pipe or FIFO.
        if (impl_->demuxer->seekable() && audio->open(impl_->path, start, ignored))
            impl_->audio = std::move(audio);
    }
    if (!impl_->builtin && !impl_->audio)
        return true; // sound that cannot be read again sounds silent
    const int64_t first = audioSampleStart(index, frameRate());
    const int64_t count = audioSampleStart(index + 1, frameRate()) - first;
    if (impl_->builtin) {
        BuiltinClip::renderAudio(first, count, samples);
        return true;
    }
    std::string cause;
    if (!impl_->audio->read(first, count, samples, cause)) {
        error = impl_->name + ": audio of frame " + std::to_string(index) + ": " + cause;
        return false;
    }
    return true;
}

} // namespace brimtone::host
