// The entry point driven by a host whose every answer comes from the fuzz
// input: selectors, version, sizes, frame numbers, fades, and each callback's
// result. A pass Initialize, DoFrame x k, Terminate must return only the
// codes the plug-in may give, fetch and release frames in pairs and, once
// ended, leave no block of the host's allocator behind.
//
// The configuration dialog's button is not fuzzed here: it opens a window.
#include <algorithm>
#include <set>
#include <vector>

#include "Effects/AdjustColors/AdjustColors.h"
#include "FuzzSupport.h"
#include "MacMemory.h"
#include "QuickDraw.h"

namespace {

// Frames are made no larger than this, whatever size is asked for.
constexpr SInt16 kMaxFrameSide = 32;

struct FuzzHost {
    FuzzInput* in = nullptr;  // nil: every callback succeeds
    std::set<void*> liveBlocks;
    std::set<void*> liveFrames;
    std::vector<int> callbackResults;  // of the current call
    int callbacks = 0;
    HYPluginFilterInfo filterInfo{};
    bool filterInfoOut = false;
    PixMap* output = nullptr;

    UInt8 Mode() { return in != nullptr ? in->Byte() : 0; }
    HYPluginResult Report(HYPluginResult result)
    {
        callbackResults.push_back(result);
        return result;
    }
};

FuzzHost gHost;

GWorldPtr MakeFrame(SInt16 width, SInt16 height, UInt8 shrink)
{
    SInt16 w = std::min(width, kMaxFrameSide);
    SInt16 h = std::min(height, kMaxFrameSide);
    // Some answers come back smaller than asked, as a careless host might give.
    if (shrink != 0) {
        w = SInt16(1 + shrink % w);
        h = SInt16(1 + (shrink >> 3) % h);
    }
    Rect bounds{0, 0, h, w};
    GWorldPtr frame = nullptr;
    FUZZ_CHECK(NewGWorld(&frame, 32, &bounds, nullptr, nullptr, 0) == noErr && frame != nullptr);
    PixMapHandle pm = GetGWorldPixMap(frame);
    std::memset(GetPixBaseAddr(pm), 0x7F, size_t(GetPixRowBytes(pm)) * size_t(h));
    gHost.liveFrames.insert(frame);
    return frame;
}

Ptr NewPtrClearProc(SInt32 size)
{
    ++gHost.callbacks;
    if (gHost.Mode() != 0)
        return nullptr;
    FUZZ_CHECK(size > 0 && size < 1 << 20);
    Ptr block = ::NewPtrClear(size);
    FUZZ_CHECK(block != nullptr);
    gHost.liveBlocks.insert(block);
    return block;
}

HYPluginResult DisposePtrProc(Ptr block)
{
    ++gHost.callbacks;
    if (block == nullptr)
        return kPluginOK;
    FUZZ_CHECK(gHost.liveBlocks.erase(block) == 1);
    ::DisposePtr(block);
    return kPluginOK;
}

HYPluginResult GetFrameProc(void* instance, SInt32 frameIndex, GWorldPtr* outFrame, SInt16 width,
                            SInt16 height, HYRefDVQuality quality, SInt16* outVolume,
                            void** outCookie)
{
    ++gHost.callbacks;
    FUZZ_CHECK(instance == &gHost && outFrame != nullptr && outVolume != nullptr &&
               outCookie != nullptr);
    FUZZ_CHECK(frameIndex >= 0 && width > 0 && height > 0 && quality <= kDVHighQualitySingleField);
    *outVolume = 256;
    const UInt8 mode = gHost.Mode();
    const HYPluginResult failure = HYPluginResult(mode >> 2 != 0 ? mode >> 2 : kPluginFailed);
    switch (mode & 3) {
    case 0: {
        GWorldPtr frame = MakeFrame(width, height, UInt8(mode >> 2));
        *outFrame = frame;
        *outCookie = frame;
        return gHost.Report(kPluginOK);
    }
    case 1:
        *outFrame = nullptr;
        return gHost.Report(failure);
    case 2:
        *outFrame = nullptr;
        return gHost.Report(kPluginOK);
    default: {
        GWorldPtr frame = MakeFrame(width, height, 0);
        *outFrame = frame;
        *outCookie = frame;
        return gHost.Report(failure);
    }
    }
}

HYPluginResult ReleaseFrameProc(void* instance, void* cookie)
{
    ++gHost.callbacks;
    FUZZ_CHECK(instance == &gHost);
    if (cookie != nullptr) {
        FUZZ_CHECK(gHost.liveFrames.erase(cookie) == 1);
        DisposeGWorld(static_cast<GWorldPtr>(cookie));
    }
    return gHost.Report(gHost.Mode());
}

HYPluginResult GetMovieInfoProc(SInt16* standard, SInt16* width, SInt16* height, SInt32* frames)
{
    ++gHost.callbacks;
    FUZZ_CHECK(standard != nullptr && width != nullptr && height != nullptr && frames != nullptr);
    *standard = 0;
    *width = 720;
    *height = 480;
    *frames = 100;
    return kPluginOK;
}

HYPluginResult GetClipInfoProc(void* instance, SInt32 clip, void* outInfo)
{
    ++gHost.callbacks;
    FUZZ_CHECK(instance == &gHost && clip == 1 && outInfo != nullptr);
    std::memset(outInfo, 0xA5, 64);
    return kPluginOK;
}

bool RectInside(const Rect& r, const Rect& bounds)
{
    return r.left >= bounds.left && r.top >= bounds.top && r.right <= bounds.right &&
           r.bottom <= bounds.bottom && r.left <= r.right && r.top <= r.bottom;
}

HYPluginResult BlitProc(const PixMap* source, const PixMap* dest, const Rect* sourceRect,
                        const Rect* destRect, SInt16 opacity)
{
    ++gHost.callbacks;
    FUZZ_CHECK(source != nullptr && dest != nullptr && sourceRect != nullptr && destRect != nullptr);
    FUZZ_CHECK(opacity >= 0 && opacity <= 255);
    FUZZ_CHECK(dest->baseAddr == gHost.output->baseAddr);
    // The plug-in's own copy must hold what it asks the host to read.
    FUZZ_CHECK(RectInside(*sourceRect, source->bounds));
    const SInt32 width = SInt32(destRect->right) - destRect->left;
    const SInt32 height = SInt32(destRect->bottom) - destRect->top;
    FUZZ_CHECK(width == sourceRect->right - sourceRect->left &&
               height == sourceRect->bottom - sourceRect->top);
    if (const UInt8 mode = gHost.Mode(); mode != 0)
        return gHost.Report(mode);
    for (SInt32 y = 0; y < height; ++y) {
        const SInt32 dy = destRect->top + y;
        if (dy < dest->bounds.top || dy >= dest->bounds.bottom)
            continue;
        for (SInt32 x = 0; x < width; ++x) {
            const SInt32 dx = destRect->left + x;
            if (dx < dest->bounds.left || dx >= dest->bounds.right)
                continue;
            const UInt8* s = reinterpret_cast<const UInt8*>(source->baseAddr) +
                             (sourceRect->top + y - source->bounds.top) * source->rowBytes +
                             (sourceRect->left + x - source->bounds.left) * 4;
            UInt8* d = reinterpret_cast<UInt8*>(dest->baseAddr) +
                       (dy - dest->bounds.top) * dest->rowBytes + (dx - dest->bounds.left) * 4;
            for (int c = 1; c < 4; ++c)
                d[c] = UInt8((s[c] * opacity + d[c] * (255 - opacity)) / 255);
        }
    }
    return gHost.Report(kPluginOK);
}

HYPluginResult MixAudioProc(void* instance, void* cookie, SInt16 level)
{
    ++gHost.callbacks;
    FUZZ_CHECK(instance == &gHost && level == 256);
    FUZZ_CHECK(gHost.liveFrames.count(cookie) == 1);
    return gHost.Report(gHost.Mode());
}

HYPluginResult GetFilterInfoProc(void* instance, HYPluginFilterInfo** outInfo)
{
    ++gHost.callbacks;
    FUZZ_CHECK(instance == &gHost && outInfo != nullptr && !gHost.filterInfoOut);
    const UInt8 mode = gHost.Mode();
    if ((mode & 1) == 0) {
        *outInfo = &gHost.filterInfo;
        gHost.filterInfoOut = true;
    } else {
        *outInfo = nullptr;
    }
    return gHost.Report(HYPluginResult(mode >> 1));
}

HYPluginResult ReleaseFilterInfoProc(void* instance, HYPluginFilterInfo* info)
{
    ++gHost.callbacks;
    FUZZ_CHECK(instance == &gHost && info == &gHost.filterInfo && gHost.filterInfoOut);
    gHost.filterInfoOut = false;
    return kPluginOK;
}

HYProcs AllProcs()
{
    HYProcs procs{};
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
    return procs;
}

// Bit n of mask takes away the n-th callback the plug-in relies on.
HYProcs ProcsWithout(UInt8 mask)
{
    HYProcs procs = AllProcs();
    if (mask & 0x01) procs.NewPtrClear = nullptr;
    if (mask & 0x02) procs.DisposePtr = nullptr;
    if (mask & 0x04) procs.GetFrame = nullptr;
    if (mask & 0x08) procs.ReleaseFrame = nullptr;
    if (mask & 0x10) procs.Blit = nullptr;
    if (mask & 0x20) procs.MixAudio = nullptr;
    if (mask & 0x40) procs.GetFilterInfo = nullptr;
    if (mask & 0x80) procs.ReleaseFilterInfo = nullptr;
    return procs;
}

size_t gBaselineBlocks = 0;
HYProcs gAllProcs;

bool Reported(int result)
{
    return std::find(gHost.callbackResults.begin(), gHost.callbackResults.end(), result) !=
           gHost.callbackResults.end();
}

bool Allowed(int result)
{
    if (result == kPluginOK || result == kPluginBadParams || result == kPluginOutOfMemory ||
        result == kPluginFailed || result == kPluginCantGetNeededFrame)
        return true;
    return Reported(result);
}

SInt32 Call(PluginParams& params, SInt32 which, HYPluginSelector selector)
{
    params.selector = selector;
    gHost.callbackResults.clear();
    gHost.callbacks = 0;
    void* const clientBefore = params.clientData;
    const size_t blocksBefore = gHost.liveBlocks.size();
    const SInt32 result = BrimtoneMain(which, &params);

    FUZZ_CHECK(result >= 0 && result <= 255);
    FUZZ_CHECK(gHost.liveFrames.empty());
    FUZZ_CHECK(!gHost.filterInfoOut);
    if (params.interfaceVersion <= 3) {
        FUZZ_CHECK(result == kPluginAppIsTooOld && gHost.callbacks == 0);
        return result;
    }
    FUZZ_CHECK(Allowed(result));
    switch (selector) {
    case kPlugInitialize:
        // A pass that could not begin leaves nothing behind.
        if (clientBefore == nullptr && result == kPluginOutOfMemory &&
            !Reported(kPluginOutOfMemory))
            FUZZ_CHECK(params.clientData == nullptr && gHost.liveBlocks.size() == blocksBefore);
        if (result == kPluginBadParams && !Reported(kPluginBadParams))
            FUZZ_CHECK(params.clientData == clientBefore);
        break;
    case kPlugDoFrame:
        if (clientBefore == nullptr)
            FUZZ_CHECK(result == kPluginBadParams);
        FUZZ_CHECK(params.clientData == clientBefore && gHost.liveBlocks.size() == blocksBefore);
        break;
    case kPlugTerminate:
        if (params.clientData == nullptr)
            FUZZ_CHECK(gHost.liveBlocks.size() == gBaselineBlocks);
        break;
    case kPlugGetInfo:
    case kPlugFilePlaceHolder:
        FUZZ_CHECK(params.clientData == clientBefore && gHost.liveBlocks.size() == blocksBefore);
        break;
    default:
        FUZZ_CHECK(params.clientData == clientBefore && gHost.liveBlocks.size() == blocksBefore);
        break;
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    MakePrivatePrefsFolder();
    gAllProcs = AllProcs();
    // The first call makes the master configuration, which lives on.
    PluginParams params{};
    params.interfaceVersion = 4;
    params.instance = &gHost;
    params.procs = &gAllProcs;
    params.selector = 0;
    FUZZ_CHECK(BrimtoneMain(0, &params) == kPluginOK);
    gBaselineBlocks = gHost.liveBlocks.size();
    FUZZ_CHECK(gBaselineBlocks == 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    // Every value is XOR-ed with its usual one, so that zeros make a plain pass.
    const SInt32 which = in.Take<SInt32>();
    PluginParams params{};
    params.interfaceVersion = SInt16(in.Take<SInt16>() ^ 4);
    params.instance = &gHost;
    params.startFrame = in.Take<SInt32>();
    params.frameCount = in.Take<SInt32>() ^ 30;
    gHost.filterInfo.fadeInFrames = in.Take<SInt32>() ^ 5;
    gHost.filterInfo.fadeOutFrames = in.Take<SInt32>() ^ 5;
    for (Float32& value : gHost.filterInfo.sliderValues)
        value = in.Take<Float32>();
    const SInt16 outWidth = SInt16((in.Byte() ^ 24) % (kMaxFrameSide + 1));
    const SInt16 outHeight = SInt16((in.Byte() ^ 18) % (kMaxFrameSide + 1));
    const SInt16 left = in.Take<SInt16>();
    const SInt16 top = in.Take<SInt16>();
    const SInt16 rectWidth = SInt16((in.Byte() ^ 32) % (kMaxFrameSide + 9) - 8);
    const SInt16 rectHeight = SInt16((in.Byte() ^ 26) % (kMaxFrameSide + 9) - 8);
    params.frameRect = Rect{top, left, SInt16(top + rectHeight), SInt16(left + rectWidth)};
    params.getInfo.bestThumbOffset = in.Take<SInt32>();
    params.getInfo2.selectedFrames = in.Take<SInt32>();
    const int frames = (in.Byte() ^ 3) % 9;
    HYProcs procs = ProcsWithout(in.Byte());
    params.procs = &procs;

    GWorldPtr output = nullptr;
    if (outWidth > 0 && outHeight > 0) {
        Rect bounds{0, 0, outHeight, outWidth};
        FUZZ_CHECK(NewGWorld(&output, 32, &bounds, nullptr, nullptr, 0) == noErr);
        gHost.output = *GetGWorldPixMap(output);
    }
    params.frame = output;
    gHost.in = &in;

    auto step = [&](HYPluginSelector usual, SInt32 renderFrame) {
        HYPluginSelector selector = in.Byte();
        if (selector == 0)
            selector = usual;
        if (selector == kPlugCustomButtonClick)
            selector = kPlugCallOnceWithInitAndTerminate;
        params.renderFrame = renderFrame;
        params.proxyOnly = in.Byte();
        Call(params, which, selector);
    };
    step(kPlugInitialize, 0);
    for (int i = 0; i < frames; ++i)
        step(kPlugDoFrame, in.Take<SInt32>() ^ i);
    step(kPlugTerminate, 0);

    // The host ends what is still open, with every callback there.
    gHost.in = nullptr;
    if (params.clientData != nullptr) {
        params.interfaceVersion = 4;
        params.procs = &gAllProcs;
        FUZZ_CHECK(Call(params, which, kPlugTerminate) == kPluginOK);
    }
    FUZZ_CHECK(params.clientData == nullptr);
    FUZZ_CHECK(gHost.liveBlocks.size() == gBaselineBlocks);
    if (output != nullptr)
        DisposeGWorld(output);
    gHost.output = nullptr;
    return 0;
}
