#include "dialog/clipCTRL.h"

#include "DialogTestSupport.h"
#include "MacMemory.h"
#include "dialog/dlgUtils.h"
#include "dialog/sliderHandlers.h"
#include "effect/CallPixelFX.h"

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
            ReRenderAndBlit();
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
            // The edges' fields follow the drag, in whole percent.
            std::vector<int> fields;
            for (SInt16 n = 1; n <= 4; ++n)
                fields.push_back(SimpleGetControlValueByID(DialogWindow(), FOUR_CHAR_CODE("Redg"), n));
            EXPECT_EQ(fields, (std::vector<int>{int(std::lround(got.left * 100)), int(std::lround(got.top * 100)),
                                                int(std::lround(got.right * 100)),
                                                int(std::lround(got.bottom * 100))}));
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
        [&] { openAfterEscape = Shown(DialogWindow()); },
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

// The region's outline shows at every point on a picture of any colour, the
// colour of the outline itself included, for the whole frame too; the handles
// are filled squares of at least nine pixels a unit across.
TEST_F(PreviewDrag, TheOutlineAndHandlesShowOnAnyPicture)
{
    struct Case {
        RGBColor picture;
        relRect region;
    };
    const RGBColor red{0xFFFF, 0, 0}, white{0xFFFF, 0xFFFF, 0xFFFF}, black{0, 0, 0};
    std::vector<Case> cases;
    for (const RGBColor& colour : {red, white, black})
        for (const relRect& region : {SetRelRect(0, 0, 1, 1), SetRelRect(0.25, 0.3, 0.7, 0.8)})
            cases.push_back({colour, region});
    int checked = 0;
    Run({[&] {
        QWidget* preview = Widget(FOUR_CHAR_CODE("Clip"), 1);
        const Rect box = GetControlBox(gConfigWorkSpace.TheFrameCtrl);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.picture.green) + " " + std::to_string(c.region.left));
            // The frame and both colours of the effect are the picture's colour,
            // so the preview is all of it.
            fConfig.Colors[kDarkColor] = fConfig.Colors[kLightColor] = c.picture;
            {
                SavedGWorld saved(fSource);
                RGBForeColor(&c.picture);
                const Rect all = GetPortRect(fSource);
                PaintRect(&all);
            }
            PutCurrentRel(c.region);
            ReRenderAndBlit();
            const QImage shown = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
            if (const char* out = getenv("BRIMTONE_OUTLINE_PNG"))
                shown.save(QString(out) + QString::number(checked) + ".png");
            const int scale = int(preview->devicePixelRatioF());
            const QRgb under = qRgb(c.picture.red >> 8, c.picture.green >> 8, c.picture.blue >> 8);
            const Rect p = PreviewFrame(box);
            const Rect picture{SInt16((p.top - box.top) * scale), SInt16((p.left - box.left) * scale),
                               SInt16((p.bottom - box.top) * scale), SInt16((p.right - box.left) * scale)};
            const Rect region = Rel2Rect(c.region, picture);
            // Two lines, each a unit wide, inside the region: at each point one differs.
            const auto shows = [&](int x, int y, int dx, int dy) {
                bool differs = false;
                for (int i = 0; i < 2 * scale; ++i)
                    differs |= shown.pixel(x + i * dx, y + i * dy) != under;
                return differs;
            };
            // Along the edges between the handles, which cover the outline's ends.
            const int reach = (cHandleSize + 1) * scale;
            int hidden = 0;
            for (int x = region.left + reach; x < region.right - reach; ++x)
                hidden += !shows(x, region.top, 0, 1) + !shows(x, region.bottom - 1, 0, -1);
            for (int y = region.top + reach; y < region.bottom - reach; ++y)
                hidden += !shows(region.left, y, 1, 0) + !shows(region.right - 1, y, -1, 0);
            EXPECT_EQ(hidden, 0);
            // The middle of the region is the picture.
            EXPECT_EQ(shown.pixel((region.left + region.right) / 2, (region.top + region.bottom) / 2), under);
            // The handle on the top-right corner: a black square whose edge
            // spans at least 9 units along the corner's row.
            int first = -1, last = -1;
            const int y = region.top - 4 * scale;
            for (int x = region.right - 12 * scale; x < region.right + 12 * scale; ++x)
                if (x >= 0 && x < shown.width() && y >= 0 && shown.pixel(x, y) == qRgb(0, 0, 0) &&
                    under != qRgb(0, 0, 0)) {
                    if (first < 0)
                        first = x;
                    last = x;
                }
            if (under != qRgb(0, 0, 0)) {
                EXPECT_GE(last - first + 1, 9 * scale);
            }
            // Filled: its middle is white.
            EXPECT_EQ(shown.pixel(region.right, region.top), qRgb(255, 255, 255));
            ++checked;
        }
    }});
    EXPECT_EQ(checked, int(cases.size()));
}

