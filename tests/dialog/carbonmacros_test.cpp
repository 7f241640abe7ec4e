#include "dialog/carbonmacros.h"

#include "DialogTestSupport.h"
#include "common/CommonProcs.h"
#include "dialog/pictCTRL.h"

namespace {

using namespace dialogtest;

std::string Str(ConstStr255Param s)
{
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

constexpr OSType kPopup = FOUR_CHAR_CODE("Popp");
constexpr OSType kPicture = FOUR_CHAR_CODE("Pict");

// A small window written for these tests: two popups (one with a repeated
// item, one empty) and an image box of 40 x 20 pixels.
class ControlAccess : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartQt();
        std::ofstream(BundleResources() / "brimtone.nib" / "access.ui")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>access</class>"
               "<widget class=\"QDialog\" name=\"access\">"
               "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>200</width><height>100</height></rect>"
               "</property>"
               "<widget class=\"QComboBox\" name=\"popup1\">"
               "<property name=\"controlSignature\" stdset=\"0\"><string>Popp</string></property>"
               "<property name=\"controlID\" stdset=\"0\"><number>1</number></property>"
               "<item><property name=\"text\"><string>NTSC</string></property></item>"
               "<item><property name=\"text\"><string>PAL</string></property></item>"
               "<item><property name=\"text\"><string>PAL</string></property></item></widget>"
               "<widget class=\"QComboBox\" name=\"popup2\">"
               "<property name=\"controlSignature\" stdset=\"0\"><string>Popp</string></property>"
               "<property name=\"controlID\" stdset=\"0\"><number>2</number></property></widget>"
               "<widget class=\"QWidget\" name=\"picture\">"
               "<property name=\"geometry\"><rect><x>100</x><y>60</y><width>40</width><height>20</height></rect>"
               "</property>"
               "<property name=\"toolboxClass\" stdset=\"0\"><string>com.brimtone.plugin.imageCTRL</string>"
               "</property>"
               "<property name=\"controlSignature\" stdset=\"0\"><string>Pict</string></property>"
               "<property name=\"controlID\" stdset=\"0\"><number>1</number></property></widget>"
               "</widget></ui>\n";
    }
    void SetUp() override
    {
        RegisterPictureControl();
        fWindow = OpenNibWindowFromCFBundle(cMyBundleID, "brimtone", "access");
        ASSERT_NE(fWindow, nullptr);
    }
    void TearDown() override
    {
        DisposeWindow(fWindow);
        UnregisterPictureControl();
    }

    WindowRef fWindow = nullptr;
};

TEST_F(ControlAccess, CommandsAreFourCharactersAndMissingControlsAreHarmless)
{
    Str255 text;
    CommandID2Str(FOUR_CHAR_CODE("ok  "), text);
    EXPECT_EQ(Str(text), "ok  ");
    CommandID2Str(FOUR_CHAR_CODE("not!"), text);
    EXPECT_EQ(Str(text), "not!");

    const OSType kNone = FOUR_CHAR_CODE("None");
    EXPECT_EQ(SimpleGetControlByID(fWindow, kNone, 1), nullptr);
    SimpleSetControlText(fWindow, kNone, 1, PStr("x"));
    SimpleHideControl(fWindow, kNone, 1);
    SimpleSetControlValueByID(fWindow, kNone, 1, 5);
    EXPECT_EQ(SimpleGetControlValueByID(fWindow, kNone, 1), 0);
    GetEditTextFromControl(fWindow, kNone, 1, text);
    EXPECT_EQ(text[0], 0);
    GetSelectedPopupTextFromID(fWindow, kNone, 1, text);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(FindNameInPopupByID(fWindow, kNone, 1, PStr("PAL")), -1);
}

TEST_F(ControlAccess, PopupItemsAreFoundByTheirFirstExactName)
{
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopup, 1, PStr("PAL")), 2);
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopup, 1, PStr("NTSC")), 1);
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopup, 1, PStr("PA")), -1);
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopup, 2, PStr("")), -1);
    Str255 text;
    GetIndexedPopupTextFromID(fWindow, kPopup, 1, 3, text);
    EXPECT_EQ(Str(text), "PAL");
    GetIndexedPopupTextFromID(fWindow, kPopup, 1, 4, text);
    EXPECT_EQ(Str(text), "");
}

// The image box: white with a black border, the image fitted and centred;
// nothing for an unknown image number; a disabled box is not drawn.
TEST_F(ControlAccess, AnImageBoxFitsItsImageOnWhite)
{
    std::vector<UInt8> red(10 * 10 * 4);
    for (size_t i = 0; i < red.size(); i += 4) {
        red[i] = 255;
        red[i + 1] = 255;
    }
    CGImageRef image = TBCGImageCreateARGB(10, 10, red.data(), 40);
    ControlRef box = SimpleGetControlByID(fWindow, kPicture, 1);
    ASSERT_NE(box, nullptr);
    ShowWindow(fWindow);
    const Rect bounds = GetControlBox(box);
    CGrafPtr port = GetWindowPort(fWindow);
    auto pixel = [&](int h, int v) {
        const UInt8* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(GetGWorldPixMap(port))) +
                         size_t(v) * GetPixRowBytes(GetGWorldPixMap(port)) + size_t(h) * 4;
        return (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
    };
    // Along the middle row: border, white, the image, white, border.
    auto row = [&] {
        const int v = (bounds.top + bounds.bottom) / 2;
        return std::vector<UInt32>({pixel(bounds.left, v), pixel(bounds.left + 5, v), pixel(bounds.left + 20, v),
                                    pixel(bounds.right - 5, v), pixel(bounds.right - 1, v)});
    };
    std::vector<std::vector<UInt32>> rows;
    for (SInt32 value : {PictureControlImageNumber(image), SInt32(0x7FFFFFFF)}) {
        SetControl32BitValue(box, value);
        Draw1Control(box);
        rows.push_back(row());
    }
    // A disabled box leaves the empty box drawn before.
    DisableControl(box);
    SetControl32BitValue(box, PictureControlImageNumber(image));
    Draw1Control(box);
    rows.push_back(row());
    EXPECT_EQ(rows, (std::vector<std::vector<UInt32>>{{0, 0xFFFFFF, 0xFF0000, 0xFFFFFF, 0},
                                                      {0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0},
                                                      {0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0}}));
    EXPECT_EQ(PictureControlImage(-5), nullptr);
    ForgetPictureControlImage(image);
    EXPECT_EQ(PictureControlImage(PictureControlImageNumber(nullptr)), nullptr);
    CGImageRelease(image);
}

}  // namespace
