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
OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl);
OSStatus GetControlID(ControlRef inControl, ControlID* outID);
OSStatus GetControlCommandID(ControlRef inControl, UInt32* outCommandID);
OSStatus SetControlCommandID(ControlRef inControl, UInt32 inCommandID);
WindowRef GetControlOwner(ControlRef inControl);

// Values. Values are kept within minimum..maximum.
SInt16 GetControlValue(ControlRef theControl);
void SetControlValue(ControlRef theControl, SInt16 newValue);
SInt32 GetControl32BitValue(ControlRef theControl);
void SetControl32BitValue(ControlRef theControl, SInt32 newValue);
SInt16 GetControlMinimum(ControlRef theControl);
void SetControlMinimum(ControlRef theControl, SInt16 newMinimum);
SInt32 GetControl32BitMinimum(ControlRef theControl);
void SetControl32BitMinimum(ControlRef theControl, SInt32 newMinimum);
SInt16 GetControlMaximum(ControlRef theControl);
void SetControlMaximum(ControlRef theControl, SInt16 newMaximum);
SInt32 GetControl32BitMaximum(ControlRef theControl);
void SetControl32BitMaximum(ControlRef theControl, SInt32 newMaximum);
// A value that the control keeps for its user, untouched by the toolbox.
SInt32 GetControlReference(ControlRef theControl);
void SetControlReference(ControlRef theControl, SInt32 data);

// Data: "text" is the text in Mac OS Roman bytes, "cfst" a CFStringRef
// (set: the control copies it; get: the caller releases it), "sele" a
// ControlEditTextSelectionRec of an edit text.
OSErr SetControlData(ControlRef inControl, ControlPartCode inPart, ResType inTagName, Size inSize,
                     const void* inData);
OSErr GetControlData(ControlRef inControl, ControlPartCode inPart, ResType inTagName,
                     Size inBufferSize, void* inBuffer, Size* outActualSize);
OSErr GetControlDataSize(ControlRef inControl, ControlPartCode inPart, ResType inTagName,
                         Size* outMaxSize);
OSStatus SetControlTitleWithCFString(ControlRef inControl, CFStringRef inString);
OSStatus CopyControlTitleAsCFString(ControlRef inControl, CFStringRef* outString);
void SetControlTitle(ControlRef theControl, ConstStr255Param title);
void GetControlTitle(ControlRef theControl, Str255 title);

// Visibility, state and drawing
void ShowControl(ControlRef inControl);
void HideControl(ControlRef inControl);
OSErr SetControlVisibility(ControlRef inControl, Boolean inIsVisible, Boolean inDoDraw);
Boolean IsControlVisible(ControlRef inControl);
OSErr EnableControl(ControlRef inControl);
OSErr DisableControl(ControlRef inControl);
Boolean IsControlEnabled(ControlRef inControl);
OSErr ActivateControl(ControlRef inControl);
OSErr DeactivateControl(ControlRef inControl);
Boolean IsControlActive(ControlRef inControl);
// 0 normal, a part number while pressed, 254 disabled, 255 inactive.
void HiliteControl(ControlRef theControl, ControlPartCode hiliteState);
ControlPartCode GetControlHilite(ControlRef inControl);
// A custom control is drawn at once (kEventControlDraw with the window's
// port current); a standard one is repainted.
void Draw1Control(ControlRef theControl);
Rect* GetControlBounds(ControlRef control, Rect* bounds);
void SetControlBounds(ControlRef control, const Rect* bounds);
OSErr SetKeyboardFocus(WindowRef inWindow, ControlRef inControl, ControlFocusPart inPart);

// Screens with more than one pixel per unit of the window's coordinates (2 on
// a 2x display). A custom control may draw itself at that scale into a world
// of its own and hand it over: its pixels then stand in for the port's under
// the control until the next call. Nil, or a scale that is no longer the
// screen's, goes back to the port's pixels, and the control is drawn again.
Float32 TBGetControlBackingScale(ControlRef inControl);
// inWorld holds the control's rectangle at inScale pixels per unit; it is
// copied, so its owner may dispose of it at once.
OSStatus TBSetControlBackingPixels(ControlRef inControl, GWorldPtr inWorld, Float32 inScale);

// Live tracking: the action procedure is called on every move of a
// slider's thumb made by the user (not for values set by code).
void SetControlAction(ControlRef theControl, ControlActionUPP actionProc);
ControlActionUPP GetControlAction(ControlRef theControl);

// Popup buttons
MenuRef GetControlPopupMenuHandle(ControlRef control);
inline MenuRef GetControlPopupMenuRef(ControlRef control)
{
    return GetControlPopupMenuHandle(control);
}
