// Shared set-up of the dialog's tests: Qt offscreen, the plug-in's bundle
// with the real nibs in a fresh temporary folder, a private preferences
// folder, a test host, and a script that drives the open dialog.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "CFBundle.h"
#include "Controls.h"
#include "Dialogs.h"
#include "MacWindows.h"
#include "ToolboxUI.h"
#include "Effects/AdjustColors/TestHost.h"
#include "dialog/carbonmacros.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginGlue.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace dialogtest {

namespace fs = std::filesystem;

// A fresh temporary folder, removed with all it holds at the end.
struct TempFolder {
    explicit TempFolder(const char* theStem)
    {
        std::string pattern = (fs::temp_directory_path() / theStem).string() + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path = pattern;
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path path;
};

inline std::string ReadFile(const fs::path& thePath)
{
    std::ifstream in(thePath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The plug-in's bundle, made once per test program so that its identifier
// names one folder; returns its resources folder.
inline fs::path BundleResources()
{
    static const TempFolder theFolder("brimtone-dialog");
    static const fs::path theResources = [] {
        const fs::path bundle = theFolder.path / "Brimtone.bundle";
        fs::create_directories(bundle / "Contents" / "Resources");
        std::ofstream(bundle / "Contents" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "\t<key>CFBundleIdentifier</key>\n\t<string>"
            << cMyBundleID << "</string>\n</dict>\n</plist>\n";
        fs::copy(BRIMTONE_NIB_DIR, bundle / "Contents" / "Resources", fs::copy_options::recursive);
        CFURLRef url = TBCFURLCreateWithPath(bundle.string(), true);
        CFBundleCreate(nullptr, url);
        CFRelease(url);
        return bundle / "Contents" / "Resources";
    }();
    return theResources;
}

inline void SetManual(bool present)
{
    if (present)
        std::ofstream(BundleResources() / "manual.pdf") << "%PDF-1.4\n%%EOF\n";
    else
        fs::remove(BundleResources() / "manual.pdf");
}

// Alerts and opened documents are captured instead of shown.
inline std::vector<TBAlertRequest> gAlerts;
inline std::vector<std::string> gOpenedDocuments;

inline void StartQt()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TBEnsureApplication();
    TBInstallUIHooks();
    BundleResources();
    TBSetStandardAlertRunner([](const TBAlertRequest& request) {
        gAlerts.push_back(request);
        return request.defaultButton;
    });
    TBSetDocumentOpener([](const std::string& url) {
        gOpenedDocuments.push_back(url);
        return OSStatus(noErr);
    });
}

// A private preferences folder holding a fresh preferences file.
struct PrivatePrefs : TempFolder {
    PrivatePrefs() : TempFolder("brimtone-prefs")
    {
        setenv("XDG_CONFIG_HOME", path.c_str(), 1);
        ForgetHeldPrefsForTests();
        InitPreferences();
    }
    ~PrivatePrefs() { ForgetHeldPrefsForTests(); }
    fs::path File() const { return path / "kavlo-Prefs"; }
};

// ---- Reaching the open dialog ----------------------------------------------

inline WindowRef DialogWindow() { return gConfigWorkSpace.TheWindow; }

inline QWidget* Widget(OSType theSig, SInt16 theID, WindowRef theWindow = DialogWindow())
{
    return TBGetControlWidget(SimpleGetControlByID(theWindow, theSig, theID));
}

inline std::string Text(OSType theSig, SInt16 theID, WindowRef theWindow = DialogWindow())
{
    Str255 theText;
    GetEditTextFromControl(theWindow, theSig, theID, theText);
    return std::string(reinterpret_cast<const char*>(theText + 1), theText[0]);
}

// Clicks the visible button of theWindow whose command is theCommand.
inline void PressCommand(const char* theCommand, WindowRef theWindow = DialogWindow())
{
    QWidget* window = TBGetWindowWidget(theWindow);
    ASSERT_NE(window, nullptr);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->property("commandID").toString() == QLatin1String(theCommand) &&
            button->isVisible())
            return button->click();
    FAIL() << "no button for " << theCommand;
}

inline void ChooseMedia(int theType)
{
    auto* popup = qobject_cast<QComboBox*>(Widget(FOUR_CHAR_CODE("Medi"), 1));
    ASSERT_NE(popup, nullptr);
    popup->setCurrentIndex(theType - 1);
    emit popup->activated(theType - 1);
}

// Drags a slider's thumb as a user does: moves while held, then releases.
inline void DragSlider(OSType theSig, SInt16 theID, const std::vector<int>& theValues)
{
    auto* slider = qobject_cast<QSlider*>(Widget(theSig, theID));
    ASSERT_NE(slider, nullptr);
    slider->setSliderDown(true);
    for (int v : theValues)
        slider->setValue(v);
    slider->setSliderDown(false);
}

// Sends a press, moves and a release to the widget at window-local points;
// the events arrive inside the control's tracking loop. Escape is pressed
// after the move numbered escapeAfter, if any.
inline void Drag(QWidget* theWidget, QPoint from, const std::vector<QPoint>& moves,
                 Qt::KeyboardModifiers mods = Qt::NoModifier, int escapeAfter = -1)
{
    QWidget* window = theWidget->window();
    auto post = [&](QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons held) {
        QCoreApplication::postEvent(theWidget,
                                    new QMouseEvent(type, QPointF(theWidget->mapFrom(window, p)),
                                                    QPointF(window->mapToGlobal(p)), button, held,
                                                    mods));
    };
    post(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (size_t i = 0; i < moves.size(); ++i) {
        post(QEvent::MouseMove, moves[i], Qt::NoButton, Qt::LeftButton);
        if (int(i) == escapeAfter)
            QCoreApplication::postEvent(QApplication::focusWidget() ? QApplication::focusWidget() : window,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    }
    post(QEvent::MouseButtonRelease, moves.empty() ? from : moves.back(), Qt::LeftButton,
         Qt::NoButton);
    QCoreApplication::sendPostedEvents();
}

inline bool Shown(WindowRef window)
{
    const QWidget* widget = TBGetWindowWidget(window);
    return widget != nullptr && widget->isVisible();
}

// Steps run one after another while a dialog window is up; each waits for
// the current window to be shown (a media change opens a new one). If the
// dialog is still open after the last step, Cancel is pressed.
class Script {
public:
    explicit Script(std::vector<std::function<void()>> theSteps) : fSteps(std::move(theSteps))
    {
        fSteps.push_back([] { PressCommand("not!"); });
        fTimer.setSingleShot(true);
        QObject::connect(&fTimer, &QTimer::timeout, [this] {
            const bool up = Shown(DialogWindow());
            if (up)
                fSteps[fNext++]();
            if (fNext < fSteps.size() && ++fTicks < 4000)
                fTimer.start(up ? 0 : 5);
        });
        fTimer.start(0);
    }

private:
    std::vector<std::function<void()>> fSteps;
    QTimer fTimer;
    size_t fNext = 0;
    int fTicks = 0;
};

// A dialog opened on a 720x480 clip, driven by a script.
class DialogFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }
    void SetUp() override
    {
        ResetConfig(&fConfig, true);
        fSource = AllocateGWorld(720, 480);
        ASSERT_NE(fSource, nullptr);
    }
    void TearDown() override { DisposeGWorld(fSource); }
    void Run(std::vector<std::function<void()>> theSteps, SInt32 theStart = 0,
             SInt32 theFrames = 10, SInt32 theCurrent = 0)
    {
        Script theScript(std::move(theSteps));
        ConfigurePlugIn(&fConfig, fSource, &fHost.params, theStart, theFrames, theCurrent);
    }

    PrivatePrefs fPrefs;
    TestHost fHost;
    pluginDataRec fConfig{};
    GWorldPtr fSource = nullptr;
};

}  // namespace dialogtest
