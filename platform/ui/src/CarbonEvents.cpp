#include "CarbonEvents.h"

#include "MacMemory.h"
#include "UIPrivate.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>
#include <unordered_set>

struct OpaqueEventRef {
    struct Parameter {
        EventParamType type;
        std::vector<UInt8> bytes;
    };
    UInt32 eventClass = 0;
    UInt32 kind = 0;
    EventTime when = 0;
    int references = 1;
    std::map<EventParamName, Parameter> parameters;
};

struct OpaqueEventHandlerCallRef {
    struct Step {
        OpaqueEventHandlerRef* handler;  // nil for class and standard handlers
        UInt64 serial;
        EventHandlerUPP proc;
        void* userData;
        StandardHandler standard;
    };
    std::vector<Step> steps;
    size_t next = 0;
};

namespace {

struct HandlerTable {
    std::unordered_map<OpaqueEventHandlerRef*, UInt64> live;
    UInt64 nextSerial = 1;
    std::vector<OpaqueToolboxObjectClassRef*> classes;  // registered or still used
};

HandlerTable& Handlers()
{
    static HandlerTable table;
    return table;
}

bool Matches(const std::vector<EventTypeSpec>& types, UInt32 eventClass, UInt32 kind)
{
    return std::any_of(types.begin(), types.end(), [&](const EventTypeSpec& spec) {
        return spec.eventClass == eventClass && spec.eventKind == kind;
    });
}

bool StillInstalled(const OpaqueEventHandlerCallRef::Step& step)
{
    if (step.handler == nullptr) return true;
    const auto& live = Handlers().live;
    const auto found = live.find(step.handler);
    return found != live.end() && found->second == step.serial;
}

void AddSteps(OpaqueEventHandlerCallRef& call, OpaqueEventTargetRef* target, UInt32 eventClass,
              UInt32 kind)
{
    for (auto it = target->handlers.rbegin(); it != target->handlers.rend(); ++it) {
        OpaqueEventHandlerRef* handler = *it;
        if (Matches(handler->types, eventClass, kind))
            call.steps.push_back({handler, handler->serial, handler->proc, handler->userData, nullptr});
    }
    OpaqueToolboxObjectClassRef* objectClass = target->objectClass;
    if (objectClass != nullptr && objectClass->proc != nullptr &&
        Matches(objectClass->types, eventClass, kind))
        call.steps.push_back({nullptr, 0, objectClass->proc, objectClass->userData, nullptr});
    if (target->standard != nullptr)
        call.steps.push_back({nullptr, 0, nullptr, target->owner, target->standard});
}

OSStatus RunSteps(OpaqueEventHandlerCallRef* call, EventRef event)
{
    while (call->next < call->steps.size()) {
        const auto step = call->steps[call->next++];
        if (!StillInstalled(step)) continue;
        const OSStatus result = step.standard != nullptr ? step.standard(call, event, step.userData)
                                                         : step.proc(call, event, step.userData);
        if (result != eventNotHandledErr) return result;
    }
    return eventNotHandledErr;
}

const UInt8* Coerce(const OpaqueEventRef::Parameter& parameter, EventParamType desired)
{
    if (desired == typeWildCard || desired == parameter.type) return parameter.bytes.data();
    const auto pair = [&](EventParamType a, EventParamType b) {
        return (parameter.type == a && desired == b) || (parameter.type == b && desired == a);
    };
    if (pair(typeUInt32, typeSInt32) || pair(typeSInt16, typeControlPartCode))
        return parameter.bytes.data();
    return nullptr;
}

}  // namespace

OpaqueEventTargetRef::~OpaqueEventTargetRef()
{
    tbui::RemoveAllHandlers(this);
}

