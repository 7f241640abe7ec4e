#include "Effects/iMovieGlue.h"

#include "Effects/AdjustColors/AdjustColors.h"
#include "graphics/CommonProcs.h"

SInt16 GetFrameIntoGW(GWorldPtr theGW, PluginParams* params, SInt32 frameIndex,
                      SInt16 /*disposeAfterUse*/, Boolean quick)
{
    if (theGW == nullptr || params == nullptr || params->procs == nullptr ||
        params->procs->GetFrame == nullptr || params->procs->ReleaseFrame == nullptr)
        return kPluginBadParams;
    HYProcs* procs = params->procs;

    const Rect targetRect = GetPortRect(theGW);
    const SInt32 width = SInt32(targetRect.right) - targetRect.left;
    const SInt32 height = SInt32(targetRect.bottom) - targetRect.top;
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767)
        return kPluginBadParams;
    const SInt32 absoluteIndex = AbsoluteFrameIndex(params->startFrame, frameIndex);
    if (absoluteIndex < 0)
        return -1;

    GWorldPtr fetched = nullptr;
    SInt16 volume = 0;
    void* frameCookie1 = nullptr;
    SInt16 result = procs->GetFrame(params->instance, absoluteIndex, &fetched, SInt16(width),
                                    SInt16(height), quick ? HYRefDVQuality(kDVLowQuality) : FrameQuality(params, height), &volume,
                                    &frameCookie1);
    if (fetched == nullptr) {
        if (frameCookie1 != nullptr)
            procs->ReleaseFrame(params->instance, frameCookie1);
        return result != kPluginOK ? result : SInt16(kPluginCantGetNeededFrame);
    }

    {
        LockedPixels lock(fetched);
        const Rect fetchedRect = GetPortRect(fetched);
        CopyBits(GetPortBitMapForCopyBits(fetched), GetPortBitMapForCopyBits(theGW), &fetchedRect,
                 &targetRect, srcCopy, nullptr);
    }
    // The host's ReleaseFrame frees the frame: disposing of it here as well
    // would free it twice, so disposeAfterUse only documents the intent.
    if (frameCookie1 != nullptr)
        result = procs->ReleaseFrame(params->instance, frameCookie1);
    return result;
}
