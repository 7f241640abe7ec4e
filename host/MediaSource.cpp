#include "MediaSource.h"

#include "BuiltinClip.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool isHighDefinition(int width, int height)
{
    return width >= 1280 || height > 576;
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

void setMediaLogQuiet(bool quiet)
{
    av_log_set_level(quiet ? AV_LOG_ERROR : AV_LOG_INFO);
}

namespace {


struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
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
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;

// The swscale matrix for a stream's colour space. Streams that do not say
// are taken as players take them: BT.709 at HD sizes, BT.601 below.
int swsMatrix(AVColorSpace space, int width, int height)
{
    switch (space) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return isHighDefinition(width, height) ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

// B, G, R, A pixels turned into A, R, G, B in place: each 32-bit pixel's
// bytes reversed, four pixels at a time.
void reverseBytes(uint8_t* row, int pixels)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i middle = _mm_set1_epi32(0x00ff0000), inner = _mm_set1_epi32(0x0000ff00);
    for (; x + 4 <= pixels; x += 4) {
        auto* at = reinterpret_cast<__m128i*>(row + 4 * x);
        const __m128i p = _mm_loadu_si128(at);
        const __m128i outer = _mm_or_si128(_mm_slli_epi32(p, 24), _mm_srli_epi32(p, 24));
        const __m128i mid = _mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 8), middle),
                                         _mm_and_si128(_mm_srli_epi32(p, 8), inner));
        _mm_storeu_si128(at, _mm_or_si128(outer, mid));
    }
#endif
    for (; x < pixels; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, row + 4 * x, 4);
        pixel = __builtin_bswap32(pixel);
        std::memcpy(row + 4 * x, &pixel, 4);
    }
}

#if defined(__SSE2__)
// Y'CbCr 4:2:0 to A, R, G, B at the same size, as swscale's accurate path
// converts (chroma sited at the centre of each 2x2 block and brought up by
// its bicubic, B = 0 and C = 0.6) but at about the speed of its default
// path, which only repeats chroma: the threshold sees the picture's real
// edges. Fixed point, 16 pixels at a time; chroma carries 6 fraction bits.
class Yuv420ToArgb {
public:
    // coefficients: swscale's for the matrix (Cr to R, Cb to B, Cb and Cr to
    // G, in 16.16, for limited-range chroma).
    void convert(const uint8_t* const planes[], const int strides[], int width, int height,
                 const int coefficients[4], bool fullRange, uint8_t* dst, int rowBytes)
    {
        setMatrix(coefficients, fullRange);
        const int chromaW = (width + 1) / 2, chromaH = (height + 1) / 2;
        // Two repeated samples before the row; after it, room for whole blocks read past its end.
        cb_.resize(static_cast<size_t>((chromaW + 7) / 8) * 8 + 16);
        cr_.resize(cb_.size());
        for (int y = 0; y < height; ++y) {
            // Luma row 2i sits a quarter of a chroma row above chroma row i, 2i+1 a quarter below.
            const int top = (y & 1) ? y / 2 - 1 : y / 2 - 2;
            const int16_t* w = (y & 1) ? kOdd : kEven;
            ptrdiff_t rows[4];
            for (int k = 0; k < 4; ++k)
                rows[k] = std::clamp(top + k, 0, chromaH - 1);
            filterRows(planes[1], strides[1], rows, w, chromaW, cb_);
            filterRows(planes[2], strides[2], rows, w, chromaW, cr_);
            const uint8_t* luma = planes[0] + static_cast<ptrdiff_t>(y) * strides[0];
            uint8_t* out = dst + static_cast<ptrdiff_t>(y) * rowBytes;
            int x = 0;
            for (; x + 16 <= width; x += 16)
                block(luma + x, cb_.data() + x / 2, cr_.data() + x / 2, out + 4 * x);
            if (x < width) { // the same arithmetic on a copy of the rest
                uint8_t lumaRest[16] = {}, outRest[64];
                std::memcpy(lumaRest, luma + x, static_cast<size_t>(width - x));
                block(lumaRest, cb_.data() + x / 2, cr_.data() + x / 2, outRest);
                std::memcpy(out + 4 * x, outRest, static_cast<size_t>(width - x) * 4);
            }
        }
    }

private:
    // The bicubic at a quarter and three quarters of a sample, to 12 bits.
    static constexpr int16_t kEven[4] = {-115, 986, 3571, -346};
    static constexpr int16_t kOdd[4] = {-346, 3571, 986, -115};

