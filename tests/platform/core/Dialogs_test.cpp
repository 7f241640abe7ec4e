#include "Dialogs.h"
#include "MacErrors.h"
#include "Processes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>
#include <vector>

namespace {

std::vector<TBAlertRequest> gShown;
DialogItemIndex gAnswer = 1;

DialogItemIndex Capture(const TBAlertRequest& request)
{
    gShown.push_back(request);
    return gAnswer;
}

class StandardAlerts : public ::testing::Test {
protected:
    void SetUp() override
    {
        gShown.clear();
        gAnswer = 1;
        previous_ = TBSetStandardAlertRunner(Capture);
    }
    void TearDown() override { TBSetStandardAlertRunner(previous_); }

    TBAlertRunner previous_ = nullptr;
};

AlertStdCFStringAlertParamRec TwoButtons(CFStringRef okText, CFStringRef cancelText)
{
    AlertStdCFStringAlertParamRec param = {};
    param.version = kStdCFStringAlertVersionOne;
    param.movable = true;
    param.defaultText = okText;
    param.cancelText = cancelText;
    param.defaultButton = kAlertStdAlertOKButton;
    param.cancelButton = kAlertStdAlertCancelButton;
    return param;
}

TEST_F(StandardAlerts, RunnerSeesTextsButtonsAndAnswers)
{
    const AlertStdCFStringAlertParamRec param = TwoButtons(CFSTR("Replace"), CFSTR("Keep"));
    DialogRef alert = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertCautionAlert, CFSTR("Replace the file?"),
                                  CFSTR("It will be lost."), &param, &alert),
              noErr);
    gAnswer = 2;
    DialogItemIndex hit = 0;
    ASSERT_EQ(RunStandardAlert(alert, nullptr, &hit), noErr);
    EXPECT_EQ(hit, 2);
    ASSERT_EQ(gShown.size(), 1u);
    const TBAlertRequest& shown = gShown[0];
    EXPECT_EQ(shown.type, kAlertCautionAlert);
    EXPECT_EQ(shown.headline, "Replace the file?");
    EXPECT_EQ(shown.text, "It will be lost.");
    EXPECT_EQ(shown.okTitle, "Replace");
    EXPECT_EQ(shown.cancelTitle, "Keep");
    EXPECT_FALSE(shown.otherTitle.has_value());
    EXPECT_EQ(shown.defaultButton, 1);
    EXPECT_EQ(shown.cancelButton, 2);
}

TEST_F(StandardAlerts, WithoutParametersThereIsOneOKButton)
{
    DialogRef alert = nullptr;
    CreateStandardAlert(kAlertStopAlert, CFSTR("Assertion Failure"), nullptr, nullptr, &alert);
    DialogItemIndex hit = 0;
    RunStandardAlert(alert, nullptr, &hit);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0].type, kAlertStopAlert);
    EXPECT_EQ(gShown[0].text, "");
    EXPECT_EQ(gShown[0].okTitle, "OK");
    EXPECT_FALSE(gShown[0].cancelTitle.has_value());
    EXPECT_EQ(gShown[0].cancelButton, 0);
    EXPECT_EQ(hit, 1);
}

TEST_F(StandardAlerts, AlertKeepsItsTextsAliveUntilItHasRun)
{
    const unsigned char headline[] = "\x0c" "Caf\x8E is shut";
    CFStringRef text = CFStringCreateWithPascalString(nullptr, headline, kCFStringEncodingMacRoman);
    CFStringRef ok = CFStringCreateWithCString(nullptr, "ok", kCFStringEncodingUTF8);
    const AlertStdCFStringAlertParamRec param = TwoButtons(ok, nullptr);
    DialogRef alert = nullptr;
    CreateStandardAlert(kAlertCautionAlert, text, text, &param, &alert);
    EXPECT_EQ(CFGetRetainCount(text), 3);
    CFRetain(ok);
    CFRelease(text);  // the caller lets go before the alert runs
    CFRelease(ok);
    RunStandardAlert(alert, nullptr, nullptr);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0].headline, "Caf\xC3\xA9 is shut");
    EXPECT_EQ(gShown[0].okTitle, "ok");
    EXPECT_EQ(CFGetRetainCount(ok), 1);  // the alert gave its reference back
    CFRelease(ok);
}

TEST_F(StandardAlerts, DefaultButtonMustBeOneThatExists)
{
    AlertStdCFStringAlertParamRec param = TwoButtons(CFSTR("ok"), nullptr);
    param.defaultButton = kAlertStdAlertCancelButton;
    DialogRef alert = nullptr;
    CreateStandardAlert(kAlertNoteAlert, CFSTR("x"), nullptr, &param, &alert);
    RunStandardAlert(alert, nullptr, nullptr);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0].defaultButton, 1);
    EXPECT_EQ(gShown[0].cancelButton, 0);
}

TEST_F(StandardAlerts, NilArgumentsAreRefused)
{
    EXPECT_EQ(CreateStandardAlert(kAlertStopAlert, CFSTR("x"), nullptr, nullptr, nullptr),
              paramErr);
    EXPECT_EQ(RunStandardAlert(nullptr, nullptr, nullptr), paramErr);
    EXPECT_TRUE(gShown.empty());
}

TEST(ConsoleAlerts, TextsGoToStandardErrorAndTheDefaultButtonAnswers)
{
    const TBAlertRunner previous = TBSetStandardAlertRunner(nullptr);
    AlertStdCFStringAlertParamRec param = TwoButtons(CFSTR("ok"), CFSTR("Cancel"));
    param.defaultButton = kAlertStdAlertCancelButton;
    DialogRef alert = nullptr;
    CreateStandardAlert(kAlertCautionAlert, CFSTR("Internal Notification:"),
                        CFSTR("Cannot locate manual in bundle"), &param, &alert);
    DialogItemIndex hit = 0;
    testing::internal::CaptureStderr();
    RunStandardAlert(alert, nullptr, &hit);
    const std::string printed = testing::internal::GetCapturedStderr();
    TBSetStandardAlertRunner(previous);
    EXPECT_NE(printed.find("Internal Notification:"), std::string::npos);
    EXPECT_NE(printed.find("Cannot locate manual in bundle"), std::string::npos);
    EXPECT_EQ(hit, 2);
}

TEST(ExitToShellDeathTest, EndsTheProcessWithAFailureStatusAfterFlushing)
{
    const auto failed = [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; };
    EXPECT_EXIT(
        {
            static char buffer[256];
            std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
            std::fputs("last words", stderr);
            ExitToShell();
        },
        failed, "last words");
}

}  // namespace
