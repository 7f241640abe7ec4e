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
    const OSStatus next = CallNextEventHandler(call, event);
    gCalls.push_back(next == noErr ? "next handled" : "next declined");
    return noErr;
}

class CarbonEventsTest : public ::testing::Test {
protected:
    CarbonEventsTest() { gCalls.clear(); }
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
        if (event_ == nullptr) CreateEvent(nullptr, FOUR_CHAR_CODE("test"), 7, 0, kEventAttributeNone, &event_);
        return SendEventToEventTarget(event_, GetApplicationEventTarget());
    }

    std::vector<EventHandlerRef> handlers_;
    EventRef event_ = nullptr;
};

TEST_F(CarbonEventsTest, ParametersKeepTheirTypeAndSize)
{
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, kEventAttributeNone, &event_);
    EXPECT_EQ(GetEventClass(event_), kEventClassCommand);
    EXPECT_EQ(GetEventKind(event_), kEventCommandProcess);
    const HICommand sent{0, FOUR_CHAR_CODE("ok  "), nullptr, 0};
    ASSERT_EQ(SetEventParameter(event_, kEventParamDirectObject, typeHICommand, sizeof sent, &sent), noErr);

    HICommand read{};
    EventParamType type = 0;
    ByteCount size = 0;
    ASSERT_EQ(GetEventParameter(event_, kEventParamDirectObject, typeHICommand, &type, sizeof read, &size, &read),
              noErr);
    EXPECT_EQ(read.commandID, sent.commandID);
    EXPECT_EQ(type, typeHICommand);
    EXPECT_EQ(size, sizeof(HICommand));
    EXPECT_EQ(GetEventParameter(event_, kEventParamDirectObject, typeQDPoint, nullptr, sizeof read, nullptr, &read),
              errAECoercionFail);
    EXPECT_EQ(GetEventParameter(event_, kEventParamMouseLocation, typeQDPoint, nullptr, 4, nullptr, &read),
              eventParameterNotFoundErr);

    const UInt32 modifiers = shiftKey;
    SetEventParameter(event_, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
    SInt32 asSigned = 0;
    EXPECT_EQ(GetEventParameter(event_, kEventParamKeyModifiers, typeSInt32, nullptr, sizeof asSigned, nullptr,
                                &asSigned),
              noErr);
    EXPECT_EQ(asSigned, shiftKey);
    UInt8 tooSmall[2] = {0xAA, 0xAA};
    GetEventParameter(event_, kEventParamKeyModifiers, typeWildCard, &type, 1, &size, tooSmall);
    EXPECT_EQ(type, typeUInt32);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(tooSmall[1], 0xAA);  // nothing beyond the buffer is written
}

TEST_F(CarbonEventsTest, NewestHandlerRunsFirstAndDecliningPassesItOn)
{
    Install(Handles, "first");
    Install(Declines, "second");
    Install(Declines, "third", 8);  // another kind: never called
    EXPECT_EQ(Send(), noErr);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"second", "first"}));
}

TEST_F(CarbonEventsTest, UnhandledEverywhereReportsNotHandled)
{
    Install(Declines, "only");
    EXPECT_EQ(Send(), eventNotHandledErr);
}

TEST_F(CarbonEventsTest, CallNextEventHandlerRunsTheRemainingHandlers)
{
    Install(Handles, "bottom");
    Install(AsksTheNext, "top");
    EXPECT_EQ(Send(), noErr);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"top", "bottom", "next handled"}));
}

TEST_F(CarbonEventsTest, RemovedHandlersAreNotCalledAndCannotBeRemovedTwice)
{
    Install(Handles, "kept");
    Install(Handles, "removed");
    ASSERT_EQ(RemoveEventHandler(handlers_.back()), noErr);
    EXPECT_EQ(RemoveEventHandler(handlers_.back()), paramErr);
    handlers_.pop_back();
    Send();
    EXPECT_EQ(gCalls, std::vector<std::string>{"kept"});
}

TEST_F(CarbonEventsTest, ProcessHICommandReachesTheApplication)
{
    StartQt();
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
    EventHandlerRef handler = nullptr;
    InstallEventHandler(GetApplicationEventTarget(), Handles, 1, &spec, const_cast<char*>("app"), &handler);
    handlers_.push_back(handler);
    const HICommand command{0, FOUR_CHAR_CODE("abcd"), nullptr, 0};
    EXPECT_EQ(ProcessHICommand(&command), noErr);
    EXPECT_EQ(gCalls, std::vector<std::string>{"app"});
}

TEST_F(CarbonEventsTest, ClassesRegisterOnceByIdentifier)
{
    ToolboxObjectClassRef first = nullptr;
    ToolboxObjectClassRef second = nullptr;
    const EventTypeSpec spec{kEventClassControl, kEventControlDraw};
    ASSERT_EQ(RegisterToolboxObjectClass(CFSTR("org.brimtone.test.once"), nullptr, 1, &spec, Handles, nullptr, &first),
              noErr);
    EXPECT_EQ(RegisterToolboxObjectClass(CFSTR("org.brimtone.test.once"), nullptr, 1, &spec, Handles, nullptr, &second),
              eventHandlerAlreadyInstalledErr);
    EXPECT_EQ(UnregisterToolboxObjectClass(first), noErr);
    ASSERT_EQ(RegisterToolboxObjectClass(CFSTR("org.brimtone.test.once"), nullptr, 1, &spec, Handles, nullptr, &second),
              noErr);
    EXPECT_EQ(UnregisterToolboxObjectClass(second), noErr);
}

TEST_F(CarbonEventsTest, TrackingWithoutAClickReportsTheReleaseAtOnce)
{
    StartQt();
    Point where;
    MouseTrackingResult result = 0;
    EXPECT_EQ(TrackMouseLocation(nullptr, &where, &result), noErr);
    EXPECT_EQ(result, kMouseTrackingMouseUp);
}

}  // namespace
