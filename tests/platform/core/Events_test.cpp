// Through the umbrella, so that it is known to compile on its own.
#include "Carbon.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyModifiers, NoneAreDownUntilASourceIsInstalled)
{
    EXPECT_EQ(GetCurrentKeyModifiers(), 0u);
    TBSetKeyModifiersSource([]() -> UInt32 { return shiftKey | cmdKey; });
    EXPECT_EQ(GetCurrentKeyModifiers(), UInt32(shiftKey | cmdKey));
    EXPECT_EQ(GetCurrentKeyModifiers() & optionKey, 0u);
    TBSetKeyModifiersSource(nullptr);
    EXPECT_EQ(GetCurrentKeyModifiers(), 0u);
}

TEST(HICommands, UnhandledUntilAProcessorIsInstalled)
{
    HICommand command = {0, FOUR_CHAR_CODE("Info"), nullptr, 0};
    EXPECT_EQ(ProcessHICommand(&command), eventNotHandledErr);

    static UInt32 seen;
    TBSetHICommandProcessor([](const HICommand* c) -> OSStatus {
        seen = c->commandID;
        return c->commandID == FOUR_CHAR_CODE("Info") ? OSStatus(noErr) : eventNotHandledErr;
    });
    EXPECT_EQ(ProcessHICommand(&command), noErr);
    EXPECT_EQ(seen, 0x496E666Fu);
    command.commandID = FOUR_CHAR_CODE("xxxx");
    EXPECT_EQ(ProcessHICommand(&command), eventNotHandledErr);
    EXPECT_EQ(ProcessHICommand(nullptr), eventNotHandledErr);
    TBSetHICommandProcessor(nullptr);
    EXPECT_EQ(ProcessHICommand(&command), eventNotHandledErr);
}

TEST(KeyModifiers, MasksHaveThePlatformValues)
{
    EXPECT_EQ(cmdKey, 256);
    EXPECT_EQ(shiftKey, 512);
    EXPECT_EQ(alphaLock, 1024);
    EXPECT_EQ(optionKey, 2048);
    EXPECT_EQ(controlKey, 4096);
}

}  // namespace
