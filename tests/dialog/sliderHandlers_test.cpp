#include "dialog/sliderHandlers.h"

#include "DialogTestSupport.h"
#include "plugin/PluginDefines.h"

namespace {

using namespace dialogtest;

using Sliders = DialogFixture;

// A three-frame clip from frame 40: the step buttons stop at both ends, the
// frame slider fetches each frame it passes, every frame is given back; a
// clip of one frame has a frame slider of 0 to 0.
TEST_F(Sliders, StepButtonsStopAtBothEndsAndTheFrameSliderFetchesEachFrame)
{
    std::vector<std::string> texts;
    auto note = [&] { texts.push_back(Text(FOUR_CHAR_CODE("ClpM"), 1)); };
    auto press = [&](const char* theCommand) {
        return [&, theCommand] {
            PressCommand(theCommand);
            note();
        };
    };
    Run({press("Revi"), press("Adva"), press("Adva"), press("Adva"), press("Revi"), [&] {
             DragSlider(FOUR_CHAR_CODE("ClpS"), 1, {0, 2});
             note();
         }}, 40, 3);
    EXPECT_EQ(texts, (std::vector<std::string>{"0/2", "1/2", "2/2", "2/2", "1/2", "2/2"}));
    std::vector<SInt32> fetched;
    for (const GetFrameCall& call : fHost.getFrameCalls)
        fetched.push_back(call.index);
    EXPECT_EQ(fetched, (std::vector<SInt32>{41, 42, 41, 40, 42, 42}));
    EXPECT_EQ(fHost.getFrameCalls.back().width, 720);
    EXPECT_EQ(fHost.liveFrames, 0);

    // Opened on the clip's frame 7 of 10: the counter and the slider count the
    // clip's own frames, and stepping stops at its last.
    texts.clear();
    SInt32 opened = -1;
    Run({[&] {
             opened = GetControl32BitValue(gConfigWorkSpace.ClipSlider);
             note();
         },
         press("Adva"), press("Adva"), press("Adva")}, 40, 10, 7);
    EXPECT_EQ(opened, 7);
    EXPECT_EQ(texts, (std::vector<std::string>{"7/9", "8/9", "9/9", "9/9"}));

    SInt32 maximum = -1;
    Run({[&] {
        maximum = GetControl32BitMaximum(gConfigWorkSpace.ClipSlider);
        note();
    }}, 5, 0);
    EXPECT_EQ(maximum, 0);
    EXPECT_EQ(texts.back(), "0/0");
}

// While the thumb moves the preview asks for quick frames (low quality: a
// nearby frame that decodes at once will do); let go, the exact frame.
TEST_F(Sliders, TheMovingFrameSliderAsksForQuickFramesAndTheExactOneWhenLetGo)
{
    Run({[] { DragSlider(FOUR_CHAR_CODE("ClpS"), 1, {3, 6}); }}, 40, 10);
    std::vector<std::pair<SInt32, HYRefDVQuality>> fetched;
    for (const GetFrameCall& call : fHost.getFrameCalls)
        fetched.emplace_back(call.index, call.quality);
    EXPECT_EQ(fetched, (std::vector<std::pair<SInt32, HYRefDVQuality>>{
                           {43, kDVLowQuality}, {46, kDVLowQuality}, {46, kDVHighQuality}}));
}

// Escape while a slider's thumb is held puts it, and what it sets, back where
// the press found it; the dialog stays open and the mouse moves it no more.
TEST_F(Sliders, EscapeDuringASliderDragPutsItBackAndKeepsTheDialog)
{
    fConfig.Sliders[kThresholdSlider] = 40;
    bool open = false;
    int after = -1;
    std::vector<std::string> legends;
    Run({[&] {
             auto* slider = qobject_cast<QSlider*>(Widget(FOUR_CHAR_CODE("Sldr"), 1));
             slider->setFocus();
             slider->setSliderDown(true);
             slider->setValue(80);
             legends.push_back(Text(FOUR_CHAR_CODE("Lgnd"), 1));
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(slider, &escape);
             legends.push_back(Text(FOUR_CHAR_CODE("Lgnd"), 1));
             after = slider->value();
             open = !slider->isSliderDown();
         },
         [&] { open = open && Shown(DialogWindow()); },
         [] { PressCommand("ok  "); }});
    EXPECT_EQ(legends, (std::vector<std::string>{"80%", "40%"}));
    EXPECT_EQ(after, 40);
    EXPECT_TRUE(open);
    EXPECT_EQ(fConfig.Sliders[kThresholdSlider], 40);
}

}  // namespace
