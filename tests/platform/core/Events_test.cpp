// Through the umbrella, so that it is known to compile on its own.
#include "Carbon.h"

#include <gtest/gtest.h>

namespace {

TEST(HICommands, UnhandledUntilAProcessorIsInstalled)
{
    HICommand command = {0, FOUR_CHAR_CODE("Info"), nullptr, 0};
    EXPECT_EQ(ProcessHICommand(&command), eventNotHandledErr);
    TBSetHICommandProcessor([](const HICommand* c) -> OSStatus {
        return c->commandID == FOUR_CHAR_CODE("Info") ? OSStatus(noErr) : eventNotHandledErr;
    });
    EXPECT_EQ(ProcessHICommand(&command), noErr);
    EXPECT_EQ(ProcessHICommand(nullptr), eventNotHandledErr);
    TBSetHICommandProcessor(nullptr);
}

}  // namespace
