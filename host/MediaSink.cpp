#include "MediaSink.h"

#include "media/Carried.h"
#include "media/Muxer.h"
#include "OutputFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
}

namespace brimtone::host {

namespace {

enum class Kind { PngPattern, PngSingle, Video };

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A picture of the encoder's format and colours, with buffers of its own.
FramePtr encoderFrame(const AVCodecContext* c, int width, int height)
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = c->pix_fmt;
    frame->width = width;
    frame->height = height;
    frame->color_primaries = c->color_primaries;
    frame->color_trc = c->color_trc;
    frame->colorspace = c->colorspace;
    frame->color_range = c->color_range;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    return frame;
}

} // namespace

struct MediaSink::Impl {
    std::string path;
    Kind kind = Kind::Video;
    int width = 0, height = 0;
    Rate rate;
    std::string note;
    std::vector<std::string> lines;
    bool finished = false, failed = false;

    std::unique_ptr<Muxer> muxer;
    PacketPtr packet;

    std::unique_ptr<VideoEncoder> video;
    AVStream* videoStream = nullptr;
    FramePtr videoFrame;
    FromArgb fromArgb;
    int64_t frames = 0;
    int64_t lastPts = AV_NOPTS_VALUE;

    MediaSource* input = nullptr;
    std::shared_ptr<PacketQueue> carried;
    int64_t shift = 0;     // the part's start, in the video's time base
    int64_t reached = 0;   // the end of the last frame written, AV_TIME_BASE units

    CodecPtr audio;
    AVStream* audioStream = nullptr;
    FramePtr audioFrame;
    FifoPtr fifo;
    int64_t audioPts = 0;
    std::vector<float> left, right;

    // The file the next frame goes to, for messages.
    std::string currentFile() const
    {
        if (kind != Kind::PngPattern)
            return path;
        char name[4096];
        if (av_get_frame_filename2(name, sizeof name, path.c_str(), static_cast<int>(frames + 1), 0) < 0)
            return path;
        return name;
    }

    bool fail(std::string& error, const std::string& message)
    {
        failed = true;
        error = message;
        return false;
    }

    bool openAudioEncoder(std::string& error)
    {
        const AVCodec* codec = avcodec_find_encoder_by_name("aac");
        if (!codec)
            codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec)
            return fail(error, "cannot write " + quotedPath(path) + ": no AAC encoder");
        audio.reset(avcodec_alloc_context3(codec));
        if (!audio)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
        audio->sample_rate = kAudioSampleRate;
        audio->bit_rate = 192000;
        audio->time_base = AVRational{1, kAudioSampleRate};
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&audio->ch_layout, &stereo);
        if (muxer->globalHeader())
            audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int r = avcodec_open2(audio.get(), codec, nullptr);
        if (r < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": cannot open the AAC encoder: " + avErrorText(r));
        audioStream = muxer->addEncoded(audio.get(), nullptr, error);
        if (!audioStream)
            return fail(error, error);

        const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, kAudioChannels, 2 * frameSize));
        audioFrame.reset(av_frame_alloc());
        if (!fifo || !audioFrame)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        audioFrame->format = AV_SAMPLE_FMT_FLTP;
        audioFrame->sample_rate = kAudioSampleRate;
        audioFrame->nb_samples = frameSize;
        av_channel_layout_copy(&audioFrame->ch_layout, &stereo);
        if (av_frame_get_buffer(audioFrame.get(), 0) < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        return true;
    }

    // Sends one frame (nullptr drains) and writes every packet that comes out.
    bool encodeVideo(AVFrame* frame, int64_t duration, std::string& error)
    {
        int r = video->send(frame, duration);
        if (r < 0)
            return fail(error, "cannot write " + quotedPath(currentFile()) + ": encoding failed: " + avErrorText(r));
        for (;;) {
            r = video->receive(packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                return fail(error, "cannot write " + quotedPath(currentFile()) + ": encoding failed: " + avErrorText(r));
            const bool ok = muxer->writeEncoded(packet.get(), videoStream, video->context()->time_base, error);
            av_packet_unref(packet.get());
            if (!ok)
                return fail(error, error);
        }
    }

    bool encodeAudio(AVFrame* frame, std::string& error)
    {
        int r = avcodec_send_frame(audio.get(), frame);
        if (r < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": encoding failed: " + avErrorText(r));
        for (;;) {
            r = avcodec_receive_packet(audio.get(), packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                return fail(error, "cannot write " + quotedPath(path) + ": encoding failed: " + avErrorText(r));
            const bool ok = muxer->writeEncoded(packet.get(), audioStream, audio->time_base, error);
            av_packet_unref(packet.get());
            if (!ok)
                return fail(error, error);
        }
    }

    bool encodeAudioFrames(bool all, std::string& error)
    {
        const int frameSize = audioFrame->nb_samples;
        while (av_audio_fifo_size(fifo.get()) >= frameSize || (all && av_audio_fifo_size(fifo.get()) > 0)) {
            if (av_frame_make_writable(audioFrame.get()) < 0)
                return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
            const int available = std::min(av_audio_fifo_size(fifo.get()), frameSize);
            const int got = av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(audioFrame->data), available);
            if (got < 0)
                return fail(error, "cannot write " + quotedPath(path) + ": audio buffer failed");
            int size = frameSize;
            if (got < frameSize) {
                if (audio->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) {
                    size = got;
                } else { // pad the last frame with silence
                    for (int c = 0; c < kAudioChannels; ++c)
                        std::fill_n(reinterpret_cast<float*>(audioFrame->data[c]) + got, frameSize - got, 0.0f);
                }
            }
            audioFrame->nb_samples = size;
            audioFrame->pts = audioPts;
            audioPts += size;
            const bool ok = encodeAudio(audioFrame.get(), error);
            audioFrame->nb_samples = frameSize;
            if (!ok)
                return false;
        }
        return true;
    }

    // The carried packets that play before `until` (AV_TIME_BASE units).
    bool writeCarried(int64_t until, std::string& error)
    {
        if (!carried)
            return true;
        for (PacketPtr& p : carried->takeBefore(until, input->container()))
            if (!muxer->writeCarried(p.get(), error))
                return fail(error, error);
        return true;
    }
};