    // Each colour is (4 Y * luma + chroma terms + offset) >> 16.
    void setMatrix(const int coefficients[4], bool fullRange)
    {
        const double chroma = (fullRange ? 224.0 / 255.0 : 1.0) / 64.0;
        const double luma = fullRange ? 1.0 : 255.0 / 219.0;
        const auto term = [&](int c) { return static_cast<int16_t>(std::lround(c * chroma)); };
        const auto y = static_cast<int16_t>(std::lround(luma * (1 << 14)));
        lumaCrToR_ = _mm_setr_epi16(y, term(coefficients[0]), y, term(coefficients[0]), y,
                                    term(coefficients[0]), y, term(coefficients[0]));
        lumaCbToB_ = _mm_setr_epi16(y, term(coefficients[1]), y, term(coefficients[1]), y,
                                    term(coefficients[1]), y, term(coefficients[1]));
        const int16_t cbToG = static_cast<int16_t>(-term(coefficients[2]));
        const int16_t crToG = static_cast<int16_t>(-term(coefficients[3]));
        lumaCbToG_ = _mm_setr_epi16(y, cbToG, y, cbToG, y, cbToG, y, cbToG);
        crToG_ = _mm_setr_epi16(crToG, 0, crToG, 0, crToG, 0, crToG, 0);
        offset_ = _mm_set1_epi32(static_cast<int32_t>(std::lround((fullRange ? 0.0 : -16.0 * luma) * 65536.0)) +
                                 32768);
    }

