#include "dialog/colorCTRL.h"

#include <QColorDialog>

#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

TEST(ColorBoxValue, PacksTheHighByteOfEachChannel)
{
    EXPECT_EQ(RGBColor2ColorBoxValue(RGBColor{65535, 32896, 0}), 0xFF8000);
    const RGBColor mixed = ColorBoxValue2RGBColor(0x123456);
    EXPECT_EQ(mixed.red, 0x1200);
    EXPECT_EQ(mixed.green, 0x3400);
    EXPECT_EQ(mixed.blue, 0x5600);
}

// Answers the next colour dialog: picks theColor, or cancels when invalid.
void AnswerPicker(QColor theColor)
{
    QTimer::singleShot(10, [theColor] {
        auto* picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (picker == nullptr) {
            AnswerPicker(theColor);
            return;
        }
        if (theColor.isValid()) {
            picker->setCurrentColor(theColor);
            picker->accept();
        } else {
            picker->reject();
        }
    });
}

void ClickBox(SInt16 theBox)
{
    QWidget* box = Widget(FOUR_CHAR_CODE("Colr"), theBox);
    ASSERT_NE(box, nullptr);
    const QPoint centre = box->mapTo(box->window(), box->rect().center());
    PostDrag(box, centre, {});
    QCoreApplication::sendPostedEvents();
}

using ColorBoxes = DialogFixture;

TEST_F(ColorBoxes, APickedColourGoesIntoTheConfigurationAndACancelledOneChangesNothing)
{
    RGBColor afterPick{};
    Run({
        [] {
            AnswerPicker(QColor(255, 128, 0));
            ClickBox(1);
        },
        [&] { afterPick = fConfig.Colors[0]; },
        [] {
            AnswerPicker(QColor());
            ClickBox(2);
        },
        [] { PressCommand("ok  "); },
    });
    EXPECT_EQ(afterPick.red, 0xFF00);
    EXPECT_EQ(afterPick.green, 0x8000);
    EXPECT_EQ(afterPick.blue, 0);
    EXPECT_EQ(fConfig.Colors[1].red, 65535 & 0xFF00);
    EXPECT_EQ(fConfig.Colors[1].blue, 65535 & 0xFF00);
}

}  // namespace
