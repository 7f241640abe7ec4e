#include "dialog/clipCTRL.h"

#include <cstring>
#include <iterator>

#include "Appearance.h"
#include "Controls.h"
#include "MacWindows.h"
#include "dialog/carbonmacros.h"
#include "dialog/dlgUtils.h"
#include "dialog/sliderHandlers.h"
#include "effect/CallPixelFX.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "plugin/globals.h"

namespace {

ToolboxObjectClassRef lgClipCtrlClassRef1 = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;

Point MouseLocation(EventRef inEvent)
{
    Point theMouse{0, 0};
    GetEventParameter(inEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof(theMouse),
                      nullptr, &theMouse);
    return theMouse;
}

void StoreAndRedraw(const relRect& theRel, WindowRef theWindow, Rect bounds)
{
    PutCurrentRel(theRel);
    ShowRegionValues();
    RenderPreview();
    DrawFrameContents(theWindow, bounds);
}

// One drag: the corner is recomputed from the rectangle at the click, the
// body moves by each step; every accepted step is stored and redrawn.
// Escape puts back the region of the click.
void TrackRegion(ControlRef theControl, WindowRef theWindow, Point theMouse, UInt32 theModifiers)
{
    if (CGrafPtr thePort = GetWindowPort(theWindow))
        SetGWorld(thePort, nullptr);
    const Rect bounds = GetControlBox(theControl);
    const Rect frame = PreviewFrame(bounds);
    ClipRect(&bounds);

    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    if (theConfig == nullptr)
        return;
    Rect testRect = Rel2Rect(theConfig->StartRel, frame);
    const Rect origRect = testRect;
    const relRect origRel = GetCurrentRel();
    const SInt16 part = IsHandleHit(testRect, theMouse);
    Point lastLoc = theMouse;
    bool changed = false;

    for (;;) {
        Point newLoc{0, 0};
        MouseTrackingResult theResult = kMouseTrackingMouseUp;
        if (TrackMouseLocation(nullptr, &newLoc, &theResult) != noErr || theResult == kMouseTrackingMouseUp)
            break;
        if (theResult == kMouseTrackingUserCancelled) {
            if (changed)
                StoreAndRedraw(origRel, theWindow, bounds);
            break;
        }
        if (theResult != kMouseTrackingMouseDragged || !PtInRect(newLoc, &bounds))
            continue;
        if (part >= kTopLeftHandle && part <= kBottomRightHandle) {
            testRect = origRect;
            DragCorner(part, testRect, theMouse, newLoc, theModifiers, frame, origRel);
        } else if (part == kRectBody) {
            DragRect(testRect, lastLoc, newLoc, theModifiers);
            lastLoc = newLoc;
        } else {
            continue;
        }
        StoreAndRedraw(Rect2Rel(testRect, frame), theWindow, bounds);
        changed = true;
    }
}

// Diagonal arrows over the corners, the move cross over the body.
ThemeCursor CursorForPart(SInt16 thePart)
{
    switch (thePart) {
    case kTopLeftHandle:
    case kBottomRightHandle:
        return kThemeResizeDiagonalFallCursor;
    case kTopRightHandle:
    case kBottomLeftHandle:
        return kThemeResizeDiagonalRiseCursor;
    case kRectBody:
        return kThemeMoveCursor;
    default:
        return kThemeArrowCursor;
    }
}

SInt16 PartAt(Point theMouse, Rect bounds)
{
    if (!PtInRect(theMouse, &bounds) || gConfigWorkSpace.TheConfig == nullptr)
        return kNoHandle;
    return IsHandleHit(Rel2Rect(gConfigWorkSpace.TheConfig->StartRel, PreviewFrame(bounds)), theMouse);
}

}  // namespace

void RegisterClipCtrl()
{
    static const EventTypeSpec kEvents[] = {
        {kEventClassControl, kEventControlDraw},
        {kEventClassControl, kEventControlHitTest},
        {kEventClassControl, kEventControlHit},
        {kEventClassControl, kEventControlActivate},
        {kEventClassControl, kEventControlOwningWindowChanged},
        {kEventClassControl, kEventControlTrack},
        {kEventClassControl, kEventControlSetCursor},
    };
    RegisterControlClass(cClipCtrlID, kEvents, std::size(kEvents), ClipCtrlControlHandler, lgMyHandlerUPP,
                         lgClipCtrlClassRef1);
}

void UnregisterClipCtrl()
{
    UnregisterControlClass(lgMyHandlerUPP, lgClipCtrlClassRef1);
}

OSStatus ClipCtrlControlHandler(EventHandlerCallRef /*inHandlerCallRef*/, EventRef inEvent,
                                void* /*inUserData*/)
{
    OSStatus result = eventNotHandledErr;
    ControlRef theControl = GetControlFromEvent(inEvent);
    if (theControl == nullptr)
        return result;
    WindowRef theWindow = GetControlOwner(theControl);
    const Rect bounds = GetControlBox(theControl);

    switch (GetEventKind(inEvent)) {
    case kEventControlHit:
        GetControl32BitValue(theControl);
        result = noErr;
        break;
    case kEventControlHitTest: {
        ControlPartCode part = PartAt(MouseLocation(inEvent), bounds);
        SetEventParameter(inEvent, kEventParamControlPart, typeControlPartCode, sizeof(part),
                          &part);
        result = noErr;
        break;
    }
    case kEventControlDraw:
    case kEventControlActivate:
    case kEventControlOwningWindowChanged: {
        SavedGWorld savedGWorld(GetWindowPort(theWindow));
        const ControlPartCode hilite = GetControlHilite(theControl);
        if (hilite != kControlDisabledPart && hilite != kControlInactivePart)
            DrawFrameContents(theWindow, bounds);
        else
            TBSetControlBackingPixels(theControl, nullptr, 1);
        result = noErr;
        break;
    }
    case kEventControlSetCursor: {
        SetThemeCursor(CursorForPart(PartAt(MouseLocation(inEvent), bounds)));
        result = noErr;
        break;
    }
    case kEventControlTrack: {
        UInt32 theModifiers = 0;
        GetEventParameter(inEvent, kEventParamKeyModifiers, typeUInt32, nullptr,
                          sizeof(theModifiers), nullptr, &theModifiers);
        TrackRegion(theControl, theWindow, MouseLocation(inEvent), theModifiers);
        result = noErr;
        break;
    }
    default:
        break;
    }

    // Drawing and tracking clip to the control; the window's port gets its
    // whole rectangle back.
    if (CGrafPtr thePort = GetWindowPort(theWindow)) {
        SavedGWorld savedGWorld(thePort);
        const Rect wholePort = GetPortRect(thePort);
        ClipRect(&wholePort);
    }
    return result;
}
