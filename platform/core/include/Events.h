// Keyboard modifiers and command dispatch.
//
// Both answer neutrally until the ui library installs its sources: no
// modifier is down, and no one handles a command.
#pragma once

#include "MacTypes.h"

enum {
    cmdKeyBit = 8,
    shiftKeyBit = 9,
    alphaLockBit = 10,
    optionKeyBit = 11,
    controlKeyBit = 12,
};
enum {
    cmdKey = 1 << cmdKeyBit,
    shiftKey = 1 << shiftKeyBit,
    alphaLock = 1 << alphaLockBit,
    optionKey = 1 << optionKeyBit,
    controlKey = 1 << controlKeyBit,
};

TB_EXPORT UInt32 GetCurrentKeyModifiers();

struct OpaqueMenuRef;
typedef OpaqueMenuRef* MenuRef;
typedef UInt16 MenuItemIndex;

struct HICommand {
    UInt32 attributes;
    UInt32 commandID;
    MenuRef menuRef;
    MenuItemIndex menuItemIndex;
};

// eventNotHandledErr when no one handles the command (or it is nil).
TB_EXPORT OSStatus ProcessHICommand(const HICommand* inCommand);

// Hooks for the ui library; nil uninstalls. Each returns the previous hook.
using TBKeyModifiersSource = UInt32 (*)();
using TBHICommandProcessor = OSStatus (*)(const HICommand* command);
TB_EXPORT TBKeyModifiersSource TBSetKeyModifiersSource(TBKeyModifiersSource source);
TB_EXPORT TBHICommandProcessor TBSetHICommandProcessor(TBHICommandProcessor processor);
