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

// Where red, green, blue and alpha lie in a pixel's four bytes in memory:
// ARGB is the toolbox's buffers, RGBA frei0r's RGBA8888 frames.
enum class PixelOrder { ARGB, RGBA };

// The pass on raw rows of 32-bit pixels in the given order: both buffers
// hold frame's rows (first pixel at frame's top-left, rowBytes >= width * 4,
// checked by the caller). activeRect is clipped to frame; inside it every
// pixel becomes one of the two colours, fully opaque; outside it, with
// copyRest and distinct buffers, source's pixels are copied with their alpha.
void BrimtonePixels(PixelOrder order, const UInt8* source, SInt32 sourceRowBytes, UInt8* dest,
                    SInt32 destRowBytes, Rect frame, Rect activeRect, Boolean copyRest,
                    const pluginDataRec& theConfig);

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
