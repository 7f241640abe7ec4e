#include "ColorPicker.h"
#include "Dialogs.h"
#include "UITestSupport.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QMessageBox>
#include <QTimer>

#include <cstring>

using namespace uitest;

namespace {

class ApplicationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }
};

TEST_F(ApplicationTest, StandardAlertReturnsThePressedItem)
{
    AlertStdCFStringAlertParamRec param{};
    param.version = kStdCFStringAlertVersionOne;
    param.defaultText = CFSTR("Proceed");
    param.cancelText = CFSTR("Stop");
    param.defaultButton = kAlertStdAlertOKButton;
    param.cancelButton = kAlertStdAlertCancelButton;
    DialogRef alert = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertCautionAlert, CFSTR("Headline"), CFSTR("More"), &param, &alert), noErr);
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "Stop") button->click();
    });
    DialogItemIndex item = 0;
    RunStandardAlert(alert, nullptr, &item);
    EXPECT_EQ(item, kAlertStdAlertCancelButton);
}

TEST_F(ApplicationTest, ColorPickerReturnsTheChosenColourOrNothingWhenCancelled)
{
    NColorPickerInfo info{};
    info.theColor.color.rgb = CMRGBColor{0xFF00, 0x8000, 0};
    const unsigned char prompt[] = {4, 'P', 'i', 'c', 'k'};
    std::memcpy(info.prompt, prompt, sizeof prompt);
    QColor initial;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        initial = dialog->currentColor();
        dialog->setCurrentColor(QColor(10, 128, 255));
        dialog->accept();
    });
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_EQ(initial, QColor(255, 128, 0));
    EXPECT_TRUE(info.newColorChosen);
    EXPECT_EQ(info.theColor.color.rgb.red >> 8, 10);
    EXPECT_EQ(info.theColor.color.rgb.green >> 8, 128);
    EXPECT_EQ(info.theColor.color.rgb.blue, 65535);

    QTimer::singleShot(0, [] { qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject(); });
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_FALSE(info.newColorChosen);
}

}  // namespace
