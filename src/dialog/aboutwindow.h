// The About window: the effect's name and version, modal over the dialog.
#pragma once

#include "CarbonEvents.h"
#include "MacTypes.h"

// Opens window "about" of nib "about", runs it to its end and disposes of it.
void ShowAbout();
OSStatus AboutDialogHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                            void* inUserData);