    // One chroma row, less 128, from four, with its ends repeated.
    static void filterRows(const uint8_t* plane, int stride, const ptrdiff_t rows[4], const int16_t* w, int chromaW,
                           std::vector<int16_t>& padded)
    {
        const uint8_t* r[4];
        for (int k = 0; k < 4; ++k)
            r[k] = plane + rows[k] * stride;
        int16_t* out = padded.data() + 2;
        const __m128i w01 = pairs(w, 0), w23 = pairs(w, 2);
        constexpr int kBias = 32 - (128 << 12);
        const __m128i bias = _mm_set1_epi32(kBias), zero = _mm_setzero_si128();
        const auto load = [&](int k, int x) {
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(r[k] + x)), zero);
        };
        int x = 0;
        for (; x + 8 <= chromaW; x += 8) {
            const __m128i a = load(0, x), b = load(1, x), c = load(2, x), d = load(3, x);
            const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), w01),
                                             _mm_madd_epi16(_mm_unpacklo_epi16(c, d), w23));
            const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), w01),
                                             _mm_madd_epi16(_mm_unpackhi_epi16(c, d), w23));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                             _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, bias), 6),
                                             _mm_srai_epi32(_mm_add_epi32(hi, bias), 6)));
        }
        for (; x < chromaW; ++x)
            out[x] = static_cast<int16_t>((w[0] * r[0][x] + w[1] * r[1][x] + w[2] * r[2][x] + w[3] * r[3][x] + kBias) >> 6);
        out[-2] = out[-1] = out[0];
        std::fill(out + chromaW, padded.data() + padded.size(), out[chromaW - 1]);
    }

    static __m128i pairs(const int16_t w[4], int first)
    {
        return _mm_setr_epi16(w[first], w[first + 1], w[first], w[first + 1], w[first], w[first + 1], w[first],
                              w[first + 1]);
    }

    // Eight chroma samples of a padded row (from two before the first) to sixteen.
    void upsample(const int16_t* c, __m128i& first, __m128i& second) const
    {
        const __m128i round = _mm_set1_epi32(1 << 11);
        __m128i p[5];
        for (int k = 0; k < 5; ++k)
            p[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + k));
        const auto taps = [&](__m128i (*unpack)(__m128i, __m128i), int from, __m128i w01, __m128i w23) {
            const __m128i sum = _mm_add_epi32(_mm_madd_epi16(unpack(p[from], p[from + 1]), w01),
                                              _mm_madd_epi16(unpack(p[from + 2], p[from + 3]), w23));
            return _mm_srai_epi32(_mm_add_epi32(sum, round), 12);
        };
        const __m128i even = _mm_packs_epi32(taps(_mm_unpacklo_epi16, 0, even01_, even23_),
                                             taps(_mm_unpackhi_epi16, 0, even01_, even23_));
        const __m128i odd = _mm_packs_epi32(taps(_mm_unpacklo_epi16, 1, odd01_, odd23_),
                                            taps(_mm_unpackhi_epi16, 1, odd01_, odd23_));
        first = _mm_unpacklo_epi16(even, odd);
        second = _mm_unpackhi_epi16(even, odd);
    }

    // One colour of eight pixels, from 4 Y and one or two chroma terms.
    __m128i colour(__m128i luma4, __m128i c, __m128i lumaC, const __m128i* other = nullptr) const
    {
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(luma4, c), lumaC);
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(luma4, c), lumaC);
        if (other) {
            const __m128i zero = _mm_setzero_si128();
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(*other, zero), crToG_));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(*other, zero), crToG_));
        }
        return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, offset_), 16),
                               _mm_srai_epi32(_mm_add_epi32(hi, offset_), 16));
    }

    // Sixteen pixels: sixteen luma samples, eight chroma of each padded row.
    void block(const uint8_t* luma, const int16_t* cb, const int16_t* cr, uint8_t* out) const
    {
        __m128i u[2], v[2];
        upsample(cb, u[0], u[1]);
        upsample(cr, v[0], v[1]);
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma)), zero = _mm_setzero_si128();
        const __m128i y[2] = {_mm_slli_epi16(_mm_unpacklo_epi8(bytes, zero), 2),
                              _mm_slli_epi16(_mm_unpackhi_epi8(bytes, zero), 2)};
        __m128i r[2], g[2], b[2];
        for (int h = 0; h < 2; ++h) {
            r[h] = colour(y[h], v[h], lumaCrToR_);
            g[h] = colour(y[h], u[h], lumaCbToG_, &v[h]);
            b[h] = colour(y[h], u[h], lumaCbToB_);
        }
        const __m128i R = _mm_packus_epi16(r[0], r[1]), G = _mm_packus_epi16(g[0], g[1]);
        const __m128i B = _mm_packus_epi16(b[0], b[1]), A = _mm_set1_epi8(-1);
        const __m128i ar[2] = {_mm_unpacklo_epi8(A, R), _mm_unpackhi_epi8(A, R)};
        const __m128i gb[2] = {_mm_unpacklo_epi8(G, B), _mm_unpackhi_epi8(G, B)};
        auto* to = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(ar[0], gb[0]));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(ar[0], gb[0]));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(ar[1], gb[1]));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(ar[1], gb[1]));
    }

    std::vector<int16_t> cb_, cr_;
    const __m128i even01_ = pairs(kEven, 0), even23_ = pairs(kEven, 2), odd01_ = pairs(kOdd, 0),
                  odd23_ = pairs(kOdd, 2);
    __m128i lumaCrToR_{}, lumaCbToB_{}, lumaCbToG_{}, crToG_{}, offset_{};
};

#endif

