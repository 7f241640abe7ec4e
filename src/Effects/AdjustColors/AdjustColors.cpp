#include "Effects/AdjustColors/AdjustColors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "MacErrors.h"
#include "Resources.h"
#include "graphics/CommonProcs.h"
#include "plugin/PluginGlue.h"
#include "plugin/globals.h"
#include "plugin/main.h"

namespace {

ConfigureProcPtr lgConfigureProc = nullptr;

HYPluginResult BufferResult(QDErr status)
{
    if (status == noErr)
        return kPluginOK;
    return status == memFullErr ? kPluginOutOfMemory : kPluginFailed;
}

// A Str255 as a NUL-terminated text in a field of fieldSize bytes.
void CopyPascalToField(ConstStr255Param theString, char* field, size_t fieldSize)
{
    const size_t length = std::min<size_t>(theString[0], fieldSize - 1);
    std::memcpy(field, theString + 1, length);
    field[length] = '\0';
}

void ReadListEntry(SInt16 listID, SInt16 index, char* field, size_t fieldSize)
{
    Str255 theString;
    theString[0] = 0;
    GetIndString(theString, listID, index);
    CopyPascalToField(theString, field, fieldSize);
}

void ReleasePassBlocks(HYProcs* procs, EffectDataPtr theData)
{
    if (theData->effectGWorld != nullptr) {
        DisposeGWorld(theData->effectGWorld);
        theData->effectGWorld = nullptr;
    }
    if (theData->configCopy != nullptr) {
        pUncopyConfig(theData->configCopy);
        procs->DisposePtr(reinterpret_cast<Ptr>(theData->configCopy));
        theData->configCopy = nullptr;
    }
}

bool RectContains(const Rect& outer, const Rect& inner)
{
    return outer.left <= inner.left && outer.top <= inner.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// True when two buffers' pixel memory may overlap.
bool SharePixels(GWorldPtr a, GWorldPtr b)
{
    const auto span = [](GWorldPtr theGW) {
        PixMapHandle pixels = GetGWorldPixMap(theGW);
        Rect bounds;
        GetPixBounds(pixels, &bounds);
        const auto start = reinterpret_cast<uintptr_t>(GetPixBaseAddr(pixels));
        return std::pair{start, start + uintptr_t(GetPixRowBytes(pixels)) *
                                            uintptr_t(std::max(bounds.bottom - bounds.top, 0))};
    };
    const auto [aStart, aEnd] = span(a);
    const auto [bStart, bEnd] = span(b);
    return aStart < bEnd && bStart < aEnd;
}

// Whether copying into frameRect of the current port's pixels writes all of it.
bool CurrentClipHolds(GWorldPtr frame, const Rect& frameRect)
{
    CGrafPtr port;
    GDHandle device;
    GetGWorld(&port, &device);
    if (port == nullptr ||
        GetPixBaseAddr(GetPortPixMap(port)) != GetPixBaseAddr(GetGWorldPixMap(frame)))
        return true;
    RgnHandle clip = NewRgn();
    if (clip == nullptr)
        return false;
    GetClip(clip);
    Rect clipBounds;
    GetRegionBounds(clip, &clipBounds);
    DisposeRgn(clip);
    return RectContains(clipBounds, frameRect);
}

// The output frame's own pixels at frameRect as the working buffer, when
// copying the finished buffer there would move every byte unchanged: the
// source has the buffer's bounds, frameRect has its size and lies inside the
// frame and its clip, and the source's pixels are either not the frame's or
// exactly those at frameRect. The effect then writes straight into the frame,
// in place when the host handed the fetched frame's own buffer as the frame.
// Nil otherwise.
GWorldPtr NewWorkingBufferInFrame(GWorldPtr sourceFrame, const Rect& workBounds,
                                  const PluginParams* params)
{
    const Rect& frameRect = params->frameRect;
    Rect sourceBounds;
    GetPortBounds(sourceFrame, &sourceBounds);
    PixMapHandle framePixels = GetGWorldPixMap(params->frame);
    Rect frameBounds;
    GetPixBounds(framePixels, &frameBounds);
    if (!EqualRect(&sourceBounds, &workBounds) ||
        SInt32(frameRect.right) - frameRect.left != workBounds.right ||
        SInt32(frameRect.bottom) - frameRect.top != workBounds.bottom ||
        GetPixDepth(framePixels) != 32 || !RectContains(frameBounds, frameRect) ||
        !CurrentClipHolds(params->frame, frameRect))
        return nullptr;
    const SInt32 rowBytes = GetPixRowBytes(framePixels);
    const Ptr topLeft = GetPixBaseAddr(framePixels) +
                        std::ptrdiff_t(frameRect.top - frameBounds.top) * rowBytes +
                        std::ptrdiff_t(frameRect.left - frameBounds.left) * 4;
    PixMapHandle sourcePixels = GetGWorldPixMap(sourceFrame);
    const bool samePixels = GetPixBaseAddr(sourcePixels) == topLeft && GetPixRowBytes(sourcePixels) == rowBytes;
    if (SharePixels(sourceFrame, params->frame) && !samePixels)
        return nullptr;
    GWorldPtr theGW = nullptr;
    if (NewGWorldFromPtr(&theGW, k32ARGBPixelFormat, &workBounds, nullptr, nullptr, 0, topLeft,
                         rowBytes) != noErr)
        return nullptr;
    return theGW;
}

// Steps of a frame after the fetch: the effect into the output frame, the
// fade's blend and the frame's sound. status receives a failed fade buffer's error.
HYPluginResult RenderFetchedFrame(PluginParams* params, GWorldPtr gWorldBefore, Rect srcRect,
                                  Boolean isFadeFrame, SInt16 opacity, void* frameCookie,
                                  QDErr& status)
{
    HYProcs* procs = params->procs;
    GWorldPtr unprocessed = nullptr;
    // The effect leaves the fetched frame as it is; the blend needs a copy of it
    // only when it holds more than srcRect or shares memory with the output.
    Rect fetchedBounds;
    GetPortBounds(gWorldBefore, &fetchedBounds);
    const bool blendFromFetched = EqualRect(&fetchedBounds, &srcRect) &&
                                  !SharePixels(gWorldBefore, params->frame);
    if (isFadeFrame && !blendFromFetched) {
        status = NewGWorld(&unprocessed, 32, &srcRect, nullptr, nullptr, 0);
        if (status != noErr || unprocessed == nullptr) {
            if (status == noErr)
                status = paramErr;
            return kPluginOK;
        }
        // Whatever the host frame's origin and size, the copy holds it from its
        // top-left corner, scaled to the size asked for.
        Rect fetchedBounds;
        GetPortBounds(gWorldBefore, &fetchedBounds);
        LockedPixels lock(unprocessed);
        CopyBits(GetPortBitMapForCopyBits(gWorldBefore), GetPortBitMapForCopyBits(unprocessed),
                 &fetchedBounds, &srcRect, srcCopy, nullptr);
    }

    HYPluginResult result = ApplyEffect(gWorldBefore, params);

    if (isFadeFrame && result == kPluginOK) {
        // The copy holds exactly srcRect; a fetched frame of another size must not
        // make the host read past it.
        const Rect sourceRect = srcRect;
        const Rect destRect = params->frameRect;
        GWorldPtr unprocessedFrame = unprocessed != nullptr ? unprocessed : gWorldBefore;
        LockedPixels lockCopy(unprocessedFrame);
        LockedPixels lockFrame(params->frame);
        result = procs->Blit(*GetGWorldPixMap(unprocessedFrame), *GetGWorldPixMap(params->frame),
                             &sourceRect, &destRect, opacity);
    }
    if (unprocessed != nullptr)
        DisposeGWorld(unprocessed);
    if (result != kPluginOK)
        return result;

    if (!params->proxyOnly)
        result = procs->MixAudio(params->instance, frameCookie, kMixAudioLevel);
    return result;
}

}  // namespace

// ---- Fades and sizes -----------------------------------------------------------

SInt32 AbsoluteFrameIndex(SInt32 base, SInt32 offset)
{
    const int64_t sum = int64_t(base) + int64_t(offset);
    if (sum < 0 || sum > std::numeric_limits<SInt32>::max())
        return -1;
    return SInt32(sum);
}

HYRefDVQuality FrameQuality(const PluginParams* params, SInt32 height)
{
    return (params->proxyOnly && height <= kProxyLowQualityMaxHeight) ? kDVLowQuality
                                                                      : kDVHighQuality;
}

void ClampFades(SInt32& fadeInFrames, SInt32& fadeOutFrames, SInt32 frameCount)
{
    SInt32 fadeIn = std::max<SInt32>(fadeInFrames, 0);
    SInt32 fadeOut = std::max<SInt32>(fadeOutFrames, 0);
    const SInt32 limit = (fadeIn != 0 && fadeOut != 0) ? frameCount / 2 : frameCount;
    fadeIn = std::max<SInt32>(std::min(fadeIn, limit), 0);
    fadeOut = std::max<SInt32>(std::min(fadeOut, limit), 0);
    fadeInFrames = fadeIn;
    fadeOutFrames = fadeOut;
}

Boolean FadeFrameOpacity(SInt32 renderFrame, SInt32 fadeInFrames, SInt32 fadeOutFrames,
                         SInt32 frameCount, SInt16& opacity)
{
    opacity = 0;
    const int64_t r0 = renderFrame;
    const int64_t fadeIn = std::max<SInt32>(fadeInFrames, 0);
    const int64_t fadeOut = std::max<SInt32>(fadeOutFrames, 0);
    const int64_t n = frameCount;
    if (fadeIn <= 0 && fadeOut <= 0)
        return false;
    if (!(r0 < fadeIn || r0 > n - fadeOut))
        return false;

    double t = 1.0;
    if (r0 < fadeIn && fadeIn > 0)
        t = double(r0) / double(fadeIn);
    else if (fadeOut > 0)
        t = double(n - r0) / double(fadeOut);
    t = std::clamp(t, 0.0, 1.0);
    opacity = SInt16(255.0 * (1.0 - t));
    return true;
}

void PreviewSizeForMedia(SInt16 theMediaType, SInt16& width, SInt16& height)
{
    switch (theMediaType) {
    case 2:
        width = 720;
        height = 576;
        break;
    case 3:
        width = 960;
        height = 540;
        break;
    default:
        width = 720;
        height = 480;
        break;
    }
}

// ---- Entry point ---------------------------------------------------------------

SInt32 BrimtoneMain(SInt32 which, PluginParams* params)
{
    if (params == nullptr)
        return kPluginBadParams;
    if (params->interfaceVersion <= 3)
        return kPluginAppIsTooOld;
    if (!gRuntimeInited) {
        InitRuntime();
        gRuntimeInited = true;
    }
    if (gPluginConfig == nullptr) {
        if (params->procs == nullptr || params->procs->NewPtrClear == nullptr)
            return kPluginBadParams;
        UInt32 theSize;
        pGetConfigSize(theSize);
        gPluginConfig = reinterpret_cast<pluginDataPtr>(params->procs->NewPtrClear(SInt32(theSize)));
        // A first start takes the dialog's format from the clip's shape.
        SInt16 theStandard = 0;
        SInt16 theWidth = 0;
        SInt16 theHeight = 0;
        SInt32 theFrames = 0;
        if (params->procs->GetMovieInfo != nullptr &&
            params->procs->GetMovieInfo(&theStandard, &theWidth, &theHeight, &theFrames) != kPluginOK)
            theWidth = theHeight = 0;
        InitMyPlugIn(gPluginConfig, MediaTypeForShape(theWidth, theHeight));
    }

    const SInt16 shortWhich = SInt16(which);
    HYPluginResult result = kPluginOK;
    switch (params->selector) {
    case kPlugGetInfo:
        result = EffectGetInfos(shortWhich, params);
        break;
    case kPlugInitialize:
        result = EffectBegins(shortWhich, params);
        break;
    case kPlugFilePlaceHolder:
        result = MakeEffectPlaceHolders(shortWhich, params);
        break;
    case kPlugDoFrame:
        result = EffectDrives(shortWhich, params);
        break;
    case kPlugTerminate:
        result = EffectEnds(shortWhich, params);
        break;
    case kPlugCustomButtonClick:
        result = CustomButtons(shortWhich, params);
        break;
    default:
        break;
    }
    return SInt32(UInt8(result));
}


// ---- Handlers --------------------------------------------------------------------

HYPluginResult EffectGetInfos(SInt16 which, PluginParams* params)
{
    if (params == nullptr)
        return kPluginBadParams;
    HYPluginGetInfo& info = params->getInfo;
    info.pluginType = kPluginFilterType;
    info.framesToBeRendered = 0;
    info.takeFromClipBefore = 0;
    info.takeFromClipAfter = 0;
    info.minSpeedFrames = 0;
    info.maxSpeedFrames = 0;
    info.mustTakeFromSingleClips = false;
    info.pluginFlags |= kBrimtonePluginFlagsA;
    params->getInfo2.baseMemoryNeeded = kBaseMemoryNeeded;
    SetFilterParamInfos(which, params);
    return kPluginOK;
}

void SetFilterParamInfos(SInt16 /*which*/, PluginParams* params)
{
    if (params == nullptr)
        return;
    HYPluginGetInfo& info = params->getInfo;
    info.takeFromClipBefore = 0;
    info.takeFromClipAfter = params->getInfo2.selectedFrames;
    info.framesToBeRendered = params->getInfo2.selectedFrames;

    for (SInt16 n = 1; n <= 3; ++n) {
        HYPluginFilterSliderInfo& slider = params->getInfo2.filterSliders[n - 1];
        slider.defaultValue = 0.5f;
        ReadListEntry(kSliderLabelsID, n, slider.label, sizeof slider.label);
        ReadListEntry(kSliderEndLabelsID, SInt16(2 * n - 1), slider.minLabel, sizeof slider.minLabel);
        ReadListEntry(kSliderEndLabelsID, SInt16(2 * n), slider.maxLabel, sizeof slider.maxLabel);
    }
    info.pluginFlags |= kBrimtonePluginFlagsB;
    ReadListEntry(kButtonTitleID, 1, params->getInfo3.buttonTitle, sizeof params->getInfo3.buttonTitle);
    ReadListEntry(kGroupNameID, 1, params->getInfo2.group, sizeof params->getInfo2.group);
}

HYPluginResult EffectBegins(SInt16 /*which*/, PluginParams* params)
{
    if (params == nullptr)
        return kPluginBadParams;
    HYProcs* procs = params->procs;
    if (procs == nullptr || procs->NewPtrClear == nullptr || procs->DisposePtr == nullptr ||
        procs->GetFilterInfo == nullptr || procs->ReleaseFilterInfo == nullptr)
        return kPluginBadParams;

    EffectDataPtr theData = static_cast<EffectDataPtr>(params->clientData);
    const bool madeData = theData == nullptr;
    if (madeData) {
        theData = reinterpret_cast<EffectDataPtr>(procs->NewPtrClear(SInt32(sizeof(EffectData))));
        if (theData == nullptr)
            return kPluginOutOfMemory;
    }

    UInt32 configSize;
    pGetConfigSize(configSize);
    pluginDataPtr theCopy = reinterpret_cast<pluginDataPtr>(procs->NewPtrClear(SInt32(configSize)));
    if (theCopy == nullptr) {
        if (madeData)
            procs->DisposePtr(reinterpret_cast<Ptr>(theData));
        return kPluginOutOfMemory;
    }
    pCopyConfig(gPluginConfig, theCopy);
    // A host that begins a pass twice must not lose the first pass's blocks.
    ReleasePassBlocks(procs, theData);
    theData->configCopy = theCopy;
    params->clientData = theData;
    theData->effectSourceCount = 1;

    if (procs->GetMovieInfo != nullptr) {
        SInt16 videoStandard = 0;
        SInt16 movieWidth = 0;
        SInt16 movieHeight = 0;
        SInt32 totalFrames = 0;
        procs->GetMovieInfo(&videoStandard, &movieWidth, &movieHeight, &totalFrames);
    }

    HYPluginFilterInfo* filterInfo = nullptr;
    const HYPluginResult result = procs->GetFilterInfo(params->instance, &filterInfo);
    if (filterInfo != nullptr) {
        theData->fadeInFrames = filterInfo->fadeInFrames;
        theData->fadeOutFrames = filterInfo->fadeOutFrames;
        for (int i = 0; i < 3; ++i)
            theData->sliderValues[i] = filterInfo->sliderValues[i];
        procs->ReleaseFilterInfo(params->instance, filterInfo);
    }
    ClampFades(theData->fadeInFrames, theData->fadeOutFrames, params->frameCount);
    theData->effectGWorld = nullptr;
    return result;
}

HYPluginResult EffectDrives(SInt16 /*which*/, PluginParams* params)
{
    if (params == nullptr)
        return kPluginBadParams;
    EffectDataPtr theData = static_cast<EffectDataPtr>(params->clientData);
    if (theData == nullptr || theData->configCopy == nullptr)
        return kPluginBadParams;
    HYProcs* procs = params->procs;
    if (procs == nullptr || procs->GetFrame == nullptr || procs->ReleaseFrame == nullptr ||
        params->frame == nullptr)
        return kPluginBadParams;
    const SInt32 width = SInt32(params->frameRect.right) - params->frameRect.left;
    const SInt32 height = SInt32(params->frameRect.bottom) - params->frameRect.top;
    if (width <= 0 || height <= 0 || width > std::numeric_limits<SInt16>::max() ||
        height > std::numeric_limits<SInt16>::max())
        return kPluginBadParams;
    SInt16 opacity = 0;
    const Boolean isFadeFrame = FadeFrameOpacity(params->renderFrame, theData->fadeInFrames,
                                                 theData->fadeOutFrames, params->frameCount, opacity);
    if ((isFadeFrame && procs->Blit == nullptr) ||
        (!params->proxyOnly && procs->MixAudio == nullptr))
        return kPluginBadParams;

    SavedGWorld savedGWorld;
    SetGWorld(params->frame, nullptr);

    const SInt32 absoluteIndex = AbsoluteFrameIndex(params->startFrame, params->renderFrame);
    gMostRecentStartFrame = params->startFrame;
    gMostRecentFrameCount = params->frameCount;

    void* frameCookie1 = nullptr;
    QDErr status = noErr;
    HYPluginResult result = kPluginOK;
    if (absoluteIndex >= 0) {
        GWorldPtr gWorldBefore = nullptr;
        SInt16 volume = 0;
        result = procs->GetFrame(params->instance, absoluteIndex, &gWorldBefore, SInt16(width),
                                 SInt16(height), FrameQuality(params, height), &volume,
                                 &frameCookie1);
        if (result == kPluginOK && gWorldBefore == nullptr)
            result = kPluginCantGetNeededFrame;
        if (result == kPluginOK) {
            const Rect srcRect{0, 0, SInt16(height), SInt16(width)};
            result = RenderFetchedFrame(params, gWorldBefore, srcRect, isFadeFrame, opacity,
                                        frameCookie1, status);
        }
    }

    const HYPluginResult released = procs->ReleaseFrame(params->instance, frameCookie1);
    if (result == kPluginOK)
        result = released;
    if (result == kPluginOK && status != noErr)
        result = kPluginFailed;
    return result;
}

HYPluginResult ApplyEffect(GWorldPtr sourceFrame, PluginParams* params)
{
    if (sourceFrame == nullptr || params == nullptr || params->clientData == nullptr ||
        params->frame == nullptr)
        return kPluginBadParams;
    EffectDataPtr theData = static_cast<EffectDataPtr>(params->clientData);
    if (theData->effectGWorld != nullptr) {
        DisposeGWorld(theData->effectGWorld);
        theData->effectGWorld = nullptr;
    }

    Rect sourceBounds;
    GetPortBounds(sourceFrame, &sourceBounds);
    Rect srcRect = sourceBounds;
    OffsetRect(&srcRect, SInt16(-srcRect.left), SInt16(-srcRect.top));
    QDErr status;
    {
        LockedPixels lockSource(sourceFrame);
        LockedPixels lockFrame(params->frame);
        theData->effectGWorld = NewWorkingBufferInFrame(sourceFrame, srcRect, params);
        const bool inFrame = theData->effectGWorld != nullptr;
        status = noErr;
        if (!inFrame)
            status = NewGWorld(&theData->effectGWorld, 32, &srcRect, nullptr, nullptr, 0);
        if (status == noErr && theData->effectGWorld == nullptr)
            status = paramErr;
        if (status == noErr) {
            LockedPixels lockWork(theData->effectGWorld);
            // The effect addresses buffers whose bounds start at (0, 0): a host frame
            // with another origin is moved into the working buffer first and the
            // effect runs there in place.
            GWorldPtr effectSource = sourceFrame;
            if (!EqualRect(&sourceBounds, &srcRect)) {
                CopyBits(GetPortBitMapForCopyBits(sourceFrame),
                         GetPortBitMapForCopyBits(theData->effectGWorld), &sourceBounds, &srcRect,
                         srcCopy, nullptr);
                effectSource = theData->effectGWorld;
            }
            ApplyLineArtEffect(effectSource, theData->effectGWorld, params);
            if (!inFrame)
                CopyBits(GetPortBitMapForCopyBits(theData->effectGWorld),
                         GetPortBitMapForCopyBits(params->frame), &srcRect, &params->frameRect,
                         srcCopy, nullptr);
        }
    }
    if (theData->effectGWorld != nullptr) {
        DisposeGWorld(theData->effectGWorld);
        theData->effectGWorld = nullptr;
    }
    return BufferResult(status);
}

void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, PluginParams* params)
{
    EffectDataPtr theData = static_cast<EffectDataPtr>(params->clientData);
    SavedGWorld savedGWorld;
    SetGWorld(targetFrame, nullptr);
    SInt16 opacity = 0;
    DoEffect(theData->configCopy, params, sourceFrame, targetFrame, params->renderFrame,
             theData->fadeInFrames, theData->fadeOutFrames, params->frameCount,
             theData->sliderValues[0], theData->sliderValues[1], theData->sliderValues[2], opacity);
}

