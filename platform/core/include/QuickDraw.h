// QuickDraw: ports, 32-bit offscreen graphics worlds, CopyBits, simple
// drawing, regions and pictures.
//
// Every port's pixels are 32 bits deep and lie in memory as the bytes alpha,
// red, green, blue (FFmpeg's ARGB, pixman's b8g8r8a8 on little-endian). Rows
// are aligned to 16 bytes. Row bytes are held in 32 bits and carry no flags.
#pragma once

#include "MacTypes.h"

struct OpaqueGrafPtr;
typedef OpaqueGrafPtr* GrafPtr;
typedef GrafPtr CGrafPtr;
typedef CGrafPtr GWorldPtr;
typedef GrafPtr Port;

struct GDevice;
typedef GDevice* GDPtr;
typedef GDPtr* GDHandle;

struct ColorTable;
typedef ColorTable* CTabPtr;
typedef CTabPtr* CTabHandle;

typedef SInt16 QDErr;
typedef UInt32 GWorldFlags;

enum {
    pixPurgeBit = 0,
    noNewDeviceBit = 1,
    useTempMemBit = 2,
    keepLocalBit = 3,
    pixelsPurgeableBit = 6,
    pixelsLockedBit = 7,
};
enum {
    pixPurge = 1L << pixPurgeBit,
    noNewDevice = 1L << noNewDeviceBit,
    useTempMem = 1L << useTempMemBit,
    keepLocal = 1L << keepLocalBit,
    pixelsPurgeable = 1L << pixelsPurgeableBit,
    pixelsLocked = 1L << pixelsLockedBit,
};

// Transfer modes.
enum {
    srcCopy = 0,
    srcOr = 1,
    srcXor = 2,
    srcBic = 3,
    notSrcCopy = 4,
    notSrcOr = 5,
    notSrcXor = 6,
    notSrcBic = 7,
    patCopy = 8,
    patOr = 9,
    patXor = 10,
    patBic = 11,
    notPatCopy = 12,
    notPatOr = 13,
    notPatXor = 14,
    notPatBic = 15,
    ditherCopy = 64,
    blend = 32,
    addPin = 33,
    transparent = 36,
};

// Base address, row bytes and bounds of a port's pixels.
struct BitMap {
    Ptr baseAddr;
    SInt32 rowBytes;
    Rect bounds;
};
typedef BitMap* BitMapPtr;

struct PixMap {
    Ptr baseAddr;
    SInt32 rowBytes;
    Rect bounds;
    SInt16 pixelSize;   // always 32
    SInt16 cmpCount;    // 3
    SInt16 cmpSize;     // 8
    Fixed hRes;         // 72 dpi
    Fixed vRes;
    GWorldFlags pixelsState;
};
typedef PixMap* PixMapPtr;
typedef PixMapPtr* PixMapHandle;

// Regions are rectangles here: the plug-in never needs other shapes.
struct MacRegion {
    Rect rgnBBox;
};
typedef MacRegion* RgnPtr;
typedef RgnPtr* RgnHandle;

// A picture is a recorded image: its frame and a copy of the pixels that
// were drawn while it was open.
struct Picture {
    Rect picFrame;
    SInt32 width;
    SInt32 height;
    SInt32 rowBytes;
    // pixel bytes follow the record
};
typedef Picture* PicPtr;
typedef PicPtr* PicHandle;

struct OpenCPicParams {
    Rect srcRect;
    Fixed hRes;
    Fixed vRes;
    SInt16 version;
    SInt16 reserved1;
    SInt32 reserved2;
};

// Graphics worlds
TB_EXPORT QDErr NewGWorld(GWorldPtr* offscreenGWorld, SInt16 pixelDepth, const Rect* boundsRect,
                          CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags);
// A graphics world over pixels that the caller owns and keeps alive until
// the world is disposed of (which leaves the pixels alone). Only
// k32ARGBPixelFormat; the rows must hold boundsRect's width × 4 bytes.
enum { k32ARGBPixelFormat = 0x00000020 };
TB_EXPORT QDErr NewGWorldFromPtr(GWorldPtr* offscreenGWorld, UInt32 pixelFormat,
                                 const Rect* boundsRect, CTabHandle cTable, GDHandle aGDevice,
                                 GWorldFlags flags, Ptr newBuffer, SInt32 rowBytes);
TB_EXPORT void DisposeGWorld(GWorldPtr offscreenGWorld);
TB_EXPORT PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld);
TB_EXPORT void GetGWorld(CGrafPtr* port, GDHandle* gdh);
TB_EXPORT void SetGWorld(CGrafPtr port, GDHandle gdh);

