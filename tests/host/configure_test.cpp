// The configuration dialog end to end on Qt's offscreen platform: the real
// host executable takes the screenshots, and the real bundle, driven through
// main in this process, is clicked, dragged and typed at as a user does.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

// A configuration with values that differ from every default, saved as the
// one the next plug-in start reads.
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
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    ForgetHeldPrefsForTests();
    InitPreferences();
    EXPECT_TRUE(SaveConfig(&config));
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

// ---- Screenshots through the brimtone executable ----

TEST(ConfigureScreenshots, EachMediaFormatShowsItsPreviewAndClosesAsCancel)
{
    const fs::path dir = makeTempDir();
    ASSERT_FALSE(dir.empty());
    fs::create_directories(BRIMTONE_SCREENSHOT_DIR);
    const auto configure = [&](const fs::path& picture) {
        fs::remove(picture);
        const std::string command = "env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME='" +
                                    (dir / "config").string() + "' '" + BRIMTONE_HOST_EXE + "' configure --at 2" +
                                    " --screenshot '" + picture.string() + "' 2>'" + (dir / "err").string() + "'";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readBytes(dir / "err");
        return QImage(QString::fromStdString(picture.string()));
    };
    struct Format {
        SInt16 mediaType;
        const char* file;
        QSize preview;
    };
    for (const Format& format : {Format{1, "configNTSC.png", {480, 320}}, Format{2, "configPAL.png", {480, 384}},
                                 Format{3, "configHD.png", {576, 324}}}) {
        SCOPED_TRACE(format.file);
        saveSampleConfiguration(dir / "config", format.mediaType);
        const std::string saved = savedSettings();
        const QImage image = configure(fs::path(BRIMTONE_SCREENSHOT_DIR) / format.file);
        ASSERT_FALSE(image.isNull());
        EXPECT_GT(image.width(), format.preview.width());
        EXPECT_GT(image.height(), format.preview.height());

        // The region (the middle half) is outlined in red in a preview of the
        // format's shape, and painted in the two colours; the preview is a
        // scaled copy, so the border between the colours is blended.
        QRect outline;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) == 0xFF0000) outline |= QRect(x, y, 1, 1);
        EXPECT_EQ(outline.size(), format.preview / 2);
        int dark = 0, light = 0;
        const QRect inside = outline.adjusted(8, 8, -8, -8);
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x) {
                dark += sameColor(image.pixel(x, y), kDark);
                light += sameColor(image.pixel(x, y), kLight);
            }
        const int area = inside.width() * inside.height();
        EXPECT_GT(dark, area / 20);
        EXPECT_GT(light, area / 20);
        EXPECT_GT(dark + light, area * 97 / 100);
        EXPECT_EQ(savedSettings(), saved);
    }
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
                           QComboBox* popup = control<QComboBox>("Medi", 1);
                           QTimer::singleShot(0, popup, [popup] { QTest::keyClick(popup, Qt::Key_Down); });
                       }},
                      {"configPAL", [] {
                           EXPECT_EQ(control("Clip", 1)->size(), QSize(480, 384));
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
