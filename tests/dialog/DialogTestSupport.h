// Shared set-up of the dialog's tests: Qt offscreen, the plug-in's bundle
// with the real nibs in a fresh temporary folder, a private preferences
// folder, a test host, and a script that drives the open dialog.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QSlider>
#include <QTimer>
#include <QWidget>

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
#include "common/CommonProcs.h"
#include "Effects/AdjustColors/TestHost.h"
#include "dialog/carbonmacros.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "plugin/PluginGlue.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

namespace dialogtest {

namespace fs = std::filesystem;

inline fs::path MakeTempFolder(const char* theStem)
{
    std::string pattern = (fs::temp_directory_path() / (std::string(theStem) + "-XXXXXX")).string();
    const char* made = mkdtemp(pattern.data());
    return made != nullptr ? fs::path(made) : fs::temp_directory_path();
}

// One bundle per test program, so the identifier names one folder.
class PluginBundle {
public:
    static PluginBundle& Get()
    {
        static PluginBundle theBundle;
        return theBundle;
    }
    fs::path Resources() const { return fRoot / "Brimtone.bundle" / "Contents" / "Resources"; }
    void SetManual(bool present)
    {
        const fs::path manual = Resources() / "manual.pdf";
        if (present)
            std::ofstream(manual) << "%PDF-1.4\n%%EOF\n";
        else
            fs::remove(manual);
    }

private:
    PluginBundle() : fRoot(MakeTempFolder("brimtone-dialog"))
    {
        const fs::path contents = fRoot / "Brimtone.bundle" / "Contents";
        fs::create_directories(contents / "Resources");
        std::ofstream(contents / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "\t<key>CFBundleIdentifier</key>\n\t<string>"
            << cMyBundleID << "</string>\n</dict>\n</plist>\n";
        fs::copy(BRIMTONE_NIB_DIR, contents / "Resources", fs::copy_options::recursive);
        CFURLRef url = TBCFURLCreateWithPath((fRoot / "Brimtone.bundle").string(), true);
        CFBundleCreate(nullptr, url);
        CFRelease(url);
    }
    ~PluginBundle() { fs::remove_all(fRoot); }

    fs::path fRoot;
};

// Alerts are captured instead of shown.
inline std::vector<TBAlertRequest>& Alerts()
{
    static std::vector<TBAlertRequest> theAlerts;
    return theAlerts;
}
inline DialogItemIndex CaptureAlert(const TBAlertRequest& request)
{
    Alerts().push_back(request);
    return request.defaultButton;
}

inline std::vector<std::string>& OpenedDocuments()
{
    static std::vector<std::string> theDocuments;
    return theDocuments;
}
inline OSStatus CaptureDocument(const std::string& url)
{
    OpenedDocuments().push_back(url);
    return noErr;
}

inline void StartQt()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TBEnsureApplication();
    PluginBundle::Get();
    TBSetStandardAlertRunner(&CaptureAlert);
    TBSetDocumentOpener(&CaptureDocument);
}

// A private preferences folder holding a fresh preferences file.
class PrivatePrefs {
public:
    PrivatePrefs() : fFolder(MakeTempFolder("brimtone-prefs"))
    {
        setenv("XDG_CONFIG_HOME", fFolder.c_str(), 1);
        PrefsLoaderResetForTests();
        InitPreferences();
    }
    ~PrivatePrefs()
    {
        PrefsLoaderResetForTests();
        fs::remove_all(fFolder);
    }
    fs::path File() const { return fFolder / "kavlo-Prefs"; }

private:
    fs::path fFolder;
};

// ---- Reaching the open dialog ----------------------------------------------

inline WindowRef DialogWindow()
{
    return gConfigWorkSpace.TheWindow;
}

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

inline void Press(OSType theSig, SInt16 theID)
{
    auto* button = qobject_cast<QAbstractButton*>(Widget(theSig, theID));
    ASSERT_NE(button, nullptr);
    button->click();
}

// Clicks the button whose command is theCommand.
inline void PressCommand(const char* theCommand)
{
    QWidget* window = TBGetWindowWidget(DialogWindow());
    ASSERT_NE(window, nullptr);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->property("commandID").toString() == QString::fromLatin1(theCommand) &&
            button->isVisible()) {
            button->click();
            return;
        }
    }
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

// Posts a press, moves and a release on the widget at window-local points;
// the events arrive inside the control's tracking loop.
inline void PostDrag(QWidget* theWidget, QPoint from, const std::vector<QPoint>& moves,
                     Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget* window = theWidget->window();
    auto local = [&](QPoint p) { return QPointF(theWidget->mapFrom(window, p)); };
    auto global = [&](QPoint p) { return QPointF(window->mapToGlobal(p)); };
    QCoreApplication::postEvent(theWidget,
                                new QMouseEvent(QEvent::MouseButtonPress, local(from), global(from),
                                                Qt::LeftButton, Qt::LeftButton, mods));
    QPoint last = from;
    for (QPoint p : moves) {
        QCoreApplication::postEvent(theWidget,
                                    new QMouseEvent(QEvent::MouseMove, local(p), global(p),
                                                    Qt::NoButton, Qt::LeftButton, mods));
        last = p;
    }
    QCoreApplication::postEvent(theWidget,
                                new QMouseEvent(QEvent::MouseButtonRelease, local(last),
                                                global(last), Qt::LeftButton, Qt::NoButton, mods));
}

// Steps run one after another while a dialog window is up; each waits for
// the current window to be shown (a media change opens a new one). If the
// dialog is still open after the last step, Cancel is pressed.
class Script {
public:
    explicit Script(std::vector<std::function<void()>> theSteps) : fSteps(std::move(theSteps))
    {
        fTimer.setSingleShot(true);
        QObject::connect(&fTimer, &QTimer::timeout, [this] { Tick(); });
        fTimer.start(0);
    }

private:
    void Tick()
    {
        if (++fTicks > 4000)
            return;
        WindowRef theWindow = DialogWindow();
        if (theWindow == nullptr || !IsWindowVisible(theWindow)) {
            if (!fCancelled)
                fTimer.start(5);
            return;
        }
        if (fNext < fSteps.size()) {
            fSteps[fNext++]();
            fTimer.start(0);
        } else if (!fCancelled) {
            fCancelled = true;
            PressCommand("not!");
        }
    }

    std::vector<std::function<void()>> fSteps;
    QTimer fTimer;
    size_t fNext = 0;
    int fTicks = 0;
    bool fCancelled = false;
};

// A dialog opened on a 720x480 clip of ten frames, driven by a script.
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
    void Run(std::vector<std::function<void()>> theSteps, SInt32 theStart = 0, SInt32 theFrames = 10)
    {
        Script theScript(std::move(theSteps));
        ConfigurePlugIn(&fConfig, fSource, &fHost.params, theStart, theFrames);
    }

    PrivatePrefs fPrefs;
    TestHost fHost;
    pluginDataRec fConfig{};
    GWorldPtr fSource = nullptr;
};

}  // namespace dialogtest