HYPluginResult EffectEnds(SInt16 /*which*/, PluginParams* params)
{
    if (params == nullptr)
        return kPluginBadParams;
    EffectDataPtr theData = static_cast<EffectDataPtr>(params->clientData);
    if (theData == nullptr)
        return kPluginOK;
    HYProcs* procs = params->procs;
    if (procs == nullptr || procs->DisposePtr == nullptr)
        return kPluginBadParams;

    if (procs->GetClipInfo != nullptr) {
        // The host's clip record; its answer is not used, so any room it needs will do.
        alignas(8) UInt8 clipInfo[1024] = {};
        procs->GetClipInfo(params->instance, 1, clipInfo);
    }
    ReleasePassBlocks(procs, theData);
    procs->DisposePtr(reinterpret_cast<Ptr>(theData));
    params->clientData = nullptr;
    return kPluginOK;
}

HYPluginResult MakeEffectPlaceHolders(SInt16 which, PluginParams* params)
{
    if (params == nullptr)
        return kPluginBadParams;
    SavedGWorld savedGWorld;
    if (params->frame != nullptr)
        SetGWorld(params->frame, nullptr);

    PluginParams placeholder;
    std::memcpy(&placeholder, params, sizeof placeholder);
    placeholder.renderFrame = params->getInfo.bestThumbOffset;
    // The host's own pass keeps its block; the placeholder gets one of its own.
    placeholder.clientData = nullptr;

    placeholder.selector = kPlugInitialize;
    HYPluginResult result = EffectBegins(which, &placeholder);
    // A frame that could not be rendered is no placeholder: the host must not
    // show an empty picture as if it were the effect's.
    if (result == kPluginOK) {
        placeholder.selector = kPlugDoFrame;
        result = EffectDrives(which, &placeholder);
    }
    // A pass that made its blocks ends, whether or not it could begin fully.
    if (placeholder.clientData != nullptr) {
        placeholder.selector = kPlugTerminate;
        EffectEnds(which, &placeholder);
    }
    return result;
}

