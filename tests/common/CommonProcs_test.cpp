#include "common/CommonProcs.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "CFBundle.h"
#include "Dialogs.h"

namespace {

// ---- Alerts ----------------------------------------------------------------

std::vector<TBAlertRequest> gShownAlerts;

TEST(CommonProcsAlerts, StandardWarningReturnsPressedItemEmptyCancelHasNoButtonAndAssertPassesNonNil)
{
    const TBAlertRunner thePrevious = TBSetStandardAlertRunner([](const TBAlertRequest& request) {
        gShownAlerts.push_back(request);
        return DialogItemIndex(kAlertStdAlertCancelButton);
    });
    EXPECT_EQ(StandardWarning(PStr("Replace file?"), PStr("It exists."), PStr("Replace"), PStr("Keep")), 2);
    Str255 noText = {0};
    StandardWarning(PStr("Head"), PStr("Body"), PStr("Go"), noText);
    int theObject = 0;
    Assert(&theObject, PStr("never shown"));
    TBSetStandardAlertRunner(thePrevious);
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

TEST(CommonProcsDeathTest, AssertOnNilShowsTheStopAlertEndsTheProcessAndCutsLongLocations)
{
    EXPECT_EXIT(
        {
            Assert(nullptr, PStr("Nil theConfig in SetupDialog"));
            std::fprintf(stderr, "statement after Assert ran\n");
            std::exit(0);
        },
        ExitedWithFailure, "Assertion Failure\n +Assertion failed in: Nil theConfig in SetupDialog\n$");
    // "Assertion failed in: " takes 21 of the 255 characters.
    const std::string theLocation = std::string(234, 'a') + "bcdef";
    EXPECT_EXIT(
        {
            TBSetStandardAlertRunner([](const TBAlertRequest& request) {
                std::fprintf(stderr, "[%d|%s|%s]", request.type, request.headline.c_str(), request.text.c_str());
                return DialogItemIndex(kAlertStdAlertOKButton);
            });
            Assert(nullptr, PStr(theLocation.c_str()));
        },
        ExitedWithFailure, "\\[0\\|Assertion Failure\\|Assertion failed in: a{234}\\]$");
}

// ---- Strings ---------------------------------------------------------------

TEST(CommonProcsStrings, MacRomanRoundTripsThroughCFStringAndWhatCannotBePascalTextIsEmpty)
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

    // Text too long or outside Mac OS Roman gives empty text.
    for (const std::string& theText : {std::string(300, 'z'), std::string("\xE4\xB8\xAD")}) {
        theCF = TBCFStringCreateWithUTF8(theText);
        theBack[0] = 3;
        CF2PString(theCF, theBack);
        EXPECT_EQ(theBack[0], 0);
        CFRelease(theCF);
    }
    // ZeroDelimitString on 255 characters overwrites the last one.
    Str255 theFull;
    std::memset(theFull, 'q', sizeof(theFull));
    theFull[0] = 255;
    ZeroDelimitString(theFull);
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
        EXPECT_EQ(std::string(theText + 1, theText + 1 + theText[0]), theExpected) << theReal;
    }
}

}  // namespace
