#include "common/CommonProcs.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "Events.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "QuickDrawInternal.h"
#include "graphics/CommonProcs.h"

namespace {

std::string Text(ConstStr255Param theString)
{
    return std::string(reinterpret_cast<const char*>(theString + 1), theString[0]);
}

// ---- Alerts ----------------------------------------------------------------

std::vector<TBAlertRequest> gShownAlerts;
DialogItemIndex gAnswer = kAlertStdAlertOKButton;

DialogItemIndex RecordingRunner(const TBAlertRequest& request)
{
    gShownAlerts.push_back(request);
    return gAnswer;
}

class CommonProcsAlerts : public ::testing::Test {
protected:
    void SetUp() override
    {
        gShownAlerts.clear();
        gAnswer = kAlertStdAlertOKButton;
        fPrevious = TBSetStandardAlertRunner(RecordingRunner);
    }
    void TearDown() override { TBSetStandardAlertRunner(fPrevious); }

private:
    TBAlertRunner fPrevious = nullptr;
};

TEST_F(CommonProcsAlerts, StandardWarningShowsCautionWithBothButtonsAndReturnsPressedItem)
{
    gAnswer = kAlertStdAlertCancelButton;
    const SInt16 theItem = StandardWarning(PStr("Replace file?"), PStr("It exists already."),
                                           PStr("Replace"), PStr("Keep"));
    EXPECT_EQ(theItem, 2);
    ASSERT_EQ(gShownAlerts.size(), 1u);
    const TBAlertRequest& shown = gShownAlerts[0];
    EXPECT_EQ(shown.type, kAlertCautionAlert);
    EXPECT_EQ(shown.headline, "Replace file?");
    EXPECT_EQ(shown.text, "It exists already.");
    EXPECT_EQ(shown.okTitle, "Replace");
    EXPECT_EQ(shown.cancelTitle, std::optional<std::string>("Keep"));
    EXPECT_FALSE(shown.otherTitle.has_value());
    EXPECT_EQ(shown.defaultButton, 1);
    EXPECT_EQ(shown.cancelButton, 2);
}

TEST_F(CommonProcsAlerts, EmptyCancelTextLeavesOnlyTheDefaultButton)
{
    Str255 noText = {0};
    EXPECT_EQ(StandardWarning(PStr("Head"), PStr("Body"), PStr("Go"), noText), 1);
    ASSERT_EQ(gShownAlerts.size(), 1u);
    EXPECT_FALSE(gShownAlerts[0].cancelTitle.has_value());
    EXPECT_EQ(gShownAlerts[0].cancelButton, 0);
}

TEST_F(CommonProcsAlerts, NotifyShowsInternalNotificationWithLowerCaseOkAndReturns)
{
    Notify(PStr("Cannot locate manual in bundle"));
    ASSERT_EQ(gShownAlerts.size(), 1u);
    EXPECT_EQ(gShownAlerts[0].type, kAlertCautionAlert);
    EXPECT_EQ(gShownAlerts[0].headline, "Internal Notification:");
    EXPECT_EQ(gShownAlerts[0].text, "Cannot locate manual in bundle");
    EXPECT_EQ(gShownAlerts[0].okTitle, "ok");
    EXPECT_FALSE(gShownAlerts[0].cancelTitle.has_value());
}

TEST_F(CommonProcsAlerts, StandardStopShowsStopAlertWithSystemOkButtonOnly)
{
    StandardStop(PStr("OpenNibWindow Failed"), PStr("configPAL"));
    ASSERT_EQ(gShownAlerts.size(), 1u);
    EXPECT_EQ(gShownAlerts[0].type, kAlertStopAlert);
    EXPECT_EQ(gShownAlerts[0].headline, "OpenNibWindow Failed");
    EXPECT_EQ(gShownAlerts[0].text, "configPAL");
    EXPECT_EQ(gShownAlerts[0].okTitle, "OK");
    EXPECT_FALSE(gShownAlerts[0].cancelTitle.has_value());
}

TEST_F(CommonProcsAlerts, AlertTextsAreReadAsMacRomanAndCutAt255)
{
    const std::string longText(300, 'x');
    Str255 theHeadline;
    CString2PString(longText.c_str(), theHeadline);
    EXPECT_EQ(theHeadline[0], 255);
    Str255 theDescription = {3, 'K', 0x8A, 'l'};  // 0x8A is a-umlaut in Mac OS Roman
    StandardStop(theHeadline, theDescription);
    ASSERT_EQ(gShownAlerts.size(), 1u);
    EXPECT_EQ(gShownAlerts[0].headline, std::string(255, 'x'));
    EXPECT_EQ(gShownAlerts[0].text, "K\xC3\xA4l");
}

TEST_F(CommonProcsAlerts, AssertOnAnyNonNilReferenceShowsNothing)
{
    int theValue = 0;
    Handle theHandle = NewHandle(4);
    CFStringRef theString = CFSTR("x");
    Assert(&theValue, PStr("int"));
    Assert(theHandle, PStr("handle"));
    Assert(theString, PStr("string"));
    Assert(&Notify, PStr("procedure"));
    DisposeHandle(theHandle);
    EXPECT_TRUE(gShownAlerts.empty());
}

bool ExitedWithFailure(int theStatus)
{
    return WIFEXITED(theStatus) && WEXITSTATUS(theStatus) != 0;
}

TEST(CommonProcsDeathTest, AssertOnNilPrintsStopAlertAndEndsTheProcess)
{
    EXPECT_EXIT(
        {
            Assert(nullptr, PStr("Nil theConfig in SetupDialog"));
            std::fprintf(stderr, "statement after Assert ran\n");
            std::exit(0);
        },
        ExitedWithFailure,
        "Assertion Failure\n +Assertion failed in: Nil theConfig in SetupDialog\n$");
}

DialogItemIndex PrintingRunner(const TBAlertRequest& request)
{
    std::fprintf(stderr, "[%d|%s|%s]", request.type, request.headline.c_str(), request.text.c_str());
    return kAlertStdAlertOKButton;
}

TEST(CommonProcsDeathTest, AssertLocationLongerThan234CharactersLosesItsEnd)
{
    const std::string theLocation = std::string(234, 'a') + "bcdef";
    EXPECT_EXIT(
        {
            TBSetStandardAlertRunner(PrintingRunner);
            Assert(nullptr, PStr(theLocation.c_str()));
        },
        ExitedWithFailure, "\\[0\\|Assertion Failure\\|Assertion failed in: a{234}\\]$");
}

// ---- Strings ---------------------------------------------------------------

TEST(CommonProcsStrings, MacRomanSurvivesTheRoundTripThroughCFString)
{
    Str255 theOriginal;
    theOriginal[0] = 255;
    for (int i = 1; i <= 255; ++i)
        theOriginal[i] = static_cast<unsigned char>(i);
    CFStringRef theCF = MakeCFString(theOriginal);
    ASSERT_NE(theCF, nullptr);
    EXPECT_EQ(TBCFStringToUTF8(theCF).substr(0, 3), "\x01\x02\x03");
    Str255 theBack;
    CF2PString(theCF, theBack);
    EXPECT_EQ(std::memcmp(theBack, theOriginal, 256), 0);
    CFRelease(theCF);

    CFStringRef theUmlaut = TBCFStringCreateWithUTF8("\xC3\xA4");
    CF2PString(theUmlaut, theBack);
    EXPECT_EQ(Text(theBack), "\x8A");
    CFRelease(theUmlaut);
}

TEST(CommonProcsStrings, CF2PStringGivesEmptyTextWhenTheTextCannotBeAPascalString)
{
    Str255 theResult = {3, 'o', 'l', 'd'};
    CFStringRef theLong = TBCFStringCreateWithUTF8(std::string(300, 'z'));
    CF2PString(theLong, theResult);
    EXPECT_EQ(theResult[0], 0);
    CFRelease(theLong);

    theResult[0] = 3;
    CFStringRef theChinese = TBCFStringCreateWithUTF8("\xE4\xB8\xAD");
    CF2PString(theChinese, theResult);
    EXPECT_EQ(theResult[0], 0);
    CFRelease(theChinese);

    theResult[0] = 3;
    CF2PString(nullptr, theResult);
    EXPECT_EQ(theResult[0], 0);
}

TEST(CommonProcsStrings, ZeroDelimitStringWritesAfterTheTextOrOverTheLastCharacter)
{
    Str255 theShort = {3, 'a', 'b', 'c', 'd'};
    ZeroDelimitString(theShort);
    EXPECT_EQ(theShort[0], 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(theShort + 1), "abc");

    Str255 theFull;
    std::memset(theFull, 'q', sizeof(theFull));
    theFull[0] = 255;
    ZeroDelimitString(theFull);
    EXPECT_EQ(theFull[0], 255);
    EXPECT_EQ(theFull[255], 0);
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(theFull + 1)), 254u);
}

