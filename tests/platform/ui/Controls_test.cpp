#include "Controls.h"

#include "UITestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

using namespace uitest;

namespace {

const char kDragClass[] = "org.brimtone.test.controls.drag";
const char kBoxClass[] = "org.brimtone.test.controls.box";

std::string ControlsForm()
{
    return Form(400, 300,
                Widget("QSlider", "slider", 10, 10, 200, 20,
                       Std("orientation", "<enum>Qt::Horizontal</enum>") + Std("maximum", "<number>100</number>") +
                           Text("controlSignature", "Sldr") + Number("controlID", 1)) +
                    Widget("QLabel", "legend", 220, 10, 60, 20,
                           Std("text", "<string>0%</string>") + Text("controlSignature", "Lgnd") +
                               Number("controlID", 1)) +
                    Widget("QComboBox", "media", 10, 40, 100, 24,
                           "<item><property name=\"text\"><string>NTSC</string></property></item>"
                           "<item><property name=\"text\"><string>PAL</string></property></item>"
                           "<item><property name=\"text\"><string>HD</string></property></item>"
                           "<item><property name=\"text\"><string>PAL</string></property></item>" +
                               Text("controlSignature", "Medi") + Number("controlID", 1) +
                               Text("commandID", "Medi")) +
                    Widget("QCheckBox", "keep", 120, 40, 100, 24,
                           Std("text", "<string>Keep</string>") + Text("controlSignature", "Keep") +
                               Number("controlID", 1) + Text("commandID", "Keep")) +
                    Widget("QLineEdit", "edit", 10, 70, 100, 24,
                           Text("controlSignature", "Edit") + Number("controlID", 1)) +
                    Widget("QPushButton", "other", 120, 70, 100, 24,
                           Std("text", "<string>Other</string>") + Text("commandID", "Othr")) +
                    Widget("QWidget", "drag", 20, 100, 200, 150,
                           Text("toolboxClass", kDragClass) + Text("controlSignature", "Clip") +
                               Number("controlID", 1)) +
                    Widget("QWidget", "box", 250, 100, 40, 40,
                           Text("toolboxClass", kBoxClass) + Text("controlSignature", "Colr") +
                               Number("controlID", 1) + Text("commandID", "Col1")) +
                    Widget("QWidget", "unknown", 300, 100, 40, 40,
                           Text("toolboxClass", "org.brimtone.test.nobody") + Text("controlSignature", "None") +
                               Number("controlID", 1)));
}

struct Log {
    std::vector<std::string> events;
    std::vector<Point> points;
    UInt32 trackModifiers = 0;
    int draws = 0;
    ControlPartCode hiliteSeenInDraw = 0;
};
Log gLog;
bool gRefuseHits = false;

ControlRef DirectControl(EventRef event)
{
    ControlRef control = nullptr;
    GetEventParameter(event, kEventParamDirectObject, typeControlRef, nullptr, sizeof control, nullptr, &control);
    return control;
}

OSStatus HitTestInside(EventRef event)
{
    Point where{};
    GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where);
    Rect bounds;
    GetControlBounds(DirectControl(event), &bounds);
    const ControlPartCode part = PtInRect(where, &bounds) && !gRefuseHits ? 1 : 0;
    gLog.points.push_back(where);
    SetEventParameter(event, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    return noErr;
}

OSStatus DragHandler(EventHandlerCallRef, EventRef event, void*)
{
    switch (GetEventKind(event)) {
    case kEventControlDraw:
        ++gLog.draws;
        return noErr;
    case kEventControlHitTest:
        gLog.events.push_back("hittest");
        return HitTestInside(event);
    case kEventControlTrack: {
        gLog.events.push_back("track");
        GetEventParameter(event, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof gLog.trackModifiers, nullptr,
                          &gLog.trackModifiers);
        for (;;) {
            Point where;
            MouseTrackingResult result = 0;
            TrackMouseLocation(nullptr, &where, &result);
            gLog.events.push_back(result == kMouseTrackingMouseUp ? "up" : "drag");
            gLog.points.push_back(where);
            if (result == kMouseTrackingMouseUp) break;
        }
        return noErr;
    }
    case kEventControlHit:
        gLog.events.push_back("hit");
        return noErr;
    default:
        return eventNotHandledErr;
    }
}

OSStatus BoxHandler(EventHandlerCallRef, EventRef event, void*)
{
    switch (GetEventKind(event)) {
    case kEventControlDraw:
        ++gLog.draws;
        gLog.hiliteSeenInDraw = std::max(gLog.hiliteSeenInDraw, GetControlHilite(DirectControl(event)));
        return noErr;
    case kEventControlHitTest:
        return HitTestInside(event);
    case kEventControlHit:
        gLog.events.push_back("box hit");
        SetControl32BitValue(DirectControl(event), 0x00FF00);
        return eventNotHandledErr;  // the standard handling sends the command
    default:
        return eventNotHandledErr;
    }
}

struct Commands {
    std::vector<UInt32> window;
    std::vector<UInt32> application;
    std::vector<SInt32> values;
    ControlRef watched = nullptr;
};
Commands gCommands;

OSStatus WindowCommands(EventHandlerCallRef, EventRef event, void*)
{
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    if (command.commandID == FOUR_CHAR_CODE("Othr")) return eventNotHandledErr;
    gCommands.window.push_back(command.commandID);
    if (gCommands.watched != nullptr) gCommands.values.push_back(GetControl32BitValue(gCommands.watched));
    return noErr;
}

OSStatus ApplicationCommands(EventHandlerCallRef, EventRef event, void*)
{
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    gCommands.application.push_back(command.commandID);
    return noErr;
}

std::vector<SInt32> gActionValues;
void SliderAction(ControlRef control, ControlPartCode)
{
    gActionValues.push_back(GetControl32BitValue(control));
}

class ControlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartQt();
        const EventTypeSpec drag[] = {{kEventClassControl, kEventControlDraw},
                                      {kEventClassControl, kEventControlHitTest},
                                      {kEventClassControl, kEventControlTrack},
                                      {kEventClassControl, kEventControlHit}};
        RegisterToolboxObjectClass(TBCFSTR(kDragClass), nullptr, 4, drag, DragHandler, nullptr, &dragClass_);
        const EventTypeSpec box[] = {{kEventClassControl, kEventControlDraw},
                                     {kEventClassControl, kEventControlHitTest},
                                     {kEventClassControl, kEventControlHit}};
        RegisterToolboxObjectClass(TBCFSTR(kBoxClass), nullptr, 3, box, BoxHandler, nullptr, &boxClass_);
    }
    static void TearDownTestSuite()
    {
        UnregisterToolboxObjectClass(dragClass_);
        UnregisterToolboxObjectClass(boxClass_);
    }

    ControlsTest() : bundle_("org.brimtone.test.controls")
    {
        bundle_.WriteWindow("controls", "main", ControlsForm());
        CFBundleRef bundle = bundle_.Open();
        window_ = OpenWindow(bundle, "controls", "main");
        CFRelease(bundle);
        gLog = Log{};
        gCommands = Commands{};
        gActionValues.clear();
        const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
        InstallEventHandler(GetWindowEventTarget(window_), WindowCommands, 1, &spec, nullptr, nullptr);
        InstallEventHandler(GetApplicationEventTarget(), ApplicationCommands, 1, &spec, nullptr, &appHandler_);
    }
    ~ControlsTest() override
    {
        RemoveEventHandler(appHandler_);
        DisposeWindow(window_);
    }

    QWidget* Child(const char* name) { return TBGetWindowWidget(window_)->findChild<QWidget*>(name); }

    static ToolboxObjectClassRef dragClass_;
    static ToolboxObjectClassRef boxClass_;
    TempBundle bundle_;
    WindowRef window_ = nullptr;
    EventHandlerRef appHandler_ = nullptr;
};

