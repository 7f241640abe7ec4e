// Offscreen buffers, geometry and colours: everything of the graphics half
// of the common routines but the window placement in CommonProcsDialog.cpp.
#include "graphics/CommonProcs.h"

#include <cmath>

namespace {

constexpr RGBColor kBlack{0, 0, 0};
constexpr RGBColor kWhite{65535, 65535, 65535};

// Proportional sizing on the original's dimensions as doubles.
Rect KeepPropsHorizontal(double deltaX, double deltaY, Rect inNewSize)
{
    Rect result = inNewSize;
    // A zero height would make the ratio infinite: keep the new size instead.
    if (deltaX != 0.0 && deltaY != 0.0) {
        const double newX = double(inNewSize.right) - inNewSize.left;
        const double prop = deltaX / deltaY;
        const double newY = newX / prop;
        result.bottom = TruncToCoord(newY + 0.5, inNewSize.top);
    }
    return result;
}

Rect KeepPropsVertical(double deltaX, double deltaY, Rect inNewSize)
{
    Rect result = inNewSize;
    if (deltaY != 0.0) {
        const double newY = double(inNewSize.bottom) - inNewSize.top;
        const double prop = deltaX / deltaY;
        const double newX = newY * prop;
        result.right = TruncToCoord(newX + 0.5, inNewSize.left);
    }
    return result;
}

}  // namespace

SInt16 TruncToCoord(double value, SInt16 origin)
{
    if (std::isnan(value))
        return origin;
    const double coord = double(origin) + std::trunc(value);
    if (coord <= -32768.0)
        return -32768;
    if (coord >= 32767.0)
        return 32767;
    return SInt16(coord);
}

void LockGWorld(GWorldPtr theGW)
{
    if (theGW == nullptr)
        return;
    PixMapHandle pixMap = GetGWorldPixMap(theGW);
    (void)GetPixelsState(pixMap);
    LockPixels(pixMap);
}

GWorldPtr AllocateGWorld(SInt16 wid, SInt16 hig)
{
    Rect bounds{0, 0, hig, wid};
    GWorldPtr theGW = nullptr;
    if (NewGWorld(&theGW, 32, &bounds, nullptr, nullptr, 0) != noErr)
        return nullptr;
    LockGWorld(theGW);
    return theGW;
}

GWorldPtr AllocateRectGWorld(Rect theRect)
{
    OffsetRect(&theRect, SInt16(-theRect.left), SInt16(-theRect.top));
    GWorldPtr theGW = nullptr;
    if (NewGWorld(&theGW, 32, &theRect, nullptr, nullptr, 0) != noErr)
        return nullptr;
    LockGWorld(theGW);
    return theGW;
}

void DrawGWinGW(GWorldPtr theSource, GWorldPtr theDest, Rect theRect)
{
    if (theSource == nullptr || theDest == nullptr)
        return;
    RGBForeColor(&kBlack);
    RGBBackColor(&kWhite);
    const Rect sourceRect = GetPortRect(theSource);
    CopyBits(GetPortBitMapForCopyBits(theSource), GetPortBitMapForCopyBits(theDest), &sourceRect,
             &theRect, srcCopy, nullptr);
}

void DrawPictureInGW(GWorldPtr theGW, PicHandle theP, Rect theRect)
{
    if (theGW == nullptr || theP == nullptr)
        return;
    SavedGWorld savedGWorld(theGW);
    DrawPicture(theP, &theRect);
}

void ClearGW(GWorldPtr theGW, RGBColor theColor)
{
    if (theGW == nullptr)
        return;
    const Rect bounds = GetPortRect(theGW);
    SavedGWorld savedGWorld(theGW);
    RGBForeColor(&theColor);
    PaintRect(&bounds);
    RGBForeColor(&kBlack);
}

void Source2Target(GWorldPtr theSource, GWorldPtr theTarget)
{
    if (theSource == nullptr || theTarget == nullptr)
        return;
    RGBBackColor(&kWhite);
    RGBForeColor(&kBlack);
    const Rect sourceRect = GetPortRect(theSource);
    const Rect targetRect = GetPortRect(theTarget);
    CopyBits(GetPortBitMapForCopyBits(theSource), GetPortBitMapForCopyBits(theTarget), &sourceRect,
             &targetRect, srcCopy, nullptr);
}

GWorldPtr MakeGWorldClone(GWorldPtr theGW)
{
    if (theGW == nullptr)
        return nullptr;
    const Rect bounds = GetPortRect(theGW);
    GWorldPtr clone = AllocateRectGWorld(bounds);
    if (clone == nullptr)
        return nullptr;
    // The clone starts at (0,0) even when the source does not.
    const Rect cloneBounds = GetPortRect(clone);
    CopyBits(GetPortBitMapForCopyBits(theGW), GetPortBitMapForCopyBits(clone), &bounds,
             &cloneBounds, srcCopy, nullptr);
    return clone;
}