// ---- Numbers ---------------------------------------------------------------

TEST(CommonProcsNumbers, Num2TextWritesPlainDecimalsForTheWholeRange)
{
    Str255 theText;
    const std::pair<SInt32, const char*> cases[] = {
        {0, "0"},
        {7, "7"},
        {-7, "-7"},
        {1234567, "1234567"},
        {std::numeric_limits<SInt32>::max(), "2147483647"},
        {std::numeric_limits<SInt32>::min(), "-2147483648"},
    };
    for (const auto& [theNum, theExpected] : cases) {
        Num2Text(theNum, theText);
        EXPECT_EQ(Text(theText), theExpected) << theNum;
    }
}

TEST(CommonProcsNumbers, String2RealReadsDigitsUntilTheFirstOtherCharacter)
{
    const std::pair<const char*, double> cases[] = {
        {"", 0},        {"abc", 0},       {".5", 0.5},      {",5", 0.5},    {"-,25", -0.25},
        {"1,5", 1.5},   {"+3", 0},        {" 3", 0},        {"12.5cm", 12.5}, {"1.2.3", 1.2},
        {"3-4", 3},     {"-12.75", -12.75}, {"250", 250},   {"-", 0},       {"7.", 7},
        {"0.0625", 0.0625},
    };
    for (const auto& [theText, theExpected] : cases) {
        double theNumber = 99;
        String2Real(PStr(theText), theNumber);
        EXPECT_DOUBLE_EQ(theNumber, theExpected) << '"' << theText << '"';
    }
}

