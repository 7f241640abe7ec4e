#include "dialog/aboutwindow.h"

#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

// Presses the About window's button for theCommand once it is up, noting
// its texts first.
void AnswerAbout(const char* theCommand, std::vector<std::string>& texts)
{
    QTimer::singleShot(10, [theCommand, &texts] {
        WindowRef about = FrontWindow();
        QWidget* window = TBGetWindowWidget(about);
        if (window == nullptr || window->objectName() != "about" || !window->isVisible()) {
            AnswerAbout(theCommand, texts);
            return;
        }
        texts.push_back(Text(FOUR_CHAR_CODE("Plug"), 1, about));
        texts.push_back(Text(FOUR_CHAR_CODE("Vers"), 1, about));
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->property("commandID").toString() == QString::fromLatin1(theCommand)) {
                button->click();
                return;
            }
        window->close();
    });
}

TEST(ShowAbout, OkAndCancelEachCloseTheirOwnWindow)
{
    StartQt();
    std::vector<std::string> texts;
    AnswerAbout("ok  ", texts);
    ShowAbout();
    AnswerAbout("not!", texts);
    ShowAbout();
    const std::string version = std::string("Version ") + cPlugVersion;
    EXPECT_EQ(texts, (std::vector<std::string>{"Brimtone", version, "Brimtone", version}));
    EXPECT_EQ(FrontWindow(), nullptr);
}

}  // namespace
