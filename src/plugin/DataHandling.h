// Defaults of the configuration record and the region being edited.
#pragma once

#include "MacTypes.h"
#include "graphics/relRects.h"
#include "plugin/PluginDefines.h"

// Puts the defaults into theConfig; a full reset also forgets its images
// (without releasing them). FrameEndColor is kept. Nothing for nil.
void ResetConfig(pluginDataPtr theConfig, Boolean fullInit);

// StartRel of the dialog's configuration (one rectangle is in use); the
// whole frame while no dialog configuration is set.
relRect GetCurrentRel();
void PutCurrentRel(relRect theRel);
