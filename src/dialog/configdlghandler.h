// The configuration dialog: a modal window per media format in which every
// edit goes into the configuration at once; OK saves it, Cancel restores it.
#pragma once

#include "CarbonEvents.h"
#include "MacTypes.h"
#include "MacWindows.h"
#include "plugin/PluginDefines.h"

// Runs the dialog on theConfig until OK or Cancel; reopens the window when
// the media format changes. gConfigWorkSpace must be filled.
void DoConfig(pluginDataPtr theConfig);
void SetupDialog(WindowRef theWindow, pluginDataPtr theConfig);
void SetupColors(WindowRef theWindow, pluginDataPtr theConfig);
// Copies colours, sliders and the two-colour flag into the open window.
void Config2Dlg(pluginDataPtr theConfig);
OSStatus TheDialogHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void* userData);

// The window name for a media type: configNTSC, configPAL or configHD.
const char* ConfigWindowName(SInt16 theMediaType);
