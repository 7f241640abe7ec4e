#include "graphics/relRects.h"

#include "graphics/CommonProcs.h"

void InitRelRect(relRect& theRel)
{
    theRel.left = 0.0;
    theRel.right = 1.0;
    theRel.top = 0.0;
    theRel.bottom = 1.0;
}

Rect Rel2Rect(const relRect& theRel, Rect theFrame)
{
    // Widths in 32 bits: a frame's width can exceed the 16-bit range.
    const SInt32 wid = SInt32(theFrame.right) - theFrame.left;
    const SInt32 hig = SInt32(theFrame.bottom) - theFrame.top;
    Rect result;
    result.left = TruncToCoord(wid * theRel.left, theFrame.left);
    result.right = TruncToCoord(wid * theRel.right, theFrame.left);
    result.top = TruncToCoord(hig * theRel.top, theFrame.top);
    result.bottom = TruncToCoord(hig * theRel.bottom, theFrame.top);
    return result;
}

relRect Rect2Rel(Rect theRect, Rect theFrame)
{
    const SInt32 wid = SInt32(theFrame.right) - theFrame.left;
    const SInt32 hig = SInt32(theFrame.bottom) - theFrame.top;
    relRect result;
    InitRelRect(result);
    if (wid != 0) {
        result.left = double(SInt32(theRect.left) - theFrame.left) / wid;
        result.right = double(SInt32(theRect.right) - theFrame.left) / wid;
    }
    if (hig != 0) {
        result.top = double(SInt32(theRect.top) - theFrame.top) / hig;
        result.bottom = double(SInt32(theRect.bottom) - theFrame.top) / hig;
    }
    return result;
}

relRect SetRelRect(double left, double top, double right, double bottom)
{
    relRect result;
    result.left = left;
    result.right = right;
    result.top = top;
    result.bottom = bottom;
    return result;
}

Point Rel2Point(const relPoint& theRel, Rect theFrame)
{
    const SInt32 wid = SInt32(theFrame.right) - theFrame.left;
    const SInt32 hig = SInt32(theFrame.bottom) - theFrame.top;
    Point result;
    result.h = TruncToCoord(wid * theRel.horiz, theFrame.left);
    result.v = TruncToCoord(hig * theRel.vert, theFrame.top);
    return result;
}

relPoint Point2Rel(Point thePoint, Rect theFrame)
{
    const SInt32 wid = SInt32(theFrame.right) - theFrame.left;
    const SInt32 hig = SInt32(theFrame.bottom) - theFrame.top;
    relPoint result{0.0, 0.0};
    if (wid != 0)
        result.horiz = double(SInt32(thePoint.h) - theFrame.left) / wid;
    if (hig != 0)
        result.vert = double(SInt32(thePoint.v) - theFrame.top) / hig;
    return result;
}
