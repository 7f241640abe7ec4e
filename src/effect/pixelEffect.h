// The two-colour threshold effect: inside a region every pixel becomes
// Colors[kDarkColor] where its brightness (mean of red, green and blue) is
// below the threshold slider's percentage of 255, Colors[kLightColor] elsewhere.
#pragma once

#include "MacTypes.h"
#include "QuickDraw.h"
#include "plugin/PluginDefines.h"

// The threshold in brightness units for a slider setting in percent. Every
// setting keeps its meaning: above 100 is brighter than any pixel, below 0
// darker than any.
SInt32 BrimtoneThreshold(SInt16 theSliderValue);

// Paints activeRect (clipped to the buffers) from source into dest; with
// copyRest the pixels outside it are copied, otherwise left alone. A nil dest
// works in place. Buffers whose bounds differ, a nil source or a nil
// configuration leave everything as it was.
void Brimtone(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
              pluginDataPtr theConfig);

// Brimtone with the pixels outside activeRect always copied, the current port
// and device kept. The frame numbers do not change the picture.
void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                    pluginDataPtr theConfig, SInt32 currentFrame, SInt32 maxFrame);
