#include "Carried.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace brimtone::host {

bool isCoverPicture(const AVStream* stream)
{
    return stream->disposition & AV_DISPOSITION_ATTACHED_PIC;
}

const char* coverMimeType(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MJPEG: return "image/jpeg";
    case AV_CODEC_ID_PNG: return "image/png";
    case AV_CODEC_ID_GIF: return "image/gif";
    case AV_CODEC_ID_BMP: return "image/bmp";
    case AV_CODEC_ID_TIFF: return "image/tiff";
    case AV_CODEC_ID_WEBP: return "image/webp";
    default: return nullptr;
    }
}

std::string codecName(const AVCodecParameters* par)
{
    if (par->codec_id != AV_CODEC_ID_NONE || par->codec_tag == 0)
        return avcodec_get_name(par->codec_id);
    char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
    return av_fourcc_make_string(tag, par->codec_tag);
}

std::string streamLabel(const AVStream* stream)
{
    std::string label = "stream #" + std::to_string(stream->index) + " (" + codecName(stream->codecpar);
    if (const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0))
        label += std::string(", ") + language->value;
    return label + ")";
}

int containerTakes(const AVOutputFormat* container, AVCodecID codec)
{
    const int r = avformat_query_codec(container, codec, FF_COMPLIANCE_NORMAL);
    return r == 1 ? 1 : r == 0 ? 0 : -1;
}

namespace {

bool isMatroska(const AVOutputFormat* container)
{
    return std::strcmp(container->name, "matroska") == 0;
}

std::string holdsNo(const AVOutputFormat* container, const AVStream* stream)
{
    return std::string(container->name) + " cannot hold " + codecName(stream->codecpar);
}

// A cover picture is kept by MP4's writer, and by Matroska as an attachment
// (as it came); the others drop it, or would take it for a video of one frame.
bool keepsNoCover(const AVOutputFormat* container, const AVStream* stream)
{
    if (!isCoverPicture(stream))
        return false;
    if (isMatroska(container))
        return !coverMimeType(stream->codecpar->codec_id) || stream->attached_pic.size <= 0;
    return std::strcmp(container->name, "mp4") != 0 && std::strcmp(container->name, "ipod") != 0;
}

// A QuickTime timecode track's time is a tag of the video stream as well,
// which every container keeps (MOV and MP4 make a track of it again).
bool timecodeOnVideo(const AVStream* stream, const AVStream* video)
{
    return stream->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd') &&
           av_dict_get(video->metadata, "timecode", nullptr, 0);
}

}  // namespace

