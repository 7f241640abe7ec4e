#include "ColorPicker.h"
#include "Dialogs.h"
#include "Events.h"
#include "Fonts.h"
#include "LaunchServices.h"
#include "QuickDraw.h"
#include "UITestSupport.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <string>

using namespace uitest;

namespace {

class ApplicationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }
};

// Presses the button with the given text on the alert that is showing.
void PressOnAlert(const QString& text, QString* shownText, QString* shownInfo)
{
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *shownText = box->text();
        *shownInfo = box->informativeText();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == text) button->click();
        }
    });
}

TEST_F(ApplicationTest, StandardAlertShowsAMessageBoxAndReturnsThePressedItem)
{
    AlertStdCFStringAlertParamRec param{};
    param.version = kStdCFStringAlertVersionOne;
    param.defaultText = CFSTR("Proceed");
    param.cancelText = CFSTR("Stop");
    param.defaultButton = kAlertStdAlertOKButton;
    param.cancelButton = kAlertStdAlertCancelButton;

    QString text;
    QString info;
    DialogRef alert = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertCautionAlert, CFSTR("Headline"), CFSTR("More words"), &param, &alert), noErr);
    PressOnAlert("Stop", &text, &info);
    DialogItemIndex item = 0;
    RunStandardAlert(alert, nullptr, &item);
    EXPECT_EQ(item, kAlertStdAlertCancelButton);
    EXPECT_EQ(text, "Headline");
    EXPECT_EQ(info, "More words");

    ASSERT_EQ(CreateStandardAlert(kAlertNoteAlert, CFSTR("Again"), CFSTR(""), &param, &alert), noErr);
    PressOnAlert("Proceed", &text, &info);
    RunStandardAlert(alert, nullptr, &item);
    EXPECT_EQ(item, kAlertStdAlertOKButton);
}

TEST_F(ApplicationTest, KeyModifiersFollowTheLastInputEvent)
{
    QWidget widget;
    widget.show();
    QTest::keyPress(&widget, Qt::Key_A, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(GetCurrentKeyModifiers(), UInt32(shiftKey | cmdKey));
    QTest::keyPress(&widget, Qt::Key_A, Qt::AltModifier | Qt::MetaModifier);
    EXPECT_EQ(GetCurrentKeyModifiers(), UInt32(optionKey | controlKey));
    QTest::keyRelease(&widget, Qt::Key_A, Qt::NoModifier);
    EXPECT_EQ(GetCurrentKeyModifiers(), 0u);
}

TEST_F(ApplicationTest, DrawStringPaintsTheForeColourAndAdvancesThePen)
{
    GWorldPtr world = nullptr;
    const Rect bounds{0, 0, 40, 200};
    ASSERT_EQ(NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0), noErr);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    EraseRect(&bounds);
    const RGBColor blue{0, 0, 0xFFFF};
    RGBForeColor(&blue);
    TextSize(20);
    const unsigned char text[] = {4, 'W', 'W', 'W', 'W'};
    const SInt16 width = StringWidth(text);
    EXPECT_GT(width, 20);
    MoveTo(10, 30);
    DrawString(text);
    Point pen;
    GetPen(&pen);
    EXPECT_EQ(pen.h, 10 + width);

    PixMapHandle pixels = GetGWorldPixMap(world);
    const auto* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pixels));
    const SInt32 rowBytes = GetPixRowBytes(pixels);
    int blueInside = 0;
    int markedOutside = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 200; ++x) {
            const UInt8* p = base + y * rowBytes + x * 4;
            const bool inked = p[1] < 128 && p[2] < 128 && p[3] > 128;
            const bool white = p[1] == 255 && p[2] == 255 && p[3] == 255;
            if (x >= 10 && x < 10 + width && y < 36) blueInside += inked;
            else markedOutside += !white;
        }
    }
    EXPECT_GT(blueInside, 20);
    EXPECT_EQ(markedOutside, 0);
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(world);
}

TEST_F(ApplicationTest, ColorPickerReturnsTheChosenColourInSixteenBitChannels)
{
    NColorPickerInfo info{};
    info.theColor.color.rgb = CMRGBColor{0xFF00, 0x8000, 0};
    info.flags = 0x93;
    const unsigned char prompt[] = {4, 'P', 'i', 'c', 'k'};
    std::memcpy(info.prompt, prompt, sizeof prompt);
    QString title;
    QColor initial;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        initial = dialog->currentColor();
        dialog->setCurrentColor(QColor(255, 128, 0));
        dialog->accept();
    });
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_EQ(title, "Pick");
    EXPECT_EQ(initial, QColor(255, 128, 0));
    EXPECT_TRUE(info.newColorChosen);
    EXPECT_EQ(info.theColor.color.rgb.red, 65535);
    EXPECT_EQ(info.theColor.color.rgb.green >> 8, 128);
    EXPECT_EQ(info.theColor.color.rgb.blue, 0);

    QTimer::singleShot(0, [] { qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject(); });
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_FALSE(info.newColorChosen);
}

std::string gOpened;
OSStatus RecordOpen(const std::string& url)
{
    gOpened = url;
    return noErr;
}

TEST_F(ApplicationTest, LaunchServicesHandsExistingDocumentsToTheOpener)
{
    TempBundle bundle("org.brimtone.test.launch");
    const std::string path = (bundle.Resources() / "a manual.pdf").string();
    std::ofstream(path) << "%PDF";
    TBSetDocumentOpener(RecordOpen);
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    EXPECT_EQ(LSOpenFSRef(&ref, nullptr), noErr);
    EXPECT_EQ(gOpened, "file://" + bundle.Resources().string() + "/a%20manual.pdf");

    CFURLRef gone = TBCFURLCreateWithPath(bundle.Resources().string() + "/missing.pdf", false);
    gOpened.clear();
    EXPECT_EQ(LSOpenCFURLRef(gone, nullptr), fnfErr);
    EXPECT_TRUE(gOpened.empty());
    CFRelease(gone);

    LSItemInfoRecord info{};
    ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestExtension | kLSRequestBasicFlagsOnly, &info), noErr);
    EXPECT_EQ(info.flags & kLSItemInfoIsContainer, 0u);
    EXPECT_EQ(TBCFStringToUTF8(info.extension), "pdf");
    CFRelease(info.extension);
    TBSetDocumentOpener(nullptr);
}

TEST_F(ApplicationTest, FontFamiliesAreFoundByName)
{
    const unsigned char system[] = {6, 'S', 'y', 's', 't', 'e', 'm'};
    const unsigned char nonsense[] = {5, 'Q', 'x', 'z', 'z', 'y'};
    EXPECT_EQ(FMGetFontFamilyFromName(system), 0);
    EXPECT_EQ(FMGetFontFamilyFromName(nonsense), kInvalidFontFamily);
}

}  // namespace