namespace tbui {

OpaqueEventTargetRef* ApplicationTarget()
{
    static OpaqueEventTargetRef* target = new OpaqueEventTargetRef;
    return target;
}

EventRef NewEvent(UInt32 eventClass, UInt32 kind)
{
    EventRef event = nullptr;
    CreateEvent(nullptr, eventClass, kind, GetCurrentEventTime(), kEventAttributeNone, &event);
    return event;
}

OSStatus SendCommand(UInt32 commandID, UInt32 attributes, OpaqueEventTargetRef* target)
{
    EventRef event = NewEvent(kEventClassCommand, kEventCommandProcess);
    HICommand command{};
    command.attributes = attributes;
    command.commandID = commandID;
    SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof command, &command);
    const OSStatus result = SendEventToEventTarget(event, target);
    ReleaseEvent(event);
    return result;
}

void RemoveAllHandlers(OpaqueEventTargetRef* target)
{
    auto& live = Handlers().live;
    for (OpaqueEventHandlerRef* handler : target->handlers) {
        live.erase(handler);
        delete handler;
    }
    target->handlers.clear();
}

void RetainClass(OpaqueToolboxObjectClassRef* objectClass)
{
    if (objectClass != nullptr) ++objectClass->instances;
}

void ReleaseClass(OpaqueToolboxObjectClassRef* objectClass)
{
    if (objectClass == nullptr) return;
    --objectClass->instances;
    if (objectClass->instances > 0 || objectClass->registered) return;
    auto& classes = Handlers().classes;
    classes.erase(std::remove(classes.begin(), classes.end(), objectClass), classes.end());
    CFRelease(objectClass->classID);
    delete objectClass;
}

OpaqueToolboxObjectClassRef* FindClass(const std::string& classID)
{
    for (OpaqueToolboxObjectClassRef* objectClass : Handlers().classes) {
        if (objectClass->registered && TBCFStringToUTF8(objectClass->classID) == classID)
            return objectClass;
    }
    return nullptr;
}

}  // namespace tbui

OSStatus CreateEvent(CFAllocatorRef, UInt32 inClassID, UInt32 inKind, EventTime inWhen, EventAttributes,
                     EventRef* outEvent)
{
    if (outEvent == nullptr) return paramErr;
    *outEvent = nullptr;
    auto* event = TBNew<OpaqueEventRef>();
    if (event == nullptr) return memFullErr;
    event->eventClass = inClassID;
    event->kind = inKind;
    event->when = inWhen;
    *outEvent = event;
    return noErr;
}

EventRef RetainEvent(EventRef inEvent)
{
    if (inEvent != nullptr) ++inEvent->references;
    return inEvent;
}

void ReleaseEvent(EventRef inEvent)
{
    if (inEvent != nullptr && --inEvent->references == 0) delete inEvent;
}

UInt32 GetEventClass(EventRef inEvent)
{
    return inEvent != nullptr ? inEvent->eventClass : 0;
}

UInt32 GetEventKind(EventRef inEvent)
{
    return inEvent != nullptr ? inEvent->kind : 0;
}

EventTime GetCurrentEventTime()
{
    static QElapsedTimer clock;
    if (!clock.isValid()) clock.start();
    return double(clock.nsecsElapsed()) / 1e9;
}

OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType,
                           ByteCount inSize, const void* inPtr)
{
    if (inEvent == nullptr || inType == typeWildCard || (inPtr == nullptr && inSize > 0))
        return paramErr;
    const auto* bytes = static_cast<const UInt8*>(inPtr);
    try {
        OpaqueEventRef::Parameter parameter{inType, {}};
        if (inSize > 0) parameter.bytes.assign(bytes, bytes + inSize);
        inEvent->parameters[inName] = std::move(parameter);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize,
                           ByteCount* outActualSize, void* outData)
{
    if (inEvent == nullptr) return paramErr;
    const auto found = inEvent->parameters.find(inName);
    if (found == inEvent->parameters.end()) return eventParameterNotFoundErr;
    const OpaqueEventRef::Parameter& parameter = found->second;
    const UInt8* bytes = Coerce(parameter, inDesiredType);
    if (bytes == nullptr && !parameter.bytes.empty()) return errAECoercionFail;
    if (outActualType != nullptr)
        *outActualType = inDesiredType == typeWildCard ? parameter.type : inDesiredType;
    if (outActualSize != nullptr) *outActualSize = ByteCount(parameter.bytes.size());
    if (outData != nullptr && !parameter.bytes.empty())
        std::memcpy(outData, bytes, std::min<size_t>(inBufferSize, parameter.bytes.size()));
    return noErr;
}

EventTargetRef GetApplicationEventTarget()
{
    return tbui::ApplicationTarget();
}

EventTargetRef GetWindowEventTarget(WindowRef inWindow)
{
    return tbui::LiveWindow(inWindow) ? &inWindow->target : nullptr;
}

EventTargetRef GetControlEventTarget(ControlRef inControl)
{
    return tbui::LiveControl(inControl) ? &inControl->target : nullptr;
}

EventTargetRef GetMenuEventTarget(MenuRef inMenu)
{
    return tbui::LiveMenu(inMenu) ? &inMenu->target : nullptr;
}

EventTargetRef GetUserFocusEventTarget()
{
    if (OpaqueWindowPtr* window = tbui::InnermostModalWindow()) return &window->target;
    return tbui::ApplicationTarget();
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef)
{
    if (inTarget == nullptr || inHandler == nullptr || (inNumTypes > 0 && inList == nullptr))
        return paramErr;
    auto* handler = TBNew<OpaqueEventHandlerRef>();
    if (handler == nullptr) return memFullErr;
    handler->serial = Handlers().nextSerial++;
    handler->target = inTarget;
    handler->proc = inHandler;
    handler->userData = inUserData;
    try {
        handler->types.assign(inList, inList + inNumTypes);
        inTarget->handlers.push_back(handler);
        Handlers().live.emplace(handler, handler->serial);
    } catch (const std::bad_alloc&) {
        std::erase(inTarget->handlers, handler);
        delete handler;
        return memFullErr;
    }
    if (outRef != nullptr) *outRef = handler;
    return noErr;
}

OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget)
{
    if (inEvent == nullptr || inTarget == nullptr) return paramErr;
    OpaqueEventHandlerCallRef call;
    const bool travels = inEvent->eventClass == kEventClassCommand;
    for (OpaqueEventTargetRef* target = inTarget; target != nullptr;
         target = travels ? target->parent : nullptr)
        AddSteps(call, target, inEvent->eventClass, inEvent->kind);
    RetainEvent(inEvent);
    const OSStatus result = RunSteps(&call, inEvent);
    ReleaseEvent(inEvent);
    return result;
}

OSStatus RegisterToolboxObjectClass(CFStringRef inClassID, ToolboxObjectClassRef inBaseClass,
                                    ItemCount inNumEvents, const EventTypeSpec* inEventList,
                                    EventHandlerUPP inEventHandler, void* inEventHandlerData,
                                    ToolboxObjectClassRef* outClassRef)
{
    if (inClassID == nullptr || inBaseClass != nullptr || (inNumEvents > 0 && inEventList == nullptr))
        return paramErr;
    if (tbui::FindClass(TBCFStringToUTF8(inClassID)) != nullptr) return eventHandlerAlreadyInstalledErr;
    auto* objectClass = TBNew<OpaqueToolboxObjectClassRef>();
    if (objectClass == nullptr) return memFullErr;
    objectClass->proc = inEventHandler;
    objectClass->userData = inEventHandlerData;
    objectClass->classID = CFStringCreateCopy(nullptr, inClassID);
    try {
        if (objectClass->classID == nullptr) throw std::bad_alloc();
        objectClass->types.assign(inEventList, inEventList + inNumEvents);
        Handlers().classes.push_back(objectClass);
    } catch (const std::bad_alloc&) {
        if (objectClass->classID != nullptr) CFRelease(objectClass->classID);
        delete objectClass;
        return memFullErr;
    }
    if (outClassRef != nullptr) *outClassRef = objectClass;
    return noErr;
}

OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef inClassRef)
{
    auto& classes = Handlers().classes;
    if (inClassRef == nullptr || std::find(classes.begin(), classes.end(), inClassRef) == classes.end() ||
        !inClassRef->registered)
        return paramErr;
    inClassRef->registered = false;
    ++inClassRef->instances;
    tbui::ReleaseClass(inClassRef);
    return noErr;
}