std::vector<CarriedStream> planCarried(const AVFormatContext* input, int video, const AVOutputFormat* container,
                                       const Encoding& encoding, bool withSound, std::string& error)
{
    std::vector<CarriedStream> plan;
    const AVCodec* chosenAudio = nullptr;
    const bool convertAll = !encoding.audioCodec.empty() && encoding.audioCodec != "copy";
    if (convertAll) {
        chosenAudio = avcodec_find_encoder_by_name(encoding.audioCodec.c_str());
        if (!chosenAudio || chosenAudio->type != AVMEDIA_TYPE_AUDIO) {
            error = "--audio-codec " + encoding.audioCodec + ": no such audio encoder in this FFmpeg";
            return {};
        }
        if (containerTakes(container, chosenAudio->id) == 0) {
            error = "--audio-codec " + encoding.audioCodec + ": " + container->name + " cannot hold " +
                    avcodec_get_name(chosenAudio->id);
            return {};
        }
    }
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (static_cast<int>(i) == video)
            continue;
        const AVStream* stream = input->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        CarriedStream s;
        s.input = static_cast<int>(i);
        const std::string label = streamLabel(stream);
        const int takes = containerTakes(container, par->codec_id);
        const auto leave = [&](const std::string& why) {
            s.action = CarriedStream::Action::Leave;
            s.line = label + ": left out: " + why;
        };
        const auto convertTo = [&](const AVCodec* encoder, const std::string& why) {
            s.action = CarriedStream::Action::Convert;
            s.encoder = encoder;
            s.line = label + ": converted to " + encoder->name + ": " + why;
        };
        switch (par->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            if (!withSound) {
                leave("this render has no sound");
            } else if (convertAll) {
                convertTo(chosenAudio, "--audio-codec");
            } else if (takes != 0) {
                s.action = CarriedStream::Action::Copy;
            } else if (encoding.audioCodec == "copy") {
                error = "--audio-codec copy: " + label + ": " + holdsNo(container, stream);
                return {};
            } else if (const AVCodec* encoder = avcodec_find_encoder(container->audio_codec);
                       encoder && avcodec_find_decoder(par->codec_id)) {
                convertTo(encoder, holdsNo(container, stream));
            } else {
                leave(holdsNo(container, stream));
            }
            break;
        case AVMEDIA_TYPE_SUBTITLE: {
            const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
            const AVCodec* encoder = nullptr;
            for (AVCodecID text : {container->subtitle_codec, AV_CODEC_ID_MOV_TEXT, AV_CODEC_ID_ASS,
                                   AV_CODEC_ID_WEBVTT, AV_CODEC_ID_SUBRIP})
                if (!encoder && text != AV_CODEC_ID_NONE && containerTakes(container, text) == 1)
                    encoder = avcodec_find_encoder(text);
            if (takes != 0)
                s.action = CarriedStream::Action::Copy;
            else if (desc && (desc->props & AV_CODEC_PROP_TEXT_SUB) && encoder && avcodec_find_decoder(par->codec_id))
                convertTo(encoder, holdsNo(container, stream));
            else
                leave(holdsNo(container, stream));
            break;
        }
        case AVMEDIA_TYPE_ATTACHMENT:
            if (isMatroska(container))
                s.action = CarriedStream::Action::Copy;
            else
                leave(std::string(container->name) + " holds no attachments");
            break;
        case AVMEDIA_TYPE_VIDEO:
        case AVMEDIA_TYPE_DATA:
            if (keepsNoCover(container, stream))
                leave(std::string(container->name) + " keeps no cover picture");
            else if (isCoverPicture(stream) || takes == 1 || (takes < 0 && par->codec_type == AVMEDIA_TYPE_VIDEO))
                s.action = CarriedStream::Action::Copy;
            else if (video >= 0 && timecodeOnVideo(stream, input->streams[video]))
                leave("its timecode is kept with the video");
            else
                leave(holdsNo(container, stream));
            break;
        default:
            leave("a stream of unknown kind");
            break;
        }
        plan.push_back(std::move(s));
    }
    return plan;
}

namespace {

bool openDecoder(const AVStream* input, CodecPtr& decoder, std::string& error)
{
    const AVCodec* codec = avcodec_find_decoder(input->codecpar->codec_id);
    decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder || avcodec_parameters_to_context(decoder.get(), input->codecpar) < 0) {
        error = streamLabel(input) + ": no decoder";
        return false;
    }
    decoder->pkt_timebase = input->time_base;
    const int r = avcodec_open2(decoder.get(), codec, nullptr);
    if (r < 0) {
        error = streamLabel(input) + ": cannot open its decoder: " + avErrorText(r);
        return false;
    }
    return true;
}

class AudioConverter final : public StreamConverter {
public:
    bool open(const AVStream* input, const AVCodec* codec, bool globalHeader, std::string& error)
    {
        inputBase_ = input->time_base;
        if (!openDecoder(input, decoder_, error))
            return false;
        encoder_.reset(avcodec_alloc_context3(codec));
        frame_.reset(av_frame_alloc());
        out_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
        if (!encoder_ || !frame_ || !out_ || !packet_) {
            error = "out of memory";
            return false;
        }
        AVCodecContext* e = encoder_.get();
        e->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        int rate = decoder_->sample_rate > 0 ? decoder_->sample_rate : 48000;
        if (codec->supported_samplerates) {
            int best = codec->supported_samplerates[0];
            for (const int* r = codec->supported_samplerates; *r; ++r)
                if (*r == rate || (best != rate && *r == 48000))
                    best = *r;
            rate = best;
        }
        e->sample_rate = rate;
        e->time_base = AVRational{1, rate};
        const int channels = decoder_->ch_layout.nb_channels > 0 ? decoder_->ch_layout.nb_channels : 2;
        if (channels <= 2)
            av_channel_layout_default(&e->ch_layout, channels);
        else
            av_channel_layout_copy(&e->ch_layout, &decoder_->ch_layout);
        e->bit_rate = std::max(2, channels) * 96000;
        if (globalHeader)
            e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int r = avcodec_open2(e, codec, nullptr);
        if (r < 0 && channels > 2) { // the encoder takes no such layout: stereo then
            av_channel_layout_uninit(&e->ch_layout);
            av_channel_layout_default(&e->ch_layout, 2);
            r = avcodec_open2(e, codec, nullptr);
        }
        if (r < 0) {
            error = streamLabel(input) + ": cannot open the " + codec->name + " encoder: " + avErrorText(r);
            return false;
        }
        fifo_.reset(av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096));
        if (!fifo_) {
            error = "out of memory";
            return false;
        }
        label_ = streamLabel(input);
        return true;
    }

    AVCodecContext* encoder() const override { return encoder_.get(); }

    bool convert(const AVPacket* packet, const std::function<bool(AVPacket*)>& write, std::string& error) override
    {
        int r = avcodec_send_packet(decoder_.get(), packet);
        if (r < 0 && r != AVERROR_EOF) // a damaged packet of sound is silence
            return true;
        while ((r = avcodec_receive_frame(decoder_.get(), frame_.get())) == 0) {
            if (!resample(frame_.get(), error))
                return false;
            av_frame_unref(frame_.get());
            if (!encodeFull(false, write, error))
                return false;
        }
        if (packet)
            return true;
        if (swr_ && !resample(nullptr, error))
            return false;
        return encodeFull(true, write, error) && encode(nullptr, write, error);
    }

