#include "MacWindows.h"

#include "Controls.h"
#include "UITestSupport.h"

#include <QImage>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <vector>

using namespace uitest;

namespace {

const char kClassID[] = "org.brimtone.test.windows.paint";

std::string DialogForm()
{
    return Form(300, 200,
                Widget("QPushButton", "ok", 200, 160, 80, 30,
                       Std("text", "<string>OK</string>") + Std("default", "<bool>true</bool>") +
                           Text("commandID", "ok  ")) +
                    Widget("QPushButton", "cancel", 110, 160, 80, 30,
                           Std("text", "<string>Cancel</string>") + Text("commandID", "not!")) +
                    Widget("QWidget", "paint", 20, 30, 100, 60,
                           Text("toolboxClass", kClassID) + Text("controlSignature", "Pain") +
                               Number("controlID", 1)));
}

OSStatus RecordCommand(EventHandlerCallRef, EventRef event, void* userData)
{
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    static_cast<std::vector<UInt32>*>(userData)->push_back(command.commandID);
    return noErr;
}

RGBColor gPaintColour{0xFFFF, 0, 0};

OSStatus PaintControl(EventHandlerCallRef, EventRef event, void*)
{
    if (GetEventKind(event) != kEventControlDraw) return eventNotHandledErr;
    ControlRef control = nullptr;
    GetEventParameter(event, kEventParamDirectObject, typeControlRef, nullptr, sizeof control, nullptr, &control);
    Rect bounds;
    GetControlBounds(control, &bounds);
    RGBForeColor(&gPaintColour);
    PaintRect(&bounds);
    return noErr;
}

class WindowsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartQt();
        const EventTypeSpec draw{kEventClassControl, kEventControlDraw};
        RegisterToolboxObjectClass(TBCFSTR(kClassID), nullptr, 1, &draw, PaintControl, nullptr, &paintClass_);
    }
    static void TearDownTestSuite() { UnregisterToolboxObjectClass(paintClass_); }

    WindowsTest() : bundle_("org.brimtone.test.windows")
    {
        bundle_.WriteWindow("dialog", "main", DialogForm());
        cfBundle_ = bundle_.Open();
    }
    ~WindowsTest() override { CFRelease(cfBundle_); }

    static ToolboxObjectClassRef paintClass_;
    TempBundle bundle_;
    CFBundleRef cfBundle_ = nullptr;
};

ToolboxObjectClassRef WindowsTest::paintClass_ = nullptr;

TEST_F(WindowsTest, NestedModalLoopsEndInnermostFirst)
{
    WindowRef outer = OpenWindow(cfBundle_, "dialog", "main");
    WindowRef inner = OpenWindow(cfBundle_, "dialog", "main");
    ASSERT_NE(outer, nullptr);
    ASSERT_NE(inner, nullptr);
    std::vector<std::string> order;
    ShowWindow(outer);
    QTimer::singleShot(0, [&] {
        ShowWindow(inner);
        QTimer::singleShot(0, [&] {
            order.push_back("quit inner");
            QuitAppModalLoopForWindow(inner);
        });
        RunAppModalLoopForWindow(inner);
        order.push_back("inner ended");
        DisposeWindow(inner);
        QTimer::singleShot(0, [&] {
            order.push_back("quit outer");
            QuitAppModalLoopForWindow(outer);
        });
    });
    RunAppModalLoopForWindow(outer);
    order.push_back("outer ended");
    DisposeWindow(outer);
    EXPECT_EQ(order, (std::vector<std::string>{"quit inner", "inner ended", "quit outer", "outer ended"}));
}

TEST_F(WindowsTest, ClosingTheWindowAndEscapeActAsCancelAndReturnAsOK)
{
    WindowRef window = OpenWindow(cfBundle_, "dialog", "main");
    ASSERT_NE(window, nullptr);
    std::vector<UInt32> seen;
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
    InstallEventHandler(GetWindowEventTarget(window), RecordCommand, 1, &spec, &seen, nullptr);
    ShowWindow(window);
    QWidget* widget = TBGetWindowWidget(window);
    EXPECT_FALSE(widget->close());
    EXPECT_TRUE(widget->isVisible());
    QTest::keyClick(widget, Qt::Key_Escape);
    QTest::keyClick(widget, Qt::Key_Return);
    EXPECT_EQ(seen, (std::vector<UInt32>{kHICommandCancel, kHICommandCancel, kHICommandOK}));
    DisposeWindow(window);
}

TEST_F(WindowsTest, UnhandledCloseHidesTheWindowAndEndsItsLoop)
{
    WindowRef window = OpenWindow(cfBundle_, "dialog", "main");
    ASSERT_NE(window, nullptr);
    ShowWindow(window);
    QTimer::singleShot(0, [&] { TBGetWindowWidget(window)->close(); });
    RunAppModalLoopForWindow(window);
    EXPECT_FALSE(IsWindowVisible(window));
    DisposeWindow(window);
}

TEST_F(WindowsTest, PortPixelsShowInTheWindowWithTheirColours)
{
    WindowRef window = OpenWindow(cfBundle_, "dialog", "main");
    ASSERT_NE(window, nullptr);
    ShowWindow(window);
    QWidget* widget = TBGetWindowWidget(window);
    gPaintColour = RGBColor{0xFFFF, 0, 0};
    QImage shot = widget->grab().toImage();
    EXPECT_EQ(shot.pixelColor(70, 60), QColor(255, 0, 0));

    // Colours whose channels differ catch any swap of the byte order.
    gPaintColour = RGBColor{0x1212, 0x3434, 0x5656};
    Draw1Control(Find(window, "Pain", 1));
    shot = widget->grab().toImage();
    EXPECT_EQ(shot.pixelColor(21, 31), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(shot.pixelColor(119, 89), QColor(0x12, 0x34, 0x56));
    EXPECT_NE(shot.pixelColor(121, 91), QColor(0x12, 0x34, 0x56));
    DisposeWindow(window);
}

}  // namespace
