#include "dialog/carbonmacros.h"

#include "DialogTestSupport.h"

namespace {

using namespace dialogtest;

std::string Str(ConstStr255Param s)
{
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

// A small window of standard controls written for these tests.
class ControlAccess : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartQt();
        std::ofstream(PluginBundle::Get().Resources() / "brimtone.nib" / "access.ui")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>access</class>"
               "<widget class=\"QDialog\" name=\"access\">"
               "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>300</width><height>200</height></rect></property>"
               "<widget class=\"QLineEdit\" name=\"edit\">"
               "<property name=\"controlSignature\" stdset=\"0\"><string>Edit</string></property>"
               "<property name=\"controlID\" stdset=\"0\"><number>1</number></property></widget>"
               "<widget class=\"QLabel\" name=\"label\">"
               "<property name=\"controlSignature\" stdset=\"0\"><string>Text</string></property>"
               "<property name=\"controlID\" stdset=\"0\"><number>2</number></property></widget>"
               "<widget class=\"QComboBox\" name=\"popup\">"
               "<property name=\"controlSignature\" stdset=\"0\"><string>Popu</string></property>"
               "<property name=\"controlID\" stdset=\"0\"><number>1</number></property>"
               "<item><property name=\"text\"><string>Alpha</string></property></item>"
               "<item><property name=\"text\"><string>Beta</string></property></item>"
               "<item><property name=\"text\"><string>Alpha</string></property></item></widget>"
               "<widget class=\"QComboBox\" name=\"empty\">"
               "<property name=\"controlSignature\" stdset=\"0\"><string>Popu</string></property>"
               "<property name=\"controlID\" stdset=\"0\"><number>2</number></property></widget>"
               "</widget></ui>\n";
    }
    void SetUp() override
    {
        fWindow = OpenNibWindowFromCFBundle(cMyBundleID, "brimtone", "access");
        ASSERT_NE(fWindow, nullptr);
    }
    void TearDown() override { DisposeWindow(fWindow); }

    WindowRef fWindow = nullptr;
};

TEST(CommandID2Str, GivesTheFourCharactersHighByteFirst)
{
    Str255 s;
    CommandID2Str(FOUR_CHAR_CODE("ok  "), s);
    EXPECT_EQ(Str(s), "ok  ");
    CommandID2Str(FOUR_CHAR_CODE("not!"), s);
    EXPECT_EQ(Str(s), "not!");
}

TEST_F(ControlAccess, MissingControlsAreHarmless)
{
    const OSType kNone = FOUR_CHAR_CODE("None");
    EXPECT_EQ(SimpleGetControlByID(fWindow, kNone, 1), nullptr);
    SimpleSetControlText(fWindow, kNone, 1, PStr("x"));
    SimpleHideControl(fWindow, kNone, 1);
    SimpleSetControlValueByID(fWindow, kNone, 1, 5);
    EXPECT_EQ(SimpleGetControlValueByID(fWindow, kNone, 1), 0);
    Str255 text;
    GetEditTextFromControl(fWindow, kNone, 1, text);
    EXPECT_EQ(text[0], 0);
    const Rect box = SimpleGetControlBox(fWindow, kNone, 1);
    EXPECT_TRUE(EmptyRect(&box));
    EXPECT_EQ(FindNameInPopupByID(fWindow, kNone, 1, PStr("Alpha")), -1);
}

TEST_F(ControlAccess, TextsAreCutAt255Bytes)
{
    const OSType kEdit = FOUR_CHAR_CODE("Edit");
    const std::string longText(300, 'q');
    auto* edit = Widget(kEdit, 1, fWindow);
    ASSERT_NE(edit, nullptr);
    edit->setProperty("text", QString::fromStdString(longText));
    Str255 text;
    GetEditTextFromControl(fWindow, kEdit, 1, text);
    EXPECT_EQ(Str(text), std::string(255, 'q'));

    SetEditTextToNumberForControl(-4711, fWindow, kEdit, 1);
    EXPECT_EQ(GetNumberFromEditTextControl(fWindow, kEdit, 1), -4711);
    SimpleSetControlText(fWindow, FOUR_CHAR_CODE("Text"), 2, PStr("17%"));
    EXPECT_EQ(Text(FOUR_CHAR_CODE("Text"), 2, fWindow), "17%");
}

TEST_F(ControlAccess, PopupItemsAreFoundByTheirFirstPosition)
{
    const OSType kPopu = FOUR_CHAR_CODE("Popu");
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopu, 1, PStr("Alpha")), 1);
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopu, 1, PStr("Beta")), 2);
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopu, 1, PStr("Alph")), -1);
    EXPECT_EQ(FindNameInPopupByID(fWindow, kPopu, 2, PStr("Alpha")), -1);
    SimpleSetControlValueByID(fWindow, kPopu, 1, 2);
    Str255 text;
    GetSelectedPopupTextFromID(fWindow, kPopu, 1, text);
    EXPECT_EQ(Str(text), "Beta");
    GetIndexedPopupTextFromID(fWindow, kPopu, 1, 9, text);
    EXPECT_EQ(text[0], 0);
}

}  // namespace
