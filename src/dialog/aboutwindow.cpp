#include "dialog/aboutwindow.h"

#include <algorithm>
#include <cstring>

#include "MacWindows.h"
#include "common/CommonProcs.h"
#include "dialog/carbonmacros.h"
#include "plugin/PluginDefines.h"

namespace {

WindowRef lgTheWindow = nullptr;
SInt16 lgItemHit = -1;

OSStatus QuitAbout(EventHandlerCallRef, EventRef, void* inUserData)
{
    lgItemHit = 2;
    QuitAppModalLoopForWindow(static_cast<WindowRef>(inUserData));
    return noErr;
}

}  // namespace

void ShowAbout()
{
    CGrafPtr savedPort;
    GDHandle savedDevice;
    GetGWorld(&savedPort, &savedDevice);

    lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, "about", "about");
    if (lgTheWindow == nullptr)
        return;
    static const EventTypeSpec kCommandEvent[] = {{kEventClassCommand, kEventCommandProcess}};
    InstallWindowEventHandler(lgTheWindow, NewEventHandlerUPP(AboutDialogHandler), 1,
                              kCommandEvent, lgTheWindow, nullptr);
    // The window manager's close box closes it as Cancel does.
    static const EventTypeSpec kCloseEvent[] = {{kEventClassWindow, kEventWindowClose}};
    InstallWindowEventHandler(lgTheWindow, NewEventHandlerUPP(QuitAbout), 1, kCloseEvent,
                              lgTheWindow, nullptr);

    SimpleSetControlText(lgTheWindow, FOUR_CHAR_CODE("Plug"), 1, PStr(cMyClearName));
    Str255 theVersion;
    CString2PString("Version ", theVersion);
    const size_t theLength = std::min<size_t>(std::strlen(cPlugVersion), 255 - theVersion[0]);
    std::memcpy(theVersion + 1 + theVersion[0], cPlugVersion, theLength);
    theVersion[0] = static_cast<unsigned char>(theVersion[0] + theLength);
    SimpleSetControlText(lgTheWindow, FOUR_CHAR_CODE("Vers"), 1, theVersion);

    ShowWindow(lgTheWindow);
    BringToFront(lgTheWindow);
    RunAppModalLoopForWindow(lgTheWindow);
    DisposeWindow(lgTheWindow);
    lgTheWindow = nullptr;

    SetGWorld(savedPort, savedDevice);
}

OSStatus AboutDialogHandler(EventHandlerCallRef /*inHandlerCallRef*/, EventRef inEvent,
                            void* inUserData)
{
    HICommand theCommand;
    if (GetEventParameter(inEvent, kEventParamDirectObject, typeHICommand, nullptr,
                          sizeof(theCommand), nullptr, &theCommand) != noErr)
        return eventNotHandledErr;
    Str255 theName;
    CommandID2Str(theCommand.commandID, theName);
    lgItemHit = -1;
    WindowRef theWindow = static_cast<WindowRef>(inUserData);
    if (std::memcmp(theName, "\x04ok  ", 5) == 0) {
        lgItemHit = 1;
        QuitAppModalLoopForWindow(theWindow);
        return noErr;
    }
    if (std::memcmp(theName, "\x04not!", 5) == 0) {
        lgItemHit = 2;
        QuitAppModalLoopForWindow(theWindow);
        return noErr;
    }
    return eventNotHandledErr;
}
