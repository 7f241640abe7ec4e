#include "dialog/dlgUtils.h"

#include <algorithm>

#include "Appearance.h"
#include "Controls.h"

#include "dialog/carbonmacros.h"
#include "effect/CallPixelFX.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "plugin/globals.h"

namespace {

// The square that reaches cHandleSize pixels from the corner each way.
Rect HandleSquare(SInt16 h, SInt16 v)
{
    Rect r;
    SetRect(&r, TruncToCoord(h, -cHandleSize), TruncToCoord(v, -cHandleSize), TruncToCoord(h, cHandleSize),
            TruncToCoord(v, cHandleSize));
    return r;
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

void DrawHandles(Rect theRect, SInt16 thePen)
{
    PenNormal();
    const RGBColor black{0, 0, 0};
    const RGBColor white{65535, 65535, 65535};
    const Point corners[4] = {
        {theRect.top, theRect.left},
        {theRect.top, theRect.right},
        {theRect.bottom, theRect.left},
        {theRect.bottom, theRect.right},
    };
    // A white square with a black edge, 11 units across and centred on the
    // corner's pixel: it shows on any picture and stays inside the hit square.
    for (const Point& corner : corners) {
        const SInt16 reach = SInt16((cHandleSize - 1) * thePen);
        Rect r;
        SetRect(&r, TruncToCoord(corner.h, -reach), TruncToCoord(corner.v, -reach),
                TruncToCoord(corner.h, reach + thePen), TruncToCoord(corner.v, reach + thePen));
        RGBForeColor(&black);
        PaintRect(&r);
        InsetRect(&r, thePen, thePen);
        RGBForeColor(&white);
        PaintRect(&r);
    }
    PenNormal();
}

RGBColor OutlineContrast(const RGBColor& theColor)
{
    const UInt32 luma = (UInt32(theColor.red) * 299 + UInt32(theColor.green) * 587 + UInt32(theColor.blue) * 114) / 1000;
    return luma > 32767 ? RGBColor{0, 0, 0} : RGBColor{65535, 65535, 65535};
}

void DrawRegionOutline(Rect theRegion, const RGBColor& theColor, SInt16 thePen)
{
    PenNormal();
    PenSize(thePen, thePen);
    RGBForeColor(&theColor);
    FrameRect(&theRegion);
    InsetRect(&theRegion, thePen, thePen);
    const RGBColor contrast = OutlineContrast(theColor);
    RGBForeColor(&contrast);
    FrameRect(&theRegion);
    PenNormal();
}

namespace {

// Where r, a rectangle of the control destRect, lies in target, which holds
// destRect at theScale pixels to a unit.
Rect Place(Rect r, Rect destRect, Rect target, double theScale)
{
    return Rect{TruncToCoord((r.top - destRect.top) * theScale + 0.5, target.top),
                TruncToCoord((r.left - destRect.left) * theScale + 0.5, target.left),
                TruncToCoord((r.bottom - destRect.top) * theScale + 0.5, target.top),
                TruncToCoord((r.right - destRect.left) * theScale + 0.5, target.left)};
}

// The preview of the control's rectangle destRect drawn into target of the
// current port; theFX is the picture at its size there.
void DrawPreview(Rect destRect, Rect target, double theScale, GWorldPtr theFX)
{
    const SInt16 pen = SInt16(std::max(1.0, theScale + 0.5));
    const RGBColor white{65535, 65535, 65535};
    const RGBColor black{0, 0, 0};
    const Rect picture = Place(PreviewFrame(destRect), destRect, target, theScale);
    Rect border = picture;
    InsetRect(&border, -pen, -pen);
    SetThemeBackground(kThemeBrushDialogBackgroundActive, 32, true);
    EraseRect(&target);
    RGBBackColor(&white);
    RGBForeColor(&black);
    PenSize(pen, pen);
    FrameRect(&border);
    if (theFX != nullptr) {
        const Rect srcRect = GetPortRect(theFX);
        CGrafPtr thePort = nullptr;
        GetGWorld(&thePort, nullptr);
        CopyBits(GetPortBitMapForCopyBits(theFX), GetPortBitMapForCopyBits(thePort), &srcRect,
                 &picture, srcCopy, nullptr);
    } else {
        EraseRect(&picture);
    }

    if (pluginDataPtr theConfig = gConfigWorkSpace.TheConfig) {
        ClipRect(&target);
        // Placed in the picture's own pixels, as the effect places the region,
        // and drawn inside it, so that the whole frame's outline shows too.
        const Rect theRegion = Rel2Rect(theConfig->StartRel, picture);
        DrawRegionOutline(theRegion, theConfig->FrameStartColor, pen);
        if (gConfigWorkSpace.ActiveRel == 1)
            DrawHandles(theRegion, pen);
    }
    PenNormal();
    RGBForeColor(&black);
}

// Whether TheFXClip lags behind the settings: on a screen finer than the
// window's coordinates the effect is worked out at the screen's pixels
// only, and the window's own picture when that cannot be drawn.
bool lgFXClipStale = false;

double PreviewScale()
{
    ControlRef theControl = gConfigWorkSpace.TheFrameCtrl;
    return theControl != nullptr ? TBGetControlBackingScale(theControl) : 1.0;
}

// On a screen finer than the window's coordinates the preview is drawn at
// its scale, the effect run on the frame scaled to the picture's pixels, so
// that the picture keeps all its detail there. False when it could not be
// drawn (short of memory): the window's own pixels show then.
bool DrawFinerPreview(Rect destRect, double theScale)
{
    ControlRef theControl = gConfigWorkSpace.TheFrameCtrl;
    GWorldPtr theSource = gConfigWorkSpace.SourceClip;
    const SInt32 width = SInt32((destRect.right - destRect.left) * theScale + 0.5);
    const SInt32 height = SInt32((destRect.bottom - destRect.top) * theScale + 0.5);
    GWorldPtr finer = nullptr;
    GWorldPtr scaledSource = nullptr;
    GWorldPtr theFX = nullptr;
    if (theSource != nullptr && width > 0 && height > 0 && width <= 32767 && height <= 32767)
        finer = AllocateGWorld(SInt16(width), SInt16(height));
    if (finer != nullptr) {
        const Rect target{0, 0, SInt16(height), SInt16(width)};
        const Rect picture = Place(PreviewFrame(destRect), destRect, target, theScale);
        if (!EmptyRect(&picture)) {
            scaledSource = AllocateRectGWorld(picture);
            theFX = AllocateRectGWorld(picture);
        }
        if (scaledSource != nullptr && theFX != nullptr) {
            SavedGWorld savedGWorld(finer);
            Source2Target(theSource, scaledSource);
            CallPixelEffect(scaledSource, theFX);
            DrawPreview(destRect, target, theScale, theFX);
        }
    }
    const bool drawn = scaledSource != nullptr && theFX != nullptr;
    TBSetControlBackingPixels(theControl, drawn ? finer : nullptr, Float32(theScale));
    for (GWorldPtr theWorld : {theFX, scaledSource, finer})
        if (theWorld != nullptr)
            DisposeGWorld(theWorld);
    return drawn;
}

}  // namespace

void RenderPreview()
{
    if (gConfigWorkSpace.SourceClip == nullptr || gConfigWorkSpace.TheFXClip == nullptr)
        return;
    lgFXClipStale = PreviewScale() > 1;
    if (!lgFXClipStale)
        CallPixelEffect(gConfigWorkSpace.SourceClip, gConfigWorkSpace.TheFXClip);
}

void DrawFrameContents(WindowRef theWindow, Rect destRect)
{
    CGrafPtr thePort = GetWindowPort(theWindow);
    if (thePort == nullptr)
        return;
    const double theScale = PreviewScale();
    if (theScale > 1 && DrawFinerPreview(destRect, theScale))
        return;
    if (theScale <= 1 && gConfigWorkSpace.TheFrameCtrl != nullptr)
        TBSetControlBackingPixels(gConfigWorkSpace.TheFrameCtrl, nullptr, 1);
    if (lgFXClipStale && gConfigWorkSpace.SourceClip != nullptr && gConfigWorkSpace.TheFXClip != nullptr)
        CallPixelEffect(gConfigWorkSpace.SourceClip, gConfigWorkSpace.TheFXClip);
    lgFXClipStale = false;
    SavedGWorld savedGWorld(thePort);
    DrawPreview(destRect, destRect, 1.0, gConfigWorkSpace.TheFXClip);
    const Rect wholePort = GetPortRect(thePort);
    ClipRect(&wholePort);
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
