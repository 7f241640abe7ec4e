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
#include <string>

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

// ---- Where the file is ----------------------------------------------------

// The preferences file is replaced only when it is a regular file, or a
// symbolic link to a regular file that reads as preferences (the target is
// then replaced in its own folder). Anything else at the path is left alone:
// the plug-in runs on the defaults and saves nothing.
enum class PrefsPlace {
    noFolder,    // no preferences folder: nothing is read or written
    absent,      // the folder has no preferences file yet
    file,        // a regular file
    linkToFile,  // a link to a regular file that reads as preferences
    leftAlone,   // anything else at the path, or behind a link
};

struct PrefsFileInfo {
    PrefsPlace place = PrefsPlace::noFolder;
    std::string path;    // the preferences file's path; empty without a folder
    std::string target;  // the file read and replaced: path, or the link's target
    std::string why;     // for noFolder and leftAlone: what is there, for the user
};

PrefsFileInfo InspectPrefsFile();

// Holds an advisory lock (flock) on the preferences folder for its scope, so
// that two processes never interleave a read-modify-write of the file. Every
// routine here that writes takes it; nested locks of one process are one.
class PrefsFileLock {
public:
    PrefsFileLock();
    ~PrefsFileLock();
    PrefsFileLock(const PrefsFileLock&) = delete;
    PrefsFileLock& operator=(const PrefsFileLock&) = delete;
};

// ---- Preferences record routines ---------------------------------------------

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
// folder is missing, the file is left alone, or it cannot be read or lacks
// the record.
Boolean ReadPreferences(prefsH& thePrefs);
// Rebuilds the file from a copy of thePrefs, carrying an existing saved
// configuration over as "Config Settings *"; every other resource is
// dropped. One save: the whole new file replaces the old in one rename.
// False, touching nothing, for a path that is left alone.
Boolean SavePreferences(prefsH thePrefs);
// Start-up: creates the file when there is none; a regular file that cannot
// be read is first kept as "kavlo-Prefs.bad" (the latest only), then rebuilt.
// Removes the temporary files of interrupted saves. Writes nothing when the
// file reads well. Keeps the record for the plug-in's life.
void InitPreferences();

// The record kept by InitPreferences; nil before it ran. For tests.
prefsH PrefsLoaderHeldPrefs();
// Disposes of the kept record, as if the plug-in had never started. Tests
// only: the plug-in keeps its record until it is unloaded.
void ForgetHeldPrefsForTests();

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
// Stores theConfig as resource 1 of an existing preferences file. This is
// what the dialog's OK does.
Boolean SaveConfig(const pluginDataRec* theConfig);
// The same, telling why a save failed: outWhy then names the file and the
// cause, for the user ("cannot save the settings in PATH: CAUSE").
Boolean SaveConfig(const pluginDataRec* theConfig, std::string& outWhy);
// Reads resource 1 into theConfig; on false theConfig is unchanged.
Boolean ReadConfig(pluginDataRec* theConfig);

// What reading the saved configuration found.
enum class SavedConfig {
    read,         // copied into the configuration
    none,         // the file holds no saved configuration
    refused,      // it holds one that cannot be used (other layout or byte order)
    unreachable,  // no file that may be read, or it could not be read now
};
// ReadConfig with the reason for a failure; only none and refused call for
// the file to be repaired.
SavedConfig ReadSavedConfig(pluginDataRec* theConfig);

// The configuration's defaults with the saved configuration read over them,
// as the filters that other programs load take the dialog's settings. The
// toolbox keeps process-wide state while it reads, so readers on several
// threads take turns.
void ReadSavedOverDefaults(pluginDataRec& theConfig);
