#include "CarbonEvents.h"

#include "Events.h"
#include "MacMemory.h"
#include "UITestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace uitest;

namespace {

constexpr UInt32 kProbe = FOUR_CHAR_CODE("prob");

// What the probe handler read from the command event it was sent.
struct ParameterReads {
    OSStatus wrongType = 0, missing = 0;
    EventParamType type = 0;
    ByteCount size = 0;
    UInt8 tooSmall[2] = {0xAA, 0xAA};
};
ParameterReads gReads;

OSStatus ProbeParameters(EventHandlerCallRef, EventRef event, void*)
{
    HICommand command{};
    GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    if (command.commandID != kProbe)
        return eventNotHandledErr;
    HICommand read{};
    gReads.wrongType =
        GetEventParameter(event, kEventParamDirectObject, typeQDPoint, nullptr, sizeof read, nullptr, &read);
    gReads.missing = GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, 4, nullptr, &read);
    const UInt32 modifiers = shiftKey;
    SetEventParameter(event, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
    GetEventParameter(event, kEventParamKeyModifiers, typeWildCard, &gReads.type, 1, &gReads.size,
                      gReads.tooSmall);
    return noErr;
}

TEST(CarbonEvents, ParametersKeepTheirTypeAndNeverOverrunTheBuffer)
{
    StartQt();
    const EventTypeSpec process{kEventClassCommand, kEventCommandProcess};
    InstallEventHandler(GetApplicationEventTarget(), ProbeParameters, 1, &process, nullptr, nullptr);
    const HICommand probe{0, kProbe, nullptr, 0};
    ASSERT_EQ(ProcessHICommand(&probe), noErr);
    EXPECT_EQ(gReads.wrongType, errAECoercionFail);
    EXPECT_EQ(gReads.missing, eventParameterNotFoundErr);
    EXPECT_EQ(gReads.type, typeUInt32);
    EXPECT_EQ(gReads.size, 4u);
    EXPECT_EQ(gReads.tooSmall[1], 0xAA);
}

std::vector<std::string> gCalls;

template <OSStatus kResult>
OSStatus Record(EventHandlerCallRef, EventRef, void* userData)
{
    gCalls.push_back(static_cast<const char*>(userData));
    return kResult;
}

TEST(CarbonEvents, DeclinedEventsPassToOlderHandlersAndUnhandledReportsSo)
{
    StartQt();
    const EventTargetRef target = GetApplicationEventTarget();
    const EventTypeSpec process{kEventClassCommand, kEventCommandProcess};
    const EventTypeSpec other{kEventClassCommand, kEventCommandProcess + 1};
    const HICommand command{0, FOUR_CHAR_CODE("test"), nullptr, 0};
    InstallEventHandler(target, Record<eventNotHandledErr>, 1, &process, const_cast<char*>("only"), nullptr);
    EXPECT_EQ(ProcessHICommand(&command), eventNotHandledErr);
    InstallEventHandler(target, Record<noErr>, 1, &process, const_cast<char*>("handles"), nullptr);
    InstallEventHandler(target, Record<eventNotHandledErr>, 1, &process, const_cast<char*>("declines"), nullptr);
    InstallEventHandler(target, Record<noErr>, 1, &other, const_cast<char*>("other kind"), nullptr);
    gCalls.clear();
    EXPECT_EQ(ProcessHICommand(&command), noErr);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"declines", "handles"}));
}

// A handler or class record that cannot be made answers memFullErr and
// leaves nothing half installed.
TEST(CarbonEvents, RecordsThatCannotBeMadeAnswerMemFullErrAndLeaveNothingBehind)
{
    StartQt();
    const EventTypeSpec process{kEventClassCommand, kEventCommandProcess};
    EventHandlerRef handler = nullptr;
    TBFailAllocationAfter(1);
    EXPECT_EQ(InstallEventHandler(GetApplicationEventTarget(), Record<noErr>, 1, &process,
                                  const_cast<char*>("never installed"), &handler),
              memFullErr);
    TBFailAllocationAfter(0);
    EXPECT_EQ(handler, nullptr);
    gCalls.clear();
    const HICommand command{0, FOUR_CHAR_CODE("mful"), nullptr, 0};
    ProcessHICommand(&command);
    EXPECT_EQ(std::count(gCalls.begin(), gCalls.end(), "never installed"), 0);

    CFStringRef name = CFStringCreateWithCString(nullptr, "com.brimtone.test.full", kCFStringEncodingASCII);
    ToolboxObjectClassRef objectClass = reinterpret_cast<ToolboxObjectClassRef>(1);
    TBFailAllocationAfter(1);
    EXPECT_EQ(RegisterToolboxObjectClass(name, nullptr, 1, &process, Record<noErr>, nullptr, &objectClass),
              memFullErr);
    TBFailAllocationAfter(0);
    // Nothing stayed registered under the name.
    ASSERT_EQ(RegisterToolboxObjectClass(name, nullptr, 1, &process, Record<noErr>, nullptr, &objectClass),
              noErr);
    EXPECT_EQ(UnregisterToolboxObjectClass(objectClass), noErr);
    CFRelease(name);
}

}  // namespace
