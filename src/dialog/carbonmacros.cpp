#include "dialog/carbonmacros.h"

#include <algorithm>
#include <cstring>

#include "Fonts.h"
#include "common/CommonProcs.h"

namespace {

// An optional sign, then digits up to the first other character; wraps
// instead of overflowing, as the classic StringToNum did.
SInt32 StringToNum(ConstStr255Param theString)
{
    UInt32 theValue = 0;
    int i = 1;
    bool negative = false;
    if (theString[0] >= 1 && (theString[1] == '-' || theString[1] == '+')) {
        negative = theString[1] == '-';
        i = 2;
    }
    for (; i <= theString[0] && theString[i] >= '0' && theString[i] <= '9'; ++i)
        theValue = theValue * 10u + UInt32(theString[i] - '0');
    if (negative)
        theValue = 0u - theValue;
    return static_cast<SInt32>(theValue);
}

void SetControlText(ControlRef theControl, ConstStr255Param theText)
{
    SetControlData(theControl, 0, kControlEditTextTextTag,
                   theText[0], theText + 1);
}

}  // namespace

void CommandID2Str(UInt32 commandID, Str255 outString)
{
    outString[0] = 4;
    for (int i = 0; i < 4; ++i)
        outString[1 + i] = static_cast<unsigned char>(commandID >> (24 - 8 * i));
}

bool IsCommand(ConstStr255Param theName, const char (&theCode)[5])
{
    return theName[0] == 4 && std::memcmp(theName + 1, theCode, 4) == 0;
}

OSStatus InstallWindowEventHandler(WindowRef theWindow, EventHandlerUPP theHandler,
                                   ItemCount numTypes, const EventTypeSpec* typeList,
                                   void* userData, EventHandlerRef* handlerRef)
{
    return InstallEventHandler(GetWindowEventTarget(theWindow), theHandler, numTypes, typeList,
                               userData, handlerRef);
}

OSStatus InstallMenuEventHandler(MenuRef theMenu, EventHandlerUPP theHandler, ItemCount numTypes,
                                 const EventTypeSpec* typeList, void* userData,
                                 EventHandlerRef* handlerRef)
{
    return InstallEventHandler(GetMenuEventTarget(theMenu), theHandler, numTypes, typeList,
                               userData, handlerRef);
}

OSStatus InstallApplicationEventHandler(EventHandlerUPP theHandler, ItemCount numTypes,
                                        const EventTypeSpec* typeList, void* userData,
                                        EventHandlerRef* handlerRef)
{
    return InstallEventHandler(GetApplicationEventTarget(), theHandler, numTypes, typeList,
                               userData, handlerRef);
}

OSStatus InstallControlEventHandler(ControlRef theControl, EventHandlerUPP theHandler,
                                    ItemCount numTypes, const EventTypeSpec* typeList,
                                    void* userData, EventHandlerRef* handlerRef)
{
    return InstallEventHandler(GetControlEventTarget(theControl), theHandler, numTypes, typeList,
                               userData, handlerRef);
}

WindowRef GetWindowFromEvent(EventRef theEvent)
{
    WindowRef theWindow = nullptr;
    if (GetEventParameter(theEvent, kEventParamDirectObject, typeWindowRef, nullptr,
                          sizeof(theWindow), nullptr, &theWindow) != noErr)
        return nullptr;
    return theWindow;
}

void GetWindowKeyboardDataFromEvent(EventRef theEvent, char& theKey, UInt32& theKeyCode,
                                    UInt32& theMods)
{
    theKey = 0;
    theKeyCode = 0;
    theMods = 0;
    GetEventParameter(theEvent, kEventParamKeyMacCharCodes, typeChar, nullptr, 1, nullptr, &theKey);
    GetEventParameter(theEvent, kEventParamKeyCode, typeUInt32, nullptr, sizeof(theKeyCode),
                      nullptr, &theKeyCode);
    GetEventParameter(theEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof(theMods),
                      nullptr, &theMods);
}

Point GetMouseLocFromEvent(EventRef theEvent)
{
    Point theLoc{0, 0};
    GetEventParameter(theEvent, kEventParamWindowMouseLocation, typeQDPoint, nullptr,
                      sizeof(theLoc), nullptr, &theLoc);
    return theLoc;
}

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    if (theWindow == nullptr)
        return nullptr;
    const ControlID theControlID{theSig, theID};
    ControlRef theControl = nullptr;
    if (GetControlByID(theWindow, &theControlID, &theControl) != noErr)
        return nullptr;
    return theControl;
}

Rect GetControlBox(ControlRef theControl)
{
    Rect theBox{0, 0, 0, 0};
    if (theControl != nullptr)
        GetControlBounds(theControl, &theBox);
    return theBox;
}

Rect SimpleGetControlBox(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    return GetControlBox(SimpleGetControlByID(theWindow, theSig, theID));
}

void SimpleSetControlText(WindowRef theWindow, OSType theSig, SInt16 theID,
                          ConstStr255Param theText)
{
    ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID);
    if (theControl == nullptr)
        return;
    SetControlText(theControl, theText);
    Draw1Control(theControl);
}

void SimpleShowControl(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    if (ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID))
        ShowControl(theControl);
}

void SimpleHideControl(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    if (ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID))
        HideControl(theControl);
}

SInt32 SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID);
    return theControl != nullptr ? GetControl32BitValue(theControl) : 0;
}

void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID, SInt32 theVal)
{
    if (ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID))
        SetControl32BitValue(theControl, theVal);
}

void SimpleEnableControlByID(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    if (ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID))
        EnableControl(theControl);
}

void SimpleDisableControlByID(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    if (ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID))
        DisableControl(theControl);
}