private:
    bool resample(const AVFrame* in, std::string& error)
    {
        if (in && !swr_) {
            SwrContext* raw = nullptr;
            AVChannelLayout layout{};
            if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default(&layout, in->ch_layout.nb_channels);
            else
                av_channel_layout_copy(&layout, &in->ch_layout);
            int r = swr_alloc_set_opts2(&raw, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
                                        &layout, static_cast<AVSampleFormat>(in->format), in->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&layout);
            if (r >= 0)
                r = swr_init(raw);
            swr_.reset(raw);
            if (r < 0) {
                error = label_ + ": cannot convert its sound: " + avErrorText(r);
                return false;
            }
            const int64_t pts = in->best_effort_timestamp != AV_NOPTS_VALUE ? in->best_effort_timestamp : in->pts;
            next_ = pts != AV_NOPTS_VALUE ? av_rescale_q(pts, inputBase_, encoder_->time_base) : 0;
        }
        if (!swr_)
            return true;
        const int room = swr_get_out_samples(swr_.get(), in ? in->nb_samples : 0);
        if (room <= 0)
            return true;
        if (!reserve(room)) {
            error = "out of memory";
            return false;
        }
        const int made = swr_convert(swr_.get(), buffer_.data(), room, in ? const_cast<const uint8_t**>(in->extended_data) : nullptr,
                                     in ? in->nb_samples : 0);
        if (made > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(buffer_.data()), made) < made) {
            error = "out of memory";
            return false;
        }
        return true;
    }

    bool reserve(int samples)
    {
        if (samples <= capacity_)
            return true;
        storage_.reset();
        buffer_.assign(static_cast<size_t>(encoder_->ch_layout.nb_channels), nullptr);
        uint8_t** planes = buffer_.data();
        if (av_samples_alloc(planes, nullptr, encoder_->ch_layout.nb_channels, samples, encoder_->sample_fmt, 0) < 0)
            return false;
        storage_.reset(buffer_[0]);
        capacity_ = samples;
        return true;
    }

    bool encodeFull(bool all, const std::function<bool(AVPacket*)>& write, std::string& error)
    {
        const int size = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
        while (av_audio_fifo_size(fifo_.get()) >= size || (all && av_audio_fifo_size(fifo_.get()) > 0)) {
            const int take = std::min(size, av_audio_fifo_size(fifo_.get()));
            const bool small = take < size && !(encoder_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) &&
                               !(encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
            av_frame_unref(out_.get());
            out_->format = encoder_->sample_fmt;
            out_->sample_rate = encoder_->sample_rate;
            out_->nb_samples = small ? size : take;
            av_channel_layout_copy(&out_->ch_layout, &encoder_->ch_layout);
            if (av_frame_get_buffer(out_.get(), 0) < 0) {
                error = "out of memory";
                return false;
            }
            if (small)
                av_samples_set_silence(out_->extended_data, 0, size, encoder_->ch_layout.nb_channels,
                                       encoder_->sample_fmt);
            av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(out_->extended_data), take);
            out_->pts = next_;
            next_ += take;
            if (!encode(out_.get(), write, error))
                return false;
        }
        return true;
    }

    bool encode(AVFrame* frame, const std::function<bool(AVPacket*)>& write, std::string& error)
    {
        int r = avcodec_send_frame(encoder_.get(), frame);
        if (r < 0 && r != AVERROR_EOF) {
            error = label_ + ": encoding its sound failed: " + avErrorText(r);
            return false;
        }
        while ((r = avcodec_receive_packet(encoder_.get(), packet_.get())) == 0) {
            const bool ok = write(packet_.get());
            av_packet_unref(packet_.get());
            if (!ok)
                return false;
        }
        return true;
    }

    struct SamplesFreer {
        void operator()(uint8_t* p) const { av_free(p); }
    };
    CodecPtr decoder_, encoder_;
    SwrPtr swr_;
    FifoPtr fifo_;
    FramePtr frame_, out_;
    PacketPtr packet_;
    std::vector<uint8_t*> buffer_;
    std::unique_ptr<uint8_t, SamplesFreer> storage_;
    int capacity_ = 0;
    int64_t next_ = 0;
    AVRational inputBase_{1, 1};
    std::string label_;
};

