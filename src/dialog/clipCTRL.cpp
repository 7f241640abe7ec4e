#include "dialog/clipCTRL.h"

#include <cstring>
#include <iterator>

#include "Controls.h"
#include "MacWindows.h"
#include "dialog/carbonmacros.h"
#include "dialog/dlgUtils.h"
#include "effect/CallPixelFX.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "plugin/globals.h"

namespace {

ToolboxObjectClassRef lgClipCtrlClassRef1 = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;

// One drag: the corner is recomputed from the rectangle at the click, the
// body moves by each step; every accepted step is stored and redrawn.
void TrackRegion(ControlRef theControl, WindowRef theWindow, Point theMouse, UInt32 theModifiers)
{
    if (CGrafPtr thePort = GetWindowPort(theWindow))
        SetGWorld(thePort, nullptr);
    const Rect bounds = GetControlBox(theControl);
    ClipRect(&bounds);

    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    if (theConfig == nullptr)
        return;
    Rect testRect = Rel2Rect(theConfig->StartRel, bounds);
    const Rect origRect = testRect;
    const relRect origRel = GetCurrentRel();
    const SInt16 part = IsHandleHit(testRect, theMouse);
    Point lastLoc = theMouse;

    for (;;) {
        Point newLoc{0, 0};
        MouseTrackingResult theResult = kMouseTrackingMouseUp;
        if (TrackMouseLocation(nullptr, &newLoc, &theResult) != noErr ||
            theResult == kMouseTrackingMouseUp || theResult == kMouseTrackingUserCancelled)
            break;
        if (theResult != kMouseTrackingMouseDragged || !PtInRect(newLoc, &bounds))
            continue;
        if (part >= kTopLeftHandle && part <= kBottomRightHandle) {
            testRect = origRect;
            DragCorner(part, testRect, theMouse, newLoc, theModifiers, bounds, origRel);
        } else if (part == kRectBody) {
            DragRect(testRect, lastLoc, newLoc, theModifiers);
            lastLoc = newLoc;
        } else {
            continue;
        }
        PutCurrentRel(Rect2Rel(testRect, bounds));
        if (gConfigWorkSpace.SourceClip != nullptr && gConfigWorkSpace.TheFXClip != nullptr)
            CallPixelEffect(gConfigWorkSpace.SourceClip, gConfigWorkSpace.TheFXClip);
        DrawFrameContents(theWindow, bounds);
    }
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
        Point theMouse{0, 0};
        GetEventParameter(inEvent, kEventParamMouseLocation, typeQDPoint, nullptr,
                          sizeof(theMouse), nullptr, &theMouse);
        ControlPartCode part = kNoHandle;
        if (PtInRect(theMouse, &bounds) && gConfigWorkSpace.TheConfig != nullptr)
            part = IsHandleHit(Rel2Rect(gConfigWorkSpace.TheConfig->StartRel, bounds), theMouse);
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
        result = noErr;
        break;
    }
    case kEventControlTrack: {
        Point theMouse{0, 0};
        UInt32 theModifiers = 0;
        GetEventParameter(inEvent, kEventParamMouseLocation, typeQDPoint, nullptr,
                          sizeof(theMouse), nullptr, &theMouse);
        GetEventParameter(inEvent, kEventParamKeyModifiers, typeUInt32, nullptr,
                          sizeof(theModifiers), nullptr, &theModifiers);
        TrackRegion(theControl, theWindow, theMouse, theModifiers);
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