void GetEditTextFromControl(WindowRef theWindow, OSType theSig, SInt16 theID, Str255 outText)
{
    outText[0] = 0;
    ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID);
    if (theControl == nullptr)
        return;
    Size theSize = 0;
    if (GetControlData(theControl, 0, kControlEditTextTextTag, 255, outText + 1, &theSize) != noErr)
        return;
    outText[0] = static_cast<unsigned char>(std::clamp<Size>(theSize, 0, 255));
}

SInt32 GetNumberFromEditTextControl(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    Str255 theText;
    GetEditTextFromControl(theWindow, theSig, theID, theText);
    return StringToNum(theText);
}

void SetEditTextForControl(ConstStr255Param theText, WindowRef theWindow, OSType theSig,
                           SInt16 theID)
{
    if (ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID))
        SetControlText(theControl, theText);
}

void SetEditTextToNumberForControl(SInt32 theNumber, WindowRef theWindow, OSType theSig,
                                   SInt16 theID)
{
    Str255 theText;
    Num2Text(theNumber, theText);
    SetEditTextForControl(theText, theWindow, theSig, theID);
}

void SetKeyboadFocusByID(WindowRef theWindow, OSType theSig, SInt16 theID)
{
    if (ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID))
        SetKeyboardFocus(theWindow, theControl, kControlFocusNextPart);
}

void SelectTextByIDForControl(WindowRef theWindow, OSType theSig, SInt16 theID, SInt16 startSel,
                              SInt16 endSel)
{
    ControlRef theControl = SimpleGetControlByID(theWindow, theSig, theID);
    if (theControl == nullptr)
        return;
    const ControlEditTextSelectionRec theSelection{startSel, endSel};
    SetControlData(theControl, 0, kControlEditTextSelectionTag, sizeof(theSelection),
                   &theSelection);
}

void GetPopupItemText(ControlRef thePopup, SInt16 theItem, Str255 outText)
{
    outText[0] = 0;
    if (thePopup == nullptr || theItem < 1)
        return;
    MenuRef theMenu = GetControlPopupMenuHandle(thePopup);
    if (theMenu == nullptr)
        return;
    GetMenuItemText(theMenu, MenuItemIndex(theItem), outText);
}

void GetSelectedPopupTextFromID(WindowRef theWindow, OSType theSig, SInt16 theID, Str255 outText)
{
    ControlRef thePopup = SimpleGetControlByID(theWindow, theSig, theID);
    const SInt32 theItem = thePopup != nullptr ? GetControl32BitValue(thePopup) : 0;
    GetPopupItemText(thePopup, SInt16(std::clamp<SInt32>(theItem, 0, 32767)), outText);
}

void GetIndexedPopupTextFromID(WindowRef theWindow, OSType theSig, SInt16 theID, SInt16 theIndex,
                               Str255 outText)
{
    GetPopupItemText(SimpleGetControlByID(theWindow, theSig, theID), theIndex, outText);
}

SInt16 GetFontIDFromPopup(WindowRef theWindow, OSType theSig, SInt16 thePopup)
{
    Str255 theName;
    GetSelectedPopupTextFromID(theWindow, theSig, thePopup, theName);
    return FMGetFontFamilyFromName(theName);
}

SInt16 GetMenuItemPosition(ControlRef theControl, ConstStr255Param theName)
{
    if (theControl == nullptr)
        return -1;
    const SInt32 theCount = std::min<SInt32>(GetControl32BitMaximum(theControl), 32767);
    for (SInt32 i = 1; i <= theCount; ++i) {
        Str255 theText;
        GetPopupItemText(theControl, SInt16(i), theText);
        if (std::memcmp(theText, theName, size_t(theName[0]) + 1) == 0)
            return SInt16(i);
    }
    return -1;
}

SInt16 FindNameInPopupByID(WindowRef theWindow, OSType theSig, SInt16 theID,
                           ConstStr255Param theName)
{
    return GetMenuItemPosition(SimpleGetControlByID(theWindow, theSig, theID), theName);
}

void RegisterControlClass(const char* theClassID, const EventTypeSpec* theEvents, ItemCount numEvents,
                          EventHandlerProcPtr theHandler, EventHandlerUPP& outUPP,
                          ToolboxObjectClassRef& outClass)
{
    outUPP = NewEventHandlerUPP(theHandler);
    outClass = nullptr;
    CFStringRef theID = CFStringCreateWithCString(nullptr, theClassID, kCFStringEncodingASCII);
    Assert(theID, PStr("Cannot allocate a control class name"));
    const OSStatus theError =
        RegisterToolboxObjectClass(theID, nullptr, numEvents, theEvents, outUPP, nullptr, &outClass);
    CFRelease(theID);
    if (theError != noErr)
        outClass = nullptr;
    Assert(outClass, PStr("Cannot allocate a control class"));
}

void UnregisterControlClass(EventHandlerUPP& theUPP, ToolboxObjectClassRef& theClass)
{
    if (theClass != nullptr)
        UnregisterToolboxObjectClass(theClass);
    theClass = nullptr;
    if (theUPP != nullptr)
        DisposeEventHandlerUPP(theUPP);
    theUPP = nullptr;
}

ControlRef GetControlFromEvent(EventRef theEvent)
{
    ControlRef theControl = nullptr;
    if (GetEventParameter(theEvent, kEventParamDirectObject, typeControlRef, nullptr,
                          sizeof(theControl), nullptr, &theControl) != noErr)
        return nullptr;
    return theControl;
}

void AnswerHitTestInBounds(EventRef theEvent, const Rect& theBounds)
{
    Point theMouse{0, 0};
    GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof(theMouse),
                      nullptr, &theMouse);
    const ControlPartCode part = PtInRect(theMouse, &theBounds) ? 1 : 0;
    SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof(part), &part);
}
