#include "dialog/clipCTRL.h"

#include "DialogTestSupport.h"
#include "dialog/dlgUtils.h"

namespace {

using namespace dialogtest;

constexpr OSType kClip = FOUR_CHAR_CODE("Clip");

struct DragCase {
    const char* name;
    int handle;  // 1 top-left, 4 bottom-right, 5 body, 0 a click outside the region
    std::vector<QPoint> steps;  // mouse offsets from the press point
    Qt::KeyboardModifiers mods;
    bool keepProps;
    // The expected rectangle from the region r at the press and the control's bounds.
    std::function<Rect(Rect r, Rect bounds)> expected;
};

Rect Offset(Rect r, int dh, int dv)
{
    return Rect{SInt16(r.top + dv), SInt16(r.left + dh), SInt16(r.bottom + dv), SInt16(r.right + dh)};
}

QPoint PressPoint(int handle, Rect r)
{
    switch (handle) {
    case 1: return QPoint(r.left, r.top);
    case 4: return QPoint(r.right, r.bottom);
    case 5: return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    default: return QPoint(r.left - 20, r.top - 20);
    }
}

Rect FrameProps(Rect raw, Rect bounds)
{
    const Rect frame{0, 0, SInt16(bounds.bottom - bounds.top), SInt16(bounds.right - bounds.left)};
    return frame.right > frame.bottom ? KeepPropsWithFixedHorizontal(frame, raw)
                                      : KeepPropsWithFixedVertical(frame, raw);
}

const std::vector<DragCase>& Cases()
{
    static const std::vector<DragCase> kCases = {
        {"top-left", 1, {{-4, -3}, {-8, -6}}, Qt::NoModifier, false,
         [](Rect r, Rect) { return Rect{SInt16(r.top - 6), SInt16(r.left - 8), r.bottom, r.right}; }},
        {"option grows about the centre", 4, {{10, 10}}, Qt::AltModifier, false,
         [](Rect r, Rect) {
             return Rect{SInt16(r.top - 10), SInt16(r.left - 10), SInt16(r.bottom + 10), SInt16(r.right + 10)};
         }},
        // Steps of this case are taken past the region's own size.
        {"past the opposite corner flips", 4, {{-10, -6}}, Qt::NoModifier, false,
         [](Rect r, Rect) { return Rect{SInt16(r.top - 6), SInt16(r.left - 10), r.top, r.left}; }},
        {"shift keeps the proportions at the click", 4, {{30, 5}}, Qt::ShiftModifier, false,
         [](Rect r, Rect) {
             const Rect raw{r.top, r.left, SInt16(r.bottom + 5), SInt16(r.right + 30)};
             return r.right - r.left > r.bottom - r.top ? KeepPropsWithFixedHorizontal(r, raw)
                                                        : KeepPropsWithFixedVertical(r, raw);
         }},
        {"keep proportions wins over shift", 1, {{-30, -2}}, Qt::ShiftModifier, true,
         [](Rect r, Rect bounds) {
             const Rect raw{SInt16(r.top - 2), SInt16(r.left - 30), r.bottom, r.right};
             const Rect shifted = r.right - r.left > r.bottom - r.top
                                      ? KeepPropsWithFixedHorizontal(r, raw)
                                      : KeepPropsWithFixedVertical(r, raw);
             return FrameProps(shifted, bounds);
         }},
        {"body moves by each step", 5, {{5, 5}, {15, -9}}, Qt::NoModifier, false,
         [](Rect r, Rect) { return Offset(r, 15, -9); }},
        {"body ignores moves outside the control", 5, {{4, 0}, {-2000, 0}, {9, 2}},
         Qt::ShiftModifier | Qt::AltModifier, false, [](Rect r, Rect) { return Offset(r, 9, 2); }},
        {"a click outside the region starts no drag", 0, {{-10, -10}}, Qt::NoModifier, false,
         [](Rect r, Rect) { return r; }},
    };
    return kCases;
}

using PreviewDrag = DialogFixture;

TEST_F(PreviewDrag, CornersAndBodyGiveTheExpectedRegions)
{
    const relRect start = SetRelRect(0.3, 0.3, 0.6, 0.7);
    std::vector<std::pair<relRect, relRect>> results;  // got, wanted
    std::vector<std::function<void()>> steps;
    for (size_t i = 0; i < Cases().size(); ++i) {
        steps.push_back([&] {
            const DragCase& now = Cases()[results.size()];
            fConfig.KeepProps = now.keepProps;
            PutCurrentRel(start);
            QWidget* preview = Widget(kClip, 1);
            ASSERT_NE(preview, nullptr);
            const Rect bounds = GetControlBox(gConfigWorkSpace.TheFrameCtrl);
            const Rect r = Rel2Rect(start, bounds);
            const QPoint from = PressPoint(now.handle, r);
            std::vector<QPoint> moves;
            const bool pastOpposite = std::string(now.name).starts_with("past");
            for (QPoint d : now.steps)
                moves.push_back(from + d -
                                (pastOpposite ? QPoint(r.right - r.left, r.bottom - r.top) : QPoint()));
            PostDrag(preview, from, moves, now.mods);
            QCoreApplication::sendPostedEvents();
            results.push_back({GetCurrentRel(), Rect2Rel(now.expected(r, bounds), bounds)});
        });
    }
    steps.push_back([] { PressCommand("ok  "); });
    Run(steps);

    ASSERT_EQ(results.size(), Cases().size());
    for (size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(Cases()[i].name);
        EXPECT_DOUBLE_EQ(results[i].first.left, results[i].second.left);
        EXPECT_DOUBLE_EQ(results[i].first.right, results[i].second.right);
        EXPECT_DOUBLE_EQ(results[i].first.top, results[i].second.top);
        EXPECT_DOUBLE_EQ(results[i].first.bottom, results[i].second.bottom);
    }
}

}  // namespace
