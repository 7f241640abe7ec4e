// The window placement of the graphics routines, which needs the toolbox's
// user interface.
#include "graphics/CommonProcs.h"

#include "MacWindows.h"

void MoveWindowToRightEdge(WindowRef theWindow, Rect theBounds)
{
    Rect bounds{};
    if (GetWindowBounds(theWindow, kWindowStructureRgn, &bounds) != noErr)
        return;
    const SInt16 dx = SInt16(UInt16((SInt32(theBounds.right) - bounds.right) & 0xFFFF));
    OffsetRect(&bounds, dx, 0);
    SetWindowBounds(theWindow, kWindowStructureRgn, &bounds);
}
