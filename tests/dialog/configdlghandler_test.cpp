#include "dialog/configdlghandler.h"

#include "CoreGraphics.h"
#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

constexpr OSType kSldr = FOUR_CHAR_CODE("Sldr");
constexpr OSType kLgnd = FOUR_CHAR_CODE("Lgnd");

std::string ReadFile(const fs::path& thePath)
{
    std::ifstream in(thePath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string WindowName()
{
    QWidget* window = TBGetWindowWidget(DialogWindow());
    return window != nullptr ? window->objectName().toStdString() : std::string();
}

void ExpectSameConfig(const pluginDataRec& a, const pluginDataRec& b)
{
    EXPECT_EQ(a.StartRel.left, b.StartRel.left);
    EXPECT_EQ(a.StartRel.right, b.StartRel.right);
    EXPECT_EQ(a.StartRel.top, b.StartRel.top);
    EXPECT_EQ(a.StartRel.bottom, b.StartRel.bottom);
    EXPECT_EQ(a.EndRel.left, b.EndRel.left);
    EXPECT_EQ(a.EndRel.bottom, b.EndRel.bottom);
    for (int i = 0; i < cNumSliders; ++i)
        EXPECT_EQ(a.Sliders[i], b.Sliders[i]) << "slider " << i + 1;
    for (int i = 0; i < cNumColors; ++i) {
        EXPECT_EQ(a.Colors[i].red, b.Colors[i].red) << "colour " << i + 1;
        EXPECT_EQ(a.Colors[i].green, b.Colors[i].green) << "colour " << i + 1;
        EXPECT_EQ(a.Colors[i].blue, b.Colors[i].blue) << "colour " << i + 1;
    }
    EXPECT_EQ(a.FrameStartColor.red, b.FrameStartColor.red);
    EXPECT_EQ(a.MediaType, b.MediaType);
    EXPECT_EQ(a.KeepProps, b.KeepProps);
    EXPECT_EQ(a.TwoColors, b.TwoColors);
    EXPECT_EQ(a.Outside, b.Outside);
    EXPECT_EQ(a.TheRendered, b.TheRendered);
    EXPECT_EQ(a.TheOriginalImage, b.TheOriginalImage);
}

class ConfigDialog : public DialogFixture {
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        Alerts().clear();
        OpenedDocuments().clear();
        PluginBundle::Get().SetManual(true);
        fConfig.StartRel = SetRelRect(0.25, 0.25, 0.75, 0.75);
        fConfig.Sliders[0] = 40;
        fConfig.Colors[0] = RGBColor{0x1200, 0x3400, 0x5600};
    }
};

TEST_F(ConfigDialog, OkSavesTheEditedConfiguration)
{
    const std::string before = ReadFile(fPrefs.File());
    std::string readOut;
    Run({
        [] { DragSlider(kSldr, 1, {50, 63}); },
        [&] { readOut = Text(kLgnd, 1); },
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(readOut, "63%");
    EXPECT_EQ(fConfig.Sliders[0], 63);
    EXPECT_NE(ReadFile(fPrefs.File()), before);
    pluginDataRec saved{};
    ResetConfig(&saved, true);
    ASSERT_TRUE(ReadConfig(&saved));
    EXPECT_EQ(saved.Sliders[0], 63);
    EXPECT_EQ(saved.Colors[0].red, 0x1200);
    EXPECT_DOUBLE_EQ(saved.StartRel.left, 0.25);
}

TEST_F(ConfigDialog, CancelAfterEditsAndMediaChangesRestoresEveryField)
{
    const pluginDataRec original = fConfig;
    const std::string before = ReadFile(fPrefs.File());
    std::vector<std::string> windows;
    Run({
        [] { DragSlider(kSldr, 1, {80}); },
        [] { PressCommand("Sall"); },
        [] { Press(FOUR_CHAR_CODE("2col"), 0); },
        [] { Press(FOUR_CHAR_CODE("Keep"), 1); },
        [&] { windows.push_back(WindowName()); },
        [] { ChooseMedia(3); },
        [&] { windows.push_back(WindowName()); },
        [] { DragSlider(kSldr, 1, {5}); },
        [] { ChooseMedia(2); },
        [&] { windows.push_back(WindowName()); },
        [] { PressCommand("Rset"); },
        [] { PressCommand("not!"); },
    });
    EXPECT_EQ(windows, (std::vector<std::string>{"configNTSC", "configHD", "configPAL"}));
    ExpectSameConfig(fConfig, original);
    EXPECT_EQ(ReadFile(fPrefs.File()), before);
}

TEST_F(ConfigDialog, SelectAllTakesTheWholeFrameAndResetKeepsTheMediaType)
{
    fConfig.MediaType = 2;
    fConfig.KeepProps = true;
    relRect selected{};
    std::string readOut;
    Run({
        [] { PressCommand("Sall"); },
        [&] { selected = fConfig.StartRel; },
        [] { DragSlider(kSldr, 1, {90}); },
        [] { PressCommand("Rset"); },
        [&] { readOut = Text(kLgnd, 1); },
        [] { PressCommand("ok  "); },
    });
    EXPECT_DOUBLE_EQ(selected.left, 0.0);
    EXPECT_DOUBLE_EQ(selected.right, 1.0);
    EXPECT_DOUBLE_EQ(selected.top, 0.0);
    EXPECT_DOUBLE_EQ(selected.bottom, 1.0);
    EXPECT_EQ(fConfig.MediaType, 2);
    EXPECT_EQ(fConfig.Sliders[0], 17);
    EXPECT_FALSE(fConfig.KeepProps);
    EXPECT_EQ(readOut, "17%");
}

TEST_F(ConfigDialog, HelpOpensTheManualOrSaysItIsMissing)
{
    bool stillOpen = false;
    Run({
        [] { PressCommand("Help"); },
        [] { PluginBundle::Get().SetManual(false); },
        [] { PressCommand("Help"); },
        [&] { stillOpen = IsWindowVisible(DialogWindow()); },
    });
    ASSERT_EQ(OpenedDocuments().size(), 1u);
    EXPECT_NE(OpenedDocuments()[0].find("manual.pdf"), std::string::npos);
    ASSERT_EQ(Alerts().size(), 1u);
    EXPECT_NE((Alerts()[0].headline + Alerts()[0].text).find("Cannot locate manual in bundle"),
              std::string::npos);
    EXPECT_TRUE(stillOpen);
}

TEST_F(ConfigDialog, ClosingTheWindowActsAsCancel)
{
    const pluginDataRec original = fConfig;
    Run({
        [] { DragSlider(kSldr, 1, {99}); },
        [] { TBGetWindowWidget(DialogWindow())->close(); },
    });
    ExpectSameConfig(fConfig, original);
}

TEST_F(ConfigDialog, CancelRestoresAnImageTheDialogReleased)
{
    // The dialog re-renders TheRendered, which releases the one the record
    // held when it opened; Cancel must give back a live image.
    const UInt8 pixels[4 * 4] = {255, 1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12};
    fConfig.TheRendered = TBCGImageCreateARGB(2, 2, pixels, 8);
    CGImageRef held = fConfig.TheRendered;
    Run({[] { DragSlider(kSldr, 1, {70}); }});
    ASSERT_EQ(fConfig.TheRendered, held);
    EXPECT_EQ(CGImageGetWidth(fConfig.TheRendered), 2u);
    size_t rowBytes = 0;
    EXPECT_EQ(TBCGImageGetARGBData(fConfig.TheRendered, &rowBytes)[5], 4);
    CGImageRelease(fConfig.TheRendered);
}

}  // namespace
