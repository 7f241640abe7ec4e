#include "Effects/iMovieGlue.h"

#include <cstdint>
#include <limits>

#include "graphics/CommonProcs.h"

SInt16 GetFrameIntoGW(GWorldPtr theGW, PluginParams* params, SInt32 frameIndex,
                      SInt16 /*disposeAfterUse*/)
{
    if (theGW == nullptr || params == nullptr || params->procs == nullptr ||
        params->procs->GetFrame == nullptr || params->procs->ReleaseFrame == nullptr)
        return kPluginBadParams;
    HYProcs* procs = params->procs;

    const Rect targetRect = GetPortRect(theGW);
    const SInt32 width = SInt32(targetRect.right) - targetRect.left;
    const SInt32 height = SInt32(targetRect.bottom) - targetRect.top;
    if (width <= 0 || height <= 0)
        return kPluginBadParams;
    const int64_t absoluteIndex = int64_t(frameIndex) + params->startFrame;
    if (absoluteIndex < 0 || absoluteIndex > std::numeric_limits<SInt32>::max())
        return -1;

    const HYRefDVQuality quality =
        (params->proxyOnly && height <= 259) ? kDVLowQuality : kDVHighQuality;
    GWorldPtr fetched = nullptr;
    SInt16 volume = 0;
    void* frameCookie1 = nullptr;
    SInt16 result = procs->GetFrame(params->instance, SInt32(absoluteIndex), &fetched,
                                    SInt16(width), SInt16(height), quality, &volume, &frameCookie1);
    if (fetched == nullptr) {
        if (frameCookie1 != nullptr)
            procs->ReleaseFrame(params->instance, frameCookie1);
        return result != kPluginOK ? result : SInt16(kPluginCantGetNeededFrame);
    }

    {
        PixMapHandle fetchedPixMap = GetGWorldPixMap(fetched);
        const GWorldFlags savedState = GetPixelsState(fetchedPixMap);
        LockPixels(fetchedPixMap);
        const Rect fetchedRect = GetPortRect(fetched);
        CopyBits(GetPortBitMapForCopyBits(fetched), GetPortBitMapForCopyBits(theGW), &fetchedRect,
                 &targetRect, srcCopy, nullptr);
        SetPixelsState(fetchedPixMap, savedState);
    }
    // The host's ReleaseFrame frees the frame: disposing of it here as well
    // would free it twice, so disposeAfterUse only documents the intent.
    if (frameCookie1 != nullptr)
        result = procs->ReleaseFrame(params->instance, frameCookie1);
    return result;
}
