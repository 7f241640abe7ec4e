#include "dialog/aboutwindow.h"

#include "DialogTestSupport.h"

#include <QLabel>

namespace {

using namespace dialogtest;

// Once the About window is up, notes its texts, then presses OK or closes it.
void AnswerAbout(bool pressOk, std::vector<std::string>& texts)
{
    QTimer::singleShot(10, [pressOk, &texts] {
        QWidget* window = QApplication::activeModalWidget();
        if (window == nullptr || window->objectName() != "about" || !window->isVisible())
            return AnswerAbout(pressOk, texts);
        for (const char* signature : {"Plug", "Vers"})
            for (QLabel* label : window->findChildren<QLabel*>())
                if (label->property("controlSignature").toString() == QLatin1String(signature))
                    texts.push_back(label->text().toStdString());
        if (!pressOk)
            return void(window->close());
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (button->property("commandID").toString() == QLatin1String("ok  "))
                button->click();
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
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
