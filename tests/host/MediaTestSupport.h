// Set-up shared by the MediaSource and MediaSink tests.
#pragma once

#include "MediaSink.h"
#include "MediaSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brimtone::host::testing {

struct TempDir {
    std::string path;
    TempDir()
    {
        setMediaLogQuiet(true);
        std::string pattern = (std::filesystem::temp_directory_path() / "brimtone-media-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
};

using Pixels = std::vector<uint8_t>;

inline Pixels readPixels(MediaSource& source, int index, int w, int h)
{
    Pixels pixels(static_cast<size_t>(w) * h * 4);
    std::string error;
    EXPECT_TRUE(source.readFrame(index, w, h, true, pixels.data(), w * 4, error)) << error;
    return pixels;
}

inline double rms(const std::vector<float>& samples)
{
    double sum = 0;
    for (float s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

inline std::unique_ptr<MediaSource> reopen(const std::string& path)
{
    std::string error;
    auto source = MediaSource::openFile(path, error);
    EXPECT_TRUE(source) << error;
    return source;
}

// Writes frames of the built-in clip shrunk to w x h, with its sound.
inline void writeBuiltin(const std::string& path, int w, int h, int frames)
{
    auto builtin = MediaSource::openBuiltin(frames);
    std::string error;
    auto sink = MediaSink::open(path, w, h, builtin->frameRate(), true, error);
    ASSERT_TRUE(sink) << error;
    std::vector<float> audio;
    for (int i = 0; i < frames; ++i) {
        const Pixels pixels = readPixels(*builtin, i, w, h);
        ASSERT_TRUE(builtin->readAudio(i, audio, error)) << error;
        ASSERT_TRUE(sink->writeFrame(pixels.data(), w * 4, &audio, error)) << error;
    }
    EXPECT_EQ(sink->framesWritten(), frames);
    ASSERT_TRUE(sink->finish(error)) << error;
}

} // namespace brimtone::host::testing