TEST(CommonProcsNumbers, String2RealStopsAtTheLengthByte)
{
    Str255 theText = {2, '4', '2', '7', '7'};
    double theNumber = 0;
    String2Real(theText, theNumber);
    EXPECT_EQ(theNumber, 42);
}

TEST(CommonProcsNumbers, Real2StringTruncatesToFourDecimals)
{
    const std::pair<double, const char*> cases[] = {
        {12, "12"},           {1.5, "1.5000"},       {3.14159, "3.1415"},
        {2.0625, "2.0625"},   {0.00005, "0"},        {-1.25, "-1.2500"},
        {-0.5, "-0.5000"},    {9.99999, "9.9999"},   {-0.25, "-0.2500"},
        {0.05, "0.0500"},     {-0.00005, "0"},       {-7, "-7"},
        {2147483647.5, "2147483647.5000"},
    };
    Str255 theText;
    for (const auto& [theReal, theExpected] : cases) {
        Real2String(theReal, theText);
        EXPECT_EQ(Text(theText), theExpected) << theReal;
    }
}

TEST(CommonProcsNumbers, Real2StringOutsideTheIntegerRangeSaturatesOrNamesTheValue)
{
    Str255 theText;
    Real2String(3e10, theText);
    EXPECT_EQ(Text(theText), "2147483647");
    Real2String(-3e10, theText);
    EXPECT_EQ(Text(theText), "-2147483648");
    Real2String(-2147483648.5, theText);
    EXPECT_EQ(Text(theText), "-2147483648.5000");
    Real2String(std::numeric_limits<double>::infinity(), theText);
    EXPECT_EQ(Text(theText), "inf");
    Real2String(-std::numeric_limits<double>::infinity(), theText);
    EXPECT_EQ(Text(theText), "-inf");
    Real2String(std::nan(""), theText);
    EXPECT_EQ(Text(theText), "nan");
}

// ---- Four-character codes and commands --------------------------------------

TEST(CommonProcsCommands, FourCharacterCodesPutTheFirstCharacterHigh)
{
    EXPECT_EQ(String2Command(PStr("Info")), 0x496E666Fu);
    EXPECT_EQ(String2Command(PStr("Infos and more")), 0x496E666Fu);
    EXPECT_EQ(String2Command(PStr("ok")), FOUR_CHAR_CODE("ok  "));
    Str32 theText;
    Command2String(String2Command(PStr("Info")), theText);
    EXPECT_EQ(Text(theText), "Info");
    Command2String(0, theText);
    EXPECT_EQ(theText[0], 4);
}

