#include "Ffmpeg.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace brimtone::host {

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

std::string inputUrl(const std::string& path)
{
    return path == "-" ? "pipe:0" : localUrl(path);
}

std::string outputUrl(const std::string& path)
{
    return path == "-" ? "pipe:1" : localUrl(path);
}

std::string inputName(const std::string& path)
{
    return path == "-" ? "standard input" : quotedPath(path);
}

void setMediaLogQuiet(bool quiet)
{
    av_log_set_level(quiet ? AV_LOG_ERROR : AV_LOG_INFO);
}

struct ErrorWatch::State {
    std::vector<const void*> contexts;
    std::string first;
};

namespace {

std::mutex watchMutex;
std::vector<std::weak_ptr<ErrorWatch::State>>& watches()
{
    static std::vector<std::weak_ptr<ErrorWatch::State>> all;
    return all;
}
void (*lineHook)() = nullptr;

// Decoders run on threads with copies of their context; the copies keep the
// original's opaque pointer, which names the watch.
bool belongsTo(void* context, const ErrorWatch::State& state)
{
    if (!context)
        return false;
    if (std::find(state.contexts.begin(), state.contexts.end(), context) != state.contexts.end())
        return true;
    const AVClass* cls = *static_cast<const AVClass**>(context);
    if (cls == avcodec_get_class()) {
        const void* tag = static_cast<AVCodecContext*>(context)->opaque;
        return tag && std::find(state.contexts.begin(), state.contexts.end(), tag) != state.contexts.end();
    }
    return false;
}

void mediaLog(void* context, int level, const char* format, va_list arguments)
{
    if (level <= AV_LOG_ERROR) {
        va_list copy;
        va_copy(copy, arguments);
        char line[512];
        std::vsnprintf(line, sizeof line, format, copy);
        va_end(copy);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
            text.pop_back();
        std::lock_guard lock(watchMutex);
        for (auto& weak : watches())
            if (auto state = weak.lock(); state && state->first.empty() && belongsTo(context, *state))
                state->first = text;
    }
    if (level <= av_log_get_level() && lineHook)
        lineHook();
    av_log_default_callback(context, level, format, arguments);
}

void installLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(mediaLog); });
}

}  // namespace

void setMediaLogHook(void (*beforeLine)())
{
    installLog();
    lineHook = beforeLine;
}

ErrorWatch::ErrorWatch(const void* context) : state_(std::make_shared<State>())
{
    installLog();
    state_->contexts.push_back(context);
    std::lock_guard lock(watchMutex);
    auto& all = watches();
    std::erase_if(all, [](const auto& weak) { return weak.expired(); });
    all.push_back(state_);
}

ErrorWatch::~ErrorWatch() = default;

void ErrorWatch::watchAlso(const void* context)
{
    std::lock_guard lock(watchMutex);
    state_->contexts.push_back(context);
}

void ErrorWatch::clear()
{
    std::lock_guard lock(watchMutex);
    state_->first.clear();
}

std::string ErrorWatch::firstError() const
{
    std::lock_guard lock(watchMutex);
    return state_->first;
}

}  // namespace brimtone::host
