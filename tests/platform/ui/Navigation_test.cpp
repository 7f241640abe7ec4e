#include "Navigation.h"

#include "UITestSupport.h"

#include <QFileDialog>
#include <QTimer>

using namespace uitest;

namespace {

class NavigationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }
};

TEST_F(NavigationTest, ChosenFilesComeBackAsFileSpecifications)
{
    TempBundle place("org.brimtone.test.nav");
    const std::string file = (place.Resources() / "picture.png").string();
    std::ofstream(file) << "x";

    NavDialogOptions options;
    ASSERT_EQ(NavGetDefaultDialogOptions(&options), noErr);
    const unsigned char message[] = {14, 'C', 'h', 'o', 'o', 's', 'e', ' ', 'P', 'i', 'c', 't', 'u', 'r', 'e'};
    std::memcpy(options.message, message, sizeof message);
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
    EXPECT_TRUE(reply.validRecord);
    long count = 0;
    AECountItems(&reply.selection, &count);
    ASSERT_EQ(count, 1);
    FSSpec spec{};
    Size size = 0;
    ASSERT_EQ(AEGetNthPtr(&reply.selection, 1, typeFSS, nullptr, nullptr, &spec, sizeof spec, &size), noErr);
    std::string path;
    ASSERT_TRUE(TBPathFromFSSpec(spec, path));
    EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical(file));
    EXPECT_EQ(AEGetNthPtr(&reply.selection, 2, typeFSS, nullptr, nullptr, &spec, sizeof spec, &size),
              errAEIllegalIndex);
    NavDisposeReply(&reply);

    QTimer::singleShot(0, [] { qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject(); });
    EXPECT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr), userCanceledErr);
    EXPECT_FALSE(reply.validRecord);
    NavDisposeReply(&reply);
}

}  // namespace
