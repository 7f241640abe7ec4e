// The port record behind a GrafPtr, for the toolbox libraries only (the core
// and the ui library, which gives windows a port). Plug-in code uses the
// accessors of QuickDraw.h.
#pragma once

#include "QuickDraw.h"

struct OpaqueGrafPtr {
    UInt32 magic;           // kPortMagic while the port is alive
    PixMap pixMap;
    PixMapPtr pixMapPtr;    // &pixMap, so that &pixMapPtr is the PixMapHandle
    BitMap bitMap;          // kept in step with pixMap for CopyBits
    void* pixelStorage;     // owned pixels, nil when someone else owns them
    RGBColor foreColor;
    RGBColor backColor;
    SInt16 penMode;
    Point penLoc;
    Point penSize;
    Rect clipRect;
    SInt16 textFont;
    SInt16 textSize;
    SInt16 textFace;
    // Called after drawing changed pixels inside the given rectangle, so a
    // window can show them; nil for offscreen worlds.
    void (*pixelsChanged)(OpaqueGrafPtr* port, const Rect* changed);
    void* owner;            // the window or widget behind a window port
    SInt32 pixelsWide;      // size of the pixel memory; bounds never exceed it
    SInt32 pixelsHigh;
};

constexpr UInt32 kPortMagic = 0x47577264;  // "GWrd"

// Makes a port over pixels that the caller owns (a window's back buffer).
// The rows must hold bounds' width × 4 bytes at least.
TB_EXPORT GrafPtr TBNewPortOnPixels(Ptr baseAddr, SInt32 rowBytes, const Rect* bounds);
TB_EXPORT void TBDisposePort(GrafPtr port);
// Points an existing port at new pixels (after a window resize).
TB_EXPORT void TBSetPortPixels(GrafPtr port, Ptr baseAddr, SInt32 rowBytes, const Rect* bounds);

// Text drawing is done by the ui library; it installs these hooks.
struct TBTextHooks {
    SInt16 (*stringWidth)(GrafPtr port, ConstStr255Param s);
    void (*drawString)(GrafPtr port, ConstStr255Param s);  // at port->penLoc, advances it
};
TB_EXPORT void TBSetTextHooks(const TBTextHooks* hooks);

// Tells the toolbox that pixels of the given bitmap changed inside `changed`
// (bounds coordinates): a picture open on a port over these pixels records
// them, and every such port's pixelsChanged is called. Drawing code outside
// QuickDraw (Core Graphics, the text hooks) calls it after writing pixels.
TB_EXPORT void TBPortPixelsChanged(const BitMap* bits, const Rect* changed);
