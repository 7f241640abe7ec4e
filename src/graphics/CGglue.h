// Bridge between QuickDraw ports and Core Graphics: rectangle conversion
// (QuickDraw's y grows downwards, Core Graphics' upwards), clearing and
// painting with opacity, drawing scaled and rotated images into a port, and
// snapshots of 32-bit buffers as images.
//
// Each routine that opens a context on a port closes and releases it before
// returning; the current port is left as it was.
#pragma once

#include "CoreGraphics.h"
#include "MacTypes.h"
#include "QuickDraw.h"

CGRect CGRectMake(CGFloat theX, CGFloat theY, CGFloat theWidth, CGFloat theHeight);

// theRect of a port whose bounds are theFrame, measured from the frame's
// bottom-left corner.
CGRect QDRectToGCRect(Rect theRect, Rect theFrame);
// Crop rectangle for an image, addressed from its top-left corner.
CGRect QDCrop2CGCrop(Rect cropRect, CGImageRef theImage);

// Makes theRect of theGW fully transparent (all bytes 0).
void GWClearRect(GWorldPtr theGW, Rect theRect);
// Composites theColor (high bytes of its channels) at opacity alpha / 255.
void GWPaintRectWithAlpha(GWorldPtr theGW, Rect theRect, RGBColor theColor, UInt8 alpha);

// Draws theImage scaled to targetRect's size, turned counter-clockwise by
// theRadiants about targetRect's centre; clearFirst clears the turned area.
void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect,
                              float theRadiants, Boolean clearFirst);
// Nothing for a nil image.
void DrawCGImageInQDRect(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect,
                         float theRadiants, Boolean clearFirst);
// As DrawCGImageInQDRect at opacity alpha (0..1; negative keeps the
// context's own), always with blendMode.
void DrawCGImageInQDRectWithAlpha(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect,
                                  float theRadiants, Boolean clearFirst, double alpha,
                                  SInt16 blendMode);

// The image's size fitted proportionally to theFrame, at (0,0); the empty
// rectangle for a nil image.
Rect CalcProportionalImageForFrame(CGImageRef theImage, Rect theFrame);

// A new colour owned by the caller: the channels scaled to 0..1 and alpha
// taken as 0..255 (values outside are clamped).
CGColorRef RGBColor2CGColorRef(RGBColor theColor, SInt16 alpha, CGColorSpaceRef theColorSpace);

// A snapshot of the buffer's premultiplied A, R, G, B pixels that the caller
// releases; nil for a nil buffer.
CGImageRef GWorld2CGImage(GWorldPtr theGW);

// No nil check. Sizes beyond the signed 32-bit range are saturated.
void GetImageDims(CGImageRef theImage, SInt32& wid, SInt32& hig);
// (0, 0, height, width), each saturated to 32767; the empty rectangle for nil.
Rect GetImageRect(CGImageRef theImage);