// Scales any pixel format into the caller's A, R, G, B buffer, keeping the
// scaler between calls while nothing about the conversion changes.
class Scaler {
public:
    bool scale(const uint8_t* const src[], const int srcStride[], int srcW, int srcH, AVPixelFormat srcFmt,
               AVColorSpace colorSpace, AVColorRange range, int dstW, int dstH, bool highQuality, uint8_t* dst,
               int rowBytes, std::string& error)
    {
        bool fullRange = range == AVCOL_RANGE_JPEG;
        switch (srcFmt) { // the old full-range formats make swscale complain
        case AV_PIX_FMT_YUVJ420P: srcFmt = AV_PIX_FMT_YUV420P, fullRange = true; break;
        case AV_PIX_FMT_YUVJ422P: srcFmt = AV_PIX_FMT_YUV422P, fullRange = true; break;
        case AV_PIX_FMT_YUVJ444P: srcFmt = AV_PIX_FMT_YUV444P, fullRange = true; break;
        case AV_PIX_FMT_YUVJ440P: srcFmt = AV_PIX_FMT_YUV440P, fullRange = true; break;
        default: break;
        }
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(srcFmt);
        if (!desc) {
            error = "unknown pixel format";
            return false;
        }
        const bool yuv = !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
        // Bicubic without accurate rounding or full chroma interpolation: the
        // flags that keep swscale on its SIMD paths, as ffmpeg's own default.
        int flags = SWS_FAST_BILINEAR;
        if (highQuality)
            flags = (dstW < srcW && dstH < srcH) ? SWS_AREA : SWS_BICUBIC;
        const int matrix = yuv ? swsMatrix(colorSpace, srcW, srcH) : SWS_CS_DEFAULT;
#if defined(__SSE2__)
        if (srcFmt == AV_PIX_FMT_YUV420P && dstW == srcW && dstH == srcH) {
            yuv420_.convert(src, srcStride, srcW, srcH, sws_getCoefficients(matrix), fullRange, dst, rowBytes);
            return true;
        }
#endif
        const Key key{srcW, srcH, srcFmt, dstW, dstH, flags, matrix, fullRange};
        // swscale has SIMD code from YUV to B, G, R, A but not to A, R, G, B.
        const AVPixelFormat target = yuv ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
        if (!context_ || !(key == key_)) {
            context_.reset(sws_getContext(srcW, srcH, srcFmt, dstW, dstH, target, flags, nullptr, nullptr,
                                          nullptr));
            if (!context_) {
                error = "cannot convert " + std::string(desc->name) + " " + std::to_string(srcW) + "x" +
                        std::to_string(srcH) + " to ARGB " + std::to_string(dstW) + "x" + std::to_string(dstH);
                return false;
            }
            if (yuv) {
                const int* coefficients = sws_getCoefficients(matrix);
                sws_setColorspaceDetails(context_.get(), coefficients, fullRange ? 1 : 0,
                                         sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            }
            key_ = key;
        }
        uint8_t* const dstPlanes[4] = {dst, nullptr, nullptr, nullptr};
        const int dstStrides[4] = {rowBytes, 0, 0, 0};
        if (sws_scale(context_.get(), src, srcStride, 0, srcH, dstPlanes, dstStrides) <= 0) {
            error = "scaling failed";
            return false;
        }
        if (target != AV_PIX_FMT_ARGB)
            for (int y = 0; y < dstH; ++y)
                reverseBytes(dst + static_cast<std::ptrdiff_t>(y) * rowBytes, dstW);
        if (desc->flags & AV_PIX_FMT_FLAG_ALPHA) { // the host's frames are opaque
            for (int y = 0; y < dstH; ++y) {
                uint8_t* p = dst + static_cast<std::ptrdiff_t>(y) * rowBytes;
                for (int x = 0; x < dstW; ++x)
                    p[4 * x] = 255;
            }
        }
        return true;
    }

private:
    struct Key {
        int srcW = 0, srcH = 0;
        AVPixelFormat srcFmt = AV_PIX_FMT_NONE;
        int dstW = 0, dstH = 0, flags = 0;
        int matrix = SWS_CS_DEFAULT;
        bool fullRange = false;
        bool operator==(const Key&) const = default;
    };
    SwsPtr context_;
    Key key_;
#if defined(__SSE2__)
    Yuv420ToArgb yuv420_;
#endif
};

// One demuxer with one decoder for one stream. Video and audio each get
// their own, so that each can keep its position and seek on its own.
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
    AVFormatContext* format() const { return format_.get(); }
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

    AVPacket* packet() const { return packet_.get(); }
    int streamIndex() const { return stream_; }

private:
    FormatPtr format_;
    CodecPtr codec_;
    PacketPtr packet_;
    int stream_ = -1;
    bool draining_ = false;
};

int64_t pts(const AVFrame* f)
{
    return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
}

