// The configuration dialog end to end on Qt's offscreen platform: the real
// host executable takes the screenshots, and the real bundle, driven through
// main in this process, is clicked, dragged and typed at as a user does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWidget>

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
#include "graphics/relRects.h"
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
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path makeTempDir()
{
    char pattern[] = "/tmp/brimtone-configure-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? fs::path(made) : fs::path();
}

// A configuration with values that differ from every default.
pluginDataRec sampleConfiguration(SInt16 mediaType)
{
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.StartRel = relRect{0.25, 0.75, 0.25, 0.75};
    config.Sliders[kThresholdSlider] = 66;
    config.Colors[kDarkColor] = kDark;
    config.Colors[kLightColor] = kLight;
    config.MediaType = mediaType;
    config.TwoColors = false;
    return config;
}

void saveConfiguration(const fs::path& configHome, const pluginDataRec& config)
{
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    PrefsLoaderResetForTests();
    InitPreferences();
    ASSERT_TRUE(SaveConfig(&config));
}

pluginDataRec readConfiguration()
{
    PrefsLoaderResetForTests();
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.Sliders[kThresholdSlider] = -1;
    EXPECT_TRUE(ReadConfig(&config));
    return config;
}

void expectSameSettings(const pluginDataRec& actual, const pluginDataRec& expected)
{
    EXPECT_TRUE(actual.StartRel.left == expected.StartRel.left && actual.StartRel.right == expected.StartRel.right &&
                actual.StartRel.top == expected.StartRel.top && actual.StartRel.bottom == expected.StartRel.bottom);
    for (int n = 0; n < cNumSliders; ++n) EXPECT_EQ(actual.Sliders[n], expected.Sliders[n]) << "slider " << n + 1;
    for (int n = 0; n < cNumColors; ++n)
        EXPECT_TRUE(actual.Colors[n].red == expected.Colors[n].red && actual.Colors[n].green == expected.Colors[n].green &&
                    actual.Colors[n].blue == expected.Colors[n].blue)
            << "colour " << n + 1;
    EXPECT_EQ(actual.MediaType, expected.MediaType);
    EXPECT_EQ(actual.KeepProps, expected.KeepProps);
    EXPECT_EQ(actual.TwoColors, expected.TwoColors);
}

bool sameColor(QRgb pixel, RGBColor color)
{
    return qRed(pixel) == color.red >> 8 && qGreen(pixel) == color.green >> 8 && qBlue(pixel) == color.blue >> 8;
}

// The bounding box of the pixels of one exact colour.
QRect boxOfColor(const QImage& image, QRgb color)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF)) box |= QRect(x, y, 1, 1);
    return box;
}

// ---- Screenshots through the brimtone executable ----

