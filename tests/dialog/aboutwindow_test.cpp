#include "dialog/aboutwindow.h"

#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

// Once the About window is up, notes its texts, then presses OK or closes it.
void AnswerAbout(bool pressOk, std::vector<std::string>& texts)
{
    QTimer::singleShot(10, [pressOk, &texts] {
        WindowRef about = FrontWindow();
        QWidget* window = TBGetWindowWidget(about);
        if (window == nullptr || window->objectName() != "about" || !window->isVisible())
            return AnswerAbout(pressOk, texts);
        texts.push_back(Text(FOUR_CHAR_CODE("Plug"), 1, about));
        texts.push_back(Text(FOUR_CHAR_CODE("Vers"), 1, about));
        if (pressOk)
            PressCommand("ok  ", about);
        else
            window->close();
    });
}

TEST(ShowAbout, OkOrClosingTheWindowEndsIt)
{
    StartQt();
    std::vector<std::string> texts;
    for (bool pressOk : {true, false}) {
        AnswerAbout(pressOk, texts);
        ShowAbout();
    }
    const std::string version = std::string("Version ") + cPlugVersion;
    EXPECT_EQ(texts, (std::vector<std::string>{"Brimtone", version, "Brimtone", version}));
    EXPECT_EQ(FrontWindow(), nullptr);
}

}  // namespace