ToolboxObjectClassRef ControlsTest::dragClass_ = nullptr;
ToolboxObjectClassRef ControlsTest::boxClass_ = nullptr;

TEST_F(ControlsTest, ControlsAreFoundBySignatureAndIDOnly)
{
    ASSERT_NE(window_, nullptr);
    ControlRef slider = Find(window_, "Sldr", 1);
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(TBGetControlWidget(slider), Child("slider"));
    EXPECT_EQ(GetControlOwner(slider), window_);
    EXPECT_EQ(Find(window_, "Sldr", 2), nullptr);
    EXPECT_EQ(Find(window_, "None", 1), nullptr);  // its class is not registered
    const ControlID missing{FOUR_CHAR_CODE("Sldr"), 2};
    ControlRef control = slider;
    EXPECT_EQ(GetControlByID(window_, &missing, &control), errUnknownControl);
    EXPECT_EQ(control, nullptr);

    Rect bounds;
    GetControlBounds(Find(window_, "Clip", 1), &bounds);
    EXPECT_EQ(bounds.left, 20);
    EXPECT_EQ(bounds.top, 100);
    EXPECT_EQ(bounds.right, 220);
    EXPECT_EQ(bounds.bottom, 250);
}

TEST_F(ControlsTest, ValuesStayWithinTheRangeOfEachKind)
{
    ControlRef slider = Find(window_, "Sldr", 1);
    SetControl32BitValue(slider, 150);
    EXPECT_EQ(GetControl32BitValue(slider), 100);
    SetControl32BitMaximum(slider, 40);
    EXPECT_EQ(GetControl32BitMaximum(slider), 40);
    EXPECT_EQ(GetControl32BitValue(slider), 40);
    SetControl32BitMinimum(slider, 10);
    SetControl32BitValue(slider, 3);
    EXPECT_EQ(GetControl32BitValue(slider), 10);

    ControlRef box = Find(window_, "Colr", 1);
    SetControl32BitMinimum(box, 0);
    SetControl32BitMaximum(box, 0xFFFFFF);
    SetControl32BitValue(box, 0x1000000);
    EXPECT_EQ(GetControl32BitValue(box), 0xFFFFFF);
    SetControl32BitValue(box, -5);
    EXPECT_EQ(GetControl32BitValue(box), 0);

    ControlRef keep = Find(window_, "Keep", 1);
    SetControl32BitValue(keep, 1);
    EXPECT_EQ(GetControl32BitValue(keep), 1);
    EXPECT_EQ(GetControl32BitMaximum(keep), 1);

    ControlRef media = Find(window_, "Medi", 1);
    SetControl32BitValue(media, 3);
    EXPECT_EQ(GetControl32BitValue(media), 3);
    EXPECT_EQ(static_cast<QComboBox*>(Child("media"))->currentText(), "HD");
    EXPECT_EQ(GetControl32BitMaximum(media), 4);
    Str255 item;
    GetMenuItemText(GetControlPopupMenuHandle(media), 2, item);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(item + 1), item[0]), "PAL");
    GetMenuItemText(GetControlPopupMenuHandle(media), 5, item);
    EXPECT_EQ(item[0], 0);
    EXPECT_EQ(CountMenuItems(GetControlPopupMenuHandle(media)), 4);
    EXPECT_TRUE(gCommands.window.empty());  // values set by code send nothing
}

