#include "dialog/colorCTRL.h"

#include <QColorDialog>
#include <QKeyEvent>
#include <QTest>

#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

std::vector<std::string> gPickerTitles;

// Answers the next colour picker: picks theColor, or cancels when invalid.
void AnswerPicker(QColor theColor)
{
    QTimer::singleShot(10, [theColor] {
        auto* picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (picker == nullptr)
            return AnswerPicker(theColor);
        gPickerTitles.push_back(picker->windowTitle().toStdString());
        picker->setCurrentColor(theColor);
        theColor.isValid() ? picker->accept() : picker->reject();
    });
}

void PickColor(SInt16 theBox, QColor theColor)
{
    AnswerPicker(theColor);
    QWidget* box = Widget(FOUR_CHAR_CODE("Colr"), theBox);
    ASSERT_NE(box, nullptr);
    Drag(box, box->mapTo(box->window(), box->rect().center()), {});
}

std::vector<int> Channels(RGBColor c) { return {c.red, c.green, c.blue}; }

using ColorBoxes = DialogFixture;

TEST_F(ColorBoxes, APickedColourGoesIntoTheConfigurationAndACancelledOneChangesNothing)
{
    const RGBColor second = fConfig.Colors[1];
    gPickerTitles.clear();
    Run({
        [] { PickColor(1, QColor(255, 128, 0)); },
        [] { PickColor(2, QColor()); },
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(Channels(fConfig.Colors[0]), std::vector<int>({0xFF00, 0x8000, 0}));
    // The picker's title names the colour it sets.
    EXPECT_EQ(gPickerTitles, (std::vector<std::string>{"Choose the colour for dark areas",
                                                       "Choose the colour for light areas"}));
    // A box holds eight bits a channel.
    EXPECT_EQ(Channels(fConfig.Colors[1]),
              std::vector<int>({second.red & 0xFF00, second.green & 0xFF00, second.blue & 0xFF00}));
}

// Keyboard only: the focus starts on the threshold slider, Tab walks through
// its number field to both colour boxes, Space on a box and Return on the
// other open the picker.
TEST_F(ColorBoxes, TabReachesBothBoxesAndSpaceOrReturnPicks)
{
    std::vector<std::string> focused;
    // After the picker the dialog is active again before keys reach it.
    auto key = [](Qt::Key theKey) {
        EXPECT_TRUE(QTest::qWaitForWindowActive(TBGetWindowWidget(DialogWindow())));
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        QKeyEvent press(QEvent::KeyPress, theKey, Qt::NoModifier, theKey == Qt::Key_Space ? " " : "");
        QCoreApplication::sendEvent(QApplication::focusWidget(), &press);
    };
    auto noteFocus = [&] {
        QWidget* focus = QApplication::focusWidget();
        focused.push_back(focus != nullptr ? focus->objectName().toStdString() : "none");
    };
    Run({
        [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(TBGetWindowWidget(DialogWindow())));
            noteFocus();
        },
        [&] {
            key(Qt::Key_Tab);
            noteFocus();
            key(Qt::Key_Tab);
            noteFocus();
            AnswerPicker(QColor(10, 20, 30));
        },
        [&] { key(Qt::Key_Space); },
        [&] {
            key(Qt::Key_Tab);
            noteFocus();
            AnswerPicker(QColor(40, 50, 60));
        },
        [&] { key(Qt::Key_Return); },
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(focused, (std::vector<std::string>{"slider1", "thresholdField", "colorBox1", "colorBox2"}));
    EXPECT_EQ(Channels(fConfig.Colors[0]), std::vector<int>({0x0A00, 0x1400, 0x1E00}));
    EXPECT_EQ(Channels(fConfig.Colors[1]), std::vector<int>({0x2800, 0x3200, 0x3C00}));
}

}  // namespace