class SubtitleConverter final : public StreamConverter {
public:
    bool open(const AVStream* input, const AVCodec* codec, std::string& error)
    {
        inputBase_ = input->time_base;
        if (!openDecoder(input, decoder_, error))
            return false;
        encoder_.reset(avcodec_alloc_context3(codec));
        packet_.reset(av_packet_alloc());
        if (!encoder_ || !packet_) {
            error = "out of memory";
            return false;
        }
        encoder_->time_base = AV_TIME_BASE_Q;
        if (decoder_->subtitle_header && decoder_->subtitle_header_size > 0) {
            encoder_->subtitle_header = static_cast<uint8_t*>(av_mallocz(decoder_->subtitle_header_size + 1));
            if (!encoder_->subtitle_header) {
                error = "out of memory";
                return false;
            }
            std::memcpy(encoder_->subtitle_header, decoder_->subtitle_header, decoder_->subtitle_header_size);
            encoder_->subtitle_header_size = decoder_->subtitle_header_size;
        }
        const int r = avcodec_open2(encoder_.get(), codec, nullptr);
        if (r < 0) {
            error = streamLabel(input) + ": cannot open the " + codec->name + " encoder: " + avErrorText(r);
            return false;
        }
        buffer_.resize(1 << 20);
        return true;
    }

    AVCodecContext* encoder() const override { return encoder_.get(); }

    bool convert(const AVPacket* packet, const std::function<bool(AVPacket*)>& write, std::string&) override
    {
        if (!packet)
            return true;
        AVSubtitle subtitle{};
        int got = 0;
        if (avcodec_decode_subtitle2(decoder_.get(), &subtitle, &got, const_cast<AVPacket*>(packet)) < 0 || !got)
            return true;
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (pts == AV_NOPTS_VALUE) {
            // A line with no time cannot be placed: it is left out, not put at a made-up one.
            avsubtitle_free(&subtitle);
            return true;
        }
        subtitle.pts = av_rescale_q(pts, inputBase_, AV_TIME_BASE_Q) +
                       av_rescale_q(subtitle.start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
        // The file's times: an end before the start is no duration, not four billion ms.
        subtitle.end_display_time -= std::min(subtitle.end_display_time, subtitle.start_display_time);
        subtitle.start_display_time = 0;
        if (subtitle.end_display_time == 0 && packet->duration > 0)
            subtitle.end_display_time =
                static_cast<uint32_t>(av_rescale_q(packet->duration, inputBase_, AVRational{1, 1000}));
        const int size = avcodec_encode_subtitle(encoder_.get(), buffer_.data(), static_cast<int>(buffer_.size()),
                                                 &subtitle);
        bool ok = true;
        if (size > 0 && av_new_packet(packet_.get(), size) == 0) {
            std::memcpy(packet_->data, buffer_.data(), static_cast<size_t>(size));
            packet_->pts = packet_->dts = subtitle.pts;
            packet_->duration = av_rescale_q(subtitle.end_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
            ok = write(packet_.get());
            av_packet_unref(packet_.get());
        }
        avsubtitle_free(&subtitle);
        return ok;
    }

private:
    CodecPtr decoder_, encoder_;
    PacketPtr packet_;
    std::vector<uint8_t> buffer_;
    AVRational inputBase_{1, 1};
};

}  // namespace

std::unique_ptr<StreamConverter> StreamConverter::open(const AVStream* input, const AVCodec* encoder,
                                                       bool globalHeader, std::string& error)
{
    if (input->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        auto converter = std::make_unique<AudioConverter>();
        if (!converter->open(input, encoder, globalHeader, error))
            return nullptr;
        return converter;
    }
    auto converter = std::make_unique<SubtitleConverter>();
    if (!converter->open(input, encoder, error))
        return nullptr;
    return converter;
}

}  // namespace brimtone::host