// Decoded frames of the video stream, addressed by frame index.
class VideoReader {
public:
    bool open(const std::string& path, std::string& error)
    {
        if (!decoder_.open(path, AVMEDIA_TYPE_VIDEO, error))
            return false;
        path_ = path;
        AVStream* st = decoder_.stream();
        width_ = decoder_.codec()->width;
        height_ = decoder_.codec()->height;
        if (width_ <= 0 || height_ <= 0 || width_ > kMaxFrameEdge || height_ > kMaxFrameEdge) {
            error = quotedPath(path) + ": unusable picture size " + std::to_string(width_) + "x" +
                    std::to_string(height_);
            return false;
        }
        AVRational r = av_guess_frame_rate(decoder_.format(), st, nullptr);
        if (r.num <= 0 || r.den <= 0 || av_q2d(r) > 1000.0 || av_q2d(r) < 0.1)
            r = AVRational{25, 1};
        av_reduce(&r.num, &r.den, r.num, r.den, 1 << 30);
        rate_ = Rate{r.num, r.den};
        AVRational sar = av_guess_sample_aspect_ratio(decoder_.format(), st, nullptr);
        if (sar.num > 0 && sar.den > 0)
            av_reduce(&sar.num, &sar.den, sar.num, sar.den, 1 << 16);
        if (sar.num > 0 && sar.den > 0)
            aspect_ = PixelAspect{sar.num, sar.den};
        startPts_ = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        current_.reset(av_frame_alloc());
        ahead_.reset(av_frame_alloc());
        if (!current_ || !ahead_) {
            error = quotedPath(path) + ": out of memory";
            return false;
        }
        // Index 0 is the first picture decoded. Video may start after the
        // stream's stated start: MKV muxers shift it by the audio's encoder delay.
        if (decoder_.receive(ahead_.get()) == 1 && pts(ahead_.get()) != AV_NOPTS_VALUE)
            startPts_ = std::max(startPts_, pts(ahead_.get()));
        av_frame_unref(ahead_.get());
        decoder_.seek(startPts_);
        frameCount_ = countFrames();
        if (frameCount_ <= 0) {
            error = quotedPath(path) + ": the video stream has no frames";
            return false;
        }
        return true;
    }

    int width() const { return width_; }
    int height() const { return height_; }
    Rate rate() const { return rate_; }
    PixelAspect aspect() const { return aspect_; }
    int frameCount() const { return frameCount_; }
    const char* codecName() const { return avcodec_get_name(decoder_.codec()->codec_id); }
    double startSeconds() const { return static_cast<double>(startPts_) * av_q2d(decoder_.stream()->time_base); }

    // The frame on screen at `index`, decoding forward from where we are and
    // seeking only when the frame lies behind or far ahead.
    const AVFrame* frame(int index, std::string& error)
    {
        if (currentIndex_ == index || (currentIndex_ >= 0 && currentIndex_ < index && aheadIndex_ > index))
            return current_.get();
        constexpr int kMaxDecodeAhead = 48;
        bool seekTried = false;
        if (currentIndex_ > index || index - std::max<int64_t>(currentIndex_, 0) > kMaxDecodeAhead) {
            seekTo(index);
            seekTried = true;
        }
        bool firstAfterSeek = seekTried;
        bool restartTried = false;
        for (;;) {
            int64_t nextIndex = -1;
            if (aheadIndex_ >= 0) {
                nextIndex = aheadIndex_;
                aheadIndex_ = -1;
                av_frame_unref(current_.get());
                av_frame_move_ref(current_.get(), ahead_.get());
            } else {
                const int r = decoder_.receive(ahead_.get());
                if (r < 0) {
                    error = quotedPath(path_) + ": cannot decode frame " + std::to_string(index) + ": " + avErrorText(r);
                    return nullptr;
                }
                if (r == 0) {
                    // A length worked out from the duration may be one frame long;
                    // a file that holds fewer frames than it promises is damaged.
                    if (currentIndex_ >= 0 && !exactCount_ && index == frameCount_ - 1 && currentIndex_ + 1 == index)
                        return current_.get();
                    if (currentIndex_ >= 0) {
                        error = quotedPath(path_) + ": frame " + std::to_string(index) +
                                " cannot be decoded: the file ends after frame " + std::to_string(currentIndex_) +
                                " of the " + std::to_string(frameCount_) + " it promises";
                        return nullptr;
                    }
                    if (!restartTried) {
                        restartTried = true;
                        seekTo(0);
                        firstAfterSeek = true;
                        continue;
                    }
                    error = quotedPath(path_) + ": frame " + std::to_string(index) + " cannot be decoded";
                    return nullptr;
                }
                nextIndex = indexOf(ahead_.get());
                if (nextIndex > index && firstAfterSeek && !restartTried && index > 0) {
                    // The seek landed past the frame: decode from the very start.
                    restartTried = true;
                    av_frame_unref(ahead_.get());
                    seekTo(0);
                    continue;
                }
                firstAfterSeek = false;
                if (nextIndex > index && currentIndex_ >= 0 && currentIndex_ < index) {
                    aheadIndex_ = nextIndex; // the current picture still shows at `index`
                    return current_.get();
                }
                av_frame_unref(current_.get());
                av_frame_move_ref(current_.get(), ahead_.get());
            }
            currentIndex_ = nextIndex;
            if (currentIndex_ >= index)
                return current_.get();
        }
    }

