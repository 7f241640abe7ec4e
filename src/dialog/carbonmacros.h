// Controls addressed by window, signature and ID in one call, typed event
// parameters, and command IDs as four-character strings.
//
// A control that the window lacks is nil: showing, hiding and writing text
// then do nothing, value reads give 0 and value writes nothing. Texts are
// Str255; routines that produce one write it into an out parameter given last.
#pragma once

#include "CarbonEvents.h"
#include "Controls.h"
#include "MacTypes.h"
#include "MacWindows.h"
#include "Menus.h"

// Always four characters, the most significant byte first.
void CommandID2Str(UInt32 commandID, Str255 outString);
// Whether theName, as CommandID2Str writes it, is the command theCode.
bool IsCommand(ConstStr255Param theName, const char (&theCode)[5]);

OSStatus InstallWindowEventHandler(WindowRef theWindow, EventHandlerUPP theHandler,
                                   ItemCount numTypes, const EventTypeSpec* typeList,
                                   void* userData, EventHandlerRef* handlerRef);
OSStatus InstallMenuEventHandler(MenuRef theMenu, EventHandlerUPP theHandler, ItemCount numTypes,
                                 const EventTypeSpec* typeList, void* userData,
                                 EventHandlerRef* handlerRef);
OSStatus InstallApplicationEventHandler(EventHandlerUPP theHandler, ItemCount numTypes,
                                        const EventTypeSpec* typeList, void* userData,
                                        EventHandlerRef* handlerRef);
OSStatus InstallControlEventHandler(ControlRef theControl, EventHandlerUPP theHandler,
                                    ItemCount numTypes, const EventTypeSpec* typeList,
                                    void* userData, EventHandlerRef* handlerRef);

// What a control that draws itself and answers clicks listens to.
inline constexpr EventTypeSpec kDrawAndClickControlEvents[] = {
    {kEventClassControl, kEventControlDraw},
    {kEventClassControl, kEventControlHitTest},
    {kEventClassControl, kEventControlHit},
};

// Registers a custom control class under theClassID with one handler for
// the events listed; Unregister undoes it and clears both references. A
// class that cannot be registered ends the run: its windows would lack it.
void RegisterControlClass(const char* theClassID, const EventTypeSpec* theEvents, ItemCount numEvents,
                          EventHandlerProcPtr theHandler, EventHandlerUPP& outUPP,
                          ToolboxObjectClassRef& outClass);
void UnregisterControlClass(EventHandlerUPP& theUPP, ToolboxObjectClassRef& theClass);

// The control an event is about; nil when the event names none.
ControlRef GetControlFromEvent(EventRef theEvent);
// Answers a hit test: part 1 when the mouse is inside theBounds, else 0.
void AnswerHitTestInBounds(EventRef theEvent, const Rect& theBounds);

// Nil, or zeros, when the event lacks the parameter.
WindowRef GetWindowFromEvent(EventRef theEvent);
void GetWindowKeyboardDataFromEvent(EventRef theEvent, char& theKey, UInt32& theKeyCode,
                                    UInt32& theMods);
Point GetMouseLocFromEvent(EventRef theEvent);

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, SInt16 theID);
// The empty rectangle for a nil control.
Rect GetControlBox(ControlRef theControl);
Rect SimpleGetControlBox(WindowRef theWindow, OSType theSig, SInt16 theID);
// Sets the text and redraws the control at once.
void SimpleSetControlText(WindowRef theWindow, OSType theSig, SInt16 theID,
                          ConstStr255Param theText);
void SimpleShowControl(WindowRef theWindow, OSType theSig, SInt16 theID);
void SimpleHideControl(WindowRef theWindow, OSType theSig, SInt16 theID);
SInt32 SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID);
void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID, SInt32 theVal);
void SimpleEnableControlByID(WindowRef theWindow, OSType theSig, SInt16 theID);
void SimpleDisableControlByID(WindowRef theWindow, OSType theSig, SInt16 theID);

// The first 255 bytes of the control's text; empty when it cannot be read.
void GetEditTextFromControl(WindowRef theWindow, OSType theSig, SInt16 theID, Str255 outText);
SInt32 GetNumberFromEditTextControl(WindowRef theWindow, OSType theSig, SInt16 theID);
// Sets the text without redrawing.
void SetEditTextForControl(ConstStr255Param theText, WindowRef theWindow, OSType theSig,
                           SInt16 theID);
void SetEditTextToNumberForControl(SInt32 theNumber, WindowRef theWindow, OSType theSig,
                                   SInt16 theID);
void SetKeyboadFocusByID(WindowRef theWindow, OSType theSig, SInt16 theID);
void SelectTextByIDForControl(WindowRef theWindow, OSType theSig, SInt16 theID, SInt16 startSel,
                              SInt16 endSel);

// Popup items are numbered from 1; an item out of range gives the empty text.
void GetPopupItemText(ControlRef thePopup, SInt16 theItem, Str255 outText);
void GetSelectedPopupTextFromID(WindowRef theWindow, OSType theSig, SInt16 theID, Str255 outText);
void GetIndexedPopupTextFromID(WindowRef theWindow, OSType theSig, SInt16 theID, SInt16 theIndex,
                               Str255 outText);
SInt16 GetFontIDFromPopup(WindowRef theWindow, OSType theSig, SInt16 thePopup);
// The first item whose text is theName exactly; -1 when none is.
SInt16 GetMenuItemPosition(ControlRef theControl, ConstStr255Param theName);
SInt16 FindNameInPopupByID(WindowRef theWindow, OSType theSig, SInt16 theID,
                           ConstStr255Param theName);

