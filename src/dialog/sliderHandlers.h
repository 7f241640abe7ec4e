// The dialog's sliders and the two routines that refresh the preview.
#pragma once

#include "Controls.h"
#include "MacTypes.h"
#include "MacWindows.h"

// Binds "Sldr" 1..6 and "ClpS" 1 of a freshly loaded window and fills them
// from the dialog's configuration and work record.
void SetupSliders(WindowRef theWindow);
// Renders the current frame into the preview and has the preview redrawn;
// the read-outs of the region's edges follow the region.
void ReRenderAndBlit();
// Fetches frame MinFrameIndex + theVal from the host first; quick while the
// frame slider moves (a nearby frame that decodes at once will do).
void AccessRenderAndBlit(SInt32 theVal, Boolean quick = false);
void Slider1Action(ControlRef theControl, ControlPartCode thePart);
void ClipSliderAction(ControlRef theControl, ControlPartCode thePart);
void KillSliders();
// The threshold typed into its field ("Sval" 1): the slider, its read-out and
// the preview follow.
void ThresholdTyped(WindowRef theWindow);
// The frame slider let go: the exact frame at its position.
void ClipSliderReleased();
// The region's edges into their fields ("Redg" 1..4, left, top, right,
// bottom, in whole percent of the frame).
void ShowRegionValues();
// Edge theEdge (1..4) of the region typed in its field.
void RegionEdgeTyped(WindowRef theWindow, SInt16 theEdge);

// "frame/last" for the frame slider's read-out.
void FramePositionText(SInt32 theFrame, SInt32 theLast, Str255 outText);
// "value%" for a slider's read-out.
void SliderValueText(SInt32 theValue, Str255 outText);