    // The frame at `index` when the decoder reaches it at once; else the key
    // frame at or before it, which decodes alone: what an editor shows while
    // scrubbing through long stretches between key frames.
    const AVFrame* nearbyFrame(int index, std::string& error)
    {
        constexpr int kQuickSteps = 2;
        const bool reachable = currentIndex_ == index || (currentIndex_ >= 0 && currentIndex_ < index &&
                                                          (aheadIndex_ > index || index - currentIndex_ <= kQuickSteps));
        if (reachable || index == 0)
            return frame(index, error);
        // A frame decoded since the key frame before `index`, and not past
        // it, is as near as a seek would get: no work at all.
        if (currentIndex_ >= 0 && currentIndex_ < index && pts(current_.get()) != AV_NOPTS_VALUE) {
            const AVIndexEntry* key =
                avformat_index_get_entry_from_timestamp(decoder_.stream(), ptsOf(index), AVSEEK_FLAG_BACKWARD);
            if (key != nullptr && (key->flags & AVINDEX_KEYFRAME) && pts(current_.get()) >= key->timestamp)
                return current_.get();
        }
        seekTo(index);
        const int r = decoder_.receive(ahead_.get());
        if (r != 1)
            return frame(index, error);
        const int64_t keyIndex = indexOf(ahead_.get());
        av_frame_move_ref(current_.get(), ahead_.get());
        currentIndex_ = keyIndex;
        if (keyIndex > index || keyIndex < 0)
            return frame(index, error);  // the seek landed past it
        return current_.get();
    }

private:
    int64_t indexOf(const AVFrame* f)
    {
        const int64_t p = pts(f);
        if (p == AV_NOPTS_VALUE)
            return currentIndex_ + 1;
        return av_rescale_q_rnd(p - startPts_, decoder_.stream()->time_base, AVRational{rate_.den, rate_.num},
                                static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    }

    int64_t ptsOf(int64_t index) const
    {
        return startPts_ + av_rescale_q(index, AVRational{rate_.den, rate_.num}, decoder_.stream()->time_base);
    }

    void seekTo(int64_t index)
    {
        decoder_.seek(ptsOf(index));
        av_frame_unref(current_.get());
        av_frame_unref(ahead_.get());
        currentIndex_ = -1;
        aheadIndex_ = -1;
    }

    // From the container when it says; otherwise from the last timestamp.
    int countFrames()
    {
        const AVStream* st = decoder_.stream();
        const int64_t kLimit = 1 << 30;
        exactCount_ = st->nb_frames > 0;
        if (st->nb_frames > 0)
            return static_cast<int>(std::min<int64_t>(st->nb_frames, kLimit));
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
            const int64_t stated = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
            const int64_t n = av_rescale_q_rnd(stated + st->duration - startPts_, st->time_base,
                                               AVRational{rate_.den, rate_.num}, AV_ROUND_NEAR_INF);
            if (n > 0)
                return static_cast<int>(std::min(n, kLimit));
        }
        // Container duration mixes in the audio, so scan the video packets of
        // the last seconds (or the whole file when its length is unknown).
        const AVFormatContext* fmt = decoder_.format();
        if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 10 * AV_TIME_BASE) {
            const int64_t tail = fmt->duration - 10 * AV_TIME_BASE;
            decoder_.seek(startPts_ + av_rescale_q(tail, AV_TIME_BASE_Q, st->time_base));
        }
        int64_t last = -1;
        int64_t packets = 0;
        AVPacket* pkt = decoder_.packet();
        for (int64_t guard = 0; guard < kLimit && av_read_frame(decoder_.format(), pkt) >= 0; ++guard) {
            if (pkt->stream_index == decoder_.streamIndex()) {
                ++packets;
                const int64_t p = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
                if (p != AV_NOPTS_VALUE) {
                    const int64_t i = av_rescale_q_rnd(p - startPts_, st->time_base,
                                                       AVRational{rate_.den, rate_.num}, AV_ROUND_NEAR_INF);
                    last = std::max(last, i);
                }
            }
            av_packet_unref(pkt);
        }
        decoder_.seek(startPts_);
        if (last >= 0)
            return static_cast<int>(std::min(last + 1, kLimit));
        return static_cast<int>(std::min(packets, kLimit));
    }

    StreamDecoder decoder_;
    std::string path_;
    int width_ = 0, height_ = 0, frameCount_ = 0;
    bool exactCount_ = false; // the container states the number of frames
    Rate rate_;
    PixelAspect aspect_;
    int64_t startPts_ = 0;
    FramePtr current_, ahead_;
    int64_t currentIndex_ = -1, aheadIndex_ = -1;
};

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

    const char* codecName() const { return avcodec_get_name(decoder_.codec()->codec_id); }

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

