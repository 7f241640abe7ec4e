// Windows: Qt top-level widgets made from nib files, each with a QuickDraw
// port as large as its content that custom controls draw into.
//
// Port and control coordinates are the window content's, (0,0) at its
// top-left corner.
#pragma once

#include "CarbonEvents.h"
#include "CoreFoundation.h"
#include "MacTypes.h"
#include "QuickDraw.h"

typedef struct OpaqueWindowPtr* WindowRef;
typedef WindowRef WindowPtr;

typedef UInt16 WindowRegionCode;
enum : WindowRegionCode {
    kWindowTitleBarRgn = 0,
    kWindowStructureRgn = 32,
    kWindowContentRgn = 33,
    kWindowGlobalPortRgn = 40,
};

enum {
    errInvalidWindowRef = -5600,
    errWindowNotFound = -5610,
    errWindowDoesNotHaveProxy = -5622,
};

void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean IsWindowVisible(WindowRef window);
// Ends the window's modal loop if one runs, sends kEventWindowClosed and
// frees the window, its port, its controls and their handlers.
void DisposeWindow(WindowRef window);
void BringToFront(WindowRef window);
void SelectWindow(WindowRef window);
WindowRef FrontWindow();
// Nil for a window that is not alive.
CGrafPtr GetWindowPort(WindowRef window);
WindowRef GetWindowFromPort(CGrafPtr port);
void SetPortWindowPort(WindowRef window);
Rect* GetWindowPortBounds(WindowRef window, Rect* bounds);
// Global coordinates: the structure region includes the frame, the content
// region is the content alone.
OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds);
OSStatus SetWindowBounds(WindowRef window, WindowRegionCode regionCode, const Rect* globalBounds);
OSStatus SetWindowTitleWithCFString(WindowRef inWindow, CFStringRef inString);
OSStatus CopyWindowTitleAsCFString(WindowRef inWindow, CFStringRef* outString);
// Redraws every control of the window (custom controls at once).
void DrawControls(WindowRef window);

// Application-modal loops: other windows get no input while the loop runs.
// Loops nest; QuitAppModalLoopForWindow ends the loop of that window
// (errInvalidWindowRef when none runs for it).
OSStatus RunAppModalLoopForWindow(WindowRef inWindow);
OSStatus QuitAppModalLoopForWindow(WindowRef inWindow);
