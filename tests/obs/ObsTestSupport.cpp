#include "ObsTestSupport.h"

#include <obs-nix-platform.h>
#include <util/base.h>
#include <util/platform.h>
#include <X11/Xlib.h>

#include <dlfcn.h>
#include <link.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

namespace brimtone::obs_testing {

Xvfb::Xvfb()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24", nullptr};
    pid_ = fork();
    if (pid_ == 0) {
        // Ends with the test, also when the test is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        close(fds[0]);
        execvp("Xvfb", const_cast<char**>(argv));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes the display's number once it accepts clients; the end of
    // the pipe without one means that it did not start.
    char number[16] = {};
    size_t got = 0;
    while (pid_ > 0 && got + 1 < sizeof number && read(fds[0], number + got, 1) == 1 && number[got] != '\n')
        ++got;
    close(fds[0]);
    if (got > 0)
        display_ = ":" + std::string(number, got);
}

Xvfb::~Xvfb()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

namespace {

constexpr char kCameraId[] = "brimtone_test_camera";

// Delivers its picture on every tick of the video thread, as a camera
// delivers a frame for every frame of the canvas.
struct TestCamera {
    obs_source_t* source;
    Image picture;

    void Deliver()
    {
        if (picture.rgba.empty())
            return;
        obs_source_frame frame = {};
        frame.data[0] = picture.rgba.data();
        frame.linesize[0] = picture.width * 4;
        frame.width = picture.width;
        frame.height = picture.height;
        frame.format = VIDEO_FORMAT_RGBA;
        frame.full_range = true;
        frame.timestamp = os_gettime_ns();
        obs_source_output_video(source, &frame);
    }
};

// libobs unloads its OpenGL library at shutdown, and with it Mesa's driver,
// whose allocations would then look leaked to the sanitizers' leak check at
// exit; kept loaded, they stay reachable as they are.
void KeepGraphicsLoaded()
{
    std::vector<std::string> graphics;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            const std::string_view name = info->dlpi_name;
            if (name.find("/libobs-opengl.so") != name.npos || name.ends_with("_dri.so"))
                static_cast<std::vector<std::string>*>(found)->emplace_back(name);
            return 0;
        },
        &graphics);
    for (const std::string& library : graphics)
        dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace

std::unique_ptr<ObsSession> ObsSession::Start(uint32_t width, uint32_t height, std::string& why)
{
    std::unique_ptr<ObsSession> session(new ObsSession);
    if (session->xvfb_.display().empty()) {
        why = "Xvfb did not start";
        return nullptr;
    }
    setenv("DISPLAY", session->xvfb_.display().c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    Display* x11 = XOpenDisplay(session->xvfb_.display().c_str());
    session->x11_ = x11;
    if (x11 == nullptr) {
        why = "cannot open the display " + session->xvfb_.display();
        return nullptr;
    }
    base_set_log_handler(KeepLog, session.get());
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(x11);
    if (!obs_startup("en-US", nullptr, nullptr)) {
        why = "obs_startup failed";
        return nullptr;
    }
    session->started_ = true;
    obs_video_info video{};
    video.graphics_module = "libobs-opengl";
    video.fps_num = 30;
    video.fps_den = 1;
    video.base_width = video.output_width = width;
    video.base_height = video.output_height = height;
    video.output_format = VIDEO_FORMAT_RGBA;
    video.colorspace = VIDEO_CS_SRGB;
    video.range = VIDEO_RANGE_FULL;
    video.scale_type = OBS_SCALE_DISABLE;
    if (const int status = obs_reset_video(&video); status != OBS_VIDEO_SUCCESS) {
        why = "obs_reset_video failed with " + std::to_string(status);
        return nullptr;
    }
    KeepGraphicsLoaded();
    obs_source_info camera = {};
    camera.id = kCameraId;
    camera.type = OBS_SOURCE_TYPE_INPUT;
    camera.output_flags = OBS_SOURCE_ASYNC_VIDEO;
    camera.get_name = [](void*) { return "Test camera"; };
    // The picture comes by its address in the settings: it must be in place
    // before the video thread first ticks the source.
    camera.create = [](obs_data_t* settings, obs_source_t* source) -> void* {
        const auto* picture = reinterpret_cast<const Image*>(obs_data_get_int(settings, "picture"));
        return new TestCamera{source, picture != nullptr ? *picture : Image{}};
    };
    camera.destroy = [](void* data) { delete static_cast<TestCamera*>(data); };
    camera.video_tick = [](void* data, float) { static_cast<TestCamera*>(data)->Deliver(); };
    obs_register_source(&camera);
    obs_add_module_path(BRIMTONE_OBS_MODULE_DIR, BRIMTONE_OBS_DATA_DIR);
    obs_find_modules2(LoadModule, session.get());
    for (const char* name : {"image-source", "obs-filters", "brimtone"}) {
        if (session->loaded_.count(name) == 0) {
            why = std::string("module ") + name + " not loaded";
            return nullptr;
        }
    }
    return session;
}

ObsSession::~ObsSession()
{
    if (started_)
        obs_shutdown();
    base_set_log_handler(nullptr, nullptr);
    if (x11_ != nullptr)
        XCloseDisplay(static_cast<Display*>(x11_));
}

std::string ObsSession::LoadedFrom(const std::string& name) const
{
    const auto found = loaded_.find(name);
    return found == loaded_.end() ? std::string() : found->second;
}

std::vector<std::string> ObsSession::Log() const
{
    const std::lock_guard<std::mutex> lock(logLock_);
    return log_;
}

obs_source_t* ObsSession::Camera(const Image& picture)
{
    obs_data_t* settings = obs_data_create();
    obs_data_set_int(settings, "picture", reinterpret_cast<intptr_t>(&picture));
    obs_source_t* camera = obs_source_create_private(kCameraId, "camera", settings);
    obs_data_release(settings);
    obs_source_set_async_unbuffered(camera, true);
    for (int tries = 0; tries < 10 && obs_source_get_width(camera) == 0; ++tries)
        WaitForNextFrame();
    if (obs_source_get_width(camera) != picture.width) {
        obs_source_release(camera);
        return nullptr;
    }
    return camera;
}

bool ObsSession::WaitForNextFrame()
{
    std::unique_lock<std::mutex> lock(frameLock_);
    // The frame under way may have ticked before the call: wait for the one after.
    const uint64_t target = frames_ + 2;
    obs_add_main_render_callback(CountFrame, this);
    const bool reached = frameDone_.wait_for(lock, std::chrono::seconds(10), [&] { return frames_ >= target; });
    lock.unlock();
    obs_remove_main_render_callback(CountFrame, this);
    return reached;
}

// OBS's own image source and filters from wherever OBS Studio is installed;
// brimtone only from the build tree, so that an installed package's copy
// never stands in for it.
void ObsSession::LoadModule(void* param, const obs_module_info2* info)
{
    auto* session = static_cast<ObsSession*>(param);
    const std::string name = info->name;
    const bool fromBuild = std::string(info->bin_path).starts_with(BRIMTONE_OBS_MODULE_DIR "/");
    if (name == "brimtone" ? !fromBuild : name != "image-source" && name != "obs-filters")
        return;
    obs_module_t* module = nullptr;
    if (obs_open_module(&module, info->bin_path, info->data_path) == MODULE_SUCCESS && obs_init_module(module))
        session->loaded_[name] = info->bin_path;
}

void ObsSession::KeepLog(int level, const char* format, va_list args, void* param)
{
    auto* session = static_cast<ObsSession*>(param);
    char line[4096];
    std::vsnprintf(line, sizeof line, format, args);
    if (level <= LOG_WARNING)
        std::fprintf(stderr, "libobs: %s\n", line);
    const char* prefix = level <= LOG_ERROR ? "error: " : level <= LOG_WARNING ? "warning: " : "";
    const std::lock_guard<std::mutex> lock(session->logLock_);
    session->log_.push_back(prefix + std::string(line));
}

void ObsSession::CountFrame(void* param, uint32_t, uint32_t)
{
    auto* session = static_cast<ObsSession*>(param);
    const std::lock_guard<std::mutex> lock(session->frameLock_);
    ++session->frames_;
    session->frameDone_.notify_all();
}

SourceReader::SourceReader(uint32_t width, uint32_t height) : width_(width), height_(height)
{
    obs_enter_graphics();
    target_ = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    stage_ = gs_stagesurface_create(width, height, GS_RGBA);
    obs_leave_graphics();
}

SourceReader::~SourceReader()
{
    obs_enter_graphics();
    gs_stagesurface_destroy(stage_);
    gs_texrender_destroy(target_);
    obs_leave_graphics();
}

bool SourceReader::Read(obs_source_t* source, Image& image)
{
    image.width = width_;
    image.height = height_;
    image.rgba.resize(size_t(width_) * height_ * 4);
    bool read = false;
    obs_enter_graphics();
    gs_texrender_reset(target_);
    if (stage_ != nullptr && gs_texrender_begin(target_, width_, height_)) {
        struct vec4 clear;
        vec4_zero(&clear);
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        gs_ortho(0.0f, float(width_), 0.0f, float(height_), -100.0f, 100.0f);
        gs_blend_state_push();
        gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
        obs_source_video_render(source);
        gs_blend_state_pop();
        gs_texrender_end(target_);
        gs_stage_texture(stage_, gs_texrender_get_texture(target_));
        uint8_t* data = nullptr;
        uint32_t lineSize = 0;
        if (gs_stagesurface_map(stage_, &data, &lineSize)) {
            const size_t rowBytes = size_t(width_) * 4;
            for (uint32_t row = 0; row < height_; ++row)
                std::memcpy(&image.rgba[row * rowBytes], data + size_t(row) * lineSize, rowBytes);
            gs_stagesurface_unmap(stage_);
            read = true;
        }
    }
    obs_leave_graphics();
    return read;
}

Image RenderSource(obs_source_t* source)
{
    Image image;
    const uint32_t width = obs_source_get_width(source);
    const uint32_t height = obs_source_get_height(source);
    if (width != 0 && height != 0 && !SourceReader(width, height).Read(source, image))
        image = Image{};
    return image;
}

bool WritePng(const Image& image, const std::filesystem::path& path)
{
    const std::filesystem::path raw = path.string() + ".rgba";
    std::ofstream(raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.rgba.data()), std::streamsize(image.rgba.size()));
    const std::string command = "ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt rgba -s " +
                                std::to_string(image.width) + "x" + std::to_string(image.height) + " -i '" +
                                raw.string() + "' -frames:v 1 -y '" + path.string() + "'";
    const bool written = std::system(command.c_str()) == 0;
    std::filesystem::remove(raw);
    return written;
}

obs_source_t* ImageSource(const std::filesystem::path& png)
{
    obs_data_t* settings = obs_data_create();
    obs_data_set_string(settings, "file", png.c_str());
    obs_source_t* source = obs_source_create_private("image_source", "picture", settings);
    obs_data_release(settings);
    if (source != nullptr && obs_source_get_width(source) == 0) {
        obs_source_release(source);
        return nullptr;
    }
    return source;
}

}  // namespace brimtone::obs_testing