TEST_F(ControlsTest, TextDataIsMacRomanAndCutToTheBuffer)
{
    ControlRef legend = Find(window_, "Lgnd", 1);
    const unsigned char roman[] = {'4', '2', 0x8E, '%'};  // 0x8E is e acute
    ASSERT_EQ(SetControlData(legend, 0, kControlStaticTextTextTag, sizeof roman, roman), noErr);
    EXPECT_EQ(static_cast<QLabel*>(Child("legend"))->text(), QString::fromUtf8("42\xC3\xA9%"));

    ControlRef edit = Find(window_, "Edit", 1);
    const std::string longText(300, 'x');
    CFStringRef text = TBCFStringCreateWithUTF8(longText);
    ASSERT_EQ(SetControlData(edit, 0, kControlEditTextCFStringTag, sizeof text, &text), noErr);
    CFRelease(text);
    unsigned char buffer[255];
    Size actual = 0;
    ASSERT_EQ(GetControlData(edit, 0, kControlEditTextTextTag, sizeof buffer, buffer, &actual), noErr);
    EXPECT_EQ(actual, 300);
    EXPECT_EQ(buffer[254], 'x');

    const ControlEditTextSelectionRec selection{2, 5};
    ASSERT_EQ(SetControlData(edit, 0, kControlEditTextSelectionTag, sizeof selection, &selection), noErr);
    EXPECT_EQ(static_cast<QLineEdit*>(Child("edit"))->selectedText(), "xxx");

    unsigned char back[8];
    ASSERT_EQ(GetControlData(legend, 0, kControlStaticTextTextTag, sizeof back, back, &actual), noErr);
    EXPECT_EQ(actual, 4);
    EXPECT_EQ(back[2], 0x8E);
    EXPECT_EQ(SetControlData(legend, 0, FOUR_CHAR_CODE("what"), 0, nullptr), errDataNotSupported);
}

TEST_F(ControlsTest, ClicksSendCommandsThatUnhandledTravelToTheApplication)
{
    ShowWindow(window_);
    gCommands.watched = Find(window_, "Keep", 1);
    QTest::mouseClick(Child("keep"), Qt::LeftButton);
    EXPECT_EQ(gCommands.window, std::vector<UInt32>{FOUR_CHAR_CODE("Keep")});
    EXPECT_EQ(gCommands.values, std::vector<SInt32>{1});  // the box is checked when the command comes

    QTest::mouseClick(Child("other"), Qt::LeftButton);
    EXPECT_EQ(gCommands.application, std::vector<UInt32>{FOUR_CHAR_CODE("Othr")});

    static_cast<QComboBox*>(Child("media"))->activated(1);
    EXPECT_EQ(gCommands.window.back(), FOUR_CHAR_CODE("Medi"));
}

