#include "dialog/sliderHandlers.h"

#include "DialogTestSupport.h"
#include "Effects/AdjustColors/TestHost.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginGlue.h"

namespace {

using namespace dialogtest;

std::string Str(ConstStr255Param s)
{
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

TEST(ReadOuts, SliderAndFrameTexts)
{
    Str255 s;
    SliderValueText(17, s);
    EXPECT_EQ(Str(s), "17%");
    SliderValueText(-3, s);
    EXPECT_EQ(Str(s), "-3%");
    FramePositionText(0, 0, s);
    EXPECT_EQ(Str(s), "0/0");
    FramePositionText(7, 119, s);
    EXPECT_EQ(Str(s), "7/119");
}

class Sliders : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }
    void SetUp() override
    {
        ResetConfig(&fConfig, true);
        fSource = AllocateGWorld(720, 480);
        ASSERT_NE(fSource, nullptr);
    }
    void TearDown() override { DisposeGWorld(fSource); }

    PrivatePrefs fPrefs;
    TestHost fHost;
    pluginDataRec fConfig{};
    GWorldPtr fSource = nullptr;
};

TEST_F(Sliders, AOneFrameClipHasAFrameSliderOfZeroToZero)
{
    SInt32 maximum = -1;
    std::string text;
    std::vector<bool> hidden;
    Script theScript({[&] {
        maximum = GetControl32BitMaximum(gConfigWorkSpace.ClipSlider);
        text = Text(FOUR_CHAR_CODE("ClpM"), 1);
        for (SInt16 n = 2; n <= 6; ++n)
            hidden.push_back(!Widget(FOUR_CHAR_CODE("Sldr"), n)->isVisible() &&
                             !Widget(FOUR_CHAR_CODE("Lgnd"), n)->isVisible() &&
                             !Widget(FOUR_CHAR_CODE("Labl"), n)->isVisible());
    }});
    ConfigurePlugIn(&fConfig, fSource, &fHost.params, 5, 0);
    EXPECT_EQ(maximum, 0);
    EXPECT_EQ(text, "0/0");
    EXPECT_EQ(hidden, std::vector<bool>(5, true));
}

TEST_F(Sliders, DraggingTheFrameSliderFetchesEachFrame)
{
    std::vector<std::string> texts;
    Script theScript({[&] {
        auto* slider = qobject_cast<QSlider*>(Widget(FOUR_CHAR_CODE("ClpS"), 1));
        ASSERT_NE(slider, nullptr);
        slider->setSliderDown(true);
        for (int v : {3, 8}) {
            slider->setValue(v);
            texts.push_back(Text(FOUR_CHAR_CODE("ClpM"), 1));
        }
        slider->setSliderDown(false);
    }});
    ConfigurePlugIn(&fConfig, fSource, &fHost.params, 40, 12);
    EXPECT_EQ(texts, (std::vector<std::string>{"3/11", "8/11"}));
    ASSERT_GE(fHost.getFrameCalls.size(), 2u);
    EXPECT_EQ(fHost.getFrameCalls[0].index, 43);
    EXPECT_EQ(fHost.getFrameCalls[1].index, 48);
    EXPECT_EQ(fHost.getFrameCalls[0].width, 720);
    EXPECT_EQ(fHost.liveFrames, 0);
}

}  // namespace
