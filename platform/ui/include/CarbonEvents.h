// Carbon events: event references with typed parameters, event targets,
// handlers, toolbox object classes and mouse tracking.
//
// Handlers of a target run from the most recently installed one; a result
// of eventNotHandledErr passes the event on to the next handler, then to the
// class handler and the standard handler of the target. Command events
// travel on from a control to its window and from a window to the
// application.
#pragma once

#include "CoreFoundation.h"
#include "Events.h"
#include "MacErrors.h"
#include "MacTypes.h"
#include "QuickDraw.h"

typedef struct OpaqueWindowPtr* WindowRef;
typedef struct OpaqueControlRef* ControlRef;
typedef SInt16 ControlPartCode;

struct OpaqueEventRef;
typedef OpaqueEventRef* EventRef;
struct OpaqueEventTargetRef;
typedef OpaqueEventTargetRef* EventTargetRef;
struct OpaqueEventHandlerRef;
typedef OpaqueEventHandlerRef* EventHandlerRef;
struct OpaqueEventHandlerCallRef;
typedef OpaqueEventHandlerCallRef* EventHandlerCallRef;
struct OpaqueToolboxObjectClassRef;
typedef OpaqueToolboxObjectClassRef* ToolboxObjectClassRef;

typedef OSType EventParamName;
typedef OSType EventParamType;
typedef UInt32 ByteCount;
typedef UInt32 ItemCount;
typedef double EventTime;
typedef UInt32 EventAttributes;

typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                        void* inUserData);
typedef EventHandlerProcPtr EventHandlerUPP;

struct EventTypeSpec {
    UInt32 eventClass;
    UInt32 eventKind;
};

// Errors of the Carbon Event Manager.
enum {
    eventAlreadyPostedErr = -9860,
    eventTargetBusyErr = -9861,
    eventClassInvalidErr = -9862,
    eventClassIncorrectErr = -9864,
    eventHandlerAlreadyInstalledErr = -9866,
    eventInternalErr = -9868,
    eventKindIncorrectErr = -9869,
    eventParameterNotFoundErr = -9870,
    eventLoopTimedOutErr = -9875,
    eventLoopQuitErr = -9876,
    errAECoercionFail = -1700,
};

// Event classes
enum : UInt32 {
    kEventClassMouse = FOUR_CHAR_CODE("mous"),
    kEventClassKeyboard = FOUR_CHAR_CODE("keyb"),
    kEventClassApplication = FOUR_CHAR_CODE("appl"),
    kEventClassMenu = FOUR_CHAR_CODE("menu"),
    kEventClassWindow = FOUR_CHAR_CODE("wind"),
    kEventClassControl = FOUR_CHAR_CODE("cntl"),
    kEventClassCommand = FOUR_CHAR_CODE("cmds"),
    kEventClassHIObject = FOUR_CHAR_CODE("hiob"),
};

// Command events
enum : UInt32 {
    kEventCommandProcess = 1,
    kEventCommandUpdateStatus = 2,
};

// Control events
enum : UInt32 {
    kEventControlHit = 1,
    kEventControlSimulateHit = 2,
    kEventControlHitTest = 3,
    kEventControlDraw = 4,
    kEventControlApplyBackground = 5,
    kEventControlApplyTextColor = 6,
    kEventControlSetFocusPart = 7,
    kEventControlGetFocusPart = 8,
    kEventControlActivate = 9,
    kEventControlDeactivate = 10,
    kEventControlSetCursor = 11,
    kEventControlContextualMenuClick = 12,
    kEventControlClick = 13,
    kEventControlTrack = 51,
    kEventControlValueFieldChanged = 151,
    kEventControlBoundsChanged = 154,
    kEventControlOwningWindowChanged = 159,
    kEventControlInitialize = 1000,
    kEventControlDispose = 1001,
};

// Window events
enum : UInt32 {
    kEventWindowDrawContent = 2,
    kEventWindowActivated = 5,
    kEventWindowDeactivated = 6,
    kEventWindowShown = 24,
    kEventWindowHidden = 25,
    kEventWindowBoundsChanged = 27,
    kEventWindowClose = 72,
    kEventWindowClosed = 73,
};

// Keyboard and mouse events
enum : UInt32 {
    kEventRawKeyDown = 1,
    kEventRawKeyRepeat = 2,
    kEventRawKeyUp = 3,
    kEventMouseDown = 1,
    kEventMouseUp = 2,
    kEventMouseMoved = 5,
    kEventMouseDragged = 6,
};

// Parameter names
enum : EventParamName {
    kEventParamDirectObject = FOUR_CHAR_CODE("----"),
    kEventParamWindowRef = FOUR_CHAR_CODE("wind"),
    kEventParamControlRef = FOUR_CHAR_CODE("ctrl"),
    kEventParamControlPart = FOUR_CHAR_CODE("cprt"),
    kEventParamMouseLocation = FOUR_CHAR_CODE("mloc"),
    kEventParamWindowMouseLocation = FOUR_CHAR_CODE("wmou"),
    kEventParamKeyModifiers = FOUR_CHAR_CODE("kmod"),
    kEventParamKeyMacCharCodes = FOUR_CHAR_CODE("kchr"),
    kEventParamKeyCode = FOUR_CHAR_CODE("kcod"),
    kEventParamMouseButton = FOUR_CHAR_CODE("mbtn"),
    kEventParamClickCount = FOUR_CHAR_CODE("ccnt"),
    kEventParamGrafPort = FOUR_CHAR_CODE("graf"),
    kEventParamRgnHandle = FOUR_CHAR_CODE("rgnh"),
    kEventParamControlAction = FOUR_CHAR_CODE("caup"),
    kEventParamInitCollection = FOUR_CHAR_CODE("icol"),
};

