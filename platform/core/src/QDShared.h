// Helpers shared by the QuickDraw sources of the toolbox core.
#pragma once

#include "QuickDrawInternal.h"

#include <algorithm>

using Int64 = long long;

// A rectangle in int, where arithmetic on 16-bit coordinates cannot overflow.
struct IRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool Empty() const { return right <= left || bottom <= top; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

inline IRect ToIRect(const Rect& r)
{
    return IRect{r.left, r.top, r.right, r.bottom};
}

// Only for rectangles whose values are known to fit 16 bits.
inline Rect ToRect(const IRect& r)
{
    return Rect{SInt16(r.top), SInt16(r.left), SInt16(r.bottom), SInt16(r.right)};
}

inline IRect Intersect(const IRect& a, const IRect& b)
{
    const IRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                  std::min(a.bottom, b.bottom)};
    return r.Empty() ? IRect{} : r;
}

inline IRect Union(const IRect& a, const IRect& b)
{
    return IRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom)};
}

// The current port, or the fallback screen port when none is set.
GrafPtr QDCurrentPort();

// Picture recording: at most one picture records at a time.
void QDStartRecording(GrafPtr port, PicHandle picture);
void QDStopRecording(PicHandle picture);  // nil stops any recording
void QDRecordPixels(GrafPtr port, PicHandle picture, const Rect& changed);