// Pixel maps
TB_EXPORT Boolean LockPixels(PixMapHandle pm);
TB_EXPORT GWorldFlags GetPixelsState(PixMapHandle pm);
TB_EXPORT void SetPixelsState(PixMapHandle pm, GWorldFlags state);
TB_EXPORT Ptr GetPixBaseAddr(PixMapHandle pm);
TB_EXPORT SInt32 GetPixRowBytes(PixMapHandle pm);
TB_EXPORT SInt16 GetPixDepth(PixMapHandle pm);
TB_EXPORT Rect* GetPixBounds(PixMapHandle pm, Rect* bounds);

// Ports
TB_EXPORT void GetPort(GrafPtr* port);
TB_EXPORT void SetPort(GrafPtr port);
TB_EXPORT Rect* GetPortBounds(CGrafPtr port, Rect* rect);
TB_EXPORT const BitMap* GetPortBitMapForCopyBits(CGrafPtr port);
TB_EXPORT OSStatus QDFlushPortBuffer(CGrafPtr port, RgnHandle region);

// Copying pixels. srcCopy scales between any two rectangles: exact where the
// sizes match, an area average where it shrinks, bilinear where it grows.
// srcOr, srcXor, srcBic and notSrcCopy combine the colour bytes; other modes
// copy. Destination pixels whose source lies outside the source bitmap are
// left alone; the destination is clipped to its bitmap, the mask's bounds
// and, when it is the current port's, the port's clip. QDError is paramErr
// for bitmaps with unaligned or too short rows.
TB_EXPORT void CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
                        const Rect* dstRect, SInt16 mode, RgnHandle maskRgn);

// Colours and pen of the current port
TB_EXPORT void RGBForeColor(const RGBColor* color);
TB_EXPORT void RGBBackColor(const RGBColor* color);
TB_EXPORT void PenSize(SInt16 width, SInt16 height);
TB_EXPORT void PenNormal();
TB_EXPORT void MoveTo(SInt16 h, SInt16 v);
TB_EXPORT void ClipRect(const Rect* r);
TB_EXPORT void GetClip(RgnHandle rgn);

// Drawing into the current port (clipped to its bounds and clip rectangle).
// The pen is solid: patCopy, patOr and notPatBic paint the fore colour,
// patBic and notPatCopy the back colour, patXor and srcXor invert, the other
// not-modes draw nothing. Painted pixels get alpha 0xFF; inverting keeps it.
TB_EXPORT void PaintRect(const Rect* r);
TB_EXPORT void EraseRect(const Rect* r);
TB_EXPORT void FrameRect(const Rect* r);
TB_EXPORT void InvertRect(const Rect* r);

// Text: measured and drawn by the ui library where it is loaded; without it,
// text has no width and draws nothing.
TB_EXPORT void DrawString(ConstStr255Param s);
TB_EXPORT SInt16 StringWidth(ConstStr255Param s);

// Rectangle and point utilities
TB_EXPORT void SetRect(Rect* r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom);
TB_EXPORT void OffsetRect(Rect* r, SInt16 dh, SInt16 dv);
TB_EXPORT void InsetRect(Rect* r, SInt16 dh, SInt16 dv);
TB_EXPORT Boolean SectRect(const Rect* src1, const Rect* src2, Rect* dstRect);
TB_EXPORT Boolean EqualRect(const Rect* rect1, const Rect* rect2);
TB_EXPORT void Pt2Rect(Point pt1, Point pt2, Rect* dstRect);
TB_EXPORT Boolean PtInRect(Point pt, const Rect* r);

// Regions
TB_EXPORT RgnHandle NewRgn();
TB_EXPORT void DisposeRgn(RgnHandle rgn);
TB_EXPORT void RectRgn(RgnHandle rgn, const Rect* r);

// Pictures: while a picture is open on the current port, CopyBits into that
// port records the copied pixels into the picture.
TB_EXPORT PicHandle OpenCPicture(const OpenCPicParams* newHeader);
TB_EXPORT void ClosePicture();
TB_EXPORT void DrawPicture(PicHandle myPicture, const Rect* dstRect);
TB_EXPORT void KillPicture(PicHandle myPicture);
TB_EXPORT Rect* QDGetPictureBounds(PicHandle picH, Rect* outRect);

TB_EXPORT PixMapHandle GetPortPixMap(CGrafPtr port);
TB_EXPORT Rect* GetRegionBounds(RgnHandle region, Rect* bounds);
TB_EXPORT Boolean EmptyRect(const Rect* r);
