#include "CarbonEvents.h"

#include "UITestSupport.h"

#include <string>
#include <vector>

using namespace uitest;

namespace {

std::vector<std::string> gCalls;

OSStatus Declines(EventHandlerCallRef, EventRef, void* userData)
{
    gCalls.push_back(static_cast<const char*>(userData));
    return eventNotHandledErr;
}

OSStatus Handles(EventHandlerCallRef, EventRef, void* userData)
{
    gCalls.push_back(static_cast<const char*>(userData));
    return noErr;
}

OSStatus AsksTheNext(EventHandlerCallRef call, EventRef event, void* userData)
{
    gCalls.push_back(static_cast<const char*>(userData));
    gCalls.push_back(CallNextEventHandler(call, event) == noErr ? "next handled" : "next declined");
    return noErr;
}

class CarbonEventsTest : public ::testing::Test {
protected:
    ~CarbonEventsTest() override
    {
        for (EventHandlerRef handler : handlers_) RemoveEventHandler(handler);
        ReleaseEvent(event_);
    }

    void Install(EventHandlerUPP proc, const char* name, UInt32 kind = 7)
    {
        const EventTypeSpec spec{FOUR_CHAR_CODE("test"), kind};
        EventHandlerRef handler = nullptr;
        ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), proc, 1, &spec, const_cast<char*>(name), &handler),
                  noErr);
        handlers_.push_back(handler);
    }

    OSStatus Send()
    {
        gCalls.clear();
        if (event_ == nullptr) CreateEvent(nullptr, FOUR_CHAR_CODE("test"), 7, 0, kEventAttributeNone, &event_);
        return SendEventToEventTarget(event_, GetApplicationEventTarget());
    }

    std::vector<EventHandlerRef> handlers_;
    EventRef event_ = nullptr;
};

TEST_F(CarbonEventsTest, ParametersKeepTheirTypeAndNeverOverrunTheBuffer)
{
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, kEventAttributeNone, &event_);
    const HICommand sent{0, FOUR_CHAR_CODE("ok  "), nullptr, 0};
    ASSERT_EQ(SetEventParameter(event_, kEventParamDirectObject, typeHICommand, sizeof sent, &sent), noErr);
    HICommand read{};
    EXPECT_EQ(GetEventParameter(event_, kEventParamDirectObject, typeQDPoint, nullptr, sizeof read, nullptr, &read),
              errAECoercionFail);
    EXPECT_EQ(GetEventParameter(event_, kEventParamMouseLocation, typeQDPoint, nullptr, 4, nullptr, &read),
              eventParameterNotFoundErr);

    const UInt32 modifiers = shiftKey;
    SetEventParameter(event_, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
    EventParamType type = 0;
    ByteCount size = 0;
    UInt8 tooSmall[2] = {0xAA, 0xAA};
    GetEventParameter(event_, kEventParamKeyModifiers, typeWildCard, &type, 1, &size, tooSmall);
    EXPECT_EQ(type, typeUInt32);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(tooSmall[1], 0xAA);
}

TEST_F(CarbonEventsTest, DeclinedEventsPassToOlderHandlersAndUnhandledReportsSo)
{
    Install(Declines, "only");
    EXPECT_EQ(Send(), eventNotHandledErr);
    Install(Handles, "handles");
    Install(Declines, "declines");
    Install(Declines, "other kind", 8);
    EXPECT_EQ(Send(), noErr);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"declines", "handles"}));
    Install(AsksTheNext, "top");
    EXPECT_EQ(Send(), noErr);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"top", "declines", "handles", "next handled"}));
}

}  // namespace
