#include "Encoder.h"

#include "Convert.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace brimtone::host {

namespace {

bool isImageSequence(const AVOutputFormat* container)
{
    return container && (std::strcmp(container->name, "image2") == 0 || std::strcmp(container->name, "apng") == 0);
}

// The input's own depth and chroma where the encoder takes them; RGB and the
// old full-range names count as the Y'CbCr players expect.
}  // namespace

AVPixelFormat encoderPixelFormat(const AVCodec* codec, AVPixelFormat source)
{
    if (std::strcmp(codec->name, "png") == 0)
        return AV_PIX_FMT_RGB24;
    switch (source) {
    case AV_PIX_FMT_YUVJ420P: source = AV_PIX_FMT_YUV420P; break;
    case AV_PIX_FMT_YUVJ422P: source = AV_PIX_FMT_YUV422P; break;
    case AV_PIX_FMT_YUVJ444P: source = AV_PIX_FMT_YUV444P; break;
    default: break;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(source);
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_RGB) || desc->nb_components < 3)
        source = desc && desc->comp[0].depth > 8 ? AV_PIX_FMT_YUV420P10 : AV_PIX_FMT_YUV420P;
    if (!codec->pix_fmts)
        return source;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == source)
            return source;
    return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, source, 0, nullptr);
}

namespace {

bool hasOption(AVCodecContext* context, const char* name)
{
    return av_opt_find(context->priv_data, name, nullptr, 0, 0) != nullptr;
}

}  // namespace

const AVCodec* chooseVideoEncoder(const Encoding& encoding, const AVOutputFormat* container, std::string& error,
                                  std::string* note)
{
    if (!encoding.videoCodec.empty()) {
        const AVCodec* codec = avcodec_find_encoder_by_name(encoding.videoCodec.c_str());
        if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) {
            error = "--video-codec " + encoding.videoCodec + ": no such video encoder in this FFmpeg";
            return nullptr;
        }
        return codec;
    }
    if (isImageSequence(container))
        return avcodec_find_encoder(AV_CODEC_ID_PNG);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    // A container without H.264 (WebM) gets its own codec.
    if (codec && container && avformat_query_codec(container, codec->id, FF_COMPLIANCE_NORMAL) == 0)
        codec = container->video_codec != AV_CODEC_ID_NONE ? avcodec_find_encoder(container->video_codec) : nullptr;
    if (!codec && container && container->video_codec != AV_CODEC_ID_NONE)
        codec = avcodec_find_encoder(container->video_codec);
    if (!codec)
        codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (codec && note && std::strcmp(codec->name, "libx264") != 0 && !avcodec_find_encoder_by_name("libx264"))
        *note = std::string("libx264 is not available; the video is encoded with ") + codec->name;
    if (!codec)
        error = "no suitable video encoder";
    return codec;
}

