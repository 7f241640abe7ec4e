#include "dialog/configdlghandler.h"

#include <cstddef>

#include "CoreGraphics.h"
#include "DialogTestSupport.h"
#include "LaunchServices.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QAbstractSpinBox>

namespace {

using namespace dialogtest;

constexpr OSType kSldr = FOUR_CHAR_CODE("Sldr");
constexpr OSType kLgnd = FOUR_CHAR_CODE("Lgnd");

void ExpectSameConfig(const pluginDataRec& a, const pluginDataRec& b)
{
    // Regions, sliders, colours, media type and flags up to ClipActive lie
    // without padding.
    EXPECT_EQ(0, std::memcmp(&a, &b, offsetof(pluginDataRec, ClipActive) + 1));
    EXPECT_EQ(a.TheOriginalImage, b.TheOriginalImage);
    EXPECT_EQ(a.TheRendered, b.TheRendered);
    EXPECT_EQ(a.KeepProps, b.KeepProps);
    EXPECT_EQ(a.TwoColors, b.TwoColors);
}

class ConfigDialog : public DialogFixture {
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        SetManual(true);
        fConfig.StartRel = SetRelRect(0.25, 0.25, 0.75, 0.75);
        fConfig.Sliders[0] = 40;
        fConfig.Colors[0] = RGBColor{0x1200, 0x3400, 0x5600};
        fConfig.MediaType = 2;
        fConfig.KeepProps = true;
    }
};

