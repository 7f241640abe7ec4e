// Controls: the widgets of a nib window, found by signature and ID.
//
// Standard controls are Qt widgets: sliders, spin boxes and progress bars
// (value, minimum, maximum), buttons (value 0), check boxes and radio
// buttons (value 0 or 1), popup buttons on combo boxes (value = item
// number from 1, maximum = item count), static and edit texts (text data).
// Clicking a button or box, choosing a popup item or releasing a slider
// sends kEventControlHit to the control, whose standard handling sends the
// control's command (kEventCommandProcess) to the control, its window and
// the application. Custom controls of a toolbox object class keep their
// value, minimum and maximum themselves.
#pragma once

#include "CarbonEvents.h"
#include "CoreFoundation.h"
#include "MacTypes.h"
#include "MacWindows.h"
#include "Menus.h"
#include "QuickDraw.h"

typedef struct OpaqueControlRef* ControlRef;
typedef ControlRef ControlHandle;
typedef SInt16 ControlPartCode;
typedef SInt16 ControlFocusPart;

struct ControlID {
    OSType signature;
    SInt32 id;
};

enum : ControlPartCode {
    kControlNoPart = 0,
    kControlLabelPart = 1,
    kControlMenuPart = 2,
    kControlEditTextPart = 5,
    kControlButtonPart = 10,
    kControlCheckBoxPart = 11,
    kControlRadioButtonPart = 11,
    kControlUpButtonPart = 20,
    kControlDownButtonPart = 21,
    kControlPageUpPart = 22,
    kControlPageDownPart = 23,
    kControlIndicatorPart = 129,
    kControlDisabledPart = 254,
    kControlInactivePart = 255,
    kControlEntireControl = 0,
};

enum : ControlFocusPart {
    kControlFocusNoPart = 0,
    kControlFocusNextPart = -1,
    kControlFocusPrevPart = -2,
};

// Control data tags
enum : ResType {
    kControlEditTextTextTag = FOUR_CHAR_CODE("text"),
    kControlStaticTextTextTag = FOUR_CHAR_CODE("text"),
    kControlEditTextCFStringTag = FOUR_CHAR_CODE("cfst"),
    kControlStaticTextCFStringTag = FOUR_CHAR_CODE("cfst"),
    kControlEditTextSelectionTag = FOUR_CHAR_CODE("sele"),
};

struct ControlEditTextSelectionRec {
    SInt16 selStart;
    SInt16 selEnd;
};

enum {
    errUnknownControl = -30584,
    errDataNotSupported = -30583,
    errItemNotControl = -30560,
    errControlIsNotEmbedder = -30590,
    errInvalidPartCode = -30565,
};

typedef void (*ControlActionProcPtr)(ControlRef theControl, ControlPartCode partCode);
typedef ControlActionProcPtr ControlActionUPP;
inline ControlActionUPP NewControlActionUPP(ControlActionProcPtr userRoutine)
{
    return userRoutine;
}
inline void DisposeControlActionUPP(ControlActionUPP) {}

// Finding controls
TB_EXPORT OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl);
TB_EXPORT OSStatus GetControlID(ControlRef inControl, ControlID* outID);
TB_EXPORT WindowRef GetControlOwner(ControlRef inControl);

// Values. Values are kept within minimum..maximum.
TB_EXPORT SInt32 GetControl32BitValue(ControlRef theControl);
TB_EXPORT void SetControl32BitValue(ControlRef theControl, SInt32 newValue);
TB_EXPORT void SetControl32BitMinimum(ControlRef theControl, SInt32 newMinimum);
TB_EXPORT SInt32 GetControl32BitMaximum(ControlRef theControl);
TB_EXPORT void SetControl32BitMaximum(ControlRef theControl, SInt32 newMaximum);

// Data: "text" is the text in Mac OS Roman bytes, "cfst" a CFStringRef
// (set: the control copies it; get: the caller releases it), "sele" a
// ControlEditTextSelectionRec of an edit text.
TB_EXPORT OSErr SetControlData(ControlRef inControl, ControlPartCode inPart, ResType inTagName, Size inSize,
                               const void* inData);
TB_EXPORT OSErr GetControlData(ControlRef inControl, ControlPartCode inPart, ResType inTagName,
                               Size inBufferSize, void* inBuffer, Size* outActualSize);

// Visibility, state and drawing
TB_EXPORT void ShowControl(ControlRef inControl);
TB_EXPORT void HideControl(ControlRef inControl);
TB_EXPORT OSErr EnableControl(ControlRef inControl);
TB_EXPORT OSErr DisableControl(ControlRef inControl);
// 0 normal, a part number while pressed, 254 disabled, 255 inactive.
TB_EXPORT ControlPartCode GetControlHilite(ControlRef inControl);
// A custom control is drawn at once (kEventControlDraw with the window's
// port current); a standard one is repainted.
TB_EXPORT void Draw1Control(ControlRef theControl);
TB_EXPORT Rect* GetControlBounds(ControlRef control, Rect* bounds);
TB_EXPORT OSErr SetKeyboardFocus(WindowRef inWindow, ControlRef inControl, ControlFocusPart inPart);

// Screens with more than one pixel per unit of the window's coordinates (2 on
// a 2x display). A custom control may draw itself at that scale into a world
// of its own and hand it over: its pixels then stand in for the port's under
// the control until the next call. Nil, or a scale that is no longer the
// screen's, goes back to the port's pixels, and the control is drawn again.
TB_EXPORT Float32 TBGetControlBackingScale(ControlRef inControl);
// inWorld holds the control's rectangle at inScale pixels per unit; it is
// copied, so its owner may dispose of it at once.
TB_EXPORT OSStatus TBSetControlBackingPixels(ControlRef inControl, GWorldPtr inWorld, Float32 inScale);

// Live tracking: the action procedure is called on every move of a
// slider's thumb made by the user (not for values set by code).
TB_EXPORT void SetControlAction(ControlRef theControl, ControlActionUPP actionProc);

// Popup buttons
TB_EXPORT MenuRef GetControlPopupMenuHandle(ControlRef control);
inline MenuRef GetControlPopupMenuRef(ControlRef control)
{
    return GetControlPopupMenuHandle(control);
}

// Used inside the toolbox only, so not exported.
SInt32 GetControl32BitMinimum(ControlRef theControl);
