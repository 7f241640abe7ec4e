// Nib files: Qt Designer .ui files.
//
// Nib "X" of a bundle is the folder X.nib in the bundle's resources; each
// window is one file "<window>.ui" in it. Controls are widgets carrying the
// dynamic properties controlSignature (four characters), controlID
// (number) and, where they send one, commandID (four characters). A widget
// with the property toolboxClass becomes a control of that registered
// toolbox object class: its paint and mouse events reach the class handler;
// one that sends a command also takes the keyboard focus, and Space or
// Return clicks it. The nib's tab order decides where the focus starts.
#pragma once

#include "CFBundle.h"
#include "CoreFoundation.h"
#include "MacWindows.h"

struct OpaqueIBNibRef;
typedef OpaqueIBNibRef* IBNibRef;

enum {
    kIBCarbonRuntimeCantFindNibFile = -10960,
    kIBCarbonRuntimeObjectNotOfRequestedType = -10961,
    kIBCarbonRuntimeCantFindObject = -10962,
};

TB_EXPORT OSStatus CreateNibReference(CFStringRef inNibName, IBNibRef* outNibRef);
TB_EXPORT OSStatus CreateNibReferenceWithCFBundle(CFBundleRef inBundle, CFStringRef inNibName,
                                                  IBNibRef* outNibRef);
TB_EXPORT void DisposeNibReference(IBNibRef inNibRef);
// kIBCarbonRuntimeCantFindObject when the nib has no such window,
// kIBCarbonRuntimeObjectNotOfRequestedType when its file is not a window.
// The window is made hidden.
TB_EXPORT OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow);