// Select all takes the whole frame; Reset keeps the media type; a text read
// from a control is cut at 255 bytes; OK keeps and saves the edits.
TEST_F(ConfigDialog, OkSavesTheEditedConfiguration)
{
    relRect selected{};
    std::vector<std::string> texts;
    auto note = [&] { texts.push_back(Text(kLgnd, 1)); };
    Run({
        [] { PressCommand("Sall"); },
        [&] { selected = fConfig.StartRel; },
        [] { DragSlider(kSldr, 1, {90}); },
        [] { PressCommand("Rset"); },
        note,
        [] { Widget(kLgnd, 1)->setProperty("text", QString(300, 'q')); },
        note,
        [] { DragSlider(kSldr, 1, {50, 63}); },
        note,
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(std::vector<double>({selected.left, selected.top, selected.right, selected.bottom}),
              std::vector<double>({0, 0, 1, 1}));
    EXPECT_EQ(texts, (std::vector<std::string>{"17%", std::string(255, 'q'), "63%"}));
    EXPECT_EQ(fConfig.Sliders[0], 63);
    EXPECT_EQ(fConfig.MediaType, 2);
    EXPECT_FALSE(fConfig.KeepProps);
    pluginDataRec saved{};
    ResetConfig(&saved, true);
    ASSERT_TRUE(ReadConfig(&saved));
    saved.TheRendered = fConfig.TheRendered;
    saved.TheOriginalImage = fConfig.TheOriginalImage;
    ExpectSameConfig(saved, fConfig);
}

TEST_F(ConfigDialog, CancelAfterEditsAndMediaChangesRestoresEveryField)
{
    fConfig.MediaType = 1;
    // The dialog re-renders TheRendered, releasing the image the record held
    // when it opened; Cancel must give back a live image.
    const UInt8 pixels[4 * 4] = {255, 1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12};
    fConfig.TheRendered = TBCGImageCreateARGB(2, 2, pixels, 8);
    const pluginDataRec original = fConfig;
    const std::string before = ReadFile(fPrefs.File());
    std::vector<std::string> windows;
    std::vector<QPoint> opened, left;
    auto note = [&] {
        QWidget* window = TBGetWindowWidget(DialogWindow());
        windows.push_back(window->objectName().toStdString());
        opened.push_back(window->geometry().topLeft());
        window->move(window->pos() + QPoint(37, 21));  // the user moves it
        left.push_back(window->geometry().topLeft());
    };
    auto click = [](OSType theSig, SInt16 theID) {
        qobject_cast<QAbstractButton*>(Widget(theSig, theID))->click();
    };
    Run({
        [] { DragSlider(kSldr, 1, {80}); },
        [] { PressCommand("Sall"); },
        [&] { click(FOUR_CHAR_CODE("2col"), 0); },
        [&] { click(FOUR_CHAR_CODE("Keep"), 1); },
        note,
        [] { ChooseMedia(3); },
        note,
        [] { DragSlider(kSldr, 1, {5}); },
        [] { ChooseMedia(2); },
        note,
        [] { PressCommand("Rset"); },
        [] { PressCommand("not!"); },
    });
    EXPECT_EQ(windows, (std::vector<std::string>{"configNTSC", "configHD", "configPAL"}));
    // Each format's window opens where the last one was.
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[1], left[0]);
    EXPECT_EQ(opened[2], left[1]);
    ExpectSameConfig(fConfig, original);
    EXPECT_EQ(ReadFile(fPrefs.File()), before);
    size_t rowBytes = 0;
    EXPECT_EQ(TBCGImageGetARGBData(fConfig.TheRendered, &rowBytes)[5], 4);

    Run({
        [] { DragSlider(kSldr, 1, {99}); },
        [] { TBGetWindowWidget(DialogWindow())->close(); },  // closing acts as Cancel
    });
    ExpectSameConfig(fConfig, original);
    CGImageRelease(fConfig.TheRendered);
}

// Help opens the manual; without a program for PDF files it says so and
// where the manual is; without the manual it says that. The dialog stays.
TEST_F(ConfigDialog, HelpOpensTheManualOrSaysWhyNot)
{
    bool stillOpen = false;
    gAlerts.clear();
    gOpenedDocuments.clear();
    Run({
        [] { PressCommand("Help"); },
        [] {
            TBSetDocumentOpener([](const std::string&) { return OSStatus(kLSApplicationNotFoundErr); });
            PressCommand("Help");
            TBSetDocumentOpener([](const std::string& url) {
                gOpenedDocuments.push_back(url);
                return OSStatus(noErr);
            });
        },
        [] { SetManual(false); },
        [] { PressCommand("Help"); },
        [&] { stillOpen = TBGetWindowWidget(DialogWindow())->isVisible(); },
    });
    ASSERT_EQ(gOpenedDocuments.size(), 1u);
    EXPECT_NE(gOpenedDocuments[0].find("manual.pdf"), std::string::npos);
    ASSERT_EQ(gAlerts.size(), 2u);
    EXPECT_EQ(gAlerts[0].headline, "No PDF viewer is installed");
    EXPECT_NE(gAlerts[0].text.find((BundleResources() / "manual.pdf").string()), std::string::npos)
        << gAlerts[0].text;
    EXPECT_NE((gAlerts[1].headline + gAlerts[1].text).find("Cannot locate manual in bundle"),
              std::string::npos);
    EXPECT_TRUE(stillOpen);
}

// OK where the settings cannot be saved (a folder stands at the file's path)
// says so over the open dialog, naming the file and the cause; the settings
// hold for this run and the dialog answers false. Typed values are kept in
// step with the slider and the region, and saved by OK where it can.
TEST_F(ConfigDialog, OkThatCannotSaveSaysSoOverTheDialogAndKeepsTheSettings)
{
    static bool sShownOverDialog = false;
    gAlerts.clear();
    TBSetStandardAlertRunner([](const TBAlertRequest& request) {
        sShownOverDialog = Shown(DialogWindow());
        gAlerts.push_back(request);
        return request.defaultButton;
    });
    fs::remove(fPrefs.File());
    fs::create_directory(fPrefs.File());
    Script theScript({
        [] { DragSlider(kSldr, 1, {71}); },
        [] { PressCommand("ok  "); },
    });
    EXPECT_FALSE(ConfigurePlugIn(&fConfig, fSource, &fHost.params, 0, 10));
    StartQt();
    EXPECT_EQ(fConfig.Sliders[0], 71);
    EXPECT_TRUE(fs::is_directory(fPrefs.File()));
    ASSERT_EQ(gAlerts.size(), 1u);
    EXPECT_TRUE(sShownOverDialog);
    EXPECT_EQ(gAlerts[0].headline, "Your settings were not saved");
    EXPECT_EQ(gAlerts[0].text, "cannot save the settings: " + fPrefs.File().string() +
                                   " is a folder; they hold for this run only");
}

TEST_F(ConfigDialog, TypedValuesMoveTheSliderAndTheRegionAndAreSaved)
{
    constexpr OSType kField = FOUR_CHAR_CODE("Sval");
    constexpr OSType kEdge = FOUR_CHAR_CODE("Redg");
    auto type = [](OSType theSig, SInt16 theID, const char* theText) {
        return [=] {
            auto* field = qobject_cast<QSpinBox*>(Widget(theSig, theID));
            ASSERT_NE(field, nullptr);
            field->findChild<QLineEdit*>()->setText(theText);
            field->interpretText();
        };
    };
    std::vector<int> afterDrag;
    std::vector<std::string> legends;
    Run({
        type(kField, 1, "64"),
        [&] { legends.push_back(Text(kLgnd, 1)); },
        [] { DragSlider(kSldr, 1, {30, 33}); },
        [&] { afterDrag.push_back(qobject_cast<QSpinBox*>(Widget(kField, 1))->value()); },
        [this] { fConfig.KeepProps = false; },
        [&] {
            PressCommand("Sall");
            for (SInt16 n = 1; n <= 4; ++n)
                afterDrag.push_back(qobject_cast<QSpinBox*>(Widget(kEdge, n))->value());
        },
        type(kEdge, 3, "55"),
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(legends, std::vector<std::string>{"64%"});
    EXPECT_EQ(afterDrag, (std::vector<int>{33, 0, 0, 100, 100}));
    EXPECT_EQ(fConfig.Sliders[0], 33);
    pluginDataRec saved{};
    ResetConfig(&saved, true);
    ASSERT_TRUE(ReadConfig(&saved));
    EXPECT_EQ(saved.Sliders[0], 33);
    EXPECT_EQ(std::vector<double>({saved.StartRel.left, saved.StartRel.top, saved.StartRel.right,
                                   saved.StartRel.bottom}),
              std::vector<double>({0, 0, 0.55, 1}));
}

// An edge typed past the opposite one turns the region round.
TEST_F(ConfigDialog, TheTypedRegionTurnsRoundPastTheOppositeEdge)
{
    constexpr OSType kEdge = FOUR_CHAR_CODE("Redg");
    relRect typed{};
    Run({
        [this] { fConfig.KeepProps = false; },
        [&] {
            for (const auto& [n, text] : std::vector<std::pair<SInt16, const char*>>{
                     {1, "10"}, {2, "20"}, {3, "90"}, {4, "5"}}) {
                auto* field = qobject_cast<QSpinBox*>(Widget(kEdge, n));
                field->findChild<QLineEdit*>()->setText(text);
                field->interpretText();
            }
            typed = fConfig.StartRel;
        },
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(std::vector<double>({typed.left, typed.top, typed.right, typed.bottom}),
              std::vector<double>({0.1, 0.05, 0.9, 0.2}));
}


// Every control of every format's window has a name that screen readers say:
// its own text, or an accessible name.
TEST_F(ConfigDialog, EveryControlHasANameForScreenReaders)
{
    std::vector<std::string> unnamed;
    int seen = 0;
    auto check = [&] {
        QWidget* window = TBGetWindowWidget(DialogWindow());
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(window))
                continue;
            auto* button = qobject_cast<QAbstractButton*>(w);
            const bool input = button != nullptr || qobject_cast<QAbstractSlider*>(w) != nullptr ||
                               qobject_cast<QAbstractSpinBox*>(w) != nullptr ||
                               qobject_cast<QComboBox*>(w) != nullptr || w->property("toolboxClass").isValid();
            if (!input)
                continue;
            ++seen;
            if (w->accessibleName().isEmpty() && (button == nullptr || button->text().isEmpty()))
                unnamed.push_back((window->objectName() + "/" + w->objectName()).toStdString());
        }
    };
    Run({check, [] { ChooseMedia(3); }, check, [] { ChooseMedia(1); }, check});
    EXPECT_EQ(unnamed, std::vector<std::string>{});
    EXPECT_GE(seen, 3 * 20);
}

}  // namespace
