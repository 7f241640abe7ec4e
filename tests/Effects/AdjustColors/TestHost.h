// A video editor stand-in for the plug-in's tests: the callbacks of HYProcs
// built on the toolbox, each able to fail on its own, recording every call.
// Memory comes from the toolbox's Memory Manager (the plug-in asks GetPtrSize
// of the blocks), frames are 32-bit GWorlds with a pattern that depends on the
// frame index, Blit mixes per channel.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "Effects/AdjustColors/HostInterface.h"
#include "MacMemory.h"
#include "QuickDraw.h"

struct TestHost;
inline TestHost* gTestHost = nullptr;

struct GetFrameCall { SInt32 index; SInt16 width, height; HYRefDVQuality quality; };
struct BlitCall { Rect destRect; SInt16 opacity; };

// The pixel that TestHost::GetFrame puts at (x, y) of frame frameIndex.
inline void TestFramePixel(SInt32 frameIndex, SInt32 x, SInt32 y, UInt8 out[4])
{
    out[0] = 255;
    out[1] = UInt8(x * 7 + frameIndex);
    out[2] = UInt8(y * 5 + frameIndex * 3);
    out[3] = UInt8((x + y) * 3);
}

inline UInt8* PixelAt(GWorldPtr theGW, SInt32 x, SInt32 y)
{
    PixMapHandle pm = GetGWorldPixMap(theGW);
    return reinterpret_cast<UInt8*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
}

struct TestHost {
    // Behaviour
    HYPluginResult getFrameResult = kPluginOK;
    bool getFrameGivesBuffer = true;
    HYPluginResult releaseFrameResult = kPluginOK;
    HYPluginFilterInfo filterInfo{{0.25f, 0.5f, 0.75f}, 0, 0};
    bool releaseDisposesFrame = true;
    int failNewPtrClearCall = 0;  // 1 = the next call fails, 2 = the one after, ...
    GWorldPtr givenFrame = nullptr;  // handed out as every frame, with a nil cookie, when set
    // Frames handed out with their top-left corner here, each pattern pixel
    // repeated frameScale times in both directions (a host that ignores the size asked for).
    SInt16 frameLeft = 0, frameTop = 0, frameScale = 1;

    // Records. Blocks are counted for the whole process, since the master
    // configuration outlives the host that allocated it.
    static inline int liveBlocks = 0;
    int liveFrames = 0;
    int filterInfoCalls = 0;
    int releaseFilterInfoCalls = 0;
    std::vector<GetFrameCall> getFrameCalls;
    std::vector<void*> releasedCookies;
    std::vector<BlitCall> blits;
    std::vector<GWorldPtr> handedOutFrames;

    HYProcs procs{};
    PluginParams params{};
    GWorldPtr output = nullptr;

    TestHost(SInt16 width = 64, SInt16 height = 48)
    {
        gTestHost = this;
        procs.NewPtrClear = &NewPtrClearProc;
        procs.DisposePtr = &DisposePtrProc;
        procs.GetFrame = &GetFrameProc;
        procs.ReleaseFrame = &ReleaseFrameProc;
        procs.GetMovieInfo = &GetMovieInfoProc;
        procs.GetClipInfo = &GetClipInfoProc;
        procs.Blit = &BlitProc;
        procs.MixAudio = &MixAudioProc;
        procs.GetFilterInfo = &GetFilterInfoProc;
        procs.ReleaseFilterInfo = &ReleaseFilterInfoProc;
        params.interfaceVersion = 4;
        params.instance = this;
        params.procs = &procs;
        params.frameCount = 100;
        Rect bounds{0, 0, height, width};
        NewGWorld(&output, 32, &bounds, nullptr, nullptr, 0);
        std::memset(GetPixBaseAddr(GetGWorldPixMap(output)), 0x11,
                    size_t(GetPixRowBytes(GetGWorldPixMap(output))) * size_t(height));
        params.frame = output;
        params.frameRect = bounds;
    }

    ~TestHost()
    {
        DisposeGWorld(output);
        for (GWorldPtr frame : handedOutFrames)
            if (frame != nullptr)
                DisposeGWorld(frame);
        if (gTestHost == this)
            gTestHost = nullptr;
    }

    SInt32 Call(HYPluginSelector selector, HYPluginEntry entry)
    {
        params.selector = selector;
        return entry(0, &params);
    }

    static Ptr NewPtrClearProc(SInt32 size)
    {
        TestHost* host = gTestHost;
        if (host->failNewPtrClearCall > 0 && --host->failNewPtrClearCall == 0)
            return nullptr;
        Ptr block = ::NewPtrClear(size);
        if (block != nullptr)
            ++host->liveBlocks;
        return block;
    }

    static HYPluginResult DisposePtrProc(Ptr block)
    {
        if (block != nullptr) {
            --gTestHost->liveBlocks;
            ::DisposePtr(block);
        }
        return kPluginOK;
    }

