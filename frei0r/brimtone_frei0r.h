// Brimtone as a frei0r filter (RGBA8888): the plug-in's effect and region on
// frames handed over by ffmpeg, melt, Kdenlive, Shotcut or GStreamer.
//
// Parameters, in this order:
//   0 threshold  double 0..1   slider percent = nearest integer to value × 100
//   1 colour1    colour        for pixels darker than the threshold
//   2 colour2    colour        for the others
//   3 left, 4 top, 5 right, 6 bottom   double 0..1, the region as fractions
//                               of the frame (converted as the plug-in does)
//   7 saved      bool         render with the settings saved by the dialog
//                               instead of parameters 0..6
// Colour components map to bytes as lround(value × 255); a byte reads back
// as byte / 255. Values outside 0..1 are clamped; NaN leaves a value as it was.
// Defaults: the configuration's defaults (17 %, blue, white, the whole frame),
// whatever is saved, so that a project renders alike on every machine.
#pragma once

// The header declares the entry points without C linkage.
extern "C" {
#include <frei0r.h>
}

namespace brimtone::frei0r {

enum ParamIndex : int {
    kParamThreshold = 0,
    kParamColour1,
    kParamColour2,
    kParamLeft,
    kParamTop,
    kParamRight,
    kParamBottom,
    kParamSaved,
    kParamCount
};

// Frames wider or taller than this cannot be described by the effect's
// 16-bit pixel rectangles.
inline constexpr unsigned kMaxFrameSide = 32767;

}  // namespace brimtone::frei0r