// Each allocation of a redraw failing in turn (on a screen of two pixels to a
// unit: those of the drawing at the screen's pixels too) leaves no block
// behind and the dialog drawing whole again afterwards. This is what the
// PreviewAtTwicePixelRatio run adds to the dialog's allocation sweep.
TEST_F(PreviewDrag, EachAllocationOfARedrawFailingInTurnLeavesNothingBehind)
{
    long failures = 0;
    bool sweptAll = false;
    QRgb outline = 0;
    Run({[&] {
        const long blocks = TBLiveBlockCount();
        for (long n = 1; n <= 500 && !sweptAll; ++n) {
            PutCurrentRel(SetRelRect(0.1 + double(n % 7) / 100, 0.2, 0.7, 0.8));
            TBFailAllocationAfter(n);
            ReRenderAndBlit();
            sweptAll = TBAllocationFailurePending();
            TBFailAllocationAfter(0);
            failures += !sweptAll;
            EXPECT_EQ(TBLiveBlockCount(), blocks) << "allocation " << n;
        }
        fConfig.FrameStartColor = RGBColor{0, 0xFFFF, 0};
        PutCurrentRel(SetRelRect(0.2, 0.2, 0.7, 0.8));
        ReRenderAndBlit();
        QWidget* preview = Widget(FOUR_CHAR_CODE("Clip"), 1);
        const QImage shown = preview->grab().toImage();
        const int scale = int(preview->devicePixelRatioF());
        const Rect box = GetControlBox(gConfigWorkSpace.TheFrameCtrl);
        const Rect p = PreviewFrame(box);
        const Rect picture{SInt16((p.top - box.top) * scale), SInt16((p.left - box.left) * scale),
                           SInt16((p.bottom - box.top) * scale), SInt16((p.right - box.left) * scale)};
        const Rect region = Rel2Rect(GetCurrentRel(), picture);
        outline = shown.pixel((region.left + region.right) / 2, region.top) & 0xFFFFFF;
    }});
    EXPECT_TRUE(sweptAll);
    EXPECT_GT(failures, 0);
    EXPECT_EQ(outline, 0x00FF00u);
}