class ConfigureScreenshots : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = makeTempDir();
        ASSERT_FALSE(dir_.empty());
        fs::create_directories(dir_ / "config");
        fs::create_directories(BRIMTONE_SCREENSHOT_DIR);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int runConfigure(const std::string& arguments, const std::string& environment = "QT_QPA_PLATFORM=offscreen")
    {
        const std::string command = "env " + environment + " XDG_CONFIG_HOME='" + (dir_ / "config").string() +
                                    "' '" + BRIMTONE_HOST_EXE + "' configure " +
                                    arguments + " 2>'" + (dir_ / "stderr.txt").string() + "'";
        const int status = std::system(command.c_str());
        error_ = readBytes(dir_ / "stderr.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
    std::string error_;
};

TEST_F(ConfigureScreenshots, EachMediaFormatAndAboutShowTheirWindowsAndCloseAsCancel)
{
    struct Format {
        SInt16 mediaType;
        const char* file;
        QSize preview;
    };
    const Format formats[] = {{1, "configNTSC.png", {480, 320}},
                              {2, "configPAL.png", {480, 384}},
                              {3, "configHD.png", {576, 324}}};
    for (const Format& format : formats) {
        SCOPED_TRACE(format.file);
        const pluginDataRec saved = sampleConfiguration(format.mediaType);
        saveConfiguration(dir_ / "config", saved);
        const fs::path picture = fs::path(BRIMTONE_SCREENSHOT_DIR) / format.file;
        fs::remove(picture);

        ASSERT_EQ(runConfigure("--at 2 --screenshot '" + picture.string() + "'"), 0) << error_;
        QImage image(QString::fromStdString(picture.string()));
        ASSERT_FALSE(image.isNull());
        EXPECT_GT(image.width(), format.preview.width());
        EXPECT_GT(image.height(), format.preview.height());

        // The region (the middle half) is outlined in red in a preview of the
        // format's shape, and painted in the two colours.
        const QRect outline = boxOfColor(image, qRgb(255, 0, 0));
        EXPECT_EQ(outline.width(), format.preview.width() / 2);
        EXPECT_EQ(outline.height(), format.preview.height() / 2);
        // The preview is a scaled copy, so the border between the colours is
        // blended; everything else is one of the two.
        int dark = 0;
        int light = 0;
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

        // Closed as Cancel: the saved configuration is as it was.
        expectSameSettings(readConfiguration(), saved);
    }

    // The About window opened from the dialog's button: small, not the dialog.
    const fs::path picture = fs::path(BRIMTONE_SCREENSHOT_DIR) / "about.png";
    fs::remove(picture);
    ASSERT_EQ(runConfigure("--screenshot '" + picture.string() + "'", "QT_QPA_PLATFORM=offscreen BRIMTONE_SCREENSHOT_CLICK=Info"), 0)
        << error_;
    const QImage about(QString::fromStdString(picture.string()));
    ASSERT_FALSE(about.isNull());
    EXPECT_GT(about.width(), 200);
    EXPECT_LT(about.width(), 600);
    EXPECT_LT(about.height(), 400);
}

// ---- The dialog driven through main in this process ----

// Steps run one after another from the event loop of the dialog; a step
// returns false to be asked again at the next turn (it waits for a window).
// Steps that open a nested loop or end one hand their click to the loop.
class Script {
public:
    using Step = std::function<bool()>;

    void add(std::string name, Step step) { steps_.push_back({std::move(name), std::move(step)}); }

    // Presses the effect's button and runs the steps inside its dialog.
    void run(PluginHost& host)
    {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [this] { turn(); });
        timer.start(1);
        clock_.start();
        host.params().renderFrame = 0;
        host.call(kPlugCustomButtonClick);
        timer.stop();
        EXPECT_EQ(next_, steps_.size()) << "stuck at step: " << (next_ < steps_.size() ? steps_[next_].name : "");
    }

private:
    struct Named {
        std::string name;
        Step step;
    };

    void turn()
    {
        if (busy_) return;
        busy_ = true;
        if (next_ < steps_.size() && !stuck_) {
            if (steps_[next_].step()) {
                ++next_;
                clock_.restart();
            } else if (clock_.elapsed() > 15000) {
                stuck_ = true;
            }
        } else if (QWidget* window = QApplication::activeModalWidget()) {
            // Done or stuck with a window still up: leave it as Cancel does.
            if (!escaped_.contains(window)) {
                escaped_.append(window);
                QTest::keyClick(window, Qt::Key_Escape);
            }
        }
        busy_ = false;
    }

    std::vector<Named> steps_;
    size_t next_ = 0;
    bool busy_ = false;
    bool stuck_ = false;
    QElapsedTimer clock_;
    QList<QPointer<QWidget>> escaped_;
};

QWidget* front()
{
    QWidget* window = QApplication::activeModalWidget();
    return window && window->isVisible() ? window : nullptr;
}

QWidget* control(const char* signature, int id)
{
    QWidget* window = front();
    if (!window) return nullptr;
    for (QWidget* widget : window->findChildren<QWidget*>())
        if (widget->property("controlSignature").toString() == signature &&
            widget->property("controlID").toInt() == id)
            return widget;
    return nullptr;
}

template <class T>
T* controlAs(const char* signature, int id)
{
    return qobject_cast<T*>(control(signature, id));
}

QAbstractButton* button(const char* command)
{
    QWidget* window = front();
    if (!window) return nullptr;
    for (QAbstractButton* candidate : window->findChildren<QAbstractButton*>())
        if (candidate->property("commandID").toString() == command) return candidate;
    return nullptr;
}

QString text(const char* signature, int id)
{
    QLabel* label = controlAs<QLabel>(signature, id);
    return label ? label->text() : QString("<no label %1 %2>").arg(signature).arg(id);
}

// The preview as the window shows it.
QImage preview()
{
    QWidget* clip = control("Clip", 1);
    return clip ? clip->grab().toImage() : QImage();
}

// Moves a slider's thumb as a drag does: pressed, moved, released.
void drag(QSlider* slider, int value, const std::function<void()>& whileDown = {})
{
    slider->setSliderDown(true);
    slider->setSliderPosition(value);
    if (whileDown) whileDown();
    slider->setSliderDown(false);
}

