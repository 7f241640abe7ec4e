#include "Dialogs.h"
#include "UITestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

using namespace uitest;

namespace {

TEST(Application, StandardAlertReturnsThePressedItem)
{
    StartQt();
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

}  // namespace
