#include "MediaSink.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}


namespace brimtone::host {

namespace {


enum class Kind { PngPattern, PngSingle, Video };

std::string lowerExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A, R, G, B frames to limited-range Y'CbCr 4:2:0 with the BT.709 or BT.601
// matrix, rounded once. Chroma is sited at the centre of each 2x2 block, as
// FFmpeg's converters read it: each pair of pixels is averaged across, then
// eight rows are filtered down with the bicubic that swscale uses, whose
// short support keeps hard edges (what the effect draws) free of ringing.
class YuvConverter {
public:
    void open(int width, bool bt709)
    {
        const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114, kg = 1.0 - kr - kb;
        const double luma = 219.0 / 255.0, chroma = 224.0 / 255.0;
        y_[0] = static_cast<int32_t>(std::lround(kr * luma * (1 << kLumaBits)));
        y_[1] = static_cast<int32_t>(std::lround(kg * luma * (1 << kLumaBits)));
        y_[2] = static_cast<int32_t>(std::lround(kb * luma * (1 << kLumaBits)));
        // Cb = (B - Y) / (2 (1 - kb)), Cr = (R - Y) / (2 (1 - kr)), on sums of two pixels.
        const double cb = chroma / (2.0 * (1.0 - kb)) / 2.0, cr = chroma / (2.0 * (1.0 - kr)) / 2.0;
        u_[0] = float(-kr * cb), u_[1] = float(-kg * cb), u_[2] = float((1.0 - kb) * cb);
        v_[0] = float((1.0 - kr) * cr), v_[1] = float(-kg * cr), v_[2] = float(-kb * cr);
        // Eight rows of pair sums, then the filtered row.
        pairs_.assign(static_cast<size_t>(kTaps + 1) * 3 * (width / 2), 0.0f);
    }

    // Even width and height, as the encoder needs. On x86-64 the same loops
    // are built twice: wider vectors where the CPU has AVX2, the same results.
    // (A dispatch of our own: ifunc resolvers crash under ThreadSanitizer.)
    void convert(const uint8_t* argb, int rowBytes, int width, int height, AVFrame* out)
    {
#if defined(__x86_64__)
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (avx2)
            return convertAvx2(argb, rowBytes, width, height, out);
#endif
        convertRows(argb, rowBytes, width, height, out);
    }

private:
#if defined(__x86_64__)
    __attribute__((target("avx2"))) void convertAvx2(const uint8_t* argb, int rowBytes, int width, int height,
                                                      AVFrame* out)
    {
        convertRows(argb, rowBytes, width, height, out);
    }
#endif

    __attribute__((always_inline)) void convertRows(const uint8_t* argb, int rowBytes, int width, int height,
                                                    AVFrame* out)
    {
        for (int y = 0; y < height; ++y)
            lumaRow(argb + static_cast<ptrdiff_t>(y) * rowBytes, width,
                    out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0]);
        const int chromaWidth = width / 2;
        int filled = -1;
        for (int row = 0; row < height / 2; ++row) {
            const int first = 2 * row - kTaps / 2 + 1;
            for (; filled < std::min(first + kTaps - 1, height - 1); ++filled)
                pairRow(argb + static_cast<ptrdiff_t>(filled + 1) * rowBytes, chromaWidth, pairs(filled + 1));
            const float* t[kTaps];
            for (int k = 0; k < kTaps; ++k)
                t[k] = pairs(std::clamp(first + k, 0, height - 1));
            float* sums = pairs_.data() + pairs_.size() - 3 * static_cast<size_t>(chromaWidth);
            for (int x = 0; x < 3 * chromaWidth; ++x)
                sums[x] = kWeights[0] * t[0][x] + kWeights[1] * t[1][x] + kWeights[2] * t[2][x] +
                          kWeights[3] * t[3][x] + kWeights[4] * t[4][x] + kWeights[5] * t[5][x] +
                          kWeights[6] * t[6][x] + kWeights[7] * t[7][x];
            const float* r = sums;
            const float* g = sums + chromaWidth;
            const float* b = sums + 2 * chromaWidth;
            uint8_t* cbRow = out->data[1] + static_cast<ptrdiff_t>(row) * out->linesize[1];
            uint8_t* crRow = out->data[2] + static_cast<ptrdiff_t>(row) * out->linesize[2];
            for (int x = 0; x < chromaWidth; ++x) {
                cbRow[x] = clip(128.5f + u_[0] * r[x] + u_[1] * g[x] + u_[2] * b[x]);
                crRow[x] = clip(128.5f + v_[0] * r[x] + v_[1] * g[x] + v_[2] * b[x]);
            }
        }
    }