MediaSink::MediaSink(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaSink::~MediaSink() = default;

std::string MediaSink::checkName(const std::string& path, const Encoding& encoding)
{
    if (endsWithPng(path) && encoding.format.empty()) {
        char probe[4096];
        return path.find('%') == std::string::npos || av_get_frame_filename2(probe, sizeof probe, path.c_str(), 1, 0) >= 0
                   ? std::string()
                   : quotedPath(path) + ": a PNG pattern needs one frame number, such as frames/%05d.png";
    }
    std::string error;
    const AVOutputFormat* container = chooseContainer(path, encoding.format, error);
    if (!container)
        return error;
    const AVCodec* codec = chooseVideoEncoder(encoding, container, error);
    if (!codec)
        return error;
    if (containerTakes(container, codec->id) == 0)
        return "--video-codec " + std::string(codec->name) + ": " + container->name + " cannot hold " +
               avcodec_get_name(codec->id);
    if (!encoding.audioCodec.empty() && encoding.audioCodec != "copy") {
        const AVCodec* sound = avcodec_find_encoder_by_name(encoding.audioCodec.c_str());
        if (!sound || sound->type != AVMEDIA_TYPE_AUDIO)
            return "--audio-codec " + encoding.audioCodec + ": no such audio encoder in this FFmpeg";
        if (containerTakes(container, sound->id) == 0)
            return "--audio-codec " + encoding.audioCodec + ": " + container->name + " cannot hold " +
                   avcodec_get_name(sound->id);
    }
    return {};
}

std::unique_ptr<MediaSink> MediaSink::open(const std::string& path, int width, int height, Rate rate,
                                           bool withAudio, std::string& error, PixelAspect aspect,
                                           const std::string& shownPath)
{
    SinkSpec spec;
    spec.width = width;
    spec.height = height;
    spec.rate = rate;
    spec.withAudio = withAudio;
    spec.aspect = aspect;
    spec.shownPath = shownPath;
    return open(path, spec, error);
}

std::unique_ptr<MediaSink> MediaSink::open(const std::string& path, const SinkSpec& spec, std::string& error)
{
    auto impl = std::make_unique<Impl>();
    Impl& s = *impl;
    s.path = spec.shownPath.empty() ? path : spec.shownPath;
    s.width = spec.width;
    s.height = spec.height;
    s.rate = spec.rate;

    error = checkName(path, spec.encoding);
    if (!error.empty())
        return nullptr;
    const bool png = endsWithPng(path) && spec.encoding.format.empty();
    if (png)
        s.kind = path.find('%') != std::string::npos ? Kind::PngPattern : Kind::PngSingle;
    if (spec.width <= 0 || spec.height <= 0 || spec.width > kMaxFrameEdge || spec.height > kMaxFrameEdge) {
        error = "cannot write " + quotedPath(s.path) + ": unusable size " + std::to_string(spec.width) + "x" +
                std::to_string(spec.height);
        return nullptr;
    }
    const Rate rate = spec.rate;
    if (rate.num <= 0 || rate.den <= 0 || static_cast<double>(rate.num) / rate.den < 0.1 ||
        static_cast<double>(rate.num) / rate.den > 1000.0) {
        error = "cannot write " + quotedPath(s.path) + ": unusable frame rate " + std::to_string(rate.num) + "/" +
                std::to_string(rate.den);
        return nullptr;
    }
    if (path != "-") {
        const std::string folder = folderOf(path);
        struct stat info {};
        if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            error = "cannot write " + quotedPath(s.path) + ": folder " + quotedPath(folder) + " does not exist";
            return nullptr;
        }
        if (access(folder.c_str(), W_OK) != 0) {
            error = "cannot write " + quotedPath(s.path) + ": " + std::strerror(errno);
            return nullptr;
        }
    }

    const AVOutputFormat* container = chooseContainer(path, spec.encoding.format, error);
    if (!container)
        return nullptr;
    const AVCodec* codec = chooseVideoEncoder(spec.encoding, container, error, &s.note);
    if (!codec)
        return nullptr;
    VideoShape shape;
    if (spec.input) {
        shape = spec.input->shape();
    } else {
        shape.timeBase = AVRational{rate.den, rate.num};
        shape.source = png ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUV420P;
    }
    shape.width = spec.width;
    shape.height = spec.height;
    shape.rate = AVRational{rate.num, rate.den};
    shape.aspect = spec.aspect.num > 0 && spec.aspect.den > 0 ? AVRational{spec.aspect.num, spec.aspect.den}
                                                               : AVRational{1, 1};
    const AVPixelFormat format = encoderPixelFormat(codec, shape.source);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc && ((desc->log2_chroma_w && spec.width % 2) || (desc->log2_chroma_h && spec.height % 2))) {
        error = "cannot write " + quotedPath(s.path) + ": " + codec->name + " (" + desc->name +
                ") needs an even width and height, not " + std::to_string(spec.width) + "x" +
                std::to_string(spec.height);
        return nullptr;
    }

    s.muxer = Muxer::open(path, container, s.path, error);
    s.packet.reset(av_packet_alloc());
    if (!s.muxer)
        return nullptr;
    if (!s.packet) {
        error = "cannot write " + quotedPath(s.path) + ": out of memory";
        return nullptr;
    }
    s.video = VideoEncoder::open(codec, shape, spec.encoding, s.muxer->globalHeader(), error);
    if (!s.video) {
        if (error.rfind("--", 0) != 0) // an option that does not fit stays a usage error
            error = "cannot write " + quotedPath(s.path) + ": " + error;
        return nullptr;
    }
    const AVFormatContext* input = spec.input ? spec.input->container() : nullptr;
    if (input) {
        s.input = spec.input;
        const std::vector<CarriedStream> plan =
            planCarried(input, spec.input->videoStream(), container, spec.encoding, spec.withSound, error);
        if (!error.empty())
            return nullptr;
        const int64_t offset = spec.input->partOffset();
        s.shift = av_rescale_q(offset, AV_TIME_BASE_Q, spec.input->timeBase());
        // Chapters end where the clip ends.
        const FrameTime last = spec.input->frameTime(spec.input->frameCount() - 1);
        const int64_t end = offset > 0 || spec.input->frameCount() > 0
                                ? av_rescale_q(last.pts + last.duration, spec.input->timeBase(), AV_TIME_BASE_Q)
                                : 0;
        s.videoStream = s.muxer->addStreams(input, spec.input->videoStream(), s.video->context(), plan, offset,
                                            offset > 0 ? end : 0, error);
        if (!s.videoStream)
            return nullptr;
        bool carrying = false;
        for (const CarriedStream& c : plan) {
            if (!c.line.empty())
                s.lines.push_back(c.line);
            carrying = carrying || c.action != CarriedStream::Action::Leave;
        }
        if (carrying) {
            s.carried = std::make_shared<PacketQueue>();
            spec.input->carryTo(s.carried);
        }
    } else {
        s.videoStream = s.muxer->addEncoded(s.video->context(), nullptr, error);
        if (!s.videoStream)
            return nullptr;
        if (spec.withAudio && s.kind == Kind::Video && !s.openAudioEncoder(error))
            return nullptr;
    }

    AVCodecContext* c = s.video->context();
    s.videoFrame = encoderFrame(c, spec.width, spec.height);
    if (!s.videoFrame) {
        error = "cannot write " + quotedPath(s.path) + ": out of memory";
        return nullptr;
    }
    if (!s.fromArgb.open(spec.width, spec.height, c->pix_fmt, c->colorspace, c->color_range, error)) {
        error = "cannot write " + quotedPath(s.path) + ": " + error;
        return nullptr;
    }
    if (!s.muxer->start(error)) {
        if (spec.input)
            spec.input->carryTo(nullptr);
        return nullptr;
    }
    return std::unique_ptr<MediaSink>(new MediaSink(std::move(impl)));
}

