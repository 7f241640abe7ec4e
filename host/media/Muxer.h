// The output: its streams in the input's order (the new picture where the
// input's was, every carried stream around it), the input's tags, chapters
// and dispositions, and each packet's timing. Writes a file or standard output.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Carried.h"
#include "Ffmpeg.h"

namespace brimtone::host {

// The muxer for `path` ("-" is standard output, Matroska unless `format`
// names another); nullptr and why not.
const AVOutputFormat* chooseContainer(const std::string& path, const std::string& format, std::string& error);

class Muxer {
public:
    // `shownPath` names the output in messages.
    static std::unique_ptr<Muxer> open(const std::string& path, const AVOutputFormat* container,
                                       const std::string& shownPath, std::string& error);

    bool globalHeader() const { return format_->oformat->flags & AVFMT_GLOBALHEADER; }

    // The stream of an encoder; `like` (may be null) gives its tags and disposition.
    AVStream* addEncoded(const AVCodecContext* encoder, const AVStream* like, std::string& error);
    // Every stream of `input` in its order: the encoder's where `video` was,
    // the carried ones as planned; and the input's tags and chapters.
    // Timestamps move back by `offset` (AV_TIME_BASE units); chapters are cut
    // to what lies before `end` (likewise; 0: no end). The encoder's stream,
    // or nullptr.
    AVStream* addStreams(const AVFormatContext* input, int video, const AVCodecContext* encoder,
                         const std::vector<CarriedStream>& plan, int64_t offset, int64_t end, std::string& error);

    bool start(std::string& error);
    // A packet of an encoder's stream, in the encoder's time base.
    bool writeEncoded(AVPacket* packet, AVStream* stream, AVRational from, std::string& error);
    // A packet of a carried input stream (copied or converted); nullptr
    // packets drain the converters.
    bool writeCarried(AVPacket* packet, std::string& error);
    bool drainCarried(std::string& error);
    bool finish(std::string& error);

private:
    Muxer() = default;
    bool write(AVPacket* packet, std::string& error);

    struct Carried {
        AVStream* out = nullptr;
        const AVStream* in = nullptr;
        std::unique_ptr<StreamConverter> converter;
        int64_t lastDts = AV_NOPTS_VALUE;
    };
    bool coverAttachment(Carried& c, std::string& error);
    OutputPtr format_;
    std::string shown_;
    std::vector<Carried> carried_;  // by input stream index
    int64_t offset_ = 0;
};

}  // namespace brimtone::host
