#include "dialog/dlgUtils.h"

#include "Appearance.h"

#include "dialog/carbonmacros.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "plugin/globals.h"

namespace {

// The square that reaches cHandleSize pixels from the corner each way.
Rect HandleSquare(SInt16 h, SInt16 v)
{
    Rect r;
    SetRect(&r, TruncToCoord(h, -cHandleSize), TruncToCoord(v, -cHandleSize),
            TruncToCoord(h, cHandleSize), TruncToCoord(v, cHandleSize));
    return r;
}

void FrameRing(Rect r, UInt16 theGrey)
{
    const RGBColor theColor{theGrey, theGrey, theGrey};
    RGBForeColor(&theColor);
    FrameOval(&r);
}

Point AddDelta(Point p, SInt32 dv, SInt32 dh)
{
    return Point{TruncToCoord(double(p.v) + dv), TruncToCoord(double(p.h) + dh)};
}

}  // namespace

Rect PreviewFrame(Rect bounds)
{
    InsetRect(&bounds, cPreviewMargin, cPreviewMargin);
    return bounds;
}

SInt16 IsHandleHit(Rect theRect, Point theLoc)
{
    const Rect squares[4] = {
        HandleSquare(theRect.left, theRect.top),
        HandleSquare(theRect.right, theRect.top),
        HandleSquare(theRect.left, theRect.bottom),
        HandleSquare(theRect.right, theRect.bottom),
    };
    for (SInt16 i = 0; i < 4; ++i)
        if (PtInRect(theLoc, &squares[i]))
            return SInt16(kTopLeftHandle + i);
    if (PtInRect(theLoc, &theRect))
        return kRectBody;
    return kNoHandle;
}

void DrawHandles(Rect theRect)
{
    PenMode(srcOr);
    const Point corners[4] = {
        {theRect.top, theRect.left},
        {theRect.top, theRect.right},
        {theRect.bottom, theRect.left},
        {theRect.bottom, theRect.right},
    };
    for (const Point& corner : corners) {
        Rect r = HandleSquare(corner.h, corner.v);
        FrameRing(r, 0);
        InsetRect(&r, 1, 1);
        FrameRing(r, 65535);
        InsetRect(&r, 1, 1);
        FrameRing(r, 0);
    }
    PenNormal();
}

void DrawFrameContents(WindowRef theWindow, Rect destRect)
{
    CGrafPtr thePort = GetWindowPort(theWindow);
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    if (thePort == nullptr)
        return;
    SavedGWorld savedGWorld(thePort);

    const RGBColor white{65535, 65535, 65535};
    const RGBColor black{0, 0, 0};
    const Rect picture = PreviewFrame(destRect);
    Rect border = picture;
    InsetRect(&border, -1, -1);
    SetThemeBackground(kThemeBrushDialogBackgroundActive, 32, true);
    EraseRect(&destRect);
    RGBBackColor(&white);
    RGBForeColor(&black);
    FrameRect(&border);
    if (GWorldPtr theFX = gConfigWorkSpace.TheFXClip) {
        const Rect srcRect = GetPortRect(theFX);
        CopyBits(GetPortBitMapForCopyBits(theFX), GetPortBitMapForCopyBits(thePort), &srcRect,
                 &picture, srcCopy, nullptr);
    } else {
        EraseRect(&picture);
    }

    if (theConfig != nullptr) {
        ClipRect(&destRect);
        RGBForeColor(&theConfig->FrameStartColor);
        const Rect theRegion = Rel2Rect(theConfig->StartRel, picture);
        FrameRect(&theRegion);
        if (gConfigWorkSpace.ActiveRel == 1)
            DrawHandles(theRegion);
    }

    const Rect wholePort = GetPortRect(thePort);
    ClipRect(&wholePort);
    RGBForeColor(&black);
}

void DragRect(Rect& theRect, Point oldLoc, Point newLoc, UInt32 /*modifiers*/)
{
    const SInt32 dh = SInt32(newLoc.h) - oldLoc.h;
    const SInt32 dv = SInt32(newLoc.v) - oldLoc.v;
    theRect.left = TruncToCoord(double(theRect.left) + dh);
    theRect.right = TruncToCoord(double(theRect.right) + dh);
    theRect.top = TruncToCoord(double(theRect.top) + dv);
    theRect.bottom = TruncToCoord(double(theRect.bottom) + dv);
}

void DragCorner(SInt16 theHandle, Rect& theRect, Point oldLoc, Point newLoc, UInt32 modifiers,
                Rect theFrame, const relRect& origRel)
{
    Point moving;
    Point fixed;
    switch (theHandle) {
    case kTopLeftHandle:
        moving = {theRect.top, theRect.left};
        fixed = {theRect.bottom, theRect.right};
        break;
    case kTopRightHandle:
        moving = {theRect.top, theRect.right};
        fixed = {theRect.bottom, theRect.left};
        break;
    case kBottomLeftHandle:
        moving = {theRect.bottom, theRect.left};
        fixed = {theRect.top, theRect.right};
        break;
    case kBottomRightHandle:
        moving = {theRect.bottom, theRect.right};
        fixed = {theRect.top, theRect.left};
        break;
    default:
        return;
    }
    const SInt32 dh = SInt32(newLoc.h) - oldLoc.h;
    const SInt32 dv = SInt32(newLoc.v) - oldLoc.v;
    moving = AddDelta(moving, dv, dh);
    if (modifiers & (kDragOptionKey | kDragCommandKey))
        fixed = AddDelta(fixed, -dv, -dh);
    Pt2Rect(fixed, moving, &theRect);

    if (modifiers & kDragShiftKey) {
        const Rect p = Rel2Rect(origRel, theFrame);
        SInt32 wid;
        SInt32 hig;
        GetDims(p, wid, hig);
        if (wid > hig)
            theRect = KeepPropsWithFixedHorizontal(p, theRect);
        else
            theRect = KeepPropsWithFixedVertical(p, theRect);
    }
    KeepImageProps(theRect);
}

void KeepImageProps(Rect& theRect)
{
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    if (theConfig == nullptr || !theConfig->KeepProps)
        return;
    const Rect frame = PreviewFrame(GetControlBox(gConfigWorkSpace.TheFrameCtrl));
    SInt32 wid;
    SInt32 hig;
    GetDims(frame, wid, hig);
    const Rect p{0, 0, TruncToCoord(hig), TruncToCoord(wid)};
    if (wid > hig)
        theRect = KeepPropsWithFixedHorizontal(p, theRect);
    else
        theRect = KeepPropsWithFixedVertical(p, theRect);
}

void CalcAndKeepImageProps()
{
    const relRect theRel = GetCurrentRel();
    const Rect frame = PreviewFrame(GetControlBox(gConfigWorkSpace.TheFrameCtrl));
    Rect r = Rel2Rect(theRel, frame);
    KeepImageProps(r);
    PutCurrentRel(Rect2Rel(r, frame));
}
