// Direct pixel access on 32-bit offscreen buffers: base address, row bytes,
// single pixels, fills, brush-like blends, smudging, plotting and rotation.
#pragma once

#include "MacTypes.h"
#include "QuickDraw.h"

// One pixel as it lies in memory in a 32-bit buffer, on either byte order.
struct pixRec {
    UInt8 alpha;
    UInt8 red;
    UInt8 green;
    UInt8 blue;
};
static_assert(sizeof(pixRec) == 4, "a pixRec is exactly one 32-bit pixel");
typedef pixRec* pixRecPtr;

enum {
    c8BitDepth = 8,
    c16BitDepth = 16,
    c24BitDepth = 24,
    c32BitDepth = 32,
};

// Locks the buffer's pixels and hands out what direct access needs; the
// caller restores the state with SetPixelsState(GetGWorldPixMap(theGW), pixFlags).
// A nil buffer yields a nil address, zero row bytes, an empty frame and flags 0.
void GetPixInfoFromGWorld(GWorldPtr theGW, Ptr& pixBaseAddress, SInt32& pixRowBytes,
                          Rect& theFrame, UInt32& pixFlags);
SInt16 GetGWDepth(GWorldPtr theGW);
SInt16 Depth2Size(SInt16 theDepth);

// Fills the part of the buffer inside the half-open theActiveRect with
// (alpha 0, r, g, b).
void SetPixmapPixels(GWorldPtr theDest, Rect theActiveRect, UInt8 r, UInt8 g, UInt8 b);

// Single-pixel access without any checks: callers pass positions inside the buffer.
void pGetPixel(Ptr srcBaseAddr, SInt32 rowBytes, SInt16 x, SInt16 y, pixRec& thePixel);
void pSetPixel(Ptr srcBaseAddr, SInt32 rowBytes, SInt16 x, SInt16 y, pixRecPtr thePixel);
void Put32BitPixelInPixmap(pixRec thePixel, Ptr dstBaseAddress, SInt16 x, SInt16 y,
                           SInt32 dstRowBytes, SInt16 targetDepth);

// Brush operations on the square of theSize × theSize pixels at (x, y).
void pSetGWPixelUsingAlpha(GWorldPtr theSource, SInt16 x, SInt16 y, double theAlpha,
                           const RGBColor& theRGB, SInt16 theSize);
void pSetGWPixelAndAlpha(GWorldPtr theSource, SInt16 x, SInt16 y, RGBColor theRGB,
                         SInt16 alpha, SInt16 theSize);
void pCombineGWAndPutUsingAlpha(GWorldPtr theSource1, GWorldPtr theSource2, GWorldPtr theTarget,
                                SInt16 sx, SInt16 sy, SInt16 tx, SInt16 ty, SInt16 alpha,
                                Boolean invertAlpha, SInt16 theSize);
void pSmudgePixel(GWorldPtr theSource1, GWorldPtr theSource2, SInt16 radius, SInt16 x, SInt16 y,
                  Boolean uses2Alpha, SInt16 smudgeAlpha, pixRec& result);
void pPlotPixel(GWorldPtr theTarget, SInt16 x, SInt16 y, SInt16 size, Boolean blend,
                Boolean round, pixRec thePixel);

void Pixel2RGBA(pixRec thePixel, RGBColor& theRGB, SInt16& alpha);

// Copies theActiveRect of theSource, rotated by phi radians about the
// rectangle's centre, into theDest.
void RotatePixmap(GWorldPtr theSource, GWorldPtr theDest, Rect theActiveRect, double phi);
