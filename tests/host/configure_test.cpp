// The configuration dialog end to end on Qt's offscreen platform: the real
// host executable takes the screenshots, and the real bundle, driven through
// main in this process, is clicked, dragged and typed at as a user does.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>
#include <QtWidgets>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "MediaSource.h"
#include "PluginHost.h"
#include "ToolboxUI.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "storage/prefsloader.h"

namespace fs = std::filesystem;

// Fontconfig, under Qt's fonts, keeps its caches until the process ends.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
using namespace brimtone::host;

namespace {

constexpr RGBColor kDark{0x2000, 0x1000, 0x8000};
constexpr RGBColor kLight{0xFF00, 0xE000, 0x9000};

std::string readBytes(const fs::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

fs::path makeTempDir()
{
    char pattern[] = "/tmp/brimtone-configure-XXXXXX";
    const fs::path dir = mkdtemp(pattern) ? fs::path(pattern) : fs::path();
    if (!dir.empty()) fs::create_directories(dir / "config");
    return dir;
}

// Saved as the configuration the next plug-in start reads.
void saveConfiguration(const fs::path& configHome, pluginDataRec config)
{
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    ForgetHeldPrefsForTests();
    InitPreferences();
    EXPECT_TRUE(SaveConfig(&config));
}

// A configuration with values that differ from every default.
void saveSampleConfiguration(const fs::path& configHome, SInt16 mediaType)
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.StartRel = relRect{0.25, 0.75, 0.25, 0.75};
    config.Sliders[kThresholdSlider] = 66;
    config.Colors[kDarkColor] = kDark;
    config.Colors[kLightColor] = kLight;
    config.MediaType = mediaType;
    config.TwoColors = false;
    saveConfiguration(configHome, config);
}

// The saved settings a user edits, as text, so that a difference shows by name.
std::string savedSettings()
{
    ForgetHeldPrefsForTests();
    pluginDataRec c{};
    ResetConfig(&c, true);
    EXPECT_TRUE(ReadConfig(&c));
    std::ostringstream text;
    text << std::hexfloat << "region " << c.StartRel.left << " " << c.StartRel.top << " " << c.StartRel.right << " "
         << c.StartRel.bottom << " sliders";
    for (SInt16 value : c.Sliders) text << " " << value;
    for (const RGBColor& colour : c.Colors) text << " colour " << colour.red << " " << colour.green << " " << colour.blue;
    text << " media " << c.MediaType << " keep " << int(c.KeepProps) << " two colours " << int(c.TwoColors);
    return text.str();
}

bool sameColor(QRgb pixel, RGBColor color)
{
    return qRed(pixel) == color.red >> 8 && qGreen(pixel) == color.green >> 8 && qBlue(pixel) == color.blue >> 8;
}

// ---- The brimtone executable's configure command ----

// Runs brimtone configure with the environment and arguments given; a hang
// ends after a minute and fails.
struct Outcome {
    int status = -1;
    std::string err;
};

Outcome configureCommand(const fs::path& dir, const std::string& environment, const std::string& arguments)
{
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME='" +
                                (dir / "config").string() + "' " + environment + " timeout 60 '" +
                                BRIMTONE_HOST_EXE + "' configure " + arguments + " 2>'" + (dir / "err").string() +
                                "'";
    const int status = std::system(command.c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readBytes(dir / "err")};
}

// Every format's window as a user first meets it: the whole frame is the
// region, its red outline and four whole handles show at the frame's edges.
// The pictures, and one of About, stay in the build's screenshots folder.
TEST(ConfigureScreenshots, FirstRunShowsTheWholeRegionWithItsHandles)
{
    const fs::path dir = makeTempDir();
    ASSERT_FALSE(dir.empty());
    const fs::path pictures(BRIMTONE_SCREENSHOT_DIR);
    fs::create_directories(pictures);
    pluginDataRec defaults{};
    ResetConfig(&defaults, true);
    struct Format {
        SInt16 mediaType;
        const char* file;
        QSize picture;
    };
    for (const Format& format : {Format{1, "configNTSC.png", {480, 320}}, Format{2, "configPAL.png", {480, 384}},
                                 Format{3, "configHD.png", {576, 324}}}) {
        SCOPED_TRACE(format.file);
        fs::remove(dir / "config" / "kavlo-Prefs");
        if (format.mediaType != defaults.MediaType) {
            pluginDataRec config = defaults;
            config.MediaType = format.mediaType;
            saveConfiguration(dir / "config", config);
        }
        fs::remove(pictures / format.file);
        const Outcome run = configureCommand(dir, "QT_QPA_PLATFORM=offscreen",
                                         "--at 2 --screenshot '" + (pictures / format.file).string() + "'");
        EXPECT_EQ(run.status, 0) << run.err;
        const QImage image(QString::fromStdString((pictures / format.file).string()));
        ASSERT_FALSE(image.isNull());

        QRect outline;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == 0xFF0000) outline |= QRect(x, y, 1, 1);
        ASSERT_EQ(outline.size(), format.picture);
        // A handle's white ring reaches beyond the picture and its border,
        // where nothing else is white.
        const QRect framed = outline.adjusted(-1, -1, 1, 1);
        for (const QPoint corner : {outline.topLeft(), QPoint(outline.right() + 1, outline.top()),
                                    QPoint(outline.left(), outline.bottom() + 1), outline.bottomRight() + QPoint(1, 1)}) {
            int white = 0;
            for (int y = corner.y() - 6; y < corner.y() + 6; ++y)
                for (int x = corner.x() - 6; x < corner.x() + 6; ++x)
                    white += !framed.contains(x, y) && (image.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
            EXPECT_GE(white, 8) << "handle at " << corner.x() << "," << corner.y();
        }
        int painted = 0;
        const QRect inside = outline.adjusted(8, 8, -8, -8);
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                painted += sameColor(image.pixel(x, y), defaults.Colors[kDarkColor]) ||
                           sameColor(image.pixel(x, y), defaults.Colors[kLightColor]);
        EXPECT_GT(painted, inside.width() * inside.height() * 97 / 100);
    }

    const fs::path about = pictures / "about.png";
    fs::remove(about);
    const Outcome run = configureCommand(dir, "QT_QPA_PLATFORM=offscreen BRIMTONE_SCREENSHOT_CLICK=Info",
                                     "--screenshot '" + about.string() + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    const QImage image(QString::fromStdString(about.string()));
    EXPECT_FALSE(image.isNull());
    EXPECT_LT(image.width(), 480);
    fs::remove_all(dir);
}

// configure ends with the cause instead of waiting for a window nobody sees.
TEST(ConfigureScreenshots, NeverWaitsForAWindowThatCannotBeSeen)
{
    const fs::path dir = makeTempDir();
    ASSERT_FALSE(dir.empty());
    struct Case {
        const char* environment;
        std::string arguments;
        const char* says;
    };
    const std::string picture = "--screenshot '" + (dir / "shot.png").string() + "'";
    for (const Case& c : {Case{"QT_QPA_PLATFORM=offscreen", "", "no display"},
                          Case{"QT_QPA_PLATFORM=minimal", "", "no display"},
                          Case{"DISPLAY=:97", "", "cannot reach the X display ':97'"},
                          Case{"", "", "DISPLAY and WAYLAND_DISPLAY are not set"},
                          Case{"QT_QPA_PLATFORM=offscreen BRIMTONE_SCREENSHOT_CLICK=Sall", picture,
                               "the button 'Sall' opened no window"}}) {
        SCOPED_TRACE(std::string(c.environment) + " " + c.arguments);
        const Outcome run = configureCommand(dir, c.environment, c.arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }

    // A fatal alert behind the camera is told on standard error too.
    const fs::path bundle = dir / "Brimtone.bundle";
    fs::copy(std::string(BRIMTONE_BUILD_DIR) + "/Brimtone.bundle", bundle, fs::copy_options::recursive);
    fs::remove_all(bundle / "Contents" / "Resources" / "brimtone.nib");
    const Outcome run = configureCommand(dir, "QT_QPA_PLATFORM=offscreen",
                                     picture + " --plugin '" + bundle.string() + "'");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("Stop alert"), std::string::npos) << run.err;
    fs::remove_all(dir);
}

// OK on a preferences folder that cannot be written: the alert over the
// dialog names the file and the cause, configure exits 1 with the same line
// on standard error, and the file stays as it was. Root writes anywhere, so
// there the folder is a read-only mount of its own.
TEST(ConfigureScreenshots, OkThatCannotSaveExitsWithTheAlertsLine)
{
    const fs::path dir = makeTempDir();
    ASSERT_FALSE(dir.empty());
    saveSampleConfiguration(dir / "config", 1);
    const fs::path file = dir / "config" / "kavlo-Prefs";
    const std::string before = readBytes(file);
    const fs::path shot = dir / "alert.png";
    const std::string config = (dir / "config").string();
    std::string wrap;
    if (geteuid() == 0)
        wrap = "unshare -m sh -c 'mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"' '" +
               config + "' ";
    else
        fs::permissions(dir / "config", fs::perms::owner_write, fs::perm_options::remove);
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME='" + config +
                                "' QT_QPA_PLATFORM=offscreen 'BRIMTONE_SCREENSHOT_CLICK=ok  ' " + wrap + "timeout 60 '" +
                                BRIMTONE_HOST_EXE + "' configure --screenshot '" + shot.string() + "' 2>'" +
                                (dir / "err").string() + "'";
    const int status = std::system(command.c_str());
    fs::permissions(dir / "config", fs::perms::owner_write, fs::perm_options::add);
    const std::string err = readBytes(dir / "err");
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << err;
    const std::string line = "cannot save the settings in " + file.string() +
                             ": permission denied (the file or its folder is read-only); they hold for this run only";
    EXPECT_NE(err.find("brimtone: " + line + "\n"), std::string::npos) << err;
    EXPECT_EQ(readBytes(file), before);
    // The camera took the alert, opened by the click on OK.
    const QImage alert(QString::fromStdString(shot.string()));
    EXPECT_FALSE(alert.isNull());
    EXPECT_LT(alert.width(), 700);
    fs::remove_all(dir);
}

// ---- The dialog driven through main in this process ----

QWidget* front()
{
    QWidget* window = QApplication::activeModalWidget();
    return window && window->isVisible() ? window : nullptr;
}

template <class T = QWidget>
T* control(const char* signature, int id)
{
    if (QWidget* window = front())
        for (QWidget* widget : window->findChildren<QWidget*>())
            if (widget->property("controlSignature").toString() == signature &&
                widget->property("controlID").toInt() == id)
                return qobject_cast<T*>(widget);
    return nullptr;
}

void press(const char* command)
{
    if (QWidget* window = front())
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->property("commandID").toString() == command) return button->click();
    ADD_FAILURE() << "no button " << command;
}

QString text(const char* signature, int id)
{
    QLabel* label = control<QLabel>(signature, id);
    return label ? label->text() : QString("<no label %1 %2>").arg(signature).arg(id);
}

// Moves a slider's thumb as a drag does: pressed, moved, released.
void drag(const char* signature, int value)
{
    QSlider* slider = control<QSlider>(signature, 1);
    slider->setSliderDown(true);
    slider->setSliderPosition(value);
    slider->setSliderDown(false);
}

// Presses the effect's button and runs the steps one after another from the
// dialog's event loop. A step runs once the named window is up; one that
// closes a window does it last. Stuck for 15 s, or done with a window still
// up: Escape, as Cancel does.
void runDialog(PluginHost& host, std::vector<std::pair<QString, std::function<void()>>> steps)
{
    size_t next = 0;
    bool busy = false;
    QElapsedTimer clock;
    QWidget* escaped = nullptr;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (busy) return;
        busy = true;
        if (next < steps.size() && clock.elapsed() < 15000) {
            if (front() && front()->objectName() == steps[next].first && control("Clip", 1)) {
                steps[next++].second();
                clock.restart();
            }
        } else if (QWidget* window = QApplication::activeModalWidget(); window && window != escaped) {
            escaped = window;
            QTest::keyClick(window, Qt::Key_Escape);
        }
        busy = false;
    });
    timer.start(1);
    clock.start();
    host.params().renderFrame = 0;
    host.call(kPlugCustomButtonClick);
    EXPECT_EQ(next, steps.size()) << "stuck at step " << next;
}