bool MediaSink::writeFrame(const uint8_t* argb, int rowBytes, const std::vector<float>* audio, std::string& error)
{
    Impl& s = *impl_;
    if (s.finished || s.failed) {
        error = "cannot write " + quotedPath(s.path) + ": the output is already " + (s.finished ? "finished" : "failed");
        return false;
    }
    if (!argb || rowBytes < static_cast<int64_t>(s.width) * 4) {
        error = "cannot write " + quotedPath(s.path) + ": no frame, or row bytes " + std::to_string(rowBytes) +
                " too small for width " + std::to_string(s.width);
        return false;
    }
    // An encoder that keeps the last frame (one working on several at once)
    // keeps its buffers: the next picture goes into new ones, not a copy.
    if (!av_frame_is_writable(s.videoFrame.get()) &&
        !(s.videoFrame = encoderFrame(s.video->context(), s.width, s.height)))
        return s.fail(error, "cannot write " + quotedPath(s.path) + ": out of memory");
    s.fromArgb.convert(argb, rowBytes, s.videoFrame.get());

    // Each frame keeps its input frame's time, so variable rates and the sound stay in step.
    FrameTime time{s.frames, 1};
    if (s.input)
        time = s.input->frameTime(static_cast<int>(s.frames));
    int64_t pts = time.pts - s.shift;
    if (s.lastPts != AV_NOPTS_VALUE && pts <= s.lastPts)
        pts = s.lastPts + 1;
    s.lastPts = pts;
    s.videoFrame->pts = pts;
    if (!s.encodeVideo(s.videoFrame.get(), time.duration, error))
        return false;
    if (s.input) {
        s.reached = av_rescale_q(time.pts + time.duration, s.input->timeBase(), AV_TIME_BASE_Q);
        if (!s.writeCarried(s.reached, error))
            return false;
    }

    if (s.audio) {
        const int64_t share = audioSampleStart(s.frames + 1, s.rate) - audioSampleStart(s.frames, s.rate);
        const int64_t given = audio ? static_cast<int64_t>(audio->size()) / kAudioChannels : 0;
        const int64_t used = std::min(share, given);
        s.left.assign(static_cast<size_t>(share), 0.0f);
        s.right.assign(static_cast<size_t>(share), 0.0f);
        for (int64_t i = 0; i < used; ++i) {
            s.left[i] = (*audio)[2 * i];
            s.right[i] = (*audio)[2 * i + 1];
        }
        void* planes[2] = {s.left.data(), s.right.data()};
        if (av_audio_fifo_write(s.fifo.get(), planes, static_cast<int>(share)) < static_cast<int>(share))
            return s.fail(error, "cannot write " + quotedPath(s.path) + ": out of memory");
        if (!s.encodeAudioFrames(false, error))
            return false;
    }
    ++s.frames;
    return true;
}

bool MediaSink::finish(std::string& error)
{
    Impl& s = *impl_;
    if (s.finished || s.failed) {
        error = "cannot write " + quotedPath(s.path) + ": the output is already " + (s.finished ? "finished" : "failed");
        return false;
    }
    if (!s.encodeVideo(nullptr, 0, error))
        return false;
    if (s.carried) {
        // The sound under the last frame may be stored after it.
        s.input->carryUntil(s.reached);
        if (!s.writeCarried(s.reached, error))
            return false;
        s.carried->takeAll();
        s.input->carryTo(nullptr);
        if (!s.muxer->drainCarried(error))
            return s.fail(error, error);
    }
    if (s.audio && (!s.encodeAudioFrames(true, error) || !s.encodeAudio(nullptr, error)))
        return false;
    if (!s.muxer->finish(error))
        return s.fail(error, error);
    s.finished = true;
    return true;
}

int MediaSink::framesWritten() const
{
    return static_cast<int>(impl_->frames);
}

const std::string& MediaSink::note() const
{
    return impl_->note;
}

const std::vector<std::string>& MediaSink::streamLines() const
{
    return impl_->lines;
}

} // namespace brimtone::host
