// The configuration's cached rendering of its original image.
#pragma once

#include "plugin/PluginDefines.h"

// Replaces TheRendered of theConfig by a rendering of TheOriginalImage (none
// when there is no original). A nil theConfig ends the process with an alert.
void RenderLineArt(pluginDataPtr theConfig);
