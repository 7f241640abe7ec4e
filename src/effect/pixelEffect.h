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

// The implementations of the pass's loop over the region, plainest first.
// Plain takes one pixel at a time; the others give the same bytes with the
// processor's vector instructions.
enum class PixelPath { Plain, SSE2, AVX2 };

// "plain", "sse2" or "avx2".
const char* PixelPathName(PixelPath thePath);

// Whether this processor and build can run thePath.
Boolean PixelPathAvailable(PixelPath thePath);

// The fastest available path that is no faster than the one theLimit names;
// a nil or unknown name limits nothing. The first pass of a process takes
// ChoosePixelPath(getenv("BRIMTONE_PIXEL_PATH")), so BRIMTONE_PIXEL_PATH=plain
// forces the plain loop.
PixelPath ChoosePixelPath(const char* theLimit);

// The path every pass uses from now on; UsePixelPath ignores a path that is
// not available (for tests and benchmarks, between passes).
PixelPath CurrentPixelPath();
void UsePixelPath(PixelPath thePath);

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