    static HYPluginResult GetFrameProc(void* instance, SInt32 frameIndex, GWorldPtr* outFrame,
                                       SInt16 width, SInt16 height, HYRefDVQuality quality,
                                       SInt16* outVolume, void** outCookie)
    {
        TestHost* host = static_cast<TestHost*>(instance);
        host->getFrameCalls.push_back({frameIndex, width, height, quality});
        *outVolume = 256;
        *outFrame = nullptr;
        if (host->getFrameResult != kPluginOK || !host->getFrameGivesBuffer)
            return host->getFrameResult;
        if (host->givenFrame != nullptr) {
            *outFrame = host->givenFrame;
            return kPluginOK;
        }
        const SInt16 scale = host->frameScale;
        Rect bounds{host->frameTop, host->frameLeft, SInt16(host->frameTop + height * scale),
                    SInt16(host->frameLeft + width * scale)};
        GWorldPtr frame = nullptr;
        if (NewGWorld(&frame, 32, &bounds, nullptr, nullptr, 0) != 0 || frame == nullptr)
            return kPluginOutOfMemory;
        for (SInt32 y = 0; y < height * scale; ++y)
            for (SInt32 x = 0; x < width * scale; ++x)
                TestFramePixel(frameIndex, x / scale, y / scale, PixelAt(frame, x, y));
        ++host->liveFrames;
        host->handedOutFrames.push_back(frame);
        *outFrame = frame;
        *outCookie = frame;
        return kPluginOK;
    }

    static HYPluginResult ReleaseFrameProc(void* instance, void* cookie)
    {
        TestHost* host = static_cast<TestHost*>(instance);
        host->releasedCookies.push_back(cookie);
        if (cookie != nullptr) {
            --host->liveFrames;
            if (host->releaseDisposesFrame) {
                DisposeGWorld(static_cast<GWorldPtr>(cookie));
                for (GWorldPtr& frame : host->handedOutFrames)
                    if (frame == cookie)
                        frame = nullptr;
            }
        }
        return host->releaseFrameResult;
    }

    static HYPluginResult GetMovieInfoProc(SInt16* standard, SInt16* width, SInt16* height,
                                           SInt32* frames)
    {
        *standard = 0;
        *width = 720;
        *height = 480;
        *frames = 100;
        return kPluginOK;
    }

    static HYPluginResult GetClipInfoProc(void*, SInt32, void* outInfo)
    {
        std::memset(outInfo, 0xA5, 64);
        return kPluginOK;
    }

    // dest := source × opacity/255 + dest × (255 − opacity)/255, per channel;
    // fails, writing nothing, on rectangles of two sizes or outside a buffer.
    static HYPluginResult BlitProc(const PixMap* source, const PixMap* dest, const Rect* sourceRect,
                                   const Rect* destRect, SInt16 opacity)
    {
        gTestHost->blits.push_back({*destRect, opacity});
        const SInt32 width = destRect->right - destRect->left;
        const SInt32 height = destRect->bottom - destRect->top;
        auto inside = [](const Rect& r, const Rect& b) {
            return r.left >= b.left && r.top >= b.top && r.right <= b.right &&
                   r.bottom <= b.bottom;
        };
        if (width != sourceRect->right - sourceRect->left ||
            height != sourceRect->bottom - sourceRect->top ||
            !inside(*sourceRect, source->bounds) || !inside(*destRect, dest->bounds))
            return kPluginFailed;
        auto at = [](const PixMap* pm, const Rect* r, SInt32 x, SInt32 y) {
            const SInt32 row = r->top + y - pm->bounds.top, column = r->left + x - pm->bounds.left;
            return reinterpret_cast<UInt8*>(pm->baseAddr) + row * pm->rowBytes + column * 4;
        };
        for (SInt32 y = 0; y < height; ++y)
            for (SInt32 x = 0; x < width; ++x)
                for (int c = 1; c < 4; ++c) {
                    UInt8& d = at(dest, destRect, x, y)[c];
                    const UInt8 s = at(source, sourceRect, x, y)[c];
                    d = UInt8((s * opacity + d * (255 - opacity)) / 255);
                }
        return kPluginOK;
    }

    static HYPluginResult MixAudioProc(void*, void*, SInt16) { return kPluginOK; }
    static HYPluginResult GetFilterInfoProc(void* instance, HYPluginFilterInfo** outInfo)
    {
        TestHost* host = static_cast<TestHost*>(instance);
        ++host->filterInfoCalls;
        *outInfo = &host->filterInfo;
        return kPluginOK;
    }

    static HYPluginResult ReleaseFilterInfoProc(void* instance, HYPluginFilterInfo*)
    {
        ++static_cast<TestHost*>(instance)->releaseFilterInfoCalls;
        return kPluginOK;
    }
};
