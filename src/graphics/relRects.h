// Regions kept as fractions of a frame, converted to and from pixel
// rectangles of frames of any size.
#pragma once

#include "MacTypes.h"

// Fractions of a frame: left and right of its width, top and bottom of its
// height. The whole frame is (0, 1, 0, 1). Values are neither clamped nor ordered.
struct relRect {
    double left;
    double right;
    double top;
    double bottom;
};
typedef relRect* relRectPtr;

struct relPoint {
    double horiz;
    double vert;
};
typedef relPoint* relPointPtr;

void InitRelRect(relRect& theRel);
// Pixel rectangle of theRel within theFrame; each coordinate truncates toward zero.
Rect Rel2Rect(const relRect& theRel, Rect theFrame);
// Relative form of theRect; an empty frame axis gives the full frame on that axis.
relRect Rect2Rel(Rect theRect, Rect theFrame);
relRect SetRelRect(double left, double top, double right, double bottom);
Point Rel2Point(const relPoint& theRel, Rect theFrame);
// Relative form of thePoint; an empty frame axis gives 0 on that axis.
relPoint Point2Rel(Point thePoint, Rect theFrame);
