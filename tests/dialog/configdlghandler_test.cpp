#include "dialog/configdlghandler.h"

#include "CoreGraphics.h"
#include "DialogTestSupport.h"
#include "Effects/AdjustColors/TestHost.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginGlue.h"

namespace {

using namespace dialogtest;

constexpr OSType kSldr = FOUR_CHAR_CODE("Sldr");
constexpr OSType kLgnd = FOUR_CHAR_CODE("Lgnd");
constexpr OSType kClpM = FOUR_CHAR_CODE("ClpM");
constexpr OSType kClpS = FOUR_CHAR_CODE("ClpS");

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

class ConfigDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }

    void SetUp() override
    {
        Alerts().clear();
        OpenedDocuments().clear();
        PluginBundle::Get().SetManual(true);
        ResetConfig(&fConfig, true);
        fConfig.StartRel = SetRelRect(0.25, 0.25, 0.75, 0.75);
        fConfig.Sliders[0] = 40;
        fConfig.Colors[0] = RGBColor{0x1200, 0x3400, 0x5600};
    }
    void TearDown() override
    {
        if (fSource != nullptr)
            DisposeGWorld(fSource);
    }

    // Opens the dialog as the host's button does, on a clip of theFrames frames.
    void Run(std::vector<std::function<void()>> theSteps, SInt32 theFrames = 10)
    {
        static const SInt16 kSizes[4][2] = {{720, 480}, {720, 480}, {720, 576}, {960, 540}};
        const int kind = fConfig.MediaType >= 1 && fConfig.MediaType <= 3 ? fConfig.MediaType : 0;
        if (fSource != nullptr)
            DisposeGWorld(fSource);
        fSource = AllocateGWorld(kSizes[kind][0], kSizes[kind][1]);
        ASSERT_NE(fSource, nullptr);
        for (SInt32 y = 0; y < kSizes[kind][1]; ++y)
            for (SInt32 x = 0; x < kSizes[kind][0]; ++x)
                TestFramePixel(0, x, y, PixelAt(fSource, x, y));
        Script theScript(std::move(theSteps));
        ConfigurePlugIn(&fConfig, fSource, &fHost.params, 0, theFrames);
    }

    PrivatePrefs fPrefs;
    TestHost fHost;
    pluginDataRec fConfig{};
    GWorldPtr fSource = nullptr;
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

TEST_F(ConfigDialog, MediaChangeKeepsTheEditsAndTheSameFormatKeepsTheWindow)
{
    std::vector<std::string> windows;
    std::string threshold;
    std::string frameText;
    Run(
        {
            [] { DragSlider(kClpS, 1, {7}); },
            [] { DragSlider(kSldr, 1, {33}); },
            [] { ChooseMedia(1); },
            [&] { windows.push_back(WindowName()); },
            [] { ChooseMedia(3); },
            [&] {
                windows.push_back(WindowName());
                threshold = Text(kLgnd, 1);
                frameText = Text(kClpM, 1);
            },
            [] { PressCommand("ok  "); },
        },
        20);
    EXPECT_EQ(windows, (std::vector<std::string>{"configNTSC", "configHD"}));
    EXPECT_EQ(threshold, "33%");
    EXPECT_EQ(frameText, "7/19");
    EXPECT_EQ(fConfig.MediaType, 3);
    EXPECT_EQ(fConfig.Sliders[0], 33);
}

TEST_F(ConfigDialog, UnknownMediaTypeOpensTheNtscWindow)
{
    fConfig.MediaType = 7;
    std::string window;
    Run({[&] { window = WindowName(); }});
    EXPECT_EQ(window, "configNTSC");
    EXPECT_EQ(fConfig.MediaType, 7);
}

TEST_F(ConfigDialog, StepButtonsStopAtBothEnds)
{
    std::vector<std::string> texts;
    auto note = [&] { texts.push_back(Text(kClpM, 1)); };
    Run(
        {
            [] { PressCommand("Revi"); }, note,
            [] { PressCommand("Adva"); }, note,
            [] { PressCommand("Adva"); }, note,
            [] { PressCommand("Adva"); }, note,
            [] { PressCommand("Revi"); }, note,
        },
        3);
    EXPECT_EQ(texts, (std::vector<std::string>{"0/2", "1/2", "2/2", "2/2", "1/2"}));
    ASSERT_EQ(fHost.getFrameCalls.size(), 3u);
    EXPECT_EQ(fHost.getFrameCalls[0].index, 1);
    EXPECT_EQ(fHost.getFrameCalls[1].index, 2);
    EXPECT_EQ(fHost.getFrameCalls[2].index, 1);
    EXPECT_EQ(fHost.liveFrames, 0);
}

TEST_F(ConfigDialog, ResetKeepsTheMediaType)
{
    fConfig.MediaType = 2;
    fConfig.KeepProps = true;
    std::string readOut;
    bool keepChecked = true;
    Run({
        [] { DragSlider(kSldr, 1, {90}); },
        [] { PressCommand("Rset"); },
        [&] {
            readOut = Text(kLgnd, 1);
            keepChecked = SimpleGetControlValueByID(DialogWindow(), FOUR_CHAR_CODE("Keep"), 1) != 0;
        },
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(fConfig.MediaType, 2);
    EXPECT_EQ(fConfig.Sliders[0], 17);
    EXPECT_EQ(fConfig.Colors[0].blue, 65535);
    EXPECT_FALSE(fConfig.KeepProps);
    EXPECT_FALSE(keepChecked);
    EXPECT_EQ(readOut, "17%");
    EXPECT_DOUBLE_EQ(fConfig.StartRel.left, 0.0);
}

TEST_F(ConfigDialog, SelectAllMakesTheRegionTheWholeFrame)
{
    Run({[] { PressCommand("Sall"); }, [] { PressCommand("ok  "); }});
    EXPECT_DOUBLE_EQ(fConfig.StartRel.left, 0.0);
    EXPECT_DOUBLE_EQ(fConfig.StartRel.right, 1.0);
    EXPECT_DOUBLE_EQ(fConfig.StartRel.top, 0.0);
    EXPECT_DOUBLE_EQ(fConfig.StartRel.bottom, 1.0);
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

TEST_F(ConfigDialog, ThresholdSliderUpdatesReadOutAndPreviewLive)
{
    std::vector<std::string> readOuts;
    std::vector<UInt32> previewSums;
    auto previewSum = [] {
        PixMapHandle pm = GetGWorldPixMap(gConfigWorkSpace.TheFXClip);
        const Rect r = GetPortRect(gConfigWorkSpace.TheFXClip);
        UInt32 sum = 0;
        for (int y = 0; y < r.bottom; y += 3)
            for (int x = 0; x < r.right; x += 3)
                sum = sum * 31 + reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm))[y * GetPixRowBytes(pm) + x * 4 + 3];
        return sum;
    };
    Run({
        [&] {
            auto* slider = qobject_cast<QSlider*>(Widget(kSldr, 1));
            ASSERT_NE(slider, nullptr);
            slider->setSliderDown(true);
            for (int v : {10, 55, 90}) {
                slider->setValue(v);
                readOuts.push_back(Text(kLgnd, 1));
                previewSums.push_back(previewSum());
            }
            slider->setSliderDown(false);
        },
    });
    EXPECT_EQ(readOuts, (std::vector<std::string>{"10%", "55%", "90%"}));
    ASSERT_EQ(previewSums.size(), 3u);
    EXPECT_NE(previewSums[0], previewSums[1]);
    EXPECT_NE(previewSums[1], previewSums[2]);
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
