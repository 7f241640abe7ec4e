#include "common/CommonProcs.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "CFBundle.h"
#include "CFURL.h"
#include "Dialogs.h"
#include "IBCarbonRuntime.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "MacWindows.h"
#include "QuickDrawInternal.h"
#include "ToolboxUI.h"
#include "graphics/CommonProcs.h"

namespace {

std::string Text(ConstStr255Param theString)
{
    return std::string(reinterpret_cast<const char*>(theString + 1), theString[0]);
}

// ---- Alerts ----------------------------------------------------------------

std::vector<TBAlertRequest> gShownAlerts;

DialogItemIndex RecordingRunner(const TBAlertRequest& request)
{
    gShownAlerts.push_back(request);
    return kAlertStdAlertCancelButton;
}

class CommonProcsAlerts : public ::testing::Test {
protected:
    void SetUp() override
    {
        gShownAlerts.clear();
        fPrevious = TBSetStandardAlertRunner(RecordingRunner);
    }
    void TearDown() override { TBSetStandardAlertRunner(fPrevious); }

private:
    TBAlertRunner fPrevious = nullptr;
};

TEST_F(CommonProcsAlerts, StandardWarningReturnsPressedItemAndEmptyCancelHasNoButton)
{
    EXPECT_EQ(StandardWarning(PStr("Replace file?"), PStr("It exists already."), PStr("Replace"),
                              PStr("Keep")),
              2);
    Str255 noText = {0};
    StandardWarning(PStr("Head"), PStr("Body"), PStr("Go"), noText);
    ASSERT_EQ(gShownAlerts.size(), 2u);
    EXPECT_EQ(gShownAlerts[0].type, kAlertCautionAlert);
    EXPECT_EQ(gShownAlerts[0].okTitle, "Replace");
    EXPECT_EQ(gShownAlerts[0].cancelTitle, std::optional<std::string>("Keep"));
    EXPECT_EQ(gShownAlerts[0].cancelButton, 2);
    EXPECT_FALSE(gShownAlerts[1].cancelTitle.has_value());
    EXPECT_EQ(gShownAlerts[1].cancelButton, 0);
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
    Str255 theBack;
    CF2PString(theCF, theBack);
    EXPECT_EQ(std::memcmp(theBack, theOriginal, 256), 0);
    CFRelease(theCF);
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
}

TEST(CommonProcsStrings, ZeroDelimitStringOverwritesTheLastCharacterOfAFullString)
{
    Str255 theFull;
    std::memset(theFull, 'q', sizeof(theFull));
    theFull[0] = 255;
    ZeroDelimitString(theFull);
    EXPECT_EQ(theFull[0], 255);
    EXPECT_EQ(theFull[255], 0);
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(theFull + 1)), 254u);
}

// ---- Numbers ---------------------------------------------------------------

TEST(CommonProcsNumbers, String2RealReadsDigitsUntilTheFirstOtherCharacter)
{
    const std::pair<const char*, double> cases[] = {
        {"", 0},          {"abc", 0},      {",5", 0.5}, {"-,25", -0.25}, {"+3", 0},
        {"12.5cm", 12.5}, {"1.2.3", 1.2}, {"3-4", 3},  {"-", 0},        {"7.", 7},
    };
    for (const auto& [theText, theExpected] : cases) {
        double theNumber = 99;
        String2Real(PStr(theText), theNumber);
        EXPECT_DOUBLE_EQ(theNumber, theExpected) << '"' << theText << '"';
    }
    Str255 theLengthTwo = {2, '4', '2', '7', '7'};
    double theNumber = 0;
    String2Real(theLengthTwo, theNumber);
    EXPECT_EQ(theNumber, 42) << "stops at the length byte";
}

