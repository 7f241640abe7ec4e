#include "dialog/colorCTRL.h"

#include <cstring>
#include <iterator>

#include "ColorPicker.h"
#include "Controls.h"
#include "MacWindows.h"
#include "common/CommonProcs.h"
#include "dialog/carbonmacros.h"
#include "graphics/CommonProcs.h"

namespace {

ToolboxObjectClassRef lgColorBoxClassRef = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;

constexpr UInt32 kPickerFlags = kColorPickerDialogIsMoveable | kColorPickerDialogIsModal |
                                kColorPickerAppIsColorSyncAware | kColorPickerInPickerDialog;
static_assert(kPickerFlags == 0x93);

constexpr OSType kColorCaptionSig = FOUR_CHAR_CODE("CLgd");

// The picker's title names the colour it sets: "Choose the colour for" and
// the box's caption ("dark areas"); "Please choose color:" for a box without one.
void PickerPrompt(ControlRef theControl, Str255 outPrompt)
{
    ControlID theID{0, 0};
    GetControlID(theControl, &theID);
    Str255 theCaption;
    GetEditTextFromControl(GetControlOwner(theControl), kColorCaptionSig, SInt16(theID.id), theCaption);
    if (theCaption[0] == 0) {
        CString2PString("Please choose color:", outPrompt);
        return;
    }
    if (theCaption[1] >= 'A' && theCaption[1] <= 'Z')
        theCaption[1] = static_cast<unsigned char>(theCaption[1] - 'A' + 'a');
    CString2PString("Choose the colour for ", outPrompt);
    AppendPString(outPrompt, theCaption);
}

}  // namespace

void RegisterColorBox()
{
    RegisterControlClass(cColorCtrlID, kDrawAndClickControlEvents, std::size(kDrawAndClickControlEvents),
                         ColorBoxControlHandler, lgMyHandlerUPP, lgColorBoxClassRef);
}

void UnregisterColorBox()
{
    UnregisterControlClass(lgMyHandlerUPP, lgColorBoxClassRef);
}

OSStatus ColorBoxControlHandler(EventHandlerCallRef /*inHandlerCallRef*/, EventRef inEvent,
                                void* /*inUserData*/)
{
    OSStatus result = eventNotHandledErr;
    ControlRef theControl = GetControlFromEvent(inEvent);
    if (theControl == nullptr)
        return result;
    const Rect bounds = GetControlBox(theControl);

    switch (GetEventKind(inEvent)) {
    case kEventControlHit: {
        const RGBColor inColor = Longint2RGBColor(GetControl32BitValue(theControl));
        RGBColor outColor = inColor;
        Str255 thePrompt;
        PickerPrompt(theControl, thePrompt);
        if (UseColorPicker(Point{0, 0}, thePrompt, inColor, outColor))
            SetControl32BitValue(theControl, RGBColor2Longint(outColor));
        // Not handled: the standard handling goes on and sends the box's command.
        break;
    }
    case kEventControlHitTest:
        AnswerHitTestInBounds(inEvent, bounds);
        result = noErr;
        break;
    case kEventControlDraw: {
        CGrafPtr thePort = GetWindowPort(GetControlOwner(theControl));
        SavedGWorld savedGWorld(thePort);
        if (thePort != nullptr) {
            const ControlPartCode hilite = GetControlHilite(theControl);
            if (hilite != kControlDisabledPart && hilite != kControlInactivePart) {
                ColorBoxDraw(bounds, Longint2RGBColor(GetControl32BitValue(theControl)));
            } else {
                const RGBColor white{65535, 65535, 65535};
                RGBBackColor(&white);
                EraseRect(&bounds);
            }
        }
        result = noErr;
        break;
    }
    default:
        break;
    }
    return result;
}

void ColorBoxDraw(Rect theRect, RGBColor theColor)
{
    RGBForeColor(&theColor);
    PaintRect(&theRect);
    const RGBColor black{0, 0, 0};
    RGBForeColor(&black);
    FrameRect(&theRect);
}

Boolean UseColorPicker(Point where, ConstStr255Param prompt, RGBColor inColor,
                       RGBColor& outColor)
{
    NColorPickerInfo theInfo;
    std::memset(&theInfo, 0, sizeof(theInfo));
    theInfo.theColor.profile = nullptr;
    theInfo.theColor.color.rgb = CMRGBColor{inColor.red, inColor.green, inColor.blue};
    theInfo.dstProfile = nullptr;
    theInfo.flags = kPickerFlags;
    theInfo.placeWhere = kAtSpecifiedOrigin;
    theInfo.dialogOrigin = where;
    theInfo.pickerType = 0;
    theInfo.eventProc = nullptr;
    theInfo.colorProc = nullptr;
    theInfo.colorProcData = 0;
    std::memcpy(theInfo.prompt, prompt, size_t(prompt[0]) + 1);
    theInfo.newColorChosen = false;
    if (NPickColor(&theInfo) != noErr || !theInfo.newColorChosen)
        return false;
    const CMRGBColor& theChosen = theInfo.theColor.color.rgb;
    outColor = RGBColor{theChosen.red, theChosen.green, theChosen.blue};
    return true;
}