std::unique_ptr<VideoEncoder> VideoEncoder::open(const AVCodec* codec, const VideoShape& shape,
                                                 const Encoding& encoding, bool globalHeader, std::string& error)
{
    auto encoder = std::make_unique<VideoEncoder>();
    encoder->codec_.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = encoder->codec_.get();
    if (!c) {
        error = "out of memory";
        return nullptr;
    }
    c->width = shape.width;
    c->height = shape.height;
    c->time_base = shape.timeBase;
    c->framerate = shape.rate;
    c->sample_aspect_ratio = shape.aspect;
    c->pix_fmt = encoderPixelFormat(codec, shape.source);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(c->pix_fmt);
    if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
        // The input's colour description, or what players assume: BT.709 at
        // HD sizes, BT.601 (PAL or NTSC primaries) below.
        const bool hd = isHighDefinition(shape.width, shape.height);
        const bool pal = shape.height == 576;
        c->colorspace = shape.space != AVCOL_SPC_UNSPECIFIED && shape.space != AVCOL_SPC_RGB
                            ? shape.space
                            : hd ? AVCOL_SPC_BT709 : pal ? AVCOL_SPC_BT470BG : AVCOL_SPC_SMPTE170M;
        c->color_primaries = shape.primaries != AVCOL_PRI_UNSPECIFIED ? shape.primaries
                             : hd                                     ? AVCOL_PRI_BT709
                             : pal                                    ? AVCOL_PRI_BT470BG
                                                                      : AVCOL_PRI_SMPTE170M;
        c->color_trc = shape.transfer != AVCOL_TRC_UNSPECIFIED ? shape.transfer
                       : hd                                    ? AVCOL_TRC_BT709
                                                               : AVCOL_TRC_SMPTE170M;
        c->color_range = shape.range == AVCOL_RANGE_JPEG ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        c->chroma_sample_location = AVCHROMA_LOC_CENTER;
    }
    const bool chosen = !encoding.videoCodec.empty();
    const bool x264 = std::strcmp(codec->name, "libx264") == 0;
    if (encoding.crf) {
        if (!hasOption(c, "crf")) {
            error = std::string("--crf: ") + codec->name + " takes no CRF; use --bitrate";
            return nullptr;
        }
        if (av_opt_set_int(c->priv_data, "crf", *encoding.crf, 0) < 0) {
            error = "--crf " + std::to_string(*encoding.crf) + " is out of " + codec->name + "'s range";
            return nullptr;
        }
    } else if (x264 && encoding.bitrate.empty()) {
        av_opt_set(c->priv_data, "crf", "18", 0);
    } else if (encoding.bitrate.empty() && hasOption(c, "crf") &&
               (std::strcmp(codec->name, "libvpx-vp9") == 0 || std::strcmp(codec->name, "libaom-av1") == 0)) {
        // Constant quality rather than their low default bitrate.
        av_opt_set_int(c->priv_data, "crf", 32, 0);
    }
    if (!encoding.preset.empty()) {
        if (!hasOption(c, "preset") || av_opt_set(c->priv_data, "preset", encoding.preset.c_str(), 0) < 0) {
            error = "--preset " + encoding.preset + ": " + codec->name + " has no such preset";
            return nullptr;
        }
    } else if (x264) {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
    } else if (std::strcmp(codec->name, "libaom-av1") == 0) {
        av_opt_set_int(c->priv_data, "cpu-used", 6, 0);
    }
    if (!encoding.bitrate.empty()) {
        if (av_opt_set(c, "b", encoding.bitrate.c_str(), 0) < 0 || c->bit_rate <= 0) {
            error = "--bitrate " + encoding.bitrate + ": not a rate such as 5M or 800k";
            return nullptr;
        }
    } else if (std::strcmp(codec->name, "dnxhd") == 0) {
        av_opt_set(c->priv_data, "profile", desc && desc->comp[0].depth > 8 ? "dnxhr_hqx" : "dnxhr_sq", 0);
    } else if (chosen && !x264 && !hasOption(c, "crf") && !(codec->capabilities & AV_CODEC_CAP_LOSSLESS) &&
               std::strcmp(codec->name, "prores_ks") != 0 && std::strcmp(codec->name, "ffv1") != 0 &&
               std::strcmp(codec->name, "png") != 0) {
        // Encoders with neither CRF nor a quality of their own: a fine fixed quantiser.
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 2;
    }
    if (!chosen && !x264 && std::strcmp(codec->name, "png") != 0) {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 2;
    }
    if (std::strcmp(codec->name, "libvpx-vp9") == 0 && encoding.bitrate.empty())
        av_opt_set_int(c, "b", 0, 0);
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Encoders that print through loggers of their own keep to errors as FFmpeg's log does.
    if (av_log_get_level() <= AV_LOG_ERROR) {
        if (hasOption(c, "x265-params"))
            av_opt_set(c->priv_data, "x265-params", "log-level=error", 0);
        if (std::strcmp(codec->name, "libsvtav1") == 0)
            setenv("SVT_LOG", "1", 0);
    }
    const int r = avcodec_open2(c, codec, nullptr);
    if (r < 0) {
        error = std::string("cannot open the ") + codec->name + " encoder for " + std::to_string(shape.width) + "x" +
                std::to_string(shape.height) + " " + av_get_pix_fmt_name(c->pix_fmt) + ": " + avErrorText(r);
        return nullptr;
    }
    return encoder;
}

int VideoEncoder::send(AVFrame* frame, int64_t duration)
{
    if (frame && duration > 0) {
        durations_[frame->pts] = duration;
        if (durations_.size() > 512)
            durations_.erase(durations_.begin());
    }
    return avcodec_send_frame(codec_.get(), frame);
}

int VideoEncoder::receive(AVPacket* packet)
{
    const int r = avcodec_receive_packet(codec_.get(), packet);
    if (r == 0) {
        const auto found = durations_.find(packet->pts);
        if (found != durations_.end()) {
            if (packet->duration <= 0)
                packet->duration = found->second;
            durations_.erase(found);
        }
    }
    return r;
}

}  // namespace brimtone::host
