// The effect driver: turns the configuration's relative region into pixels
// of the target and runs the pixel effect once.
#pragma once

#include "MacTypes.h"
#include "QuickDraw.h"
#include "plugin/PluginDefines.h"

// The render path: StartRel of theConfig within dest's port rectangle.
void DoPixelEffect(GWorldPtr source, GWorldPtr dest, pluginDataPtr theConfig,
                   SInt32 currentFrameIndex, SInt32 maxFrames);
// The dialog's preview: source scaled into dest, then the effect of the
// dialog's configuration (gConfigWorkSpace) on dest.
void CallPixelEffect(GWorldPtr source, GWorldPtr dest);
void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, pluginDataPtr theConfig,
                SInt32 currentFrame, SInt32 numFrames);
