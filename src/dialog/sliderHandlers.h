// The dialog's sliders and the two routines that refresh the preview.
#pragma once

#include "Controls.h"
#include "MacTypes.h"
#include "MacWindows.h"

// Binds "Sldr" 1..6 and "ClpS" 1 of a freshly loaded window and fills them
// from the dialog's configuration and work record.
void SetupSliders(WindowRef theWindow);
// Renders the current frame into the preview and has the preview redrawn.
void ReRenderAndBlit();
// Fetches frame MinFrameIndex + theVal from the host first.
void AccessRenderAndBlit(SInt32 theVal);
void Slider1Action(ControlRef theControl, ControlPartCode thePart);
void ClipSliderAction(ControlRef theControl, ControlPartCode thePart);
void KillSliders();

// "frame/last" for the frame slider's read-out.
void FramePositionText(SInt32 theFrame, SInt32 theLast, Str255 outText);
// "value%" for a slider's read-out.
void SliderValueText(SInt32 theValue, Str255 outText);
