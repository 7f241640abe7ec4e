// The configuration dialog's frame fetch from the host.
#pragma once

#include "Effects/AdjustColors/HostInterface.h"
#include "MacTypes.h"
#include "QuickDraw.h"

// Fetches frame frameIndex (counted from params->startFrame) at theGW's size
// and copies it into theGW. Returns the host's result, -1 for a negative
// index, kPluginBadParams for missing arguments or callbacks and
// kPluginCantGetNeededFrame when the host answers without a frame. Every
// cookie the host hands out is given back with ReleaseFrame, which frees the
// frame; the fetched buffer is never disposed of here, whatever
// disposeAfterUse says. A quick fetch asks for low quality, which the host
// may answer with a nearby frame that it can decode at once: what the frame
// slider shows while it moves.
SInt16 GetFrameIntoGW(GWorldPtr theGW, PluginParams* params, SInt32 frameIndex,
                      SInt16 disposeAfterUse, Boolean quick = false);
