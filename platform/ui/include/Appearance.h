// Theme cursors and brushes. A custom control sets its cursor while it
// handles kEventControlSetCursor (the mouse moving over it, no button held);
// a control that does not handle the event shows the arrow.
#pragma once

#include "MacTypes.h"

typedef UInt32 ThemeCursor;
enum : ThemeCursor {
    kThemeArrowCursor = 0,
    kThemeIBeamCursor = 4,
    kThemeCrossCursor = 5,
    kThemeClosedHandCursor = 8,
    kThemeOpenHandCursor = 9,
    kThemePointingHandCursor = 10,
    kThemeResizeLeftRightCursor = 19,
    kThemeNotAllowedCursor = 20,
    kThemeResizeUpDownCursor = 23,
    // Diagonal resizing, which the Mac's theme lacks: top-left to
    // bottom-right, and top-right to bottom-left.
    kThemeResizeDiagonalFallCursor = 1000,
    kThemeResizeDiagonalRiseCursor = 1001,
    kThemeMoveCursor = 1002,  // arrows to all four sides
};

TB_EXPORT OSStatus SetThemeCursor(ThemeCursor inCursor);

typedef SInt16 ThemeBrush;
enum : ThemeBrush {
    kThemeBrushDialogBackgroundActive = 1,
};

// Makes the current port's background colour that of the brush (the
// desktop's window colour for dialogs), so that EraseRect paints in it.
TB_EXPORT OSStatus SetThemeBackground(ThemeBrush inBrush, SInt16 inDepth, Boolean inIsColorDevice);
