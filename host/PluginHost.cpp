#include "PluginHost.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "MacErrors.h"
#include "MacMemory.h"
#include "MediaSource.h"
#include "QuickDraw.h"
#include "Resources.h"

namespace brimtone::host {

namespace {

// Blit and GetMovieInfo carry no instance; they answer for the host that is
// calling the plug-in right now. One call at a time, as the interface says.
PluginHost* gCallingHost = nullptr;

constexpr SInt16 kInterfaceVersion = 5;

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The <string> value that follows <key>KEY</key> in a property list; empty
// when there is none.
std::string plistString(const std::string& plist, const std::string& key)
{
    const std::string keyTag = "<key>" + key + "</key>";
    const size_t at = plist.find(keyTag);
    if (at == std::string::npos) return {};
    const size_t open = plist.find("<string>", at + keyTag.size());
    if (open == std::string::npos) return {};
    const size_t start = open + std::strlen("<string>");
    const size_t close = plist.find("</string>", start);
    if (close == std::string::npos) return {};
    // Only white space may stand between the key and its value.
    if (plist.find_first_not_of(" \t\r\n", at + keyTag.size()) != open) return {};
    std::string value = plist.substr(start, close - start);
    const size_t first = value.find_first_not_of(" \t\r\n");
    const size_t last = value.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

// The executable named in Info.plist, else the only shared object there is.
std::filesystem::path findExecutable(const std::filesystem::path& bundle, std::string& error)
{
    const auto contents = bundle / "Contents";
    const auto linuxDir = contents / "Linux";
    std::error_code ec;
    if (!std::filesystem::is_directory(bundle, ec)) {
        error = "cannot load plug-in '" + bundle.string() + "': " +
                (std::filesystem::exists(bundle, ec)
                     ? "not a bundle (a bundle is a folder such as Brimtone.bundle, with Contents/Linux inside)"
                     : "no such bundle");
        return {};
    }
    const std::string name = plistString(readFile(contents / "Info.plist"), "CFBundleExecutable");
    if (!name.empty() && name.find('/') == std::string::npos) {
        auto candidate = linuxDir / (name + ".so");
        if (std::filesystem::exists(candidate, ec)) return candidate;
        candidate = linuxDir / name;
        if (std::filesystem::exists(candidate, ec)) return candidate;
    }
    std::vector<std::filesystem::path> objects;
    for (const auto& entry : std::filesystem::directory_iterator(linuxDir, ec))
        if (entry.path().extension() == ".so") objects.push_back(entry.path());
    if (objects.size() == 1) return objects.front();
    error = "cannot load plug-in '" + bundle.string() + "': no executable in Contents/Linux";
    return {};
}

// Source over destination at opacity/255, per channel, rounded.
inline UInt8 mix(UInt8 source, UInt8 dest, int opacity)
{
    return UInt8((source * opacity + dest * (255 - opacity) + 127) / 255);
}

}  // namespace

struct PluginHost::FetchedFrame {
    GWorldPtr world = nullptr;
    int index = 0;
    FrameSupply* supply = nullptr;  // the frame goes back there, else it is disposed of
    const std::vector<float>* audio = nullptr;
    std::string audioError;
};

std::string resultName(SInt32 result)
{
    static const char* const names[] = {
        "kPluginOK",          "kPluginCancel",           "kPluginFinished",
        "kPluginBadParams",   "kPluginOutOfMemory",      "kPluginOutOfDiskSpace",
        "kPluginFailed",      "kPluginCantGetNeededFrame", "kPluginUnimplemented",
        "kPluginTryAgainLater", "kPluginAppIsTooOld",    "kPluginAppIsTooNew",
    };
    if (result >= 0 && result < SInt32(std::size(names))) return names[result];
    return "result " + std::to_string(result);
}

// A frame the host could not hand out is the file's fault, not the plug-in's:
// the reason names the file and the frame.
std::string pluginFailure(const PluginHost& host, const std::string& step, SInt32 result)
{
    if (result == kPluginCantGetNeededFrame && !host.lastFrameError().empty()) return host.lastFrameError();
    return step + " failed: the plug-in answered " + resultName(result);
}

std::unique_ptr<PluginHost> PluginHost::load(const std::string& bundlePath, std::string& error)
{
    const std::filesystem::path bundle(bundlePath);
    const auto executable = findExecutable(bundle, error);
    if (executable.empty()) return nullptr;

    std::unique_ptr<PluginHost> host(new PluginHost);
    host->bundlePath_ = bundlePath;
    host->library_ = dlopen(executable.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!host->library_) {
        const char* reason = dlerror();
        error = "cannot load plug-in '" + executable.string() + "': " + (reason ? reason : "unknown error");
        return nullptr;
    }
    host->entry_ = reinterpret_cast<HYPluginEntry>(dlsym(host->library_, "main"));
    if (!host->entry_) {
        error = "cannot load plug-in '" + executable.string() + "': it has no entry point 'main'";
        return nullptr;
    }

    const auto resources = bundle / "Contents" / "Resources" / "Brimtone.rsrc";
    host->resourceFile_ = TBOpenResFileAtPath(resources.c_str(), fsRdPerm);
    if (host->resourceFile_ == -1) {
        error = "cannot open '" + resources.string() + "': resource error " + std::to_string(ResError());
        return nullptr;
    }

    auto& procs = host->procs_;
    procs.NewPtr = &PluginHost::NewPtrCallback;
    procs.NewPtrClear = &PluginHost::NewPtrClearCallback;
    procs.DisposePtr = &PluginHost::DisposePtrCallback;
    procs.GetFrame = &PluginHost::GetFrame;
    procs.ReleaseFrame = &PluginHost::ReleaseFrame;
    procs.GetMovieInfo = &PluginHost::GetMovieInfo;
    procs.GetClipInfo = &PluginHost::GetClipInfo;
    procs.Blit = &PluginHost::Blit;
    procs.MixAudio = &PluginHost::MixAudio;
    procs.GetFilterInfo = &PluginHost::GetFilterInfo;
    procs.ReleaseFilterInfo = &PluginHost::ReleaseFilterInfo;

    auto& params = host->params_;
    params.interfaceVersion = kInterfaceVersion;
    params.instance = host.get();
    params.procs = &host->procs_;
    return host;
}

std::string PluginHost::defaultBundlePath()
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto dir = self.parent_path();
        // The build tree's, then the installed one's.
        for (const auto& candidate : {dir / ".." / "Brimtone.bundle", dir / BRIMTONE_INSTALLED_BUNDLE}) {
            if (std::filesystem::is_directory(candidate, ec))
                return std::filesystem::weakly_canonical(candidate, ec).string();
        }
    }
    return "Brimtone.bundle";
}