TEST_F(ControlsTest, SliderActionRunsOnEveryUserMoveButNotForCodeChanges)
{
    ControlRef slider = Find(window_, "Sldr", 1);
    SetControlAction(slider, SliderAction);
    SetControl32BitValue(slider, 30);
    EXPECT_TRUE(gActionValues.empty());

    auto* widget = static_cast<QSlider*>(Child("slider"));
    widget->setSliderDown(true);
    widget->setSliderPosition(31);
    widget->setSliderPosition(35);
    EXPECT_EQ(gActionValues, (std::vector<SInt32>{31, 35}));
    widget->setSliderDown(false);
    EXPECT_EQ(GetControl32BitValue(slider), 35);
}

TEST_F(ControlsTest, CustomControlFollowsADragThroughTrackMouseLocation)
{
    ShowWindow(window_);
    QWidget* view = Child("drag");
    view->grab();
    EXPECT_GE(gLog.draws, 1);

    QTimer::singleShot(0, [view] {
        QTest::mouseMove(view, QPoint(30, 40));
        QTimer::singleShot(0, [view] {
            QTest::mouseMove(view, QPoint(250, 40));  // outside: still reported
            QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(60, 70));
        });
    });
    QTest::mousePress(view, Qt::LeftButton, Qt::ShiftModifier | Qt::AltModifier, QPoint(10, 20));

    EXPECT_EQ(gLog.events, (std::vector<std::string>{"hittest", "track", "drag", "drag", "up", "hit"}));
    EXPECT_EQ(gLog.trackModifiers, UInt32(shiftKey | optionKey));
    ASSERT_EQ(gLog.points.size(), 4u);
    // Window coordinates: the view sits at (20, 100).
    EXPECT_EQ(gLog.points[0].h, 30);
    EXPECT_EQ(gLog.points[0].v, 120);
    EXPECT_EQ(gLog.points[1].h, 50);
    EXPECT_EQ(gLog.points[2].h, 270);
    EXPECT_EQ(gLog.points[3].h, 80);
    EXPECT_EQ(gLog.points[3].v, 170);
}

TEST_F(ControlsTest, ClickOnNoPartStartsNoTracking)
{
    ShowWindow(window_);
    gRefuseHits = true;
    QTest::mousePress(Child("drag"), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(Child("drag"), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    gRefuseHits = false;
    EXPECT_EQ(gLog.events, std::vector<std::string>{"hittest"});
}

TEST_F(ControlsTest, StandardTrackingHilitesThenHitSendsTheCommand)
{
    ShowWindow(window_);
    ControlRef box = Find(window_, "Colr", 1);
    gCommands.watched = box;
    QWidget* view = Child("box");
    QTimer::singleShot(0, [view] { QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5)); });
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(gLog.hiliteSeenInDraw, 1);
    EXPECT_EQ(GetControlHilite(box), 0);
    EXPECT_EQ(gLog.events, std::vector<std::string>{"box hit"});
    EXPECT_EQ(gCommands.window, std::vector<UInt32>{FOUR_CHAR_CODE("Col1")});
    EXPECT_EQ(gCommands.values, std::vector<SInt32>{0x00FF00});
}

TEST_F(ControlsTest, CustomControlRedrawsWhenItsValueOrStateChanges)
{
    ShowWindow(window_);
    ControlRef clip = Find(window_, "Clip", 1);
    Child("drag")->grab();
    const int before = gLog.draws;
    SetControl32BitValue(clip, GetControl32BitValue(clip) == 0 ? 1 : 0);
    EXPECT_EQ(gLog.draws, before + 1);
    SetControl32BitValue(clip, GetControl32BitValue(clip));
    EXPECT_EQ(gLog.draws, before + 1);  // the same value draws nothing
    DisableControl(clip);
    EXPECT_EQ(GetControlHilite(clip), kControlDisabledPart);
    EXPECT_EQ(gLog.draws, before + 2);
    HideControl(clip);
    EXPECT_FALSE(IsControlVisible(clip));
    Draw1Control(clip);
    EXPECT_EQ(gLog.draws, before + 2);  // hidden controls are not drawn
}

TEST_F(ControlsTest, DeadReferencesAreIgnored)
{
    ControlRef slider = Find(window_, "Sldr", 1);
    DisposeWindow(window_);
    window_ = nullptr;
    EXPECT_EQ(GetControl32BitValue(slider), 0);
    SetControl32BitValue(slider, 3);
    EXPECT_EQ(GetControlOwner(slider), nullptr);
    EXPECT_EQ(GetControlEventTarget(slider), nullptr);
}

}  // namespace