    static constexpr int kLumaBits = 16;
    static constexpr int kTaps = 8;
    // Bicubic (B = 0, C = 0.6) halving, at 1/4, 3/4, 5/4 and 7/4 of a chroma row.
    static constexpr float kWeights[kTaps] = {-0.0140625f, -0.0421875f, 0.1203125f, 0.4359375f,
                                              0.4359375f,  0.1203125f,  -0.0421875f, -0.0140625f};

    static uint8_t clip(float value) { return static_cast<uint8_t>(std::clamp(value, 0.0f, 255.0f)); }

    float* pairs(int row)
    {
        return pairs_.data() + static_cast<size_t>(row % kTaps) * (pairs_.size() / (kTaps + 1));
    }

    __attribute__((always_inline)) void lumaRow(const uint8_t* in, int width, uint8_t* out) const
    {
        constexpr int32_t offset = (16 << kLumaBits) + (1 << (kLumaBits - 1));
        for (int x = 0; x < width; ++x, in += 4)
            out[x] = static_cast<uint8_t>((y_[0] * in[1] + y_[1] * in[2] + y_[2] * in[3] + offset) >> kLumaBits);
    }

    // Red, green and blue sums of each pair of pixels, one plane after another.
    __attribute__((always_inline)) static void pairRow(const uint8_t* in, int chromaWidth, float* out)
    {
        for (int x = 0; x < chromaWidth; ++x, in += 8) {
            out[x] = float(in[1] + in[5]);
            out[chromaWidth + x] = float(in[2] + in[6]);
            out[2 * chromaWidth + x] = float(in[3] + in[7]);
        }
    }

    int32_t y_[3] = {};
    float u_[3] = {};
    float v_[3] = {};
    std::vector<float> pairs_;
};

} // namespace

struct MediaSink::Impl {
    std::string path;
    Kind kind = Kind::Video;
    int width = 0, height = 0;
    Rate rate;
    PixelAspect aspect;
    std::string note;

    AVFormatContext* format = nullptr;
    bool headerWritten = false, finished = false, failed = false;
    AVPacket* packet = nullptr;

    AVStream* videoStream = nullptr;
    AVCodecContext* video = nullptr;
    AVFrame* videoFrame = nullptr;
    YuvConverter toYuv;
    int64_t frames = 0;

    AVStream* audioStream = nullptr;
    AVCodecContext* audio = nullptr;
    AVFrame* audioFrame = nullptr;
    AVAudioFifo* fifo = nullptr;
    int64_t audioPts = 0;
    std::vector<float> left, right;

