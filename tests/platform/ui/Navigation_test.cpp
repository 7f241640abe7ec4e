#include "Navigation.h"

#include "UITestSupport.h"

#include <QFileDialog>
#include <QTimer>

#include <cstring>

using namespace uitest;

namespace {

TEST(Navigation, TheMessageTitlesTheDialogAndOnlyTheChosenFileComesBackUntilCancelled)
{
    StartQt();
    TempBundle place("org.brimtone.test.nav");
    const std::string file = (place.Resources() / "picture.png").string();
    std::ofstream(file) << "x";
    NavDialogOptions options;
    ASSERT_EQ(NavGetDefaultDialogOptions(&options), noErr);
    std::memcpy(options.message, "\x0e" "Choose Picture", 15);
    QString title;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        dialog->selectFile(QString::fromStdString(file));
        static_cast<QDialog*>(dialog)->accept();
    });
    NavReplyRecord reply;
    ASSERT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(title, "Choose Picture");
    FSSpec spec{};
    Size size = 0;
    ASSERT_EQ(AEGetNthPtr(&reply.selection, 1, typeFSS, nullptr, nullptr, &spec, sizeof spec, &size), noErr);
    EXPECT_EQ(AEGetNthPtr(&reply.selection, 2, typeFSS, nullptr, nullptr, &spec, sizeof spec, &size),
              errAEIllegalIndex);
    NavDisposeReply(&reply);

    QTimer::singleShot(0, [] { qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject(); });
    EXPECT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr), userCanceledErr);
    NavDisposeReply(&reply);
}

}  // namespace
