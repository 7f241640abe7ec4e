#include "Dialogs.h"
#include "MacErrors.h"
#include "Processes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>
#include <vector>

namespace {

std::vector<TBAlertRequest> gShown;

TEST(StandardAlerts, AlertKeepsItsTextsAliveAndFixesAMissingDefaultButton)
{
    const TBAlertRunner previous = TBSetStandardAlertRunner([](const TBAlertRequest& request) -> DialogItemIndex {
        gShown.push_back(request);
        return 2;
    });
    const unsigned char headline[] = "\x0c" "Caf\x8E is shut";
    CFStringRef text = CFStringCreateWithPascalString(nullptr, headline, kCFStringEncodingMacRoman);
    CFStringRef ok = CFStringCreateWithCString(nullptr, "ok", kCFStringEncodingUTF8);
    AlertStdCFStringAlertParamRec param = {};
    param.version = kStdCFStringAlertVersionOne;
    param.defaultText = ok;
    param.defaultButton = kAlertStdAlertCancelButton;  // there is no cancel button
    DialogRef alert = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertCautionAlert, text, text, &param, &alert), noErr);
    CFRetain(ok);
    CFRelease(text);  // the caller lets go before the alert runs
    CFRelease(ok);
    DialogItemIndex hit = 0;
    ASSERT_EQ(RunStandardAlert(alert, nullptr, &hit), noErr);
    EXPECT_EQ(hit, 2);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0].headline, "Caf\xC3\xA9 is shut");
    EXPECT_EQ(gShown[0].okTitle, "ok");
    EXPECT_EQ(gShown[0].defaultButton, 1);
    CFRelease(ok);  // the last reference: the leak checker sees one the alert kept
    TBSetStandardAlertRunner(previous);
}

TEST(ExitToShellDeathTest, EndsTheProcessWithAFailureStatusAfterFlushing)
{
    const auto failed = [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; };
    EXPECT_EXIT(
        {
            static char buffer[256];
            std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
            std::fputs("last words", stderr);
            TBSetExitToShellHook([] { std::fputs(", then the host's", stderr); });
            ExitToShell();
        },
        failed, "last words, then the host's");
}

}  // namespace
