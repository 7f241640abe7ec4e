// Offscreen buffers, rectangle geometry and colour conversions: the graphics
// half of the common routines (the rest is in common/CommonProcs.h).
#pragma once

#include "MacTypes.h"
#include "QuickDraw.h"
#include "graphics/PixelLib.h"

// Same spelling as the ui library, which completes the type.
typedef struct OpaqueWindowPtr* WindowRef;

// origin + trunc(value) as a 16-bit coordinate: truncation toward zero,
// saturating at -32768 and 32767; a NaN value contributes 0.
SInt16 TruncToCoord(double value, SInt16 origin = 0);

// Keeps the current port and device for its lifetime; the second form then
// makes thePort current (nothing for nil).
class SavedGWorld {
public:
    SavedGWorld() { GetGWorld(&fPort, &fDevice); }
    explicit SavedGWorld(CGrafPtr thePort) : SavedGWorld()
    {
        if (thePort != nullptr)
            SetGWorld(thePort, nullptr);
    }
    ~SavedGWorld() { SetGWorld(fPort, fDevice); }
    SavedGWorld(const SavedGWorld&) = delete;
    SavedGWorld& operator=(const SavedGWorld&) = delete;

private:
    CGrafPtr fPort = nullptr;
    GDHandle fDevice = nullptr;
};

// Locks a buffer's pixels and puts their previous state back at the end.
class LockedPixels {
public:
    explicit LockedPixels(GWorldPtr theGW)
        : fPixMap(theGW != nullptr ? GetGWorldPixMap(theGW) : nullptr)
    {
        if (fPixMap != nullptr) {
            fState = GetPixelsState(fPixMap);
            LockPixels(fPixMap);
        }
    }
    ~LockedPixels()
    {
        if (fPixMap != nullptr)
            SetPixelsState(fPixMap, fState);
    }
    LockedPixels(const LockedPixels&) = delete;
    LockedPixels& operator=(const LockedPixels&) = delete;

private:
    PixMapHandle fPixMap;
    GWorldFlags fState = 0;
};

// Offscreen buffers: depth 32, bounds at (0,0), pixels locked for life.
// The allocators return nil on failure; the caller disposes with DisposeGWorld.
void LockGWorld(GWorldPtr theGW);
GWorldPtr AllocateGWorld(SInt16 wid, SInt16 hig);
GWorldPtr AllocateRectGWorld(Rect theRect);
void DrawGWinGW(GWorldPtr theSource, GWorldPtr theDest, Rect theRect);
void DrawPictureInGW(GWorldPtr theGW, PicHandle theP, Rect theRect);
void ClearGW(GWorldPtr theGW, RGBColor theColor);
void Source2Target(GWorldPtr theSource, GWorldPtr theTarget);
GWorldPtr MakeGWorldClone(GWorldPtr theGW);

// Port access
Rect GetPortRect(GrafPtr thePort);
Rect CarbonGetPortBounds(GrafPtr port);
BitMap CarbonGetPortBitMapForCopyBits(GrafPtr port);

// Geometry
void GetDims(Rect theRect, SInt32& wid, SInt32& hig);
void VerifyRect(Rect& theRect);
Rect KeepPropsWithFixedHorizontal(Rect inOriginal, Rect inNewSize);
Rect KeepPropsWithFixedVertical(Rect inOriginal, Rect inNewSize);
// inRect's proportions scaled to inFrame, at (0,0); neither centred nor clipped.
Rect CalcProportionalRectForFrame(Rect inRect, Rect inFrame);
void CenterRectInRect(Rect& theRect, Rect theBounds);
// Moves the window sideways so that its frame's right edge is theBounds.right.
// In the dialog library, as it needs the toolbox's user interface.
void MoveWindowToRightEdge(WindowRef theWindow, Rect theBounds);
SInt16 Sgn(double theVal);
SInt16 CarbonHiWord(SInt32 x);
SInt16 CarbonLoWord(SInt32 x);

// Colours; a packed colour is 0x00RRGGBB by value.
RGBColor SetRGBColor(SInt16 r, SInt16 g, SInt16 b);
pixRec Longint2PixRec(SInt32 theLong);
SInt32 PixRec2Longint(pixRec thePixRec);
SInt32 RGBColor2Longint(RGBColor theColor);
RGBColor Longint2RGBColor(SInt32 theLong);
