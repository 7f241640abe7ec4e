#include "Controls.h"

#include "UITestSupport.h"

#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

using namespace uitest;

namespace {

const char kDragClass[] = "org.brimtone.test.controls.drag";

std::string ControlsForm()
{
    return Form(400, 300,
                Widget("QSlider", "slider", 10, 10, 200, 20,
                       Std("orientation", "<enum>Qt::Horizontal</enum>") + Std("maximum", "<number>100</number>") +
                           Text("controlSignature", "Sldr") + Number("controlID", 1)) +
                    Widget("QCheckBox", "keep", 120, 40, 100, 24,
                           Std("text", "<string>Keep</string>") + Text("controlSignature", "Keep") +
                               Number("controlID", 1) + Text("commandID", "Keep")) +
                    Widget("QPushButton", "other", 120, 70, 100, 24,
                           Std("text", "<string>Other</string>") + Text("commandID", "Othr")) +
                    Widget("QWidget", "drag", 20, 100, 200, 150,
                           Text("toolboxClass", kDragClass) + Text("controlSignature", "Clip") +
                               Number("controlID", 1)));
}

std::vector<std::string> gEvents;
std::vector<Point> gPoints;
UInt32 gTrackModifiers = 0;

OSStatus DragHandler(EventHandlerCallRef, EventRef event, void*)
{
    switch (GetEventKind(event)) {
    case kEventControlHitTest: {
        gEvents.push_back("hittest");
        Point where{};
        GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where);
        gPoints.push_back(where);
        const ControlPartCode part = 1;
        SetEventParameter(event, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
        return noErr;
    }
    case kEventControlTrack:
        gEvents.push_back("track");
        GetEventParameter(event, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof gTrackModifiers, nullptr,
                          &gTrackModifiers);
        for (;;) {
            Point where;
            MouseTrackingResult result = 0;
            TrackMouseLocation(nullptr, &where, &result);
            gEvents.push_back(result == kMouseTrackingMouseUp ? "up" : "drag");
            gPoints.push_back(where);
            if (result == kMouseTrackingMouseUp) break;
        }
        return noErr;
    case kEventControlHit:
        gEvents.push_back("hit");
        return noErr;
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

class ControlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartQt();
        const EventTypeSpec drag[] = {{kEventClassControl, kEventControlHitTest},
                                      {kEventClassControl, kEventControlTrack},
                                      {kEventClassControl, kEventControlHit}};
        RegisterToolboxObjectClass(TBCFSTR(kDragClass), nullptr, 3, drag, DragHandler, nullptr, &dragClass_);
    }
    static void TearDownTestSuite() { UnregisterToolboxObjectClass(dragClass_); }

    ControlsTest() : bundle_("org.brimtone.test.controls")
    {
        bundle_.WriteWindow("controls", "main", ControlsForm());
        CFBundleRef bundle = bundle_.Open();
        window_ = OpenWindow(bundle, "controls", "main");
        CFRelease(bundle);
        gEvents.clear();
        gPoints.clear();
        gCommands = Commands{};
        const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
        InstallEventHandler(GetWindowEventTarget(window_), WindowCommands, 1, &spec, nullptr, nullptr);
        InstallEventHandler(GetApplicationEventTarget(), ApplicationCommands, 1, &spec, nullptr, &appHandler_);
        ShowWindow(window_);
    }
    ~ControlsTest() override
    {
        RemoveEventHandler(appHandler_);
        DisposeWindow(window_);
    }

    QWidget* Child(const char* name) { return TBGetWindowWidget(window_)->findChild<QWidget*>(name); }

    static ToolboxObjectClassRef dragClass_;
    TempBundle bundle_;
    WindowRef window_ = nullptr;
    EventHandlerRef appHandler_ = nullptr;
};

ToolboxObjectClassRef ControlsTest::dragClass_ = nullptr;

TEST_F(ControlsTest, SliderValuesAreClampedToTheRange)
{
    ControlRef slider = Find(window_, "Sldr", 1);
    ASSERT_NE(slider, nullptr);
    SetControl32BitValue(slider, 150);
    EXPECT_EQ(GetControl32BitValue(slider), 100);
    SetControl32BitMaximum(slider, 40);
    EXPECT_EQ(GetControl32BitValue(slider), 40);
    SetControl32BitMinimum(slider, 10);
    SetControl32BitValue(slider, 3);
    EXPECT_EQ(GetControl32BitValue(slider), 10);
}

TEST_F(ControlsTest, ClicksSendCommandsThatUnhandledTravelToTheApplication)
{
    gCommands.watched = Find(window_, "Keep", 1);
    QTest::mouseClick(Child("keep"), Qt::LeftButton);
    EXPECT_EQ(gCommands.window, std::vector<UInt32>{FOUR_CHAR_CODE("Keep")});
    EXPECT_EQ(gCommands.values, std::vector<SInt32>{1});  // the box is checked when the command comes
    QTest::mouseClick(Child("other"), Qt::LeftButton);
    EXPECT_EQ(gCommands.application, std::vector<UInt32>{FOUR_CHAR_CODE("Othr")});
}

TEST_F(ControlsTest, CustomControlFollowsADragThroughTrackMouseLocation)
{
    QWidget* view = Child("drag");
    QTimer::singleShot(0, [view] {
        QTest::mouseMove(view, QPoint(30, 40));
        QTimer::singleShot(0, [view] {
            QTest::mouseMove(view, QPoint(250, 40));  // outside: still reported
            QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(60, 70));
        });
    });
    QTest::mousePress(view, Qt::LeftButton, Qt::ShiftModifier | Qt::AltModifier, QPoint(10, 20));

    EXPECT_EQ(gEvents, (std::vector<std::string>{"hittest", "track", "drag", "drag", "up", "hit"}));
    EXPECT_EQ(gTrackModifiers, UInt32(shiftKey | optionKey));
    ASSERT_EQ(gPoints.size(), 4u);
    // Window coordinates: the view sits at (20, 100).
    EXPECT_EQ(gPoints[0].h, 30);
    EXPECT_EQ(gPoints[0].v, 120);
    EXPECT_EQ(gPoints[2].h, 270);
    EXPECT_EQ(gPoints[3].h, 80);
    EXPECT_EQ(gPoints[3].v, 170);
}

}  // namespace
