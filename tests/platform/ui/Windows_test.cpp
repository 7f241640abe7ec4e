#include "MacWindows.h"

#include "Controls.h"
#include "UITestSupport.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <vector>

using namespace uitest;

namespace {

const char kClassID[] = "org.brimtone.test.windows.paint";

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
        bundle_.WriteWindow("dialog", "main",
                            Form(300, 200,
                                 Widget("QWidget", "paint", 20, 30, 100, 60,
                                        Text("toolboxClass", kClassID) + Identity("Pain", 1))));
        cfBundle_ = bundle_.Open();
    }
    ~WindowsTest() override { CFRelease(cfBundle_); }

    static ToolboxObjectClassRef paintClass_;
    TempBundle bundle_;
    CFBundleRef cfBundle_ = nullptr;
};

ToolboxObjectClassRef WindowsTest::paintClass_ = nullptr;

TEST_F(WindowsTest, NestedModalLoopsEndInnermostFirstAndAnUnhandledCloseEndsOne)
{
    WindowRef outer = OpenWindow(cfBundle_, "dialog", "main");
    WindowRef inner = OpenWindow(cfBundle_, "dialog", "main");
    ASSERT_TRUE(outer != nullptr && inner != nullptr);
    std::vector<std::string> order;
    ShowWindow(outer);
    QTimer::singleShot(0, [&] {
        ShowWindow(inner);
        QTimer::singleShot(0, [&] {
            order.push_back("close inner");
            TBGetWindowWidget(inner)->close();  // no handler takes the close
        });
        RunAppModalLoopForWindow(inner);
        order.push_back("inner ended");
        EXPECT_FALSE(TBGetWindowWidget(inner)->isVisible());
        DisposeWindow(inner);
        QTimer::singleShot(0, [&] {
            order.push_back("quit outer");
            QuitAppModalLoopForWindow(outer);
        });
    });
    RunAppModalLoopForWindow(outer);
    order.push_back("outer ended");
    DisposeWindow(outer);
    EXPECT_EQ(order, (std::vector<std::string>{"close inner", "inner ended", "quit outer", "outer ended"}));
}

TEST_F(WindowsTest, PortPixelsShowInTheWindowWithTheirColours)
{
    WindowRef window = OpenWindow(cfBundle_, "dialog", "main");
    ASSERT_NE(window, nullptr);
    ShowWindow(window);
    QWidget* widget = TBGetWindowWidget(window);
    EXPECT_EQ(widget->grab().toImage().pixelColor(70, 60), QColor(255, 0, 0));  // drawn when shown
    // Channels that all differ catch any swap of the byte order.
    gPaintColour = RGBColor{0x1212, 0x3434, 0x5656};
    Draw1Control(Find(window, "Pain", 1));
    const QImage shot = widget->grab().toImage();
    EXPECT_EQ(shot.pixelColor(21, 31), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(shot.pixelColor(119, 89), QColor(0x12, 0x34, 0x56));
    EXPECT_NE(shot.pixelColor(121, 91), QColor(0x12, 0x34, 0x56));
    DisposeWindow(window);
}

}  // namespace