std::vector<HICommand> gPostedCommands;

OSStatus RecordingProcessor(const HICommand* theCommand)
{
    gPostedCommands.push_back(*theCommand);
    return noErr;
}

TEST(CommonProcsCommands, PostCommandDispatchesAFreshRecord)
{
    gPostedCommands.clear();
    const TBHICommandProcessor thePrevious = TBSetHICommandProcessor(RecordingProcessor);
    PostCommand(PStr("Rset"));
    TBSetHICommandProcessor(thePrevious);
    ASSERT_EQ(gPostedCommands.size(), 1u);
    EXPECT_EQ(gPostedCommands[0].commandID, FOUR_CHAR_CODE("Rset"));
    EXPECT_EQ(gPostedCommands[0].attributes, 0u);
    EXPECT_EQ(gPostedCommands[0].menuRef, nullptr);
    EXPECT_EQ(gPostedCommands[0].menuItemIndex, 0);
}

UInt32 gModifiers = 0;

UInt32 FakeModifiers()
{
    return gModifiers;
}

TEST(CommonProcsKeyboard, EachTestSeesOnlyItsOwnModifierBit)
{
    const TBKeyModifiersSource thePrevious = TBSetKeyModifiersSource(FakeModifiers);
    gModifiers = alphaLockMask;
    EXPECT_FALSE(IsShiftDown() || IsCtrlDown() || IsOptionDown() || IsCommandDown());
    gModifiers = shiftMask | optionMask;
    EXPECT_TRUE(IsShiftDown());
    EXPECT_FALSE(IsCtrlDown());
    EXPECT_TRUE(IsOptionDown());
    EXPECT_FALSE(IsCommandDown());
    gModifiers = cmdMask | ctrlMask;
    EXPECT_FALSE(IsShiftDown());
    EXPECT_TRUE(IsCtrlDown());
    EXPECT_FALSE(IsOptionDown());
    EXPECT_TRUE(IsCommandDown());
    TBSetKeyModifiersSource(thePrevious);
}

// ---- Justified text --------------------------------------------------------

constexpr SInt16 kTextWidth = 21;
std::vector<Point> gDrawnAt;

SInt16 FixedWidth(GrafPtr, ConstStr255Param)
{
    return kTextWidth;
}

void RecordPen(GrafPtr thePort, ConstStr255Param)
{
    gDrawnAt.push_back(thePort->penLoc);
}

class CommonProcsText : public ::testing::Test {
protected:
    void SetUp() override
    {
        const TBTextHooks theHooks{FixedWidth, RecordPen};
        TBSetTextHooks(&theHooks);
        gDrawnAt.clear();
        fGW = AllocateGWorld(130, 50);
        ASSERT_NE(fGW, nullptr);
        GetGWorld(&fSavedPort, &fSavedDevice);
        SetGWorld(fGW, nullptr);
    }
    void TearDown() override
    {
        SetGWorld(fSavedPort, fSavedDevice);
        DisposeGWorld(fGW);
        TBSetTextHooks(nullptr);
    }

    // Columns of row 5 that were painted black over a white buffer.
    std::pair<int, int> PaintedColumns(SInt16 theJustification)
    {
        ClearGW(fGW, RGBColor{65535, 65535, 65535});
        RGBColor black{0, 0, 0};
        RGBForeColor(&black);
        PaintJustifiedRect(Rect{0, 10, 20, 110}, theJustification, PStr("text"));
        PixMapHandle thePixMap = GetGWorldPixMap(fGW);
        const UInt8* theRow = reinterpret_cast<const UInt8*>(GetPixBaseAddr(thePixMap)) +
                              5 * GetPixRowBytes(thePixMap);
        int first = -1, last = -1;
        for (int x = 0; x < 130; ++x) {
            if (theRow[4 * x + 1] == 0) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        return {first, last};
    }

    GWorldPtr fGW = nullptr;
    CGrafPtr fSavedPort = nullptr;
    GDHandle fSavedDevice = nullptr;
};

TEST_F(CommonProcsText, PaintJustifiedRectCoversTheTextOnePixelWiderEachSide)
{
    // Centred in a box 100 wide from x 10: left 10 + 50 - 10 - 1 = 49, right 49 + 2 + 21 = 72.
    EXPECT_EQ(PaintedColumns(2), std::make_pair(49, 71));
    EXPECT_EQ(PaintedColumns(1), std::make_pair(10, 32));
    EXPECT_EQ(PaintedColumns(3), std::make_pair(87, 109));
    EXPECT_EQ(PaintedColumns(7), std::make_pair(10, 109));
}

TEST_F(CommonProcsText, DrawJustifiedTextPlacesThePenByJustificationAndTextHeight)
{
    // Odd box height: (-41) div 2 is -20 (toward zero), and 12 × 0.2 truncates to 2.
    const Rect theBox{0, 10, 41, 110};
    DrawJustifiedTextInBox(theBox, 1, 12.0, PStr("text"));
    DrawJustifiedTextInBox(theBox, 2, 12.0, PStr("text"));
    DrawJustifiedTextInBox(theBox, 3, 12.0, PStr("text"));
    DrawJustifiedTextInBox(theBox, 0, 12.0, PStr("text"));
    ASSERT_EQ(gDrawnAt.size(), 4u);
    const SInt16 expectedH[] = {11, 50, 88, 11};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(gDrawnAt[i].h, expectedH[i]) << i;
        EXPECT_EQ(gDrawnAt[i].v, 41 - 20 + 6 - 2) << i;
    }
}

