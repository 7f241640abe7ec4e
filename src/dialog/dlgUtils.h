// Geometry and drawing of the preview control's region: handle hit tests,
// handles, the preview with its region outline, dragging and proportions.
#pragma once

#include "MacTypes.h"
#include "MacWindows.h"
#include "QuickDraw.h"
#include "graphics/relRects.h"

// Parts of the preview control.
enum : SInt16 {
    kNoHandle = 0,
    kTopLeftHandle = 1,
    kTopRightHandle = 2,
    kBottomLeftHandle = 3,
    kBottomRightHandle = 4,
    kRectBody = 5,
};

// Modifier bits that change a corner drag. Window managers take Alt-drag
// (Option) to move windows, so Ctrl (the Command bit) grows from the centre too.
enum : UInt32 {
    kDragCommandKey = 0x0100,  // grow or shrink about the centre
    kDragShiftKey = 0x0200,    // keep the proportions the rectangle had at the click
    kDragOptionKey = 0x0800,   // grow or shrink about the centre
};

// Where the picture lies in the preview control of bounds: inset by
// cPreviewMargin. The region's coordinates are relative to it.
Rect PreviewFrame(Rect bounds);

// The first of: the 12x12 squares around top-left, top-right, bottom-left,
// bottom-right (1..4), the rectangle itself (5); 0 for none.
SInt16 IsHandleHit(Rect theRect, Point theLoc);
// A filled handle with a contrasting edge at each corner, in the current
// port; thePen is the width of a unit in pixels, on screens finer than the
// window's.
void DrawHandles(Rect theRect, SInt16 thePen = 1);
// The region's outline inside theRegion: a line of theColor and, inside it,
// one of the contrasting tone (OutlineContrast), so that it shows on any
// picture.
void DrawRegionOutline(Rect theRegion, const RGBColor& theColor, SInt16 thePen = 1);
// Black for a light colour, white for a dark one.
RGBColor OutlineContrast(const RGBColor& theColor);
// Runs the effect on the current frame for the preview: into TheFXClip on a
// screen of one pixel to a unit; on a finer screen DrawFrameContents works
// it out at the screen's pixels instead, once per drawing.
void RenderPreview();
// The rendered preview with a one-pixel border in PreviewFrame(destRect), its
// region outline and handles over it, the margin in the dialog's background.
void DrawFrameContents(WindowRef theWindow, Rect destRect);
void DragRect(Rect& theRect, Point oldLoc, Point newLoc, UInt32 modifiers);
// Moves the corner theHandle by the mouse's movement; the result is
// normalised. theFrame and origRel give the rectangle at the click for Shift.
void DragCorner(SInt16 theHandle, Rect& theRect, Point oldLoc, Point newLoc, UInt32 modifiers,
                Rect theFrame, const relRect& origRel);
// Gives theRect the preview picture's proportions when KeepProps is set.
void KeepImageProps(Rect& theRect);
void CalcAndKeepImageProps();