// Parameter types
enum : EventParamType {
    typeWildCard = FOUR_CHAR_CODE("****"),
    typeHICommand = FOUR_CHAR_CODE("hcmd"),
    typeControlRef = FOUR_CHAR_CODE("ctrl"),
    typeWindowRef = FOUR_CHAR_CODE("wind"),
    typeMenuRef = FOUR_CHAR_CODE("menu"),
    typeQDPoint = FOUR_CHAR_CODE("QDpt"),
    typeQDRectangle = FOUR_CHAR_CODE("qdrt"),
    typeQDRgnHandle = FOUR_CHAR_CODE("rgnh"),
    typeGrafPtr = FOUR_CHAR_CODE("graf"),
    typeControlPartCode = FOUR_CHAR_CODE("cprt"),
    typeControlActionUPP = FOUR_CHAR_CODE("caup"),
    typeUInt32 = FOUR_CHAR_CODE("magn"),
    typeSInt32 = FOUR_CHAR_CODE("long"),
    typeSInt16 = FOUR_CHAR_CODE("shor"),
    typeBoolean = FOUR_CHAR_CODE("bool"),
    typeChar = FOUR_CHAR_CODE("TEXT"),
    typeMouseButton = FOUR_CHAR_CODE("mbtn"),
    typeCFStringRef = FOUR_CHAR_CODE("cfst"),
    typeVoidPtr = FOUR_CHAR_CODE("void"),
};

// Command IDs with a meaning of their own.
enum : UInt32 {
    kHICommandOK = FOUR_CHAR_CODE("ok  "),
    kHICommandCancel = FOUR_CHAR_CODE("not!"),
    kHICommandQuit = FOUR_CHAR_CODE("quit"),
    kHICommandClose = FOUR_CHAR_CODE("clos"),
    kHICommandAbout = FOUR_CHAR_CODE("abou"),
};
enum : UInt32 {
    kHICommandFromMenu = 1,
    kHICommandFromControl = 2,
    kHICommandFromWindow = 4,
};

enum : EventAttributes {
    kEventAttributeNone = 0,
    kEventAttributeUserEvent = 1,
};

// Events
TB_EXPORT UInt32 GetEventKind(EventRef inEvent);
// The value is copied. typeWildCard is not a valid type to store.
TB_EXPORT OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType,
                                     ByteCount inSize, const void* inPtr);
// eventParameterNotFoundErr when the event lacks the parameter; the stored
// type must match desiredType (typeWildCard takes any; signed and unsigned
// 32-bit and 16-bit part codes convert). At most inBufferSize bytes are
// copied; outActualSize gets the stored size. Each out pointer may be nil.
TB_EXPORT OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                                     EventParamType* outActualType, ByteCount inBufferSize,
                                     ByteCount* outActualSize, void* outData);

// Handlers
inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr userRoutine)
{
    return userRoutine;
}
inline void DisposeEventHandlerUPP(EventHandlerUPP) {}

TB_EXPORT EventTargetRef GetApplicationEventTarget();
TB_EXPORT EventTargetRef GetWindowEventTarget(WindowRef inWindow);
TB_EXPORT EventTargetRef GetControlEventTarget(ControlRef inControl);
TB_EXPORT EventTargetRef GetMenuEventTarget(MenuRef inMenu);

TB_EXPORT OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                                       const EventTypeSpec* inList, void* inUserData,
                                       EventHandlerRef* outRef);


// Toolbox object classes: a control in a nib whose toolboxClass property
// names a registered class id gets the class's handler for the listed
// events. A class stays usable by its existing controls after it is
// unregistered. The base class must be nil.
TB_EXPORT OSStatus RegisterToolboxObjectClass(CFStringRef inClassID, ToolboxObjectClassRef inBaseClass,
                                              ItemCount inNumEvents, const EventTypeSpec* inEventList,
                                              EventHandlerUPP inEventHandler, void* inEventHandlerData,
                                              ToolboxObjectClassRef* outClassRef);
TB_EXPORT OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef inClassRef);

// Mouse tracking inside a control's click: each call waits for the next
// mouse movement or the release of the button and reports it in the port's
// local coordinates (nil: the current port). Escape pressed during the drag
// ends it with kMouseTrackingUserCancelled. Without a click in progress it
// reports the release at once.
typedef UInt16 MouseTrackingResult;
enum : MouseTrackingResult {
    kMouseTrackingMouseDown = 1,
    kMouseTrackingMouseUp = 2,
    kMouseTrackingMouseExited = 3,
    kMouseTrackingMouseEntered = 4,
    kMouseTrackingMouseDragged = 5,
    kMouseTrackingKeyModifiersChanged = 6,
    kMouseTrackingUserCancelled = 7,
    kMouseTrackingTimedOut = 8,
    kMouseTrackingMouseMoved = 9,
};
TB_EXPORT OSStatus TrackMouseLocation(GrafPtr inPort, Point* outPt, MouseTrackingResult* outResult);

// Used inside the toolbox only, so not exported.
OSStatus CreateEvent(CFAllocatorRef inAllocator, UInt32 inClassID, UInt32 inKind, EventTime inWhen,
                     EventAttributes inAttributes, EventRef* outEvent);
EventRef RetainEvent(EventRef inEvent);
void ReleaseEvent(EventRef inEvent);
UInt32 GetEventClass(EventRef inEvent);
EventTime GetCurrentEventTime();
EventTargetRef GetUserFocusEventTarget();
OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget);
// Point from global to the current port's local coordinates.
void GlobalToLocal(Point* pt);
void GetMouse(Point* mouseLoc);
