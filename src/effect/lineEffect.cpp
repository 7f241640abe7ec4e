#include "effect/lineEffect.h"

#include "CoreGraphics.h"
#include "QuickDraw.h"
#include "common/CommonProcs.h"
#include "graphics/CGglue.h"
#include "graphics/CommonProcs.h"

void RenderLineArt(pluginDataPtr theConfig)
{
    Assert(theConfig, PStr("nil config on RenderLineArt"));
    if (theConfig->TheRendered != nullptr) {
        CGImageRelease(theConfig->TheRendered);
        theConfig->TheRendered = nullptr;
    }
    if (theConfig->TheOriginalImage == nullptr)
        return;

    SInt32 width = 0;
    SInt32 height = 0;
    GetImageDims(theConfig->TheOriginalImage, width, height);
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767)
        return;
    Rect theRect;
    SetRect(&theRect, 0, 0, SInt16(width), SInt16(height));
    GWorldPtr theGW = AllocateRectGWorld(theRect);
    if (theGW == nullptr)
        return;
    DrawCGImageInQDRect(theGW, theConfig->TheOriginalImage, theRect, 0.0f, true);
    theConfig->TheRendered = GWorld2CGImage(theGW);
    DisposeGWorld(theGW);
}
