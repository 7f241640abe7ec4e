#include "dialog/colorCTRL.h"

#include <QColorDialog>

#include "DialogTestSupport.h"
#include "Effects/AdjustColors/TestHost.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginGlue.h"

namespace {

using namespace dialogtest;

TEST(ColorBoxValue, PacksTheHighByteOfEachChannel)
{
    EXPECT_EQ(RGBColor2ColorBoxValue(RGBColor{65535, 32896, 0}), 0xFF8000);
    const RGBColor green = ColorBoxValue2RGBColor(0x00FF00);
    EXPECT_EQ(green.red, 0);
    EXPECT_EQ(green.green, 65280);
    EXPECT_EQ(green.blue, 0);
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

class ColorBoxes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }
    void SetUp() override
    {
        ResetConfig(&fConfig, true);
        fSource = AllocateGWorld(720, 480);
        ASSERT_NE(fSource, nullptr);
    }
    void TearDown() override { DisposeGWorld(fSource); }
    void Run(std::vector<std::function<void()>> theSteps)
    {
        Script theScript(std::move(theSteps));
        ConfigurePlugIn(&fConfig, fSource, &fHost.params, 0, 10);
    }

    PrivatePrefs fPrefs;
    TestHost fHost;
    pluginDataRec fConfig{};
    GWorldPtr fSource = nullptr;
};

TEST_F(ColorBoxes, APickedColourGoesIntoTheConfigurationAndACancelledOneChangesNothing)
{
    RGBColor afterPick{};
    bool hiddenBoxesHidden = false;
    Run({
        [&] {
            hiddenBoxesHidden = !Widget(FOUR_CHAR_CODE("Colr"), 3)->isVisible() &&
                                !Widget(FOUR_CHAR_CODE("CLgd"), 6)->isVisible() &&
                                Widget(FOUR_CHAR_CODE("Colr"), 2)->isVisible();
        },
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
    EXPECT_TRUE(hiddenBoxesHidden);
    EXPECT_EQ(afterPick.red, 0xFF00);
    EXPECT_EQ(afterPick.green, 0x8000);
    EXPECT_EQ(afterPick.blue, 0);
    EXPECT_EQ(fConfig.Colors[1].red, 65535 & 0xFF00);
    EXPECT_EQ(fConfig.Colors[1].blue, 65535 & 0xFF00);
}

TEST_F(ColorBoxes, ABoxPaintsItsColourWithABlackBorder)
{
    UInt8 inside[4] = {};
    UInt8 border[4] = {};
    Run({
        [&] {
            ControlRef box = gConfigWorkSpace.Colors[0];
            SetControl32BitValue(box, 0x00FF00);
            Draw1Control(box);
            Rect r;
            GetControlBounds(box, &r);
            CGrafPtr port = GetWindowPort(DialogWindow());
            PixMapHandle pm = GetPortPixMap(port);
            const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
            const SInt32 rb = GetPixRowBytes(pm);
            std::memcpy(inside, base + ((r.top + r.bottom) / 2) * rb + ((r.left + r.right) / 2) * 4, 4);
            std::memcpy(border, base + r.top * rb + ((r.left + r.right) / 2) * 4, 4);
        },
    });
    EXPECT_EQ(inside[1], 0);
    EXPECT_EQ(inside[2], 255);
    EXPECT_EQ(inside[3], 0);
    EXPECT_EQ(border[1] | border[2] | border[3], 0);
}

}  // namespace
