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

struct Commands {
    std::vector<UInt32> seen;
    WindowRef window = nullptr;
    bool quit = true;
};

OSStatus RecordCommand(EventHandlerCallRef, EventRef event, void* userData)
{
    auto* commands = static_cast<Commands*>(userData);
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    commands->seen.push_back(command.commandID);
    if (commands->quit) QuitAppModalLoopForWindow(commands->window);
    return noErr;
}

void InstallCommands(WindowRef window, Commands& commands)
{
    commands.window = window;
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
    InstallEventHandler(GetWindowEventTarget(window), RecordCommand, 1, &spec, &commands, nullptr);
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
        bundle_.WriteWindow("dialog", "broken", "this is not a form");
        cfBundle_ = bundle_.Open();
    }
    ~WindowsTest() override { CFRelease(cfBundle_); }

    static ToolboxObjectClassRef paintClass_;
    TempBundle bundle_;
    CFBundleRef cfBundle_ = nullptr;
};

ToolboxObjectClassRef WindowsTest::paintClass_ = nullptr;

TEST_F(WindowsTest, NibWindowsComeFromUiFilesOfTheBundleFoundByIdentifier)
{
    CFBundleRef found = CFBundleGetBundleWithIdentifier(CFSTR("org.brimtone.test.windows"));
    ASSERT_EQ(found, cfBundle_);

    IBNibRef nib = nullptr;
    EXPECT_EQ(CreateNibReferenceWithCFBundle(found, CFSTR("missing"), &nib), kIBCarbonRuntimeCantFindNibFile);
    EXPECT_EQ(nib, nullptr);
    ASSERT_EQ(CreateNibReferenceWithCFBundle(found, CFSTR("dialog"), &nib), noErr);
    WindowRef window = nullptr;
    EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("nowhere"), &window), kIBCarbonRuntimeCantFindObject);
    EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("broken"), &window), kIBCarbonRuntimeObjectNotOfRequestedType);
    EXPECT_EQ(window, nullptr);
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("main"), &window), noErr);
    DisposeNibReference(nib);

    EXPECT_FALSE(IsWindowVisible(window));
    Rect port;
    GetWindowPortBounds(window, &port);
    EXPECT_EQ(port.right, 300);
    EXPECT_EQ(port.bottom, 200);
    ShowWindow(window);
    EXPECT_TRUE(IsWindowVisible(window));
    DisposeWindow(window);
    EXPECT_EQ(GetWindowPort(window), nullptr);
    EXPECT_EQ(GetWindowEventTarget(window), nullptr);
}

TEST_F(WindowsTest, ModalLoopEndsWhenTheCommandHandlerQuitsIt)
{
    WindowRef window = OpenWindow(cfBundle_, "dialog", "main");
    ASSERT_NE(window, nullptr);
    Commands commands;
    InstallCommands(window, commands);
    ShowWindow(window);
    QTimer::singleShot(0, [&] {
        QTest::mouseClick(TBGetWindowWidget(window)->findChild<QWidget*>("ok"), Qt::LeftButton);
    });
    EXPECT_EQ(RunAppModalLoopForWindow(window), noErr);
    EXPECT_EQ(commands.seen, std::vector<UInt32>{kHICommandOK});
    EXPECT_EQ(QuitAppModalLoopForWindow(window), errInvalidWindowRef);
    DisposeWindow(window);
}

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
    Commands commands;
    commands.quit = false;
    InstallCommands(window, commands);
    ShowWindow(window);
    QWidget* widget = TBGetWindowWidget(window);
    EXPECT_FALSE(widget->close());
    EXPECT_TRUE(widget->isVisible());
    QTest::keyClick(widget, Qt::Key_Escape);
    QTest::keyClick(widget, Qt::Key_Return);
    EXPECT_EQ(commands.seen, (std::vector<UInt32>{kHICommandCancel, kHICommandCancel, kHICommandOK}));
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
    EXPECT_NE(shot.pixelColor(150, 60), QColor(255, 0, 0));

    // Colours whose channels differ catch any swap of the byte order.
    gPaintColour = RGBColor{0x1212, 0x3434, 0x5656};
    Draw1Control(Find(window, "Pain", 1));
    shot = widget->grab().toImage();
    EXPECT_EQ(shot.pixelColor(21, 31), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(shot.pixelColor(119, 89), QColor(0x12, 0x34, 0x56));
    EXPECT_NE(shot.pixelColor(121, 91), QColor(0x12, 0x34, 0x56));
    shot.save(QString::fromStdString((bundle_.Path().parent_path() / "window.png").string()));
    DisposeWindow(window);
}

}  // namespace
