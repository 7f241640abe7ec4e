#include "dialog/pictCTRL.h"

#include <iterator>
#include <vector>

#include "Controls.h"
#include "MacWindows.h"
#include "dialog/carbonmacros.h"
#include "graphics/CGglue.h"
#include "graphics/CommonProcs.h"

namespace {

ToolboxObjectClassRef lgPictureControlClassRef = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;
// Number n is entry n - 1; forgotten entries stay nil so numbers are not reused.
std::vector<CGImageRef> lgImages;

void DrawPictureBox(ControlRef theControl, CGrafPtr thePort)
{
    const Rect bounds = GetControlBox(theControl);
    const ControlPartCode hilite = GetControlHilite(theControl);
    if (hilite == kControlDisabledPart || hilite == kControlInactivePart)
        return;
    const RGBColor white{65535, 65535, 65535};
    const RGBColor black{0, 0, 0};
    RGBBackColor(&white);
    EraseRect(&bounds);
    if (CGImageRef theImage = PictureControlImage(GetControl32BitValue(theControl))) {
        Rect r = CalcProportionalImageForFrame(theImage, bounds);
        CenterRectInRect(r, bounds);
        DrawCGImageInQDRect(thePort, theImage, r, 0.0f, false);
    }
    RGBForeColor(&black);
    FrameRect(&bounds);
    if (hilite > 0)
        InvertRect(&bounds);
}

}  // namespace

SInt32 PictureControlImageNumber(CGImageRef theImage)
{
    if (theImage == nullptr)
        return 0;
    for (size_t i = 0; i < lgImages.size(); ++i)
        if (lgImages[i] == theImage)
            return SInt32(i + 1);
    lgImages.push_back(theImage);
    return SInt32(lgImages.size());
}

void ForgetPictureControlImage(CGImageRef theImage)
{
    for (CGImageRef& theEntry : lgImages)
        if (theEntry == theImage)
            theEntry = nullptr;
}

CGImageRef PictureControlImage(SInt32 theNumber)
{
    if (theNumber < 1 || size_t(theNumber) > lgImages.size())
        return nullptr;
    return lgImages[size_t(theNumber) - 1];
}

void RegisterPictureControl()
{
    RegisterControlClass(cImageCtrlID, kDrawAndClickControlEvents, std::size(kDrawAndClickControlEvents),
                         PictureControlHandler, lgMyHandlerUPP, lgPictureControlClassRef);
}

void UnregisterPictureControl()
{
    UnregisterControlClass(lgMyHandlerUPP, lgPictureControlClassRef);
}

OSStatus PictureControlHandler(EventHandlerCallRef /*inHandlerCallRef*/, EventRef inEvent,
                               void* /*inUserData*/)
{
    OSStatus result = eventNotHandledErr;
    ControlRef theControl = GetControlFromEvent(inEvent);
    if (theControl == nullptr)
        return result;

    switch (GetEventKind(inEvent)) {
    case kEventControlHit:
        GetControl32BitValue(theControl);
        break;
    case kEventControlHitTest:
        AnswerHitTestInBounds(inEvent, GetControlBox(theControl));
        result = noErr;
        break;
    case kEventControlDraw: {
        CGrafPtr thePort = GetWindowPort(GetControlOwner(theControl));
        SavedGWorld savedGWorld(thePort);
        if (thePort != nullptr)
            DrawPictureBox(theControl, thePort);
        result = noErr;
        break;
    }
    default:
        break;
    }
    return result;
}
