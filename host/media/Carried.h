// Every stream of the input but the picture the plug-in changes: sound
// tracks, subtitles, attachments, data. Each is copied packet for packet
// where the output's container takes its codec, converted where it does not
// (sound to the container's own, text subtitles to its text format), or left
// out when nothing fits; the user is told on one line per stream.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Encoding.h"
#include "Ffmpeg.h"

namespace brimtone::host {

struct CarriedStream {
    enum class Action { Copy, Convert, Leave };
    int input = -1;
    Action action = Action::Copy;
    const AVCodec* encoder = nullptr;  // for Convert
    std::string line;                  // what the user is told, for Convert and Leave
};

// "stream #1 (aac, eng)".
std::string streamLabel(const AVStream* stream);
// A picture that stands for the whole file (a cover), not a video.
bool isCoverPicture(const AVStream* stream);

// The file type a cover picture of this codec has as a Matroska attachment
// ("image/png"); nullptr for codecs that are no still picture.
const char* coverMimeType(AVCodecID codec);

// The codec's name; for a stream FFmpeg has no codec for, its four-letter tag
// ("tmcd" for a QuickTime timecode).
std::string codecName(const AVCodecParameters* par);

// What happens to each stream of `input` other than `video` in `container`.
// `withSound` false leaves the sound out (a render without it). An error only
// when the user's --audio-codec cannot be done.
std::vector<CarriedStream> planCarried(const AVFormatContext* input, int video, const AVOutputFormat* container,
                                       const Encoding& encoding, bool withSound, std::string& error);

// Whether `container` can hold `codec`: 1 yes, 0 no, -1 it does not say.
int containerTakes(const AVOutputFormat* container, AVCodecID codec);

// Decodes one carried stream and encodes it again: sound to another codec,
// text subtitles to another text format. Packets out are in the encoder's
// time base, with the input's timing.
class StreamConverter {
public:
    static std::unique_ptr<StreamConverter> open(const AVStream* input, const AVCodec* encoder, bool globalHeader,
                                                 std::string& error);
    virtual ~StreamConverter() = default;
    virtual AVCodecContext* encoder() const = 0;
    // Each packet that comes out goes to `write`; nullptr drains.
    virtual bool convert(const AVPacket* packet, const std::function<bool(AVPacket*)>& write,
                         std::string& error) = 0;
};

}  // namespace brimtone::host