    ~Impl()
    {
        av_packet_free(&packet);
        av_frame_free(&videoFrame);
        av_frame_free(&audioFrame);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (fifo)
            av_audio_fifo_free(fifo);
        if (format) {
            if (!(format->oformat->flags & AVFMT_NOFILE))
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

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

    bool openVideoEncoder(std::string& error)
    {
        const AVCodec* codec = nullptr;
        if (kind != Kind::Video) {
            codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
        } else {
            codec = avcodec_find_encoder_by_name("libx264");
            if (!codec) {
                codec = avcodec_find_encoder(AV_CODEC_ID_H264);
                if (!codec)
                    codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
                if (codec)
                    note = std::string("libx264 is not available; the video is encoded with ") + codec->name;
            }
        }
        if (!codec)
            return fail(error, "cannot write " + quotedPath(path) + ": no suitable video encoder");
        video = avcodec_alloc_context3(codec);
        if (!video)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        video->width = width;
        video->height = height;
        video->time_base = AVRational{rate.den, rate.num};
        video->framerate = AVRational{rate.num, rate.den};
        video->sample_aspect_ratio = AVRational{aspect.num, aspect.den};
        if (kind != Kind::Video) {
            video->pix_fmt = AV_PIX_FMT_RGB24;
        } else {
            video->pix_fmt = AV_PIX_FMT_YUV420P;
            // Limited range, BT.709 at HD sizes and BT.601 below, as players expect.
            const bool hd = isHighDefinition(width, height);
            const bool pal = height == 576;
            video->colorspace = hd ? AVCOL_SPC_BT709 : pal ? AVCOL_SPC_BT470BG : AVCOL_SPC_SMPTE170M;
            video->color_primaries = hd ? AVCOL_PRI_BT709 : pal ? AVCOL_PRI_BT470BG : AVCOL_PRI_SMPTE170M;
            video->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
            video->color_range = AVCOL_RANGE_MPEG;
            video->chroma_sample_location = AVCHROMA_LOC_CENTER;
            if (std::strcmp(codec->name, "libx264") == 0) {
                av_opt_set(video->priv_data, "crf", "18", 0);
                av_opt_set(video->priv_data, "preset", "veryfast", 0);
            } else {
                video->flags |= AV_CODEC_FLAG_QSCALE;
                video->global_quality = FF_QP2LAMBDA * 2;
            }
        }
        if (format->oformat->flags & AVFMT_GLOBALHEADER)
            video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int r = avcodec_open2(video, codec, nullptr);
        if (r < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": cannot open the " + codec->name +
                                   " encoder: " + avErrorText(r));
        videoStream = avformat_new_stream(format, nullptr);
        if (!videoStream || avcodec_parameters_from_context(videoStream->codecpar, video) < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        videoStream->time_base = video->time_base;
        videoStream->avg_frame_rate = video->framerate;
        videoStream->sample_aspect_ratio = video->sample_aspect_ratio;

        videoFrame = av_frame_alloc();
        if (!videoFrame)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        videoFrame->format = video->pix_fmt;
        videoFrame->width = width;
        videoFrame->height = height;
        if (av_frame_get_buffer(videoFrame, 0) < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        toYuv.open(width, video->colorspace == AVCOL_SPC_BT709);
        return true;
    }

    bool openAudioEncoder(std::string& error)
    {
        const AVCodec* codec = avcodec_find_encoder_by_name("aac");
        if (!codec)
            codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec)
            return fail(error, "cannot write " + quotedPath(path) + ": no AAC encoder");
        audio = avcodec_alloc_context3(codec);
        if (!audio)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
        audio->sample_rate = kAudioSampleRate;
        audio->bit_rate = 192000;
        audio->time_base = AVRational{1, kAudioSampleRate};
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&audio->ch_layout, &stereo);
        if (format->oformat->flags & AVFMT_GLOBALHEADER)
            audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int r = avcodec_open2(audio, codec, nullptr);
        if (r < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": cannot open the AAC encoder: " + avErrorText(r));
        audioStream = avformat_new_stream(format, nullptr);
        if (!audioStream || avcodec_parameters_from_context(audioStream->codecpar, audio) < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        audioStream->time_base = audio->time_base;

        const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, kAudioChannels, 2 * frameSize);
        audioFrame = av_frame_alloc();
        if (!fifo || !audioFrame)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        audioFrame->format = AV_SAMPLE_FMT_FLTP;
        audioFrame->sample_rate = kAudioSampleRate;
        audioFrame->nb_samples = frameSize;
        av_channel_layout_copy(&audioFrame->ch_layout, &stereo);
        if (av_frame_get_buffer(audioFrame, 0) < 0)
            return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
        return true;
    }

    // Sends one frame (nullptr drains) and writes every packet that comes out.
    bool encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string& error)
    {
        int r = avcodec_send_frame(codec, frame);
        if (r < 0)
            return fail(error, "cannot write " + quotedPath(currentFile()) + ": encoding failed: " + avErrorText(r));
        for (;;) {
            r = avcodec_receive_packet(codec, packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                return fail(error, "cannot write " + quotedPath(currentFile()) + ": encoding failed: " + avErrorText(r));
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const std::string file = currentFile();
            r = av_interleaved_write_frame(format, packet);
            if (r < 0)
                return fail(error, "cannot write " + quotedPath(file) + ": " + avErrorText(r));
        }
    }

    bool encodeAudioFrames(bool all, std::string& error)
    {
        const int frameSize = audioFrame->nb_samples;
        while (av_audio_fifo_size(fifo) >= frameSize || (all && av_audio_fifo_size(fifo) > 0)) {
            if (av_frame_make_writable(audioFrame) < 0)
                return fail(error, "cannot write " + quotedPath(path) + ": out of memory");
            const int available = std::min(av_audio_fifo_size(fifo), frameSize);
            const int got = av_audio_fifo_read(fifo, reinterpret_cast<void**>(audioFrame->data), available);
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
            const bool ok = encode(audio, audioStream, audioFrame, error);
            audioFrame->nb_samples = frameSize;
            if (!ok)
                return false;
        }
        return true;
    }
};

MediaSink::MediaSink(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaSink::~MediaSink() = default;

std::string MediaSink::checkName(const std::string& path)
{
    const std::string ext = lowerExtension(path);
    char probe[4096];
    if (ext == "png")
        return path.find('%') == std::string::npos || av_get_frame_filename2(probe, sizeof probe, path.c_str(), 1, 0) >= 0
                   ? std::string()
                   : quotedPath(path) + ": a PNG pattern needs one frame number, such as frames/%05d.png";
    if (ext == "mp4" || ext == "mkv" || ext == "mov")
        return {};
    return quotedPath(path) + ": unknown output type; use .mp4, .mkv, .mov or a PNG pattern such as frames/%05d.png";
}

std::unique_ptr<MediaSink> MediaSink::open(const std::string& path, int width, int height, Rate rate,
                                           bool withAudio, std::string& error, PixelAspect aspect,
                                           const std::string& shownPath)
{
    auto impl = std::make_unique<Impl>();
    if (aspect.num > 0 && aspect.den > 0)
        impl->aspect = aspect;
    impl->path = shownPath.empty() ? path : shownPath;
    impl->width = width;
    impl->height = height;
    impl->rate = rate;

    error = checkName(path);
    if (!error.empty())
        return nullptr;
    const std::string ext = lowerExtension(path);
    if (ext == "png") {
        impl->kind = path.find('%') != std::string::npos ? Kind::PngPattern : Kind::PngSingle;
        withAudio = false;
    }
    if (width <= 0 || height <= 0 || width > kMaxFrameEdge || height > kMaxFrameEdge) {
        error = "cannot write " + quotedPath(impl->path) + ": unusable size " + std::to_string(width) + "x" +
                std::to_string(height);
        return nullptr;
    }
    if (impl->kind == Kind::Video && (width % 2 != 0 || height % 2 != 0)) {
        error = "cannot write " + quotedPath(impl->path) + ": H.264 needs an even width and height, not " +
                std::to_string(width) + "x" + std::to_string(height);
        return nullptr;
    }
    if (rate.num <= 0 || rate.den <= 0 || static_cast<double>(rate.num) / rate.den < 0.1 ||
        static_cast<double>(rate.num) / rate.den > 1000.0) {
        error = "cannot write " + quotedPath(impl->path) + ": unusable frame rate " + std::to_string(rate.num) + "/" +
                std::to_string(rate.den);
        return nullptr;
    }
    const std::string folder = folderOf(path);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "cannot write " + quotedPath(impl->path) + ": folder " + quotedPath(folder) + " does not exist";
        return nullptr;
    }
    if (access(folder.c_str(), W_OK) != 0) {
        error = "cannot write " + quotedPath(impl->path) + ": " + std::strerror(errno);
        return nullptr;
    }

    int r = avformat_alloc_output_context2(&impl->format, nullptr, impl->kind == Kind::Video ? nullptr : "image2",
                                           localUrl(path).c_str());
    if (r < 0 || !impl->format) {
        error = "cannot write " + quotedPath(impl->path) + ": " + avErrorText(r);
        return nullptr;
    }
    impl->packet = av_packet_alloc();
    if (!impl->packet) {
        error = "cannot write " + quotedPath(impl->path) + ": out of memory";
        return nullptr;
    }
    if (!impl->openVideoEncoder(error))
        return nullptr;
    if (withAudio && !impl->openAudioEncoder(error))
        return nullptr;

    if (!(impl->format->oformat->flags & AVFMT_NOFILE)) {
        r = avio_open(&impl->format->pb, localUrl(path).c_str(), AVIO_FLAG_WRITE);
        if (r < 0) {
            error = "cannot write " + quotedPath(impl->path) + ": " + avErrorText(r);
            return nullptr;
        }
    }
    AVDictionary* options = nullptr;
    if (impl->kind == Kind::PngSingle)
        av_dict_set(&options, "update", "1", 0);
    if (ext == "mp4" || ext == "mov")
        av_dict_set(&options, "movflags", "+faststart", 0);
    r = avformat_write_header(impl->format, &options);
    av_dict_free(&options);
    if (r < 0) {
        error = "cannot write " + quotedPath(impl->path) + ": " + avErrorText(r);
        return nullptr;
    }
    impl->headerWritten = true;
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
    if (av_frame_make_writable(s.videoFrame) < 0)
        return s.fail(error, "cannot write " + quotedPath(s.path) + ": out of memory");
    if (s.kind == Kind::Video) {
        s.toYuv.convert(argb, rowBytes, s.width, s.height, s.videoFrame);
    } else { // RGB only: the effect may leave alpha at 0
        for (int y = 0; y < s.height; ++y) {
            const uint8_t* in = argb + static_cast<std::ptrdiff_t>(y) * rowBytes;
            uint8_t* out = s.videoFrame->data[0] + static_cast<std::ptrdiff_t>(y) * s.videoFrame->linesize[0];
            for (int x = 0; x < s.width; ++x, in += 4, out += 3) {
                out[0] = in[1];
                out[1] = in[2];
                out[2] = in[3];
            }
        }
    }
    s.videoFrame->pts = s.frames;
    if (!s.encode(s.video, s.videoStream, s.videoFrame, error))
        return false;

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
        if (av_audio_fifo_write(s.fifo, planes, static_cast<int>(share)) < static_cast<int>(share))
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
    if (!s.encode(s.video, s.videoStream, nullptr, error))
        return false;
    if (s.audio && (!s.encodeAudioFrames(true, error) || !s.encode(s.audio, s.audioStream, nullptr, error)))
        return false;
    int r = av_write_trailer(s.format);
    if (r < 0)
        return s.fail(error, "cannot write " + quotedPath(s.path) + ": " + avErrorText(r));
    if (!(s.format->oformat->flags & AVFMT_NOFILE)) {
        r = avio_closep(&s.format->pb);
        if (r < 0)
            return s.fail(error, "cannot write " + quotedPath(s.path) + ": " + avErrorText(r));
    }
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

} // namespace brimtone::host
