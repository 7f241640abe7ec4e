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

TB_EXPORT void ShowWindow(WindowRef window);
// Ends the window's modal loop if one runs, sends kEventWindowClosed and
// frees the window, its port, its controls and their handlers.
TB_EXPORT void DisposeWindow(WindowRef window);
TB_EXPORT void BringToFront(WindowRef window);
// Nil for a window that is not alive.
TB_EXPORT CGrafPtr GetWindowPort(WindowRef window);
// Global coordinates: the structure region includes the frame, the content
// region is the content alone.
TB_EXPORT OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds);
TB_EXPORT OSStatus SetWindowBounds(WindowRef window, WindowRegionCode regionCode, const Rect* globalBounds);

// Application-modal loops: other windows get no input while the loop runs.
// Loops nest; QuitAppModalLoopForWindow ends the loop of that window
// (errInvalidWindowRef when none runs for it).
TB_EXPORT OSStatus RunAppModalLoopForWindow(WindowRef inWindow);
TB_EXPORT OSStatus QuitAppModalLoopForWindow(WindowRef inWindow);

// Used inside the toolbox only, so not exported.
void HideWindow(WindowRef window);
