#include "dialog/sliderHandlers.h"

#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

using Sliders = DialogFixture;

TEST_F(Sliders, AOneFrameClipHasAFrameSliderOfZeroToZero)
{
    SInt32 maximum = -1;
    std::string text;
    std::vector<bool> hidden;
    Run({[&] {
        maximum = GetControl32BitMaximum(gConfigWorkSpace.ClipSlider);
        text = Text(FOUR_CHAR_CODE("ClpM"), 1);
        for (SInt16 n = 2; n <= 6; ++n)
            hidden.push_back(!Widget(FOUR_CHAR_CODE("Sldr"), n)->isVisible() &&
                             !Widget(FOUR_CHAR_CODE("Lgnd"), n)->isVisible() &&
                             !Widget(FOUR_CHAR_CODE("Labl"), n)->isVisible());
    }}, 5, 0);
    EXPECT_EQ(maximum, 0);
    EXPECT_EQ(text, "0/0");
    EXPECT_EQ(hidden, std::vector<bool>(5, true));
}

TEST_F(Sliders, DraggingTheFrameSliderFetchesEachFrame)
{
    std::vector<std::string> texts;
    Run({[&] {
        auto* slider = qobject_cast<QSlider*>(Widget(FOUR_CHAR_CODE("ClpS"), 1));
        ASSERT_NE(slider, nullptr);
        slider->setSliderDown(true);
        for (int v : {3, 8}) {
            slider->setValue(v);
            texts.push_back(Text(FOUR_CHAR_CODE("ClpM"), 1));
        }
        slider->setSliderDown(false);
    }}, 40, 12);
    EXPECT_EQ(texts, (std::vector<std::string>{"3/11", "8/11"}));
    ASSERT_GE(fHost.getFrameCalls.size(), 2u);
    EXPECT_EQ(fHost.getFrameCalls[0].index, 43);
    EXPECT_EQ(fHost.getFrameCalls[1].index, 48);
    EXPECT_EQ(fHost.getFrameCalls[0].width, 720);
    EXPECT_EQ(fHost.liveFrames, 0);
}

}  // namespace