TEST(DialogThroughMain, CancelAfterEditsAndAMediaChangeRestoresEveryFieldAndReturnSaves)
{
    const fs::path dir = makeTempDir();
    saveSampleConfiguration(dir / "config", 1);
    const std::string start = savedSettings();
    TBEnsureApplication();
    std::string error;
    auto host = PluginHost::load(std::string(BRIMTONE_BUILD_DIR) + "/Brimtone.bundle", error);
    ASSERT_NE(host, nullptr) << error;
    auto source = MediaSource::openBuiltin(6);
    host->attach(source.get(), FilterSettings{});
    host->params().getInfo2.selectedFrames = source->frameCount();
    ASSERT_EQ(host->call(kPlugGetInfo), kPluginOK);

    // The editor's viewer shows frame 0 first, as brimtone configure does.
    const Rect bounds{0, 0, SInt16(source->height()), SInt16(source->width())};
    GWorldPtr viewer = nullptr;
    ASSERT_EQ(NewGWorld(&viewer, 32, &bounds, nullptr, nullptr, 0), noErr);
    PluginParams& params = host->params();
    params.frameCount = source->frameCount();
    params.frameRect = bounds;
    params.frame = viewer;
    ASSERT_EQ(host->call(kPlugInitialize), kPluginOK);
    ASSERT_EQ(host->call(kPlugDoFrame), kPluginOK);
    ASSERT_EQ(host->call(kPlugTerminate), kPluginOK);
    EXPECT_EQ(host->outstandingFrames(), 0u) << "a frame of the pass was not given back";

    int held = -1;  // the threshold the plug-in holds: the saved one unless an earlier run changed it
    runDialog(*host, {{"configNTSC",
                       [&held] {
                           held = control<QSlider>("Sldr", 1)->value();
                           // The frame steps stop at both ends of the six-frame clip.
                           press("Revi");
                           EXPECT_EQ(text("ClpM", 1), "0/5");
                           drag("ClpS", 5);
                           press("Adva");
                           EXPECT_EQ(text("ClpM", 1), "5/5");
                           press("Revi");
                           EXPECT_EQ(text("ClpM", 1), "4/5");

                           drag("Sldr", 90);
                           control<QCheckBox>("2col", 0)->click();
                           control<QCheckBox>("Keep", 1)->click();
                           press("Sall");
                           // The wheel, arrows and typing over the closed popup change nothing.
                           QComboBox* popup = control<QComboBox>("Medi", 1);
                           QWheelEvent wheel(QPointF(5, 5), popup->mapToGlobal(QPointF(5, 5)), QPoint(),
                                             QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                                             false);
                           QApplication::sendEvent(popup, &wheel);
                           for (int key : {int(Qt::Key_Down), int(Qt::Key_End), int(Qt::Key_P)})
                               QTest::keyClick(popup, Qt::Key(key));
                           EXPECT_EQ(popup->currentIndex(), 0);
                       }},
                      {"configNTSC",
                       [] {
                           // Chosen in the open list, the next format reopens the dialog.
                           QComboBox* popup = control<QComboBox>("Medi", 1);
                           popup->showPopup();
                           QTimer::singleShot(0, popup, [popup] {
                               QTest::keyClick(popup->view(), Qt::Key_Down);
                               QTest::keyClick(popup->view(), Qt::Key_Return);
                           });
                       }},
                      {"configPAL", [] {
                           EXPECT_EQ(control("Clip", 1)->size(), QSize(494, 398));
                           EXPECT_EQ(text("Lgnd", 1), "90%");
                           QTest::keyClick(front(), Qt::Key_Escape);
                       }}});
    EXPECT_EQ(savedSettings(), start);

    // Reopened on the settings as they were; Return saves the next edit.
    const std::string before = readBytes(dir / "config" / "kavlo-Prefs");
    const int wanted = held == 64 ? 65 : 64;
    runDialog(*host, {{"configNTSC", [held, wanted] {
                           EXPECT_FALSE(control<QCheckBox>("2col", 0)->isChecked());
                           EXPECT_EQ(control<QComboBox>("Medi", 1)->currentIndex(), 0);
                           EXPECT_EQ(control<QSlider>("Sldr", 1)->value(), held);
                           drag("Sldr", wanted);
                           EXPECT_EQ(text("Lgnd", 1), QString("%1%").arg(wanted));
                           QTest::keyClick(front(), Qt::Key_Return);
                       }}});
    EXPECT_TRUE(readBytes(dir / "config" / "kavlo-Prefs") != before) << "the preferences file was not written";
    std::string expected = start;
    expected.replace(expected.find("sliders 66"), 10, "sliders " + std::to_string(wanted));
    EXPECT_EQ(savedSettings(), expected);
    host.reset();
    DisposeGWorld(viewer);
    fs::remove_all(dir);
}

}  // namespace
