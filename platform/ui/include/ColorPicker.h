// The Color Picker on Qt's colour dialog.
#pragma once

#include "MacTypes.h"

struct CMRGBColor {
    UInt16 red;
    UInt16 green;
    UInt16 blue;
};
union CMColor {
    CMRGBColor rgb;
    UInt16 pad[5];
};
typedef struct OpaqueCMProfileRef* CMProfileRef;
typedef CMProfileRef CMProfileHandle;

struct PMColor {
    CMProfileHandle profile;
    CMColor color;
};

typedef SInt16 DialogPlacementSpec;
enum : DialogPlacementSpec {
    kAtSpecifiedOrigin = 0,
    kDeepestColorScreen = 1,
    kCenterOnMainScreen = 2,
};

enum : UInt32 {
    kColorPickerDialogIsMoveable = 1,
    kColorPickerDialogIsModal = 2,
    kColorPickerCanModifyPalette = 4,
    kColorPickerCanAnimatePalette = 8,
    kColorPickerAppIsColorSyncAware = 16,
    kColorPickerInSystemDialog = 32,
    kColorPickerInApplicationDialog = 64,
    kColorPickerInPickerDialog = 128,
    kColorPickerDetachedFromChoices = 256,
    kColorPickerCallColorProcLive = 512,
};

struct PickerMenuItemInfo {
    SInt16 editMenuID;
    SInt16 cutItem;
    SInt16 copyItem;
    SInt16 pasteItem;
    SInt16 clearItem;
    SInt16 undoItem;
};

struct EventRecord;
typedef Boolean (*UserEventProcPtr)(EventRecord* event);
typedef UserEventProcPtr UserEventUPP;
typedef void (*NColorChangedProcPtr)(SInt32 userData, PMColor* newColor);
typedef NColorChangedProcPtr NColorChangedUPP;

struct NColorPickerInfo {
    PMColor theColor;
    CMProfileHandle dstProfile;
    UInt32 flags;
    DialogPlacementSpec placeWhere;
    Point dialogOrigin;
    OSType pickerType;
    UserEventUPP eventProc;
    NColorChangedUPP colorProc;
    UInt32 colorProcData;
    Str255 prompt;  // the dialog's title
    PickerMenuItemInfo mInfo;
    Boolean newColorChosen;
    UInt8 reserved;
};

// Runs the colour dialog modally on theColor.color.rgb. noErr in both
// cases; newColorChosen tells whether the user chose a colour, which is
// then in theColor.color.rgb (8-bit channels v become v × 257).
TB_EXPORT OSErr NPickColor(NColorPickerInfo* theColorInfo);
