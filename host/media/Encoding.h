// What the user chose for the output's encoding; empty fields keep the
// defaults (H.264 at CRF 18, every other stream copied where the container
// takes it, the container by the output's extension).
#pragma once

#include <optional>
#include <string>

namespace brimtone::host {

struct Encoding {
    std::string videoCodec;  // any FFmpeg video encoder
    std::optional<int> crf;
    std::string preset;
    std::string bitrate;     // as FFmpeg reads it: 5M, 800k
    std::string audioCodec;  // "copy", or an encoder that every sound track is converted with
    std::string format;      // a muxer's name
};

}  // namespace brimtone::host
