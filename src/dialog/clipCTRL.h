// The preview control "Clip" 1: the rendered preview with the region drawn
// on it, whose corners and body the user drags.
//
// Class ids of the dialog's custom controls are the vendor identifier
// prefix "com.brimtone.plugin" (cMyBundleID without its last component)
// followed by a suffix; the nibs name the same ids:
//     preview control   "com.brimtone.plugin.clip"
//     image box         "com.brimtone.plugin.imageCTRL"
//     colour box        "com.brimtone.plugin.color"
// A nib widget becomes such a control through its dynamic property
// toolboxClass holding that id.
#pragma once

#include "CarbonEvents.h"
#include "MacTypes.h"

inline constexpr char cClipCtrlID[] = "com.brimtone.plugin.clip";

void RegisterClipCtrl();
void UnregisterClipCtrl();
OSStatus ClipCtrlControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                void* inUserData);