Rect GetPortRect(GrafPtr thePort)
{
    Rect bounds{0, 0, 0, 0};
    if (thePort != nullptr)
        GetPortBounds(thePort, &bounds);
    return bounds;
}

Rect CarbonGetPortBounds(GrafPtr port)
{
    return GetPortRect(port);
}

BitMap CarbonGetPortBitMapForCopyBits(GrafPtr port)
{
    BitMap result{nullptr, 0, Rect{0, 0, 0, 0}};
    if (port != nullptr)
        result = *GetPortBitMapForCopyBits(port);
    return result;
}

void GetDims(Rect theRect, SInt32& wid, SInt32& hig)
{
    wid = SInt32(theRect.right) - theRect.left;
    hig = SInt32(theRect.bottom) - theRect.top;
}

void VerifyRect(Rect& theRect)
{
    if (theRect.left > theRect.right) {
        const SInt16 swap = theRect.left;
        theRect.left = theRect.right;
        theRect.right = swap;
    }
    if (theRect.top > theRect.bottom) {
        const SInt16 swap = theRect.top;
        theRect.top = theRect.bottom;
        theRect.bottom = swap;
    }
}

Rect KeepPropsWithFixedHorizontal(Rect inOriginal, Rect inNewSize)
{
    SInt32 deltaX;
    SInt32 deltaY;
    GetDims(inOriginal, deltaX, deltaY);
    return KeepPropsHorizontal(deltaX, deltaY, inNewSize);
}

Rect KeepPropsWithFixedVertical(Rect inOriginal, Rect inNewSize)
{
    SInt32 deltaX;
    SInt32 deltaY;
    GetDims(inOriginal, deltaX, deltaY);
    return KeepPropsVertical(deltaX, deltaY, inNewSize);
}

Rect CalcProportionalRectForFrame(Rect inRect, Rect inFrame)
{
    SInt32 iWid;
    SInt32 iHig;
    GetDims(inRect, iWid, iHig);
    SInt32 wid;
    SInt32 hig;
    GetDims(inFrame, wid, hig);
    // The image's own dimensions keep their full 32-bit value for the ratio.
    const Rect theNewBounds{0, 0, TruncToCoord(hig), TruncToCoord(wid)};
    const bool keepWidth = wid > hig ? iWid > iHig : !(iHig > iWid);
    return keepWidth ? KeepPropsHorizontal(iWid, iHig, theNewBounds)
                     : KeepPropsVertical(iWid, iHig, theNewBounds);
}

void CenterRectInRect(Rect& theRect, Rect theBounds)
{
    SInt32 wid;
    SInt32 hig;
    GetDims(theBounds, wid, hig);
    const SInt16 cx = SInt16(theBounds.left + wid / 2);
    const SInt16 cy = SInt16(theBounds.top + hig / 2);
    GetDims(theRect, wid, hig);
    const SInt16 rx = SInt16(theRect.left + wid / 2);
    const SInt16 ry = SInt16(theRect.top + hig / 2);
    OffsetRect(&theRect, SInt16(cx - rx), SInt16(cy - ry));
}

SInt16 Sgn(double theVal)
{
    return theVal < 0.0 ? -1 : 1;
}

SInt16 CarbonHiWord(SInt32 x)
{
    return SInt16((x >> 16) & 0xFFFF);
}

SInt16 CarbonLoWord(SInt32 x)
{
    return SInt16(x & 0xFFFF);
}

RGBColor SetRGBColor(SInt16 r, SInt16 g, SInt16 b)
{
    return RGBColor{UInt16(r), UInt16(g), UInt16(b)};
}

pixRec Longint2PixRec(SInt32 theLong)
{
    return pixRec{0, UInt8((theLong >> 16) & 255), UInt8((theLong >> 8) & 255),
                  UInt8(theLong & 255)};
}

SInt32 PixRec2Longint(pixRec thePixRec)
{
    return (SInt32(thePixRec.red) << 16) + (SInt32(thePixRec.green) << 8) + thePixRec.blue;
}

SInt32 RGBColor2Longint(RGBColor theColor)
{
    const pixRec thePixRec{0, UInt8(theColor.red >> 8), UInt8(theColor.green >> 8),
                           UInt8(theColor.blue >> 8)};
    return PixRec2Longint(thePixRec);
}

RGBColor Longint2RGBColor(SInt32 theLong)
{
    const pixRec thePixRec = Longint2PixRec(theLong);
    return RGBColor{UInt16(thePixRec.red << 8), UInt16(thePixRec.green << 8),
                    UInt16(thePixRec.blue << 8)};
}
