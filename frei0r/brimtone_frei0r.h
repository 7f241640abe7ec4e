// Brimtone as a frei0r filter (RGBA8888): the plug-in's effect and region on
// frames handed over by ffmpeg, melt, Kdenlive, Shotcut or GStreamer.
//
// Parameters: those of the effect's parameter table, in its order (threshold,
// colour1, colour2, left, top, right, bottom, saved). Percent parameters are
// fractions (0.17 for 17 %); the threshold is rounded to whole percent and the
// region edges are converted to pixels as the plug-in does. Colour components
// map to bytes as lround(value × 255); a byte reads back as byte / 255. Values
// outside the table's range are clamped; NaN leaves a value as it was.
// Defaults: the configuration's defaults (17 %, blue, white, the whole frame),
// whatever is saved, so that a project renders alike on every machine; `saved`
// renders with the settings saved by the dialog instead.
#pragma once

// The header declares the entry points without C linkage.
extern "C" {
#include <frei0r.h>
}

#include "plugin/EffectParameters.h"

namespace brimtone::frei0r {

// Frames wider or taller than this cannot be described by the effect's
// 16-bit pixel rectangles.
inline constexpr unsigned kMaxFrameSide = 32767;

}  // namespace brimtone::frei0r
