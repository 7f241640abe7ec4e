#include "dialog/configdlghandler.h"

#include <cstddef>

#include "CoreGraphics.h"
#include "DialogTestSupport.h"

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
    auto note = [&] {
        windows.push_back(TBGetWindowWidget(DialogWindow())->objectName().toStdString());
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

TEST_F(ConfigDialog, HelpOpensTheManualOrSaysItIsMissing)
{
    bool stillOpen = false;
    gAlerts.clear();
    gOpenedDocuments.clear();
    Run({
        [] { PressCommand("Help"); },
        [] { SetManual(false); },
        [] { PressCommand("Help"); },
        [&] { stillOpen = TBGetWindowWidget(DialogWindow())->isVisible(); },
    });
    ASSERT_EQ(gOpenedDocuments.size(), 1u);
    EXPECT_NE(gOpenedDocuments[0].find("manual.pdf"), std::string::npos);
    ASSERT_EQ(gAlerts.size(), 1u);
    EXPECT_NE((gAlerts[0].headline + gAlerts[0].text).find("Cannot locate manual in bundle"),
              std::string::npos);
    EXPECT_TRUE(stillOpen);
}

}  // namespace
