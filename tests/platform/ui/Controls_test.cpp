#include "Controls.h"

#include "UITestSupport.h"

#include <QTest>

#include <string>
#include <vector>

using namespace uitest;

namespace {

// The window declines "Othr" and notes the check box's value when "Keep"
// comes; the application takes all.
std::vector<std::string> gSeen;

OSStatus Commands(EventHandlerCallRef, EventRef event, void* window)
{
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    const bool keep = command.commandID == FOUR_CHAR_CODE("Keep");
    if (window == nullptr) {
        gSeen.push_back(keep ? "application Keep" : "application other");
    } else if (keep) {
        gSeen.push_back("window Keep " + std::to_string(GetControl32BitValue(Find(WindowRef(window), "Keep", 1))));
    } else {
        return eventNotHandledErr;
    }
    return noErr;
}

TEST(Controls, ClicksSendCommandsThatUnhandledTravelToTheApplication)
{
    StartQt();
    TempBundle bundle("org.brimtone.test.controls");
    const std::string text = "<property name=\"text\"><string>Keep</string></property>";
    bundle.WriteWindow("controls", "main",
                       Form(400, 300,
                            Widget("QCheckBox", "keep", 120, 40, 100, 24,
                                   text + Identity("Keep", 1) + Text("commandID", "Keep")) +
                                Widget("QPushButton", "other", 120, 70, 100, 24, Text("commandID", "Othr"))));
    CFBundleRef cfBundle = bundle.Open();
    WindowRef window = OpenWindow(cfBundle, "controls", "main");
    CFRelease(cfBundle);
    ASSERT_NE(window, nullptr);
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
    InstallEventHandler(GetWindowEventTarget(window), Commands, 1, &spec, window, nullptr);
    InstallEventHandler(GetApplicationEventTarget(), Commands, 1, &spec, nullptr, nullptr);
    ShowWindow(window);
    QWidget* widget = TBGetWindowWidget(window);
    QTest::mouseClick(widget->findChild<QWidget*>("keep"), Qt::LeftButton);
    QTest::mouseClick(widget->findChild<QWidget*>("other"), Qt::LeftButton);
    // The box is already checked when its command comes.
    EXPECT_EQ(gSeen, (std::vector<std::string>{"window Keep 1", "application other"}));
    DisposeWindow(window);
}

}  // namespace