TEST_F(CommonProcsText, DrawJustifiedTextSurvivesAbsurdTextHeights)
{
    DrawJustifiedTextInBox(Rect{0, 0, 20, 100}, 2, std::nan(""), PStr("x"));
    DrawJustifiedTextInBox(Rect{0, 0, 20, 100}, 2, 1e300, PStr("x"));
    EXPECT_EQ(gDrawnAt.size(), 2u);
}

// ---- Memory ----------------------------------------------------------------

TEST(CommonProcsMemory, CloneObjectCopiesTheWholeBlock)
{
    Ptr theBlock = NewPtr(37);
    ASSERT_NE(theBlock, nullptr);
    for (int i = 0; i < 37; ++i)
        theBlock[i] = static_cast<char>(i * 7);
    Ptr theClone = CloneObject(theBlock);
    ASSERT_NE(theClone, nullptr);
    EXPECT_NE(theClone, theBlock);
    EXPECT_EQ(GetPtrSize(theClone), 37);
    EXPECT_EQ(std::memcmp(theClone, theBlock, 37), 0);
    DisposePtr(theClone);

    TBFailAllocationAfter(1);
    EXPECT_EQ(CloneObject(theBlock), nullptr);
    TBFailAllocationAfter(0);
    DisposePtr(theBlock);

    EXPECT_EQ(CloneObject(nullptr), nullptr);
}

}  // namespace

// ---- Nib windows -------------------------------------------------------------

#include <filesystem>
#include <fstream>

#include "CFBundle.h"
#include "Dialogs.h"
#include "IBCarbonRuntime.h"
#include "MacWindows.h"
#include "ToolboxUI.h"

namespace {

// A bundle "com.brimtone.test.nibs" whose nib "brimtone" holds window "one".
class NibBundle {
public:
    NibBundle()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "nibs-XXXXXX").string();
        fRoot = mkdtemp(pattern.data());
        const auto contents = fRoot / "T.bundle" / "Contents";
        std::filesystem::create_directories(contents / "Resources" / "brimtone.nib");
        std::ofstream(contents / "Info.plist")
            << "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
               "<string>com.brimtone.test.nibs</string></dict></plist>\n";
        std::ofstream(contents / "Resources" / "brimtone.nib" / "one.ui")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>one</class>"
               "<widget class=\"QDialog\" name=\"one\"/></ui>\n";
        CFURLRef url = TBCFURLCreateWithPath((fRoot / "T.bundle").string(), true);
        CFBundleCreate(nullptr, url);
        CFRelease(url);
    }
    ~NibBundle() { std::filesystem::remove_all(fRoot); }

private:
    std::filesystem::path fRoot;
};

TEST(OpenNibWindowFromCFBundle, AnEmptyNibNameOpensTheBrimtoneNib)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    NibBundle theBundle;
    WindowPtr theWindow = OpenNibWindowFromCFBundle("com.brimtone.test.nibs", "", "one");
    ASSERT_NE(theWindow, nullptr);
    EXPECT_NE(GetWindowPort(theWindow), nullptr);
    DisposeWindow(theWindow);
}

