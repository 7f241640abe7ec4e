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
}

}  // namespace