TEST(CommonProcsNumbers, Real2StringTruncatesToFourDecimalsAndSaturates)
{
    const std::pair<double, const char*> cases[] = {
        {12, "12"},          {3.14159, "3.1415"}, {0.00005, "0"},
        {-0.5, "-0.5000"},   {9.99999, "9.9999"}, {-0.00005, "0"},
        {2147483647.5, "2147483647.5000"},        {3e10, "2147483647"},
        {-3e10, "-2147483648"}, {std::numeric_limits<double>::infinity(), "inf"},
        {std::nan(""), "nan"},
    };
    Str255 theText;
    for (const auto& [theReal, theExpected] : cases) {
        Real2String(theReal, theText);
        EXPECT_EQ(Text(theText), theExpected) << theReal;
    }
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

TEST_F(CommonProcsText, DrawJustifiedTextPlacesThePenAndSurvivesAbsurdHeights)
{
    // Odd box height: (-41) div 2 is -20 (toward zero), and 12 × 0.2 truncates to 2.
    const Rect theBox{0, 10, 41, 110};
    for (SInt16 justification : {1, 2, 3, 0})
        DrawJustifiedTextInBox(theBox, justification, 12.0, PStr("text"));
    ASSERT_EQ(gDrawnAt.size(), 4u);
    const SInt16 expectedH[] = {11, 50, 88, 11};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(gDrawnAt[i].h, expectedH[i]) << i;
        EXPECT_EQ(gDrawnAt[i].v, 41 - 20 + 6 - 2) << i;
    }
    DrawJustifiedTextInBox(Rect{0, 0, 20, 100}, 2, std::nan(""), PStr("x"));
    DrawJustifiedTextInBox(Rect{0, 0, 20, 100}, 2, 1e300, PStr("x"));
    EXPECT_EQ(gDrawnAt.size(), 6u);
}

// ---- Memory ----------------------------------------------------------------

TEST(CommonProcsMemory, CloneObjectCopiesTheWholeBlockOrFailsCleanly)
{
    Ptr theBlock = NewPtr(37);
    ASSERT_NE(theBlock, nullptr);
    for (int i = 0; i < 37; ++i)
        theBlock[i] = static_cast<char>(i * 7);
    Ptr theClone = CloneObject(theBlock);
    ASSERT_NE(theClone, nullptr);
    EXPECT_EQ(GetPtrSize(theClone), 37);
    EXPECT_EQ(std::memcmp(theClone, theBlock, 37), 0);
    DisposePtr(theClone);

    TBFailAllocationAfter(1);
    EXPECT_EQ(CloneObject(theBlock), nullptr);
    TBFailAllocationAfter(0);
    DisposePtr(theBlock);
    EXPECT_EQ(CloneObject(nullptr), nullptr);
}

// ---- Nib windows -------------------------------------------------------------

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

TEST(OpenNibWindowFromCFBundleDeathTest, AMissingWindowExitsWithTheErrorsLowByte)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    NibBundle theBundle;
    EXPECT_EXIT(OpenNibWindowFromCFBundle("com.brimtone.test.nibs", "brimtone", "two"),
                testing::ExitedWithCode(int(UInt32(kIBCarbonRuntimeCantFindObject) & 0xFF)), "");
}

// ---- File references -------------------------------------------------------------

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

    std::filesystem::path fFolder;
};

TEST_F(CommonProcsFiles, SpecsAndReferencesNameTheSameFileAndAMissingOneNothing)
{
    const FSSpec spec = FSRef2FSSpec(Ref("my file.txt"));
    EXPECT_EQ(Text(spec.name), "my file.txt");
    std::string path;
    const FSRef back = FSSpec2FSRef(spec);
    ASSERT_TRUE(TBFSRefGetPath(&back, path));
    EXPECT_EQ(std::filesystem::path(path), fFolder / "my file.txt");

    FSSpec gone{};
    ASSERT_EQ(TBFSSpecFromPath((fFolder / "gone").string(), &gone), fnfErr);
    const FSRef none = FSSpec2FSRef(gone);
    EXPECT_FALSE(TBFSRefGetPath(&none, path));
    EXPECT_EQ(FSSpec2CFString(gone), nullptr);
}

TEST_F(CommonProcsFiles, URLTextsArePercentEncodedFileURLs)
{
    const std::string expected = "file://" + (fFolder / "my%20file.txt").string();
    Str255 text;
    FSRef2Str255(Ref("my file.txt"), text);
    EXPECT_EQ(Text(text), expected);
    CFURLRef url = PString2URL(text);
    ASSERT_NE(url, nullptr);
    Str255 again;
    URL2Str255(url, again);
    EXPECT_EQ(Text(again), expected);
    CFRelease(url);

    EXPECT_EQ(PString2URL(PStr("not a url")), nullptr);
    URL2Str255(nullptr, again);
    EXPECT_EQ(again[0], 0);
}

TEST_F(CommonProcsFiles, FoldersAndPackagesAreFolders)
{
    EXPECT_TRUE(IsFileAFolder(Ref("Pack.bundle")));
    EXPECT_FALSE(IsFileAFolder(Ref("my file.txt")));
    EXPECT_FALSE(IsFileAFolder(FSRef{}));
}

}  // namespace
