#include "dialog/sliderHandlers.h"

#include "DialogTestSupport.h"

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
    EXPECT_EQ(fetched, (std::vector<SInt32>{41, 42, 41, 40, 42}));
    EXPECT_EQ(fHost.getFrameCalls.back().width, 720);
    EXPECT_EQ(fHost.liveFrames, 0);

    SInt32 maximum = -1;
    Run({[&] {
        maximum = GetControl32BitMaximum(gConfigWorkSpace.ClipSlider);
        note();
    }}, 5, 0);
    EXPECT_EQ(maximum, 0);
    EXPECT_EQ(texts.back(), "0/0");
}

}  // namespace