Script::Step waitForWindow(const QString& name)
{
    return [name] {
        QWidget* window = front();
        return window && window->objectName() == name && control("Clip", 1) != nullptr;
    };
}

Script::Step press(const char* command)
{
    return [command] {
        QAbstractButton* found = button(command);
        EXPECT_NE(found, nullptr) << command;
        if (found) QTimer::singleShot(0, found, [found] { found->click(); });
        return true;
    };
}

Script::Step key(Qt::Key which)
{
    return [which] {
        QWidget* window = front();
        if (window) QTest::keyClick(window, which);
        return true;
    };
}

Script::Step chooseMedia(int item)
{
    return [item] {
        QComboBox* popup = controlAs<QComboBox>("Medi", 1);
        EXPECT_NE(popup, nullptr);
        if (!popup) return true;
        const int steps = item - (popup->currentIndex() + 1);
        QTimer::singleShot(0, popup, [popup, steps] {
            for (int n = 0; n < std::abs(steps); ++n) QTest::keyClick(popup, steps > 0 ? Qt::Key_Down : Qt::Key_Up);
            if (steps == 0) emit popup->activated(popup->currentIndex());
        });
        return true;
    };
}

class DialogThroughMain : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new fs::path(makeTempDir());
        fs::create_directories(*dir_ / "config");
        saveConfiguration(*dir_ / "config", sampleConfiguration(1));
        TBEnsureApplication();

        std::string error;
        host_ = PluginHost::load(std::string(BRIMTONE_BUILD_DIR) + "/Brimtone.bundle", error).release();
        ASSERT_NE(host_, nullptr) << error;
        source_ = MediaSource::openBuiltin(6).release();
        host_->attach(source_, FilterSettings{});
        host_->params().getInfo2.selectedFrames = source_->frameCount();
        ASSERT_EQ(host_->call(kPlugGetInfo), kPluginOK);

        // The editor's viewer shows frame 0 first, as brimtone configure does.
        const Rect bounds{0, 0, SInt16(source_->height()), SInt16(source_->width())};
        ASSERT_EQ(NewGWorld(&viewer_, 32, &bounds, nullptr, nullptr, 0), noErr);
        PluginParams& params = host_->params();
        params.startFrame = 0;
        params.frameCount = source_->frameCount();
        params.frameRect = bounds;
        params.frame = viewer_;
        ASSERT_EQ(host_->call(kPlugInitialize), kPluginOK);
        params.renderFrame = 0;
        ASSERT_EQ(host_->call(kPlugDoFrame), kPluginOK);
        ASSERT_EQ(host_->call(kPlugTerminate), kPluginOK);
    }

    static void TearDownTestSuite()
    {
        delete host_;
        delete source_;
        DisposeGWorld(viewer_);
        fs::remove_all(*dir_);
        delete dir_;
    }

    // The settings as the plug-in holds them now: saved by a dialog left with OK.
    static pluginDataRec currentSettings()
    {
        Script script;
        script.add("dialog up", [] { return front() != nullptr && control("Clip", 1) != nullptr; });
        script.add("OK", press("ok  "));
        script.run(*host_);
        return readConfiguration();
    }

    static fs::path* dir_;
    static PluginHost* host_;
    static MediaSource* source_;
    static GWorldPtr viewer_;
};

fs::path* DialogThroughMain::dir_ = nullptr;
PluginHost* DialogThroughMain::host_ = nullptr;
MediaSource* DialogThroughMain::source_ = nullptr;
GWorldPtr DialogThroughMain::viewer_ = nullptr;

TEST_F(DialogThroughMain, ReturnKeySavesTheEditedThresholdToThePreferencesFile)
{
    const fs::path file = *dir_ / "config" / "kavlo-Prefs";
    const std::string before = readBytes(file);
    const pluginDataRec start = currentSettings();
    const int wanted = start.Sliders[kThresholdSlider] == 64 ? 65 : 64;

    Script script;
    script.add("dialog up", [] { return front() != nullptr && control("Sldr", 1) != nullptr; });
    script.add("drag threshold", [wanted] {
        drag(controlAs<QSlider>("Sldr", 1), wanted);
        EXPECT_EQ(text("Lgnd", 1), QString("%1%").arg(wanted));
        return true;
    });
    script.add("Return", key(Qt::Key_Return));
    script.run(*host_);

    EXPECT_NE(readBytes(file), before);
    pluginDataRec expected = start;
    expected.Sliders[kThresholdSlider] = SInt16(wanted);
    expectSameSettings(readConfiguration(), expected);
}

