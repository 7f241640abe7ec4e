#include "Events.h"

#include "MacErrors.h"

#include <atomic>

namespace {

std::atomic<TBKeyModifiersSource> gModifiersSource{nullptr};
std::atomic<TBHICommandProcessor> gCommandProcessor{nullptr};

}  // namespace

UInt32 GetCurrentKeyModifiers()
{
    const TBKeyModifiersSource source = gModifiersSource.load();
    return source != nullptr ? source() : 0;
}

OSStatus ProcessHICommand(const HICommand* inCommand)
{
    const TBHICommandProcessor processor = gCommandProcessor.load();
    if (inCommand == nullptr || processor == nullptr)
        return eventNotHandledErr;
    return processor(inCommand);
}

TBKeyModifiersSource TBSetKeyModifiersSource(TBKeyModifiersSource source)
{
    return gModifiersSource.exchange(source);
}

TBHICommandProcessor TBSetHICommandProcessor(TBHICommandProcessor processor)
{
    return gCommandProcessor.exchange(processor);
}
