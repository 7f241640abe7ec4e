// The plug-in's process-wide state, shared by every clip and instance of the
// effect. The host calls on one thread, one call at a time, so there are no locks.
#pragma once

#include "MacTypes.h"
#include "plugin/PluginDefines.h"

// The master configuration: made on the first host call, never freed.
extern pluginDataPtr gPluginConfig;
// startFrame and frameCount of the last rendered frame; the effect button
// opens the dialog on that clip.
extern SInt32 gMostRecentStartFrame;
extern SInt32 gMostRecentFrameCount;
// The configuration handed to the dialog, and the dialog's work record.
extern pluginDataPtr gTheConfig;
extern pluginWorkSpace gConfigWorkSpace;
extern Boolean gRuntimeInited;