PluginHost::~PluginHost()
{
    supplyFrames(nullptr);
    for (auto& frame : frames_)
        if (frame->world) DisposeGWorld(frame->world);
    if (resourceFile_ != -1) CloseResFile(resourceFile_);
    // The plug-in stays mapped: its master configuration lives as long as the
    // process, as it would inside the editor.
    if (gCallingHost == this) gCallingHost = nullptr;
}

void PluginHost::attach(MediaSource* source, const FilterSettings& settings)
{
    source_ = source;
    settings_ = settings;
}

void PluginHost::supplyFrames(FrameSupply* supply)
{
    std::erase_if(frames_, [](const auto& frame) {
        if (!frame->supply) return false;
        frame->supply->giveBack(frame->world);
        return true;
    });
    supply_ = supply;
}

SInt32 PluginHost::call(HYPluginSelector selector)
{
    params_.selector = selector;
    PluginHost* const previous = gCallingHost;
    gCallingHost = this;
    const SInt32 result = entry_(selector, &params_);
    gCallingHost = previous;
    return result;
}

std::vector<float> PluginHost::takeMixedAudio()
{
    std::vector<float> audio;
    audio.swap(mixedAudio_);
    return audio;
}

void PluginHost::takeMixedAudio(std::vector<float>& into)
{
    into.swap(mixedAudio_);
    mixedAudio_.clear();
}

size_t PluginHost::outstandingFrames() const { return frames_.size(); }

std::vector<std::unique_ptr<PluginHost::FetchedFrame>>::iterator PluginHost::findFrame(const void* cookie)
{
    return std::find_if(frames_.begin(), frames_.end(),
                        [cookie](const auto& frame) { return frame.get() == cookie; });
}

PluginHost* PluginHost::fromInstance(void* instance) { return static_cast<PluginHost*>(instance); }

Ptr PluginHost::NewPtrCallback(SInt32 size) { return size < 0 ? nullptr : ::NewPtr(size); }

Ptr PluginHost::NewPtrClearCallback(SInt32 size) { return size < 0 ? nullptr : ::NewPtrClear(size); }

HYPluginResult PluginHost::DisposePtrCallback(Ptr block)
{
    ::DisposePtr(block);
    return kPluginOK;
}