std::string clockText(double seconds)
{
    const int64_t total = static_cast<int64_t>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(total / 3600),
                      static_cast<long long>(total / 60 % 60), static_cast<long long>(total % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(total / 60),
                      static_cast<long long>(total % 60));
    return text;
}

} // namespace

struct MediaSource::Impl {
    std::string name;
    std::unique_ptr<BuiltinClip> builtin;
    std::vector<uint8_t> native; // the built-in clip's last rendered frame
    int nativeIndex = -1;
    std::unique_ptr<VideoReader> video;
    std::unique_ptr<AudioReader> audio;
    Scaler scaler;
};

MediaSource::MediaSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaSource::~MediaSource() = default;

std::unique_ptr<MediaSource> MediaSource::openFile(const std::string& path, std::string& error)
{
    auto impl = std::make_unique<Impl>();
    impl->name = quotedPath(path);
    impl->video = std::make_unique<VideoReader>();
    if (!impl->video->open(path, error))
        return nullptr;
    impl->audio = std::make_unique<AudioReader>();
    std::string audioError;
    if (!impl->audio->open(path, impl->video->startSeconds(), audioError))
        impl->audio.reset(); // no (usable) sound: frames are silent
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
    return impl_->builtin ? Rate{BuiltinClip::kRateNum, BuiltinClip::kRateDen} : impl_->video->rate();
}

bool MediaSource::hasAudio() const
{
    return impl_->builtin || impl_->audio;
}

PixelAspect MediaSource::pixelAspect() const
{
    return impl_->builtin ? PixelAspect{} : impl_->video->aspect();
}

std::string MediaSource::description() const
{
    const Rate r = frameRate();
    char fps[32];
    std::snprintf(fps, sizeof fps, "%.6g", static_cast<double>(r.num) / r.den);
    std::string text = impl_->name + ": " + std::to_string(width()) + "x" + std::to_string(height()) + ", " +
                       fps + " fps, " + std::to_string(frameCount()) + " frames (" +
                       clockText(static_cast<double>(frameCount()) * r.den / r.num) + "), ";
    if (impl_->builtin)
        return text + "colour pattern with a 440 Hz tone";
    text += impl_->video->codecName();
    text += impl_->audio ? std::string(" + ") + impl_->audio->codecName() : std::string(", no audio");
    return text;
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
                std::to_string(frameCount()) + " frames)";
        return false;
    }
    std::string cause;
    bool ok = false;
    if (impl_->builtin) {
        if (impl_->nativeIndex != index) {
            impl_->builtin->renderFrame(index, impl_->native.data(), BuiltinClip::kWidth * 4);
            impl_->nativeIndex = index;
        }
        const uint8_t* planes[4] = {impl_->native.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {BuiltinClip::kWidth * 4, 0, 0, 0};
        ok = impl_->scaler.scale(planes, strides, BuiltinClip::kWidth, BuiltinClip::kHeight, AV_PIX_FMT_ARGB,
                                 AVCOL_SPC_RGB, AVCOL_RANGE_JPEG, width, height, highQuality, dst, rowBytes,
                                 cause);
    } else {
        const AVFrame* f = nearby ? impl_->video->nearbyFrame(index, error) : impl_->video->frame(index, error);
        if (!f)
            return false;
        ok = impl_->scaler.scale(f->data, f->linesize, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                 f->colorspace, f->color_range, width, height, highQuality, dst, rowBytes, cause);
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
                std::to_string(frameCount()) + " frames)";
        return false;
    }
    if (!hasAudio())
        return true;
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

std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string quotedPath(const std::string& path)
{
    return "'" + path + "'";
}

std::string localUrl(const std::string& path)
{
    return path.find("://") == std::string::npos ? "file:" + path : path;
}

} // namespace brimtone::host
