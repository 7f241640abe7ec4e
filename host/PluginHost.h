// The host side of the plug-in interface: loads a bundle, owns the parameter
// block and answers the plug-in's callbacks from a media source.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Effects/AdjustColors/HostInterface.h"

namespace brimtone::host {

class MediaSource;

struct FilterSettings {
    int fadeInFrames = 0;
    int fadeOutFrames = 0;
};

// Frames decoded ahead of the plug-in during a render. GetFrame takes from
// it, ReleaseFrame gives back; in between the buffer is the plug-in's alone.
// Called on the plug-in's thread only.
class FrameSupply {
public:
    struct Frame {
        GWorldPtr world = nullptr;           // nullptr when the frame cannot be had
        const std::vector<float>* audio = nullptr;  // nullptr when its sound cannot be read
        std::string error;
    };
    virtual ~FrameSupply() = default;
    virtual Frame take(int index, int width, int height, bool highQuality) = 0;
    virtual void giveBack(GWorldPtr world) = 0;
};

// "kPluginOutOfMemory" and so on; "result N" for values the interface lacks.
std::string resultName(SInt32 result);

class PluginHost;
// "STEP failed: the plug-in answered RESULT", with the reason a frame could
// not be fetched when that was the cause.
std::string pluginFailure(const PluginHost& host, const std::string& step, SInt32 result);

class PluginHost {
public:
    // Loads BUNDLE/Contents/Linux/<executable>.so, finds `main` and opens the
    // bundle's resource file, as an editor does when it lists the effect.
    static std::unique_ptr<PluginHost> load(const std::string& bundlePath, std::string& error);

    // The bundle next to the installed or built host, when --plugin is not given.
    static std::string defaultBundlePath();

    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // The clip the callbacks read from; frames are counted from 0.
    void attach(MediaSource* source, const FilterSettings& settings);
    // Frames come from `supply` instead of straight from the clip, until
    // called with nullptr; frames the plug-in still holds then go back.
    void supplyFrames(FrameSupply* supply);

    // Calls `main` with the given selector on the host's parameter block.
    SInt32 call(HYPluginSelector selector);

    PluginParams& params() { return params_; }
    const std::string& bundlePath() const { return bundlePath_; }

    // The sound that MixAudio put into the frame just rendered (interleaved
    // stereo float at 48 kHz); empty when the plug-in mixed none.
    std::vector<float> takeMixedAudio();
    // The same into `into`, whose storage is kept for the next frame's mix.
    void takeMixedAudio(std::vector<float>& into);

    // The reason behind the last failed frame fetch, for the user.
    const std::string& lastFrameError() const { return lastFrameError_; }

    // Frames handed out by GetFrame and not yet released.
    size_t outstandingFrames() const;

    // While a dialog shows the clip: low-quality asks (the frame slider in
    // motion) may be answered with a nearby frame that decodes at once.
    void allowNearbyFrames(bool allow) { nearbyFrames_ = allow; }

private:
    PluginHost() = default;

    static HYPluginResult GetFrame(void* instance, SInt32 frameIndex, GWorldPtr* outFrame,
                                   SInt16 width, SInt16 height, HYRefDVQuality quality,
                                   SInt16* outVolume, void** outCookie);
    static HYPluginResult ReleaseFrame(void* instance, void* cookie);
    static HYPluginResult GetMovieInfo(SInt16* outVideoStandard, SInt16* outWidth,
                                       SInt16* outHeight, SInt32* outTotalFrames);
    static HYPluginResult GetClipInfo(void* instance, SInt32 clipNumber, void* outClipInfo);
    static HYPluginResult Blit(const PixMap* source, const PixMap* dest, const Rect* sourceRect,
                               const Rect* destRect, SInt16 opacity);
    static HYPluginResult MixAudio(void* instance, void* cookie, SInt16 level);
    static HYPluginResult GetFilterInfo(void* instance, HYPluginFilterInfo** outInfo);
    static HYPluginResult ReleaseFilterInfo(void* instance, HYPluginFilterInfo* info);
    static Ptr NewPtrCallback(SInt32 size);
    static Ptr NewPtrClearCallback(SInt32 size);
    static HYPluginResult DisposePtrCallback(Ptr block);

    struct FetchedFrame;
    static PluginHost* fromInstance(void* instance);
    std::vector<std::unique_ptr<FetchedFrame>>::iterator findFrame(const void* cookie);

    void* library_ = nullptr;
    HYPluginEntry entry_ = nullptr;
    SInt16 resourceFile_ = -1;
    std::string bundlePath_;
    HYProcs procs_{};
    PluginParams params_{};
    MediaSource* source_ = nullptr;
    FrameSupply* supply_ = nullptr;
    FilterSettings settings_;
    std::vector<std::unique_ptr<FetchedFrame>> frames_;
    std::vector<std::unique_ptr<HYPluginFilterInfo>> filterInfos_;
    std::vector<float> mixedAudio_;
    std::string lastFrameError_;
    bool nearbyFrames_ = false;
};

}  // namespace brimtone::host
