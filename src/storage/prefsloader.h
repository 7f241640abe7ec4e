// The preferences file "kavlo-Prefs" in the preferences folder and the saved
// configuration inside it.
//
// The file is a resource file with resources of type cPrefsType: ID 0 the
// preferences record, ID 1 the saved configuration. Records are stored as
// they lie in memory, in the writing processor's byte order, so a file from
// a processor of the other byte order is refused, not converted.
//
// Every routine opens and closes the file within the call and leaves the
// current resource file as it found it.
#pragma once

#include "MacTypes.h"
#include "plugin/PluginDefines.h"

#include <cstddef>

// ---- Preferences record ----------------------------------------------------

inline constexpr SInt32 cPrefsVersion = 196608;  // 0x00030000
inline constexpr SInt16 cPrefsResID = 0;
inline constexpr SInt16 cConfigResID = 1;

struct prefsrec {
    SInt32 PrefVersion;     // below 3: an older layout, converted on reading
    UInt8 Reserved[1032];   // carried over unchanged
};
static_assert(sizeof(prefsrec) == 1036);
typedef prefsrec* prefsPtr;
typedef prefsPtr* prefsH;

// A zero-filled 1036-byte block; nil when memory is short.
prefsH NewPrefs();
// PrefVersion 196608 and a cleared reserved area; nothing for nil.
void DefaultPrefs(prefsH thePrefs);
// A new default record with the old record's bytes after PrefVersion copied
// to the same offsets. theNewPrefs is nil when theOldPrefs is nil or memory
// is short.
void Old2NewPrefs(prefsH theOldPrefs, prefsH& theNewPrefs);
// The record from the file (converted from an older layout), or a fresh
// default record when there is no file. False, with thePrefs nil, when the
// folder is missing or the file cannot be read or lacks the record.
Boolean ReadPreferences(prefsH& thePrefs);
// Rebuilds the file from a copy of thePrefs, carrying an existing saved
// configuration over as "Config Settings *"; every other resource is
// dropped. The new file is built beside the old one and renamed over it, so
// there is always a whole file.
Boolean SavePreferences(prefsH thePrefs);
// Start-up: makes sure the file exists; keeps the record for the plug-in's
// life.
void InitPreferences();

// The record kept by InitPreferences; nil before it ran. For tests.
prefsH PrefsLoaderHeldPrefs();
// Disposes of the kept record so that InitPreferences starts afresh. For
// tests only.
void PrefsLoaderResetForTests();

// ---- Saved configuration -----------------------------------------------------

// Stored as it lies in memory; every field sits right after the one before.
struct configsaverec {
    UInt32 SizeInBytes;  // always sizeof(configsaverec)
    UInt32 Version;      // always cConfigSaveVersion
    relRect StartRel;
    relRect EndRel;
    RGBColor Colors[cNumColors];
    SInt16 Sliders[cNumSliders];
    RGBColor FrameStartColor;
    RGBColor FrameEndColor;
    SInt16 MediaType;
    Boolean KeepProps;
    Boolean TwoColors;
    Str255 MiscString;  // never read back
};
static_assert(sizeof(configsaverec) == 392);
static_assert(offsetof(configsaverec, Version) == 4);
static_assert(offsetof(configsaverec, StartRel) == 8);
static_assert(offsetof(configsaverec, EndRel) == 40);
static_assert(offsetof(configsaverec, Colors) == 72);
static_assert(offsetof(configsaverec, Sliders) == 108);
static_assert(offsetof(configsaverec, FrameStartColor) == 120);
static_assert(offsetof(configsaverec, FrameEndColor) == 126);
static_assert(offsetof(configsaverec, MediaType) == 132);
static_assert(offsetof(configsaverec, KeepProps) == 134);
static_assert(offsetof(configsaverec, TwoColors) == 135);
static_assert(offsetof(configsaverec, MiscString) == 136);
typedef configsaverec* configSavePtr;
typedef configSavePtr* configSaveH;

inline constexpr char cConfigMiscString[] = "Config save for Vell iMovie plug-in";

// Fills theSaveConfig (at least 392 bytes) from theConfig; false for nil.
Boolean Config2Save(const pluginDataRec* theConfig, configSaveH theSaveConfig);
// Copies the nine saved fields into theConfig; false, with nothing copied,
// for nil, a block shorter than 392 bytes, a wrong size or version, or a
// double that is NaN or infinite.
Boolean Save2Config(pluginDataRec* theConfig, configSaveH theSaveConfig);
// Stores theConfig as resource 1 of an existing preferences file.
Boolean SaveConfig(const pluginDataRec* theConfig);
// Reads resource 1 into theConfig; on false theConfig is unchanged.
Boolean ReadConfig(pluginDataRec* theConfig);