TEST_F(DialogThroughMain, MediaChangeReopensTheMatchingWindowAndCancelRestoresEveryField)
{
    const pluginDataRec start = currentSettings();
    const QString startWindow = start.MediaType == 2 ? "configPAL" : start.MediaType == 3 ? "configHD" : "configNTSC";
    const bool toHD = startWindow == "configPAL";
    const int threshold = start.Sliders[kThresholdSlider] == 90 ? 91 : 90;

    Script script;
    script.add("dialog up", waitForWindow(startWindow));
    script.add("edit", [threshold] {
        drag(controlAs<QSlider>("Sldr", 1), threshold);
        controlAs<QCheckBox>("2col", 0)->click();
        controlAs<QCheckBox>("Keep", 1)->click();
        button("Sall")->click();
        return true;
    });
    script.add("change media", chooseMedia(toHD ? 3 : 2));
    script.add("reopened", waitForWindow(toHD ? "configHD" : "configPAL"));
    script.add("new preview, edits kept", [threshold, toHD] {
        EXPECT_EQ(control("Clip", 1)->size(), toHD ? QSize(576, 324) : QSize(480, 384));
        EXPECT_EQ(controlAs<QSlider>("Sldr", 1)->value(), threshold);
        EXPECT_EQ(text("Lgnd", 1), QString("%1%").arg(threshold));
        return true;
    });
    script.add("Escape", key(Qt::Key_Escape));
    script.run(*host_);

    // Reopened on the settings as they were, which OK then saves unchanged.
    Script check;
    check.add("dialog up again", waitForWindow(startWindow));
    check.add("fields restored", [start] {
        EXPECT_EQ(controlAs<QSlider>("Sldr", 1)->value(), start.Sliders[kThresholdSlider]);
        EXPECT_EQ(controlAs<QCheckBox>("2col", 0)->isChecked(), bool(start.TwoColors));
        EXPECT_EQ(controlAs<QComboBox>("Medi", 1)->currentIndex() + 1, start.MediaType);
        return true;
    });
    check.add("OK", press("ok  "));
    check.run(*host_);
    expectSameSettings(readConfiguration(), start);
}

TEST_F(DialogThroughMain, FrameStepButtonsStopAtBothEndsOfTheClip)
{
    Script script;
    script.add("dialog up", [] { return front() != nullptr && control("ClpS", 1) != nullptr; });
    script.add("steps", [] {
        QSlider* frame = controlAs<QSlider>("ClpS", 1);
        EXPECT_EQ(frame->maximum(), 5);
        EXPECT_EQ(text("ClpM", 1), "0/5");
        button("Revi")->click();
        EXPECT_EQ(text("ClpM", 1), "0/5");
        const QImage first = preview();
        button("Adva")->click();
        EXPECT_EQ(text("ClpM", 1), "1/5");
        EXPECT_NE(preview(), first) << "the preview shows the next frame";
        drag(frame, 5);
        button("Adva")->click();
        EXPECT_EQ(frame->value(), 5);
        EXPECT_EQ(text("ClpM", 1), "5/5");
        button("Revi")->click();
        EXPECT_EQ(text("ClpM", 1), "4/5");
        return true;
    });
    script.add("Cancel", press("not!"));
    script.run(*host_);
}

TEST_F(DialogThroughMain, ThresholdDragUpdatesReadoutAndPreviewWhileTheMouseIsDown)
{
    Script script;
    script.add("dialog up", [] { return front() != nullptr && control("Sldr", 1) != nullptr; });
    script.add("select all", [] {
        button("Sall")->click();
        return true;
    });
    script.add("drag", [] {
        QSlider* slider = controlAs<QSlider>("Sldr", 1);
        drag(slider, 0, [slider] {
            EXPECT_TRUE(slider->isSliderDown());
            EXPECT_EQ(text("Lgnd", 1), "0%");
            const QImage shown = preview();
            EXPECT_TRUE(sameColor(shown.pixel(shown.width() / 2, shown.height() / 2), kLight));
            slider->setSliderPosition(100);
            EXPECT_EQ(text("Lgnd", 1), "100%");
            const QImage darker = preview();
            EXPECT_TRUE(sameColor(darker.pixel(darker.width() / 2, darker.height() / 2), kDark));
        });
        return true;
    });
    script.add("Cancel", key(Qt::Key_Escape));
    script.run(*host_);
}

}  // namespace