TEST(OpenNibWindowFromCFBundleDeathTest, AMissingWindowExitsWithTheErrorsLowByte)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    NibBundle theBundle;
    EXPECT_EXIT(OpenNibWindowFromCFBundle("com.brimtone.test.nibs", "brimtone", "two"),
                testing::ExitedWithCode(int(UInt32(kIBCarbonRuntimeCantFindObject) & 0xFF)), "");
}

TEST(OpenNibWindowFromCFBundleDeathTest, AnUnknownBundleEndsWithAnAssertion)
{
    EXPECT_EXIT((TBSetStandardAlertRunner(nullptr),
                 OpenNibWindowFromCFBundle("com.brimtone.nowhere", "brimtone", "one")),
                testing::ExitedWithCode(1) /* ExitToShell */,
                "Cannot allocate bundle for ID = com.brimtone.nowhere");
}

}  // namespace

// ---- File references -------------------------------------------------------------

#include "CFURL.h"

namespace {

class CommonProcsFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "refs-XXXXXX").string();
        fFolder = std::filesystem::canonical(mkdtemp(pattern.data()));
        std::filesystem::create_directory(fFolder / "Pack.bundle");
        std::ofstream(fFolder / "my file.txt") << "x";
    }
    void TearDown() override { std::filesystem::remove_all(fFolder); }
    FSRef Ref(const std::string& name) const
    {
        FSRef ref{};
        const std::string path = (fFolder / name).string();
        EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
        return ref;
    }
    static std::string Text(ConstStr255Param s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

    std::filesystem::path fFolder;
};

TEST_F(CommonProcsFiles, SpecsAndReferencesNameTheSameFile)
{
    const FSSpec spec = FSRef2FSSpec(Ref("my file.txt"));
    EXPECT_EQ(Text(spec.name), "my file.txt");
    std::string path;
    ASSERT_TRUE(TBPathFromFSSpec(spec, path));
    EXPECT_EQ(std::filesystem::path(path), fFolder / "my file.txt");
    const FSRef back = FSSpec2FSRef(spec);
    ASSERT_TRUE(TBFSRefGetPath(&back, path));
    EXPECT_EQ(std::filesystem::path(path), fFolder / "my file.txt");
    Str255 name;
    GetNameFromFSRef(Ref("my file.txt"), name);
    EXPECT_EQ(Text(name), "my file.txt");

    // A file that is gone gives zeroed results, and no text.
    FSSpec gone{};
    ASSERT_EQ(TBFSSpecFromPath((fFolder / "gone").string(), &gone), fnfErr);
    const FSRef none = FSSpec2FSRef(gone);
    EXPECT_FALSE(TBFSRefGetPath(&none, path));
    EXPECT_EQ(FSSpec2CFString(gone), nullptr);
    const FSSpec zero = FSRef2FSSpec(FSRef{});
    EXPECT_EQ(zero.name[0], 0);
    EXPECT_EQ(zero.parID, 0);
}

TEST_F(CommonProcsFiles, URLTextsArePercentEncodedFileURLs)
{
    const std::string expected = "file://" + (fFolder / "my%20file.txt").string();
    Str255 text;
    FSRef2Str255(Ref("my file.txt"), text);
    EXPECT_EQ(Text(text), expected);
    CFStringRef string = FSSpec2CFString(FSRef2FSSpec(Ref("my file.txt")));
    EXPECT_EQ(TBCFStringToUTF8(string), expected);
    CFRelease(string);

    CFURLRef url = PString2URL(text);
    ASSERT_NE(url, nullptr);
    Str255 again;
    URL2Str255(url, again);
    EXPECT_EQ(Text(again), expected);
    CFRelease(url);

    EXPECT_EQ(PString2URL(PStr("not a url")), nullptr);
    URL2Str255(nullptr, again);
    EXPECT_EQ(again[0], 0);
    FSRef2Str255(FSRef{}, again);
    EXPECT_EQ(again[0], 0);
}

TEST_F(CommonProcsFiles, FoldersAndPackagesAreFolders)
{
    EXPECT_TRUE(IsFileAFolder(Ref(".")));
    EXPECT_TRUE(IsFileAFolder(Ref("Pack.bundle")));
    EXPECT_FALSE(IsFileAFolder(Ref("my file.txt")));
    EXPECT_FALSE(IsFileAFolder(FSRef{}));
}

}  // namespace
