#include "dialog/aboutwindow.h"

#include <algorithm>
#include <cstring>

#include "MacWindows.h"
#include "common/CommonProcs.h"
#include "dialog/carbonmacros.h"
#include "graphics/CommonProcs.h"
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
    SavedGWorld savedGWorld;
    lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, "about", "about");
    if (lgTheWindow == nullptr)
        return;
    static const EventTypeSpec kCommandEvent[] = {{kEventClassCommand, kEventCommandProcess}};
    // The window manager's close box closes it as Cancel does.
    static const EventTypeSpec kCloseEvent[] = {{kEventClassWindow, kEventWindowClose}};
    // A window that could not take its handlers could never be closed.
    if (InstallWindowEventHandler(lgTheWindow, NewEventHandlerUPP(AboutDialogHandler), 1,
                                  kCommandEvent, lgTheWindow, nullptr) != noErr ||
        InstallWindowEventHandler(lgTheWindow, NewEventHandlerUPP(QuitAbout), 1, kCloseEvent,
                                  lgTheWindow, nullptr) != noErr) {
        DisposeWindow(lgTheWindow);
        lgTheWindow = nullptr;
        return;
    }

    SimpleSetControlText(lgTheWindow, FOUR_CHAR_CODE("Plug"), 1, PStr(cMyClearName));
    Str255 theVersion;
    CString2PString("Version ", theVersion);
    AppendCString(theVersion, cPlugVersion);
    SimpleSetControlText(lgTheWindow, FOUR_CHAR_CODE("Vers"), 1, theVersion);

    ShowWindow(lgTheWindow);
    BringToFront(lgTheWindow);
    RunAppModalLoopForWindow(lgTheWindow);
    DisposeWindow(lgTheWindow);
    lgTheWindow = nullptr;
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
    if (IsCommand(theName, "ok  ")) {
        lgItemHit = 1;
        QuitAppModalLoopForWindow(theWindow);
        return noErr;
    }
    if (IsCommand(theName, "not!")) {
        lgItemHit = 2;
        QuitAppModalLoopForWindow(theWindow);
        return noErr;
    }
    return eventNotHandledErr;
}