HYPluginResult PluginHost::GetFrame(void* instance, SInt32 frameIndex, GWorldPtr* outFrame,
                                    SInt16 width, SInt16 height, HYRefDVQuality quality,
                                    SInt16* outVolume, void** outCookie)
{
    PluginHost* host = fromInstance(instance);
    if (!host || !outFrame || !outCookie) return kPluginBadParams;
    *outFrame = nullptr;
    *outCookie = nullptr;
    if (outVolume) *outVolume = 256;
    if (width <= 0 || height <= 0) return kPluginBadParams;
    if (!host->source_ || frameIndex < 0 || frameIndex >= host->source_->frameCount()) {
        host->lastFrameError_ = "frame " + std::to_string(frameIndex) + " is not in the clip";
        return kPluginCantGetNeededFrame;
    }

    auto frame = std::make_unique<FetchedFrame>();
    frame->index = frameIndex;
    if (host->supply_) {
        FrameSupply::Frame supplied = host->supply_->take(frameIndex, width, height, quality != kDVLowQuality);
        if (!supplied.world) {
            host->lastFrameError_ = supplied.error;
            return kPluginCantGetNeededFrame;
        }
        frame->world = supplied.world;
        frame->supply = host->supply_;
        frame->audio = supplied.audio;
        frame->audioError = std::move(supplied.error);
    } else {
        const Rect bounds{0, 0, height, width};
        const QDErr err = NewGWorld(&frame->world, 32, &bounds, nullptr, nullptr, 0);
        if (err != noErr || !frame->world) return err == memFullErr ? kPluginOutOfMemory : kPluginFailed;
        PixMapHandle pixels = GetGWorldPixMap(frame->world);
        LockPixels(pixels);
        std::string error;
        auto* bytes = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pixels));
        const bool read = host->nearbyFrames_ && quality == kDVLowQuality
                              ? host->source_->readNearbyFrame(frameIndex, width, height, bytes,
                                                               GetPixRowBytes(pixels), error)
                              : host->source_->readFrame(frameIndex, width, height, quality != kDVLowQuality, bytes,
                                                         GetPixRowBytes(pixels), error);
        if (!read) {
            DisposeGWorld(frame->world);
            host->lastFrameError_ = error;
            return kPluginCantGetNeededFrame;
        }
    }
    *outFrame = frame->world;
    *outCookie = frame.get();
    host->frames_.push_back(std::move(frame));
    return kPluginOK;
}

// Our rule: ReleaseFrame frees the frame; a plug-in must not dispose of it.
HYPluginResult PluginHost::ReleaseFrame(void* instance, void* cookie)
{
    PluginHost* host = fromInstance(instance);
    if (!host) return kPluginBadParams;
    if (!cookie) return kPluginOK;
    auto& frames = host->frames_;
    const auto found = host->findFrame(cookie);
    if (found == frames.end()) return kPluginBadParams;
    if ((*found)->supply)
        (*found)->supply->giveBack((*found)->world);
    else
        DisposeGWorld((*found)->world);
    frames.erase(found);
    return kPluginOK;
}

HYPluginResult PluginHost::GetMovieInfo(SInt16* outVideoStandard, SInt16* outWidth,
                                        SInt16* outHeight, SInt32* outTotalFrames)
{
    const PluginHost* host = gCallingHost;
    const MediaSource* source = host ? host->source_ : nullptr;
    const auto clamp16 = [](int value) { return SInt16(std::clamp(value, 0, 32767)); };
    const int height = source ? source->height() : 480;
    if (outVideoStandard) *outVideoStandard = height == 576 ? 1 : 0;  // PAL : NTSC
    if (outWidth) *outWidth = clamp16(source ? source->width() : 720);
    if (outHeight) *outHeight = clamp16(height);
    if (outTotalFrames) *outTotalFrames = source ? source->frameCount() : 0;
    return kPluginOK;
}

// The clip record's layout is the editor's own; nothing the plug-in reads.
HYPluginResult PluginHost::GetClipInfo(void* instance, SInt32, void*)
{
    return fromInstance(instance) ? kPluginOK : kPluginBadParams;
}

