// The configuration dialog: a modal window per media format in which every
// edit goes into the configuration at once; OK saves it, Cancel restores it.
#pragma once

#include "CarbonEvents.h"
#include "MacTypes.h"
#include "MacWindows.h"
#include "plugin/PluginDefines.h"

#include <string>

// Runs the dialog on theConfig until OK or Cancel; reopens the window when
// the media format changes. gConfigWorkSpace must be filled. False when OK
// could not save the settings: the user was told, and they hold for this
// run only.
Boolean DoConfig(pluginDataPtr theConfig);
void SetupDialog(WindowRef theWindow, pluginDataPtr theConfig);
void SetupColors(WindowRef theWindow, pluginDataPtr theConfig);
// Copies colours, sliders and the two-colour flag into the open window.
void Config2Dlg(pluginDataPtr theConfig);
OSStatus TheDialogHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void* userData);

// The line that tells a failed save: theWhy (file and cause, as SaveConfig
// gives it) and that the settings hold for this run only.
std::string SaveFailureLine(const std::string& theWhy);

// The window name for a media type: configNTSC, configPAL or configHD.
const char* ConfigWindowName(SInt16 theMediaType);
