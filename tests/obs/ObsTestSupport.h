// Debian's libobs as a test host: an X server of the test's own (Xvfb), so
// that libobs's OpenGL renderer runs on Mesa's software rasterizer whatever
// display the caller has; OBS's image source and filters from the installed
// OBS Studio; our module found in the build tree and loaded by OBS's own
// module loader, as OBS Studio finds installed modules. Shared by the tests
// and the benchmark.
#pragma once

#include <obs.h>

#include <sys/types.h>

#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brimtone::obs_testing {

// An Xvfb that picks a free display itself (two test programs may start
// one each at the same time); stopped with the object.
class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // ":N", or empty when Xvfb did not start.
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// 8-bit RGBA rows without padding.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
};

// libobs once per process, on its OpenGL renderer with a canvas of the given
// size, with OBS's image source and filters and our module. Its log is
// kept; warnings and errors also go to standard error.
class ObsSession {
public:
    // Nil, with the reason in why, when something would not start.
    static std::unique_ptr<ObsSession> Start(uint32_t width, uint32_t height, std::string& why);
    ~ObsSession();
    ObsSession(const ObsSession&) = delete;
    ObsSession& operator=(const ObsSession&) = delete;

    // The file from which OBS's loader loaded the module; empty if it did not.
    std::string LoadedFrom(const std::string& name) const;

    std::vector<std::string> Log() const;

    // A source that shows the image as a camera delivers frames, asynchronously
    // (8-bit RGBA here, so that nothing converts its colours); nil when
    // libobs did not take the frame within ten seconds.
    obs_source_t* Camera(const Image& frame);

    // Returns once libobs's video thread has ticked every source and rendered
    // a whole frame that began after the call: deferred property changes
    // have then reached the sources. False after ten seconds without.
    bool WaitForNextFrame();

private:
    ObsSession() = default;
    static void LoadModule(void* param, const obs_module_info2* info);
    static void KeepLog(int level, const char* format, va_list args, void* param);
    static void CountFrame(void* param, uint32_t width, uint32_t height);

    Xvfb xvfb_;
    void* x11_ = nullptr;
    bool started_ = false;
    std::map<std::string, std::string> loaded_;  // name: binary
    mutable std::mutex logLock_;
    std::vector<std::string> log_;
    std::mutex frameLock_;
    std::condition_variable frameDone_;
    uint64_t frames_ = 0;
};

// What a source draws, as OBS's screenshots read it: rendered into an 8-bit
// RGBA texture and copied back. Keeps its textures from frame to frame.
class SourceReader {
public:
    SourceReader(uint32_t width, uint32_t height);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // The top-left width x height pixels of what source draws.
    bool Read(obs_source_t* source, Image& image);

private:
    uint32_t width_;
    uint32_t height_;
    gs_texrender_t* target_ = nullptr;
    gs_stagesurf_t* stage_ = nullptr;
};

// The source's picture at its own size; empty when it has none.
Image RenderSource(obs_source_t* source);

// The image as a PNG, written by ffmpeg; false when that failed.
bool WritePng(const Image& image, const std::filesystem::path& path);

// OBS's image source showing the file; nil when it cannot read it.
obs_source_t* ImageSource(const std::filesystem::path& png);

}  // namespace brimtone::obs_testing