HYPluginResult PluginHost::Blit(const PixMap* source, const PixMap* dest, const Rect* sourceRect,
                                const Rect* destRect, SInt16 opacity)
{
    if (!source || !dest || !sourceRect || !destRect || !source->baseAddr || !dest->baseAddr)
        return kPluginBadParams;
    const int alpha = std::clamp<int>(opacity, 0, 255);

    // The mix below is one pixel against one pixel: a source rectangle of
    // another size, or reaching outside its pixels, is first copied to the
    // destination's size.
    const int width = destRect->right - destRect->left;
    const int height = destRect->bottom - destRect->top;
    if (width <= 0 || height <= 0) return kPluginOK;
    Rect inside;
    const bool direct = sourceRect->right - sourceRect->left == width &&
                        sourceRect->bottom - sourceRect->top == height &&
                        SectRect(sourceRect, &source->bounds, &inside) && EqualRect(&inside, sourceRect);
    GWorldPtr scaled = nullptr;
    const UInt8* scaledBase = reinterpret_cast<const UInt8*>(source->baseAddr) +
                              (sourceRect->top - source->bounds.top) * ptrdiff_t(source->rowBytes) +
                              (sourceRect->left - source->bounds.left) * ptrdiff_t(4);
    SInt32 scaledRowBytes = source->rowBytes;
    if (!direct) {
        const Rect scaledBounds{0, 0, SInt16(height), SInt16(width)};
        const QDErr err = NewGWorld(&scaled, 32, &scaledBounds, nullptr, nullptr, 0);
        if (err != noErr || !scaled) return err == memFullErr ? kPluginOutOfMemory : kPluginFailed;
        const BitMap sourceBits{source->baseAddr, source->rowBytes, source->bounds};
        CopyBits(&sourceBits, GetPortBitMapForCopyBits(scaled), sourceRect, &scaledBounds, srcCopy, nullptr);
        PixMapHandle scaledPixels = GetGWorldPixMap(scaled);
        scaledBase = reinterpret_cast<const UInt8*>(GetPixBaseAddr(scaledPixels));
        scaledRowBytes = GetPixRowBytes(scaledPixels);
    }

    // Only the part of the destination rectangle that lies in its pixels.
    Rect target;
    if (SectRect(destRect, &dest->bounds, &target)) {
        for (int y = target.top; y < target.bottom; ++y) {
            const UInt8* from = scaledBase + size_t(y - destRect->top) * scaledRowBytes +
                                size_t(target.left - destRect->left) * 4;
            UInt8* to = reinterpret_cast<UInt8*>(dest->baseAddr) +
                        size_t(y - dest->bounds.top) * dest->rowBytes +
                        size_t(target.left - dest->bounds.left) * 4;
            for (int x = target.left; x < target.right; ++x, from += 4, to += 4)
                for (int channel = 0; channel < 4; ++channel)
                    to[channel] = mix(from[channel], to[channel], alpha);
        }
    }
    if (scaled) DisposeGWorld(scaled);
    return kPluginOK;
}

HYPluginResult PluginHost::MixAudio(void* instance, void* cookie, SInt16 level)
{
    PluginHost* host = fromInstance(instance);
    if (!host) return kPluginBadParams;
    auto& frames = host->frames_;
    const auto found = host->findFrame(cookie);
    if (found == frames.end()) return kPluginBadParams;
    const FetchedFrame& frame = **found;
    std::vector<float> read;
    const std::vector<float>* samples = frame.audio;
    std::string error = frame.audioError;
    if (!frame.supply && host->source_->readAudio(frame.index, read, error))
        samples = &read;
    if (!samples) {
        host->lastFrameError_ = error;
        return kPluginFailed;
    }
    const float gain = float(level) / 256.0f;
    auto& mixed = host->mixedAudio_;
    if (mixed.size() < samples->size()) mixed.resize(samples->size(), 0.0f);
    for (size_t i = 0; i < samples->size(); ++i) mixed[i] += (*samples)[i] * gain;
    return kPluginOK;
}

HYPluginResult PluginHost::GetFilterInfo(void* instance, HYPluginFilterInfo** outInfo)
{
    PluginHost* host = fromInstance(instance);
    if (!host || !outInfo) return kPluginBadParams;
    auto info = std::make_unique<HYPluginFilterInfo>();
    for (auto& value : info->sliderValues) value = 0.5f;
    info->fadeInFrames = host->settings_.fadeInFrames;
    info->fadeOutFrames = host->settings_.fadeOutFrames;
    *outInfo = info.get();
    host->filterInfos_.push_back(std::move(info));
    return kPluginOK;
}

HYPluginResult PluginHost::ReleaseFilterInfo(void* instance, HYPluginFilterInfo* info)
{
    PluginHost* host = fromInstance(instance);
    if (!host) return kPluginBadParams;
    auto& infos = host->filterInfos_;
    const auto found = std::find_if(infos.begin(), infos.end(),
                                    [info](const auto& held) { return held.get() == info; });
    if (found == infos.end()) return kPluginBadParams;
    infos.erase(found);
    return kPluginOK;
}

}  // namespace brimtone::host