// On a screen of two pixels to a unit (the PreviewAtTwicePixelRatio run) the
// preview shows the effect worked out at the screen's pixels, not the window's
// picture doubled, with the outline on those pixels. At one pixel to a unit
// it shows the window's own pixels.
TEST_F(PreviewDrag, ThePictureHasTheDetailOfTheScreensPixels)
{
    // A checkerboard of single frame pixels: detail at every pixel.
    {
        PixMapHandle map = GetGWorldPixMap(fSource);
        auto* base = reinterpret_cast<UInt8*>(GetPixBaseAddr(map));
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 720; ++x) {
                UInt8* p = base + y * GetPixRowBytes(map) + x * 4;
                const UInt8 v = ((x ^ y) & 1) ? 230 : UInt8(20 + (x + y) % 90);
                p[0] = 255, p[1] = v, p[2] = v, p[3] = UInt8(255 - v);
            }
    }
    fConfig.FrameStartColor = RGBColor{0xFFFF, 0, 0xFFFF};
    fConfig.Sliders[kThresholdSlider] = 50;  // both colours in the region
    QImage shown;
    QImage windowPixels;  // the control's rectangle in the window's port
    QImage wanted;  // what the effect gives on the frame scaled to the picture's pixels
    Rect picture{};  // in the grabbed image
    Rect region{};   // in the picture
    Run({[&] {
        PutCurrentRel(SetRelRect(0.2, 0.25, 0.8, 0.75));
        ReRenderAndBlit();
        QWidget* preview = Widget(FOUR_CHAR_CODE("Clip"), 1);
        shown = preview->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (const char* out = getenv("BRIMTONE_PREVIEW_PNG"))
            shown.save(out);
        const Rect box = GetControlBox(gConfigWorkSpace.TheFrameCtrl);
        if (preview->devicePixelRatioF() == 1) {
            PixMapHandle port = GetPortPixMap(GetWindowPort(DialogWindow()));
            windowPixels = QImage(box.right - box.left, box.bottom - box.top, QImage::Format_RGB32);
            for (int y = 0; y < windowPixels.height(); ++y)
                for (int x = 0; x < windowPixels.width(); ++x) {
                    const UInt8* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(port)) +
                                     (box.top + y) * GetPixRowBytes(port) + (box.left + x) * 4;
                    windowPixels.setPixel(x, y, qRgb(p[1], p[2], p[3]));
                }
            return;
        }
        ASSERT_EQ(shown.size(), QSize(2 * (box.right - box.left), 2 * (box.bottom - box.top)));
        picture = PreviewFrame(box);
        picture = Rect{SInt16(2 * (picture.top - box.top)), SInt16(2 * (picture.left - box.left)),
                       SInt16(2 * (picture.bottom - box.top)), SInt16(2 * (picture.right - box.left))};
        const SInt16 w = SInt16(picture.right - picture.left), h = SInt16(picture.bottom - picture.top);
        region = Rel2Rect(GetCurrentRel(), Rect{0, 0, h, w});
        GWorldPtr scaled = AllocateGWorld(w, h);
        GWorldPtr effect = AllocateGWorld(w, h);
        ASSERT_TRUE(scaled && effect);
        Source2Target(fSource, scaled);
        CallPixelEffect(scaled, effect);
        PixMapHandle map = GetGWorldPixMap(effect);
        wanted = QImage(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const UInt8* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(map)) + y * GetPixRowBytes(map) + x * 4;
                wanted.setPixel(x, y, qRgb(p[1], p[2], p[3]));
            }
        DisposeGWorld(scaled);
        DisposeGWorld(effect);
    }});
    if (!windowPixels.isNull()) {
        EXPECT_TRUE(shown == windowPixels);
        return;
    }
    ASSERT_FALSE(wanted.isNull()) << "a screen of 1 or 2 pixels to a unit";
    const int w = wanted.width(), h = wanted.height();
    const auto nearOutline = [&](int x, int y) {
        const auto near = [](int v, int edge) { return std::abs(v - edge) <= 2 * cHandleSize + 2; };
        const bool acrossX = x >= region.left - 14 && x <= region.right + 14;
        const bool acrossY = y >= region.top - 14 && y <= region.bottom + 14;
        return (acrossX && (near(y, region.top) || near(y, region.bottom))) ||
               (acrossY && (near(x, region.left) || near(x, region.right)));
    };
    int differing = 0, compared = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (nearOutline(x, y))
                continue;
            ++compared;
            differing += shown.pixel(picture.left + x, picture.top + y) != wanted.pixel(x, y);
        }
    EXPECT_GT(compared, w * h / 2);
    EXPECT_EQ(differing, 0) << "of " << compared << " pixels";

    // Pixel doubling would leave every 2x2 block of one colour.
    int mixedBlocks = 0;
    for (int y = picture.top; y + 1 < picture.bottom; y += 2)
        for (int x = picture.left; x + 1 < picture.right; x += 2)
            mixedBlocks += shown.pixel(x, y) != shown.pixel(x + 1, y) || shown.pixel(x, y) != shown.pixel(x, y + 1);
    EXPECT_GT(mixedBlocks, w * h / 4 / 2);

    // The outline: two pixels wide, on the picture's pixels, in its colour.
    const QRgb outline = qRgb(255, 0, 255);
    const int midX = picture.left + (region.left + region.right) / 2;
    const int midY = picture.top + (region.top + region.bottom) / 2;
    EXPECT_EQ(std::vector<QRgb>({shown.pixel(midX, picture.top + region.top),
                                 shown.pixel(midX, picture.top + region.top + 1),
                                 shown.pixel(picture.left + region.right - 1, midY),
                                 shown.pixel(picture.left + region.right - 2, midY)}),
              std::vector<QRgb>(4, outline));
    EXPECT_NE(shown.pixel(midX, picture.top + region.top - 1), outline);
    EXPECT_NE(shown.pixel(midX, picture.top + region.top + 2), outline);
    EXPECT_NE(shown.pixel(picture.left + region.right, midY), outline);
    EXPECT_NE(shown.pixel(picture.left + region.right - 3, midY), outline);
}

}  // namespace
