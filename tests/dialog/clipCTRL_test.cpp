#include "dialog/clipCTRL.h"

#include "DialogTestSupport.h"
#include "dialog/dlgUtils.h"

namespace {

using namespace dialogtest;

TEST(RegionHandles, ReachSixPixelsBeforeAndFiveAfterTheCornerAndSaturateFarMoves)
{
    const Rect region{100, 200, 180, 320};  // top, left, bottom, right
    const std::vector<std::pair<Point, int>> cases = {
        {{100, 200}, kTopLeftHandle}, {{94, 194}, kTopLeftHandle}, {{105, 205}, kTopLeftHandle},
        {{106, 206}, kRectBody},      {{93, 200}, kNoHandle},      {{180, 200}, kBottomLeftHandle},
        {{185, 325}, kBottomRightHandle}, {{186, 320}, kNoHandle}, {{300, 300}, kNoHandle}};
    for (const auto& [where, handle] : cases)
        EXPECT_EQ(IsHandleHit(region, where), handle) << where.v << "," << where.h;

    Rect r{-32000, -32000, 32000, 32000};
    DragCorner(kBottomRightHandle, r, Point{-32000, -32000}, Point{32000, 32000}, 0,
               Rect{0, 0, 480, 720}, relRect{});
    EXPECT_EQ(std::vector<int>({r.top, r.left, r.bottom, r.right}),
              std::vector<int>({-32000, -32000, 32767, 32767}));
}

Rect Grow(Rect r, int top, int left, int bottom, int right)
{
    return Rect{SInt16(r.top + top), SInt16(r.left + left), SInt16(r.bottom + bottom),
                SInt16(r.right + right)};
}

// Fitted to the proportions of theFrame, as shift and keep proportions do.
Rect Props(Rect theFrame, Rect raw)
{
    return theFrame.right - theFrame.left > theFrame.bottom - theFrame.top
               ? KeepPropsWithFixedHorizontal(theFrame, raw)
               : KeepPropsWithFixedVertical(theFrame, raw);
}

struct DragCase {
    const char* name;
    int handle;                 // 1 top-left, 4 bottom-right, 5 body, 0 outside the region
    std::vector<QPoint> moves;  // offsets from the press point
    Qt::KeyboardModifiers mods;
    bool keepProps;
    // The region expected from the region r at the press, of size w × h, and the frame.
    std::function<Rect(Rect r, int w, int h, Rect frame)> expected;
};

const std::vector<DragCase> kCases = {
    {"top-left", 1, {{-4, -3}, {-8, -6}}, Qt::NoModifier, false,
     [](Rect r, int, int, Rect) { return Grow(r, -6, -8, 0, 0); }},
    {"option grows about the centre", 4, {{10, 10}}, Qt::AltModifier, false,
     [](Rect r, int, int, Rect) { return Grow(r, -10, -10, 10, 10); }},
    {"so does ctrl, which window managers leave alone", 1, {{-5, -7}}, Qt::ControlModifier, false,
     [](Rect r, int, int, Rect) { return Grow(r, -7, -5, 7, 5); }},
    {"past the opposite corner flips", 4, {{-10, -6}}, Qt::NoModifier, false,
     [](Rect r, int w, int h, Rect) { return Grow(r, -6, -10, -h, -w); }},
    {"shift keeps the proportions at the click", 4, {{30, 5}}, Qt::ShiftModifier, false,
     [](Rect r, int, int, Rect) { return Props(r, Grow(r, 0, 0, 5, 30)); }},
    {"keep proportions wins over shift", 1, {{-30, -2}}, Qt::ShiftModifier, true,
     [](Rect r, int, int, Rect frame) { return Props(frame, Props(r, Grow(r, -2, -30, 0, 0))); }},
    {"body ignores moves outside the control", 5, {{4, 0}, {-2000, 0}, {9, 2}},
     Qt::ShiftModifier | Qt::AltModifier, false,
     [](Rect r, int, int, Rect) { return Grow(r, 2, 9, 2, 9); }},
    {"a click outside the region starts no drag", 0, {{-10, -10}}, Qt::NoModifier, false,
     [](Rect r, int, int, Rect) { return r; }},
};

using PreviewDrag = DialogFixture;

TEST_F(PreviewDrag, CornersAndBodyGiveTheExpectedRegions)
{
    const relRect start = SetRelRect(0.3, 0.3, 0.6, 0.7);
    std::vector<std::function<void()>> steps;
    size_t dragged = 0;
    for (const DragCase& now : kCases) {
        steps.push_back([&] {
            SCOPED_TRACE(now.name);
            ++dragged;
            fConfig.KeepProps = now.keepProps;
            PutCurrentRel(start);
            const Rect bounds = PreviewFrame(GetControlBox(gConfigWorkSpace.TheFrameCtrl));
            const Rect frame{0, 0, SInt16(bounds.bottom - bounds.top),
                             SInt16(bounds.right - bounds.left)};
            const Rect r = Rel2Rect(start, bounds);
            const int w = r.right - r.left, h = r.bottom - r.top;
            const QPoint from = now.handle == 1   ? QPoint(r.left, r.top)
                                : now.handle == 4 ? QPoint(r.right, r.bottom)
                                : now.handle == 5 ? QPoint(r.left + w / 2, r.top + h / 2)
                                                  : QPoint(r.left - 20, r.top - 20);
            const QPoint flip = std::string(now.name).starts_with("past") ? QPoint(w, h) : QPoint();
            std::vector<QPoint> moves;
            for (QPoint d : now.moves)
                moves.push_back(from + d - flip);
            Drag(Widget(FOUR_CHAR_CODE("Clip"), 1), from, moves, now.mods);
            const relRect got = GetCurrentRel();
            const relRect want = Rect2Rel(now.expected(r, w, h, frame), bounds);
            EXPECT_EQ(std::vector<double>({got.left, got.top, got.right, got.bottom}),
                      std::vector<double>({want.left, want.top, want.right, want.bottom}));
        });
    }
    steps.push_back([] { PressCommand("ok  "); });
    Run(steps);
    EXPECT_EQ(dragged, kCases.size());
}

// Escape during a drag puts back the region of the click and leaves the
// dialog open; the release that follows changes nothing.
TEST_F(PreviewDrag, EscapeMidDragPutsTheRegionBack)
{
    const relRect start = SetRelRect(0.2, 0.3, 0.6, 0.7);
    bool openAfterEscape = false;
    relRect afterEscape{};
    Run({
        [&] {
            PutCurrentRel(start);
            const Rect r = Rel2Rect(start, PreviewFrame(GetControlBox(gConfigWorkSpace.TheFrameCtrl)));
            const QPoint corner(r.right, r.bottom);
            Drag(Widget(FOUR_CHAR_CODE("Clip"), 1), corner,
                 {corner + QPoint(20, 15), corner + QPoint(40, 30), corner + QPoint(50, 35)},
                 Qt::NoModifier, 1);
            afterEscape = GetCurrentRel();
        },
        [&] { openAfterEscape = IsWindowVisible(DialogWindow()); },
        [] { PressCommand("ok  "); },
    });
    EXPECT_TRUE(openAfterEscape);
    for (const relRect& r : {afterEscape, fConfig.StartRel})
        EXPECT_EQ(std::vector<double>({r.left, r.top, r.right, r.bottom}),
                  std::vector<double>({start.left, start.top, start.right, start.bottom}));
}

// Diagonal arrows over the corners, the move cross over the region.
TEST_F(PreviewDrag, TheCursorTellsWhatADragWouldDo)
{
    std::vector<Qt::CursorShape> shapes;
    Run({[&] {
        PutCurrentRel(SetRelRect(0.2, 0.3, 0.6, 0.7));
        QWidget* preview = Widget(FOUR_CHAR_CODE("Clip"), 1);
        const Rect r = Rel2Rect(GetCurrentRel(), PreviewFrame(GetControlBox(gConfigWorkSpace.TheFrameCtrl)));
        for (QPoint p : {QPoint(r.left, r.top), QPoint(r.right, r.top), QPoint(r.left, r.bottom),
                         QPoint(r.right - 3, r.bottom + 2), QPoint((r.left + r.right) / 2, r.top + 20),
                         QPoint(r.left - 20, r.top)}) {
            QMouseEvent hover(QEvent::MouseMove, QPointF(preview->mapFrom(preview->window(), p)),
                              QPointF(preview->window()->mapToGlobal(p)), Qt::NoButton, Qt::NoButton,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(preview, &hover);
            shapes.push_back(preview->cursor().shape());
        }
    }});
    EXPECT_EQ(shapes, (std::vector<Qt::CursorShape>{Qt::SizeFDiagCursor, Qt::SizeBDiagCursor, Qt::SizeBDiagCursor,
                                                    Qt::SizeFDiagCursor, Qt::SizeAllCursor, Qt::ArrowCursor}));
}

}  // namespace
