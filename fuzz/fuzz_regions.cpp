// Any doubles and frames through the region conversions and the proportional
// sizing: UBSan stops on undefined behaviour; results keep their promises.
#include <algorithm>
#include <cmath>

#include "FuzzSupport.h"
#include "graphics/CommonProcs.h"
#include "graphics/relRects.h"

namespace {

bool Within(SInt32 value, SInt32 low, SInt32 high)
{
    return value >= low && value <= high;
}

bool InUnit(double v)
{
    return v >= 0.0 && v <= 1.0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const relRect rel = in.Take<relRect>();
    const relPoint relPt = in.Take<relPoint>();
    const Rect frame = in.Take<Rect>();
    const Rect rect = in.Take<Rect>();
    const Point point = in.Take<Point>();
    const double value = in.Take<double>();
    const SInt16 origin = in.Take<SInt16>();

    const Rect pixels = Rel2Rect(rel, frame);
    const Point pixelPoint = Rel2Point(relPt, frame);
    const relRect back = Rect2Rel(rect, frame);
    const relPoint backPoint = Point2Rel(point, frame);

    // Fractions of an ordered frame land inside it.
    const bool ordered = frame.left <= frame.right && frame.top <= frame.bottom;
    if (ordered && InUnit(rel.left) && InUnit(rel.right))
        FUZZ_CHECK(Within(pixels.left, frame.left, frame.right) &&
                   Within(pixels.right, frame.left, frame.right));
    if (ordered && InUnit(rel.top) && InUnit(rel.bottom))
        FUZZ_CHECK(Within(pixels.top, frame.top, frame.bottom) &&
                   Within(pixels.bottom, frame.top, frame.bottom));
    if (ordered && InUnit(relPt.horiz) && InUnit(relPt.vert))
        FUZZ_CHECK(Within(pixelPoint.h, frame.left, frame.right) &&
                   Within(pixelPoint.v, frame.top, frame.bottom));
    FUZZ_CHECK(std::isfinite(back.left) && std::isfinite(back.right) && std::isfinite(back.top) &&
               std::isfinite(back.bottom));
    FUZZ_CHECK(std::isfinite(backPoint.horiz) && std::isfinite(backPoint.vert));
    // A point of the frame comes back to itself.
    if (ordered && frame.right > frame.left && frame.bottom > frame.top &&
        Within(point.h, frame.left, frame.right) && Within(point.v, frame.top, frame.bottom)) {
        FUZZ_CHECK(InUnit(backPoint.horiz) && InUnit(backPoint.vert));
    }

    const SInt16 coord = TruncToCoord(value, origin);
    if (std::isnan(value))
        FUZZ_CHECK(coord == origin);
    else if (std::fabs(value) < 65536.0)
        FUZZ_CHECK(coord == SInt16(std::clamp(double(origin) + std::trunc(value), -32768.0, 32767.0)));

    Rect sorted = rect;
    VerifyRect(sorted);
    FUZZ_CHECK(sorted.left <= sorted.right && sorted.top <= sorted.bottom);

    const Rect horizontal = KeepPropsWithFixedHorizontal(rect, frame);
    FUZZ_CHECK(horizontal.left == frame.left && horizontal.top == frame.top &&
               horizontal.right == frame.right);
    const Rect vertical = KeepPropsWithFixedVertical(rect, frame);
    FUZZ_CHECK(vertical.left == frame.left && vertical.top == frame.top &&
               vertical.bottom == frame.bottom);
    const Rect proportional = CalcProportionalRectForFrame(rect, frame);
    FUZZ_CHECK(proportional.left == 0 && proportional.top == 0);

    Rect centred = rect;
    CenterRectInRect(centred, frame);
    return 0;
}
