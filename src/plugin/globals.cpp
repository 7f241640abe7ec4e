#include "plugin/globals.h"

pluginDataPtr gPluginConfig = nullptr;
SInt32 gMostRecentStartFrame = 0;
SInt32 gMostRecentFrameCount = 0;
pluginDataPtr gTheConfig = nullptr;
pluginWorkSpace gConfigWorkSpace = {};
Boolean gRuntimeInited = false;
