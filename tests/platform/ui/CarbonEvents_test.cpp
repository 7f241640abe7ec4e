#include "CarbonEvents.h"

#include "UITestSupport.h"

#include <string>
#include <vector>

using namespace uitest;

namespace {

TEST(CarbonEvents, ParametersKeepTheirTypeAndNeverOverrunTheBuffer)
{
    EventRef event = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, kEventAttributeNone, &event);
    const HICommand sent{0, FOUR_CHAR_CODE("ok  "), nullptr, 0};
    ASSERT_EQ(SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof sent, &sent), noErr);
    HICommand read{};
    EXPECT_EQ(GetEventParameter(event, kEventParamDirectObject, typeQDPoint, nullptr, sizeof read, nullptr, &read),
              errAECoercionFail);
    EXPECT_EQ(GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, 4, nullptr, &read),
              eventParameterNotFoundErr);

    const UInt32 modifiers = shiftKey;
    SetEventParameter(event, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
    EventParamType type = 0;
    ByteCount size = 0;
    UInt8 tooSmall[2] = {0xAA, 0xAA};
    GetEventParameter(event, kEventParamKeyModifiers, typeWildCard, &type, 1, &size, tooSmall);
    EXPECT_EQ(type, typeUInt32);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(tooSmall[1], 0xAA);
    ReleaseEvent(event);
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
    EventRef event = nullptr;
    CreateEvent(nullptr, FOUR_CHAR_CODE("test"), 7, 0, kEventAttributeNone, &event);
    const EventTargetRef target = GetApplicationEventTarget();
    const EventTypeSpec seven{FOUR_CHAR_CODE("test"), 7}, eight{FOUR_CHAR_CODE("test"), 8};
    EventHandlerRef h[4] = {};
    InstallEventHandler(target, Record<eventNotHandledErr>, 1, &seven, const_cast<char*>("only"), &h[0]);
    EXPECT_EQ(SendEventToEventTarget(event, target), eventNotHandledErr);
    InstallEventHandler(target, Record<noErr>, 1, &seven, const_cast<char*>("handles"), &h[1]);
    InstallEventHandler(target, Record<eventNotHandledErr>, 1, &seven, const_cast<char*>("declines"), &h[2]);
    InstallEventHandler(target, Record<noErr>, 1, &eight, const_cast<char*>("other kind"), &h[3]);
    gCalls.clear();
    EXPECT_EQ(SendEventToEventTarget(event, target), noErr);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"declines", "handles"}));
    for (EventHandlerRef handler : h)
        RemoveEventHandler(handler);
    ReleaseEvent(event);
}

}  // namespace