HYPluginResult CustomButtons(SInt16 /*which*/, PluginParams* params)
{
    if (params == nullptr)
        return kPluginBadParams;
    HYProcs* procs = params->procs;
    if (procs == nullptr || procs->GetFrame == nullptr || procs->ReleaseFrame == nullptr)
        return kPluginBadParams;
    if (lgConfigureProc == nullptr)
        return kPluginOK;

    const SInt32 absoluteIndex = AbsoluteFrameIndex(params->renderFrame, gMostRecentStartFrame);
    SInt16 width;
    SInt16 height;
    PreviewSizeForMedia(GetMediaFormat(gPluginConfig), width, height);

    GWorldPtr theGW = nullptr;
    void* frameCookie1 = nullptr;
    SInt16 volume = 0;
    HYPluginResult result = kPluginCantGetNeededFrame;
    if (absoluteIndex >= 0)
        result = procs->GetFrame(params->instance, absoluteIndex, &theGW, width, height,
                                 kDVHighQuality, &volume, &frameCookie1);
    // The dialog counts the clip's own frames and opens on the one shown; a
    // save that failed after OK is the host's to hear of as well.
    Boolean saved = true;
    if (result == kPluginOK && theGW != nullptr && gPluginConfig != nullptr)
        saved = lgConfigureProc(gPluginConfig, theGW, params, gMostRecentStartFrame,
                                gMostRecentFrameCount, params->renderFrame);
    procs->ReleaseFrame(params->instance, frameCookie1);
    return saved ? kPluginOK : kPluginFailed;
}

void SetConfigureProc(ConfigureProcPtr theProc)
{
    lgConfigureProc = theProc;
}
