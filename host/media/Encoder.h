// The video encoder the user chose, with its options, at the input's depth
// and chroma where it takes them, and the input's colour description.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Encoding.h"
#include "Ffmpeg.h"

namespace brimtone::host {

struct VideoShape {
    int width = 0, height = 0;
    AVRational timeBase{1, 25};
    AVRational rate{25, 1};
    AVRational aspect{1, 1};
    AVPixelFormat source = AV_PIX_FMT_YUV420P;  // what the input was stored as
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace space = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

// The encoder `encoding` names for `container` (PNG for image sequences,
// else libx264 or the nearest H.264 or MPEG-4 one); nullptr and why not.
const AVCodec* chooseVideoEncoder(const Encoding& encoding, const AVOutputFormat* container, std::string& error,
                                  std::string* note = nullptr);

// The format `codec` is given frames in: the input's own depth and chroma
// where it takes them.
AVPixelFormat encoderPixelFormat(const AVCodec* codec, AVPixelFormat source);

class VideoEncoder {
public:
    static std::unique_ptr<VideoEncoder> open(const AVCodec* codec, const VideoShape& shape, const Encoding& encoding,
                                              bool globalHeader, std::string& error);

    AVCodecContext* context() const { return codec_.get(); }
    // Sends a frame (nullptr drains); `duration` is kept for its packet.
    int send(AVFrame* frame, int64_t duration);
    // 0 and a packet with its duration; AVERROR(EAGAIN) or AVERROR_EOF when none.
    int receive(AVPacket* packet);

private:
    CodecPtr codec_;
    std::map<int64_t, int64_t> durations_;
};

}  // namespace brimtone::host
