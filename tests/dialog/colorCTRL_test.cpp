#include "dialog/colorCTRL.h"

#include <QColorDialog>

#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

// Answers the next colour picker: picks theColor, or cancels when invalid.
void AnswerPicker(QColor theColor)
{
    QTimer::singleShot(10, [theColor] {
        auto* picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (picker == nullptr)
            return AnswerPicker(theColor);
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
    Run({
        [] { PickColor(1, QColor(255, 128, 0)); },
        [] { PickColor(2, QColor()); },
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(Channels(fConfig.Colors[0]), std::vector<int>({0xFF00, 0x8000, 0}));
    // A box holds eight bits a channel.
    EXPECT_EQ(Channels(fConfig.Colors[1]),
              std::vector<int>({second.red & 0xFF00, second.green & 0xFF00, second.blue & 0xFF00}));
}

}  // namespace
