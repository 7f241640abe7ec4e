#include "effect/CallPixelFX.h"

#include "effect/pixelEffect.h"
#include "graphics/CommonProcs.h"
#include "graphics/relRects.h"
#include "plugin/globals.h"

void DoPixelEffect(GWorldPtr source, GWorldPtr dest, pluginDataPtr theConfig,
                   SInt32 currentFrameIndex, SInt32 maxFrames)
{
    if (theConfig == nullptr)
        return;
    const Rect theFrame = GetPortRect(dest);
    const Rect theRect = Rel2Rect(theConfig->StartRel, theFrame);
    PixelDrive(source, dest, theRect, theConfig, currentFrameIndex, maxFrames);
}

void CallPixelEffect(GWorldPtr source, GWorldPtr dest)
{
    const Rect theFrame = GetPortRect(dest);
    Source2Target(source, dest);
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    if (theConfig == nullptr)
        return;
    const Rect theRect = Rel2Rect(theConfig->StartRel, theFrame);
    PixelDrive(source, dest, theRect, theConfig, gConfigWorkSpace.CurrFrameIndex,
               gConfigWorkSpace.MaxFrameIndex);
}

void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, pluginDataPtr theConfig,
                SInt32 currentFrame, SInt32 numFrames)
{
    ThePixelEffect(source, dest, theRect, true, theConfig, currentFrame, numFrames);
}
