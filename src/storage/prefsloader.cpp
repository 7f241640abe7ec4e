// Preferences file and saved configuration.

#include "storage/prefsloader.h"

#include "common/CommonProcs.h"

#include "Files.h"
#include "Folders.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "Resources.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Lives for the plug-in's life once InitPreferences has made or read it.
prefsH lgPrefs = nullptr;

// Built beside the preferences file, then renamed over it.
constexpr char kTempSuffix[] = ".saving";

constexpr Size kPrefsSize = Size(sizeof(prefsrec));
constexpr Size kConfigSaveSize = Size(sizeof(configsaverec));

// A Str255 from a text, for file and resource names.
class PName {
public:
    explicit PName(const std::string& theText)
    {
        std::size_t length = std::min<std::size_t>(theText.size(), 255);
        fText[0] = static_cast<unsigned char>(length);
        std::memcpy(fText + 1, theText.data(), length);
    }
    operator ConstStr255Param() const { return fText; }
    unsigned char* data() { return fText; }

private:
    Str255 fText{};
};

struct PrefsFile {
    SInt16 vRefNum = 0;
    SInt32 dirID = 0;
    FSSpec spec{};
    OSErr specErr = noErr;  // noErr: the file exists; fnfErr: it does not
};

std::string PrefsFileName()
{
    return std::string(cProductCode) + cPrefName;
}

// False when the preferences folder cannot be found; otherwise spec and
// specErr describe the file named fileName in it.
bool LocateInPrefsFolder(const std::string& fileName, PrefsFile& outFile)
{
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &outFile.vRefNum,
                   &outFile.dirID) != noErr)
        return false;
    outFile.specErr =
        FSMakeFSSpec(outFile.vRefNum, outFile.dirID, PName(fileName), &outFile.spec);
    return true;
}

// The resource file open and current for one scope; closing it restores the
// resource file that was current before.
class ResFileSession {
public:
    explicit ResFileSession(const FSSpec& theSpec) : fSaved(CurResFile())
    {
        SInt16 refNum = FSpOpenResFile(&theSpec, fsCurPerm);
        if (ResError() != noErr || refNum == -1)
            return;
        fRefNum = refNum;
        UseResFile(fRefNum);
        if (ResError() != noErr)
            Close();
    }
    ~ResFileSession() { Close(); }
    ResFileSession(const ResFileSession&) = delete;
    ResFileSession& operator=(const ResFileSession&) = delete;

    bool IsOpen() const { return fRefNum != -1; }
    SInt16 RefNum() const { return fRefNum; }

    // The Resource Manager's result of closing.
    OSErr Close()
    {
        if (fRefNum == -1)
            return noErr;
        CloseResFile(fRefNum);
        OSErr err = ResError();
        if (fSaved != fRefNum)
            UseResFile(fSaved);
        fRefNum = -1;
        return err;
    }

private:
    SInt16 fSaved;
    SInt16 fRefNum = -1;
};

// Resource theID of the file, detached so that the caller owns it; nil when
// the file cannot be opened or lacks the resource.
Handle TakeResource(const FSSpec& theSpec, SInt16 theID)
{
    ResFileSession file(theSpec);
    if (!file.IsOpen())
        return nullptr;
    Handle data = Get1Resource(cPrefsType, theID);
    if (data == nullptr || ResError() != noErr)
        return nullptr;
    DetachResource(data);
    if (ResError() != noErr)
        return nullptr;  // still the file's: closing disposes of it
    return data;
}

// A 1036-byte record holding what theData has (zeros beyond its end);
// theData is disposed of. Nil when memory is short.
prefsH FitToPrefsRecord(Handle theData)
{
    Size have = GetHandleSize(theData);
    if (have == kPrefsSize)
        return reinterpret_cast<prefsH>(theData);
    prefsH record = NewPrefs();
    if (record != nullptr && have > 0)
        BlockMoveData(*theData, *record, std::min(have, kPrefsSize));
    DisposeHandle(theData);
    return record;
}

enum class PrefsRead { failed, fromFile, freshDefaults };

PrefsRead ReadPrefsRecord(prefsH& thePrefs)
{
    thePrefs = nullptr;
    PrefsFile file;
    if (!LocateInPrefsFolder(PrefsFileName(), file))
        return PrefsRead::failed;
    if (file.specErr == fnfErr) {
        thePrefs = NewPrefs();
        if (thePrefs == nullptr)
            return PrefsRead::failed;
        DefaultPrefs(thePrefs);
        return PrefsRead::freshDefaults;
    }
    if (file.specErr != noErr)
        return PrefsRead::failed;

    Handle data = TakeResource(file.spec, cPrefsResID);
    if (data == nullptr)
        return PrefsRead::failed;
    prefsH record = FitToPrefsRecord(data);
    if (record == nullptr)
        return PrefsRead::failed;
    if ((*record)->PrefVersion < 3) {
        prefsH converted = nullptr;
        Old2NewPrefs(record, converted);
        DisposeHandle(reinterpret_cast<Handle>(record));
        if (converted == nullptr)
            return PrefsRead::failed;
        record = converted;
    }
    thePrefs = record;
    return PrefsRead::fromFile;
}

// Fills the fresh resource file theSpec; takes over theCarried (may be nil).
bool FillPrefsFile(const FSSpec& theSpec, prefsH thePrefs, Handle theCarried)
{
    ResFileSession file(theSpec);
    Handle copy = reinterpret_cast<Handle>(thePrefs);
    if (!file.IsOpen() || HandToHand(&copy) != noErr || copy == nullptr) {
        if (theCarried != nullptr)
            DisposeHandle(theCarried);
        return false;
    }
    AddResource(copy, cPrefsType, cPrefsResID, PName("Prefs Settings"));
    if (ResError() != noErr) {
        DisposeHandle(copy);
        if (theCarried != nullptr)
            DisposeHandle(theCarried);
        return false;
    }
    if (theCarried != nullptr) {
        AddResource(theCarried, cPrefsType, cConfigResID, PName("Config Settings *"));
        if (ResError() != noErr) {
            DisposeHandle(theCarried);
            return false;
        }
    }
    UpdateResFile(file.RefNum());
    if (ResError() != noErr)
        return false;
    ReleaseResource(copy);
    if (theCarried != nullptr)
        ReleaseResource(theCarried);
    return file.Close() == noErr;
}

// Makes the rename itself survive a power loss.
void SyncFolderOf(const std::string& thePath)
{
    std::string::size_type slash = thePath.rfind('/');
    std::string folder = slash == std::string::npos ? "." : thePath.substr(0, slash + 1);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// The file specification of the temporary file beside thePath; noErr or
// fnfErr when usable.
OSErr TempSpecBeside(const std::string& thePath, FSSpec& outSpec)
{
    return TBFSSpecFromPath(thePath + kTempSuffix, &outSpec);
}

// Builds a whole new preferences file beside the old one and renames it over
// it; takes over theCarried.
bool ReplacePrefsFile(const PrefsFile& theFile, prefsH thePrefs, Handle theCarried)
{
    auto fail = [&] {
        if (theCarried != nullptr)
            DisposeHandle(theCarried);
        return false;
    };
    std::string target;
    if (!TBPathFromFSSpec(theFile.spec, target))
        return fail();
    // A symbolic link stays a link: its target is replaced.
    FSSpec temp{};
    OSErr err = paramErr;  // no file specification yet
    char resolved[PATH_MAX];
    if (theFile.specErr == noErr && ::realpath(target.c_str(), resolved) != nullptr) {
        err = TempSpecBeside(resolved, temp);
        if (err == noErr || err == fnfErr)
            target = resolved;
    }
    if (err != noErr && err != fnfErr)
        err = TempSpecBeside(target, temp);
    if (err == noErr && FSpDelete(&temp) == noErr)  // left by an interrupted save
        err = fnfErr;
    if (err != fnfErr)
        return fail();
    FSpCreateResFile(&temp, cPrefsCreator, cPrefsType, smSystemScript);
    if (ResError() != noErr)
        return fail();
    const std::string tempPath = target + kTempSuffix;
    if (!FillPrefsFile(temp, thePrefs, theCarried) ||
        std::rename(tempPath.c_str(), target.c_str()) != 0) {
        FSpDelete(&temp);
        return false;
    }
    SyncFolderOf(target);
    return true;
}

bool AllFinite(const relRect& theRel)
{
    return std::isfinite(theRel.left) && std::isfinite(theRel.right) &&
           std::isfinite(theRel.top) && std::isfinite(theRel.bottom);
}

}  // namespace

// ---- Preferences record ----------------------------------------------------

prefsH NewPrefs()
{
    return reinterpret_cast<prefsH>(NewHandleClear(kPrefsSize));
}

void DefaultPrefs(prefsH thePrefs)
{
    if (thePrefs == nullptr || *thePrefs == nullptr)
        return;
    (*thePrefs)->PrefVersion = cPrefsVersion;
    std::memset((*thePrefs)->Reserved, 0, sizeof((*thePrefs)->Reserved));
}

void Old2NewPrefs(prefsH theOldPrefs, prefsH& theNewPrefs)
{
    theNewPrefs = nullptr;
    Assert(theOldPrefs, PStr("No theOldPrefs in Old2NewPrefs"));
    theNewPrefs = NewPrefs();
    Assert(theNewPrefs, PStr("Failed to allocate theNewPrefs in Old2NewPrefs"));
    DefaultPrefs(theNewPrefs);
    constexpr Size kFirst = Size(offsetof(prefsrec, Reserved));
    Size oldSize = std::min(GetHandleSize(reinterpret_cast<Handle>(theOldPrefs)), kPrefsSize);
    if (oldSize > kFirst)
        BlockMoveData(reinterpret_cast<char*>(*theOldPrefs) + kFirst,
                      reinterpret_cast<char*>(*theNewPrefs) + kFirst, oldSize - kFirst);
}

Boolean ReadPreferences(prefsH& thePrefs)
{
    return ReadPrefsRecord(thePrefs) != PrefsRead::failed;
}

Boolean SavePreferences(prefsH thePrefs)
{
    if (thePrefs == nullptr || *thePrefs == nullptr)
        return false;
    PrefsFile file;
    if (!LocateInPrefsFolder(PrefsFileName(), file))
        return false;
    if (file.specErr != noErr && file.specErr != fnfErr)
        return false;
    Handle carried = file.specErr == noErr ? TakeResource(file.spec, cConfigResID) : nullptr;
    return ReplacePrefsFile(file, thePrefs, carried);
}

void InitPreferences()
{
    prefsH record = nullptr;
    switch (ReadPrefsRecord(record)) {
    case PrefsRead::failed:
        record = NewPrefs();
        DefaultPrefs(record);
        SavePreferences(record);
        break;
    case PrefsRead::freshDefaults:
        SavePreferences(record);
        break;
    case PrefsRead::fromFile:
        break;
    }
    PrefsLoaderResetForTests();
    lgPrefs = record;
}

prefsH PrefsLoaderHeldPrefs()
{
    return lgPrefs;
}

void PrefsLoaderResetForTests()
{
    if (lgPrefs != nullptr)
        DisposeHandle(reinterpret_cast<Handle>(lgPrefs));
    lgPrefs = nullptr;
}

// ---- Saved configuration -----------------------------------------------------

Boolean Config2Save(const pluginDataRec* theConfig, configSaveH theSaveConfig)
{
    if (theConfig == nullptr || theSaveConfig == nullptr || *theSaveConfig == nullptr ||
        GetHandleSize(reinterpret_cast<Handle>(theSaveConfig)) < kConfigSaveSize)
        return false;
    configsaverec record;
    std::memset(&record, 0, sizeof(record));
    record.SizeInBytes = UInt32(kConfigSaveSize);
    record.Version = cConfigSaveVersion;
    record.StartRel = theConfig->StartRel;
    record.EndRel = theConfig->EndRel;
    std::memcpy(record.Colors, theConfig->Colors, sizeof(record.Colors));
    std::memcpy(record.Sliders, theConfig->Sliders, sizeof(record.Sliders));
    record.FrameStartColor = theConfig->FrameStartColor;
    record.FrameEndColor = theConfig->FrameEndColor;
    record.MediaType = theConfig->MediaType;
    record.KeepProps = theConfig->KeepProps;
    record.TwoColors = theConfig->TwoColors;
    PName misc(cConfigMiscString);
    std::memcpy(record.MiscString, misc.data(), sizeof(record.MiscString));
    std::memcpy(*theSaveConfig, &record, sizeof(record));
    return true;
}

Boolean Save2Config(pluginDataRec* theConfig, configSaveH theSaveConfig)
{
    if (theConfig == nullptr || theSaveConfig == nullptr || *theSaveConfig == nullptr ||
        GetHandleSize(reinterpret_cast<Handle>(theSaveConfig)) < kConfigSaveSize)
        return false;
    configsaverec record;
    std::memcpy(&record, *theSaveConfig, sizeof(record));
    if (record.SizeInBytes != UInt32(kConfigSaveSize) || record.Version != cConfigSaveVersion)
        return false;
    if (!AllFinite(record.StartRel) || !AllFinite(record.EndRel))
        return false;
    theConfig->StartRel = record.StartRel;
    theConfig->EndRel = record.EndRel;
    std::memcpy(theConfig->Colors, record.Colors, sizeof(record.Colors));
    std::memcpy(theConfig->Sliders, record.Sliders, sizeof(record.Sliders));
    theConfig->FrameStartColor = record.FrameStartColor;
    theConfig->FrameEndColor = record.FrameEndColor;
    theConfig->MediaType = record.MediaType;
    theConfig->KeepProps = record.KeepProps;
    theConfig->TwoColors = record.TwoColors;
    return true;
}

Boolean SaveConfig(const pluginDataRec* theConfig)
{
    if (theConfig == nullptr)
        return false;
    PrefsFile location;
    if (!LocateInPrefsFolder(PrefsFileName(), location) || location.specErr != noErr)
        return false;
    ResFileSession file(location.spec);
    if (!file.IsOpen())
        return false;

    // The new record is ready before the old one goes, so that no failure
    // leaves the file without a saved configuration.
    Handle block = NewHandleClear(kConfigSaveSize);
    if (block == nullptr)
        return false;
    if (!Config2Save(theConfig, reinterpret_cast<configSaveH>(block))) {
        DisposeHandle(block);
        return false;
    }

    Handle old = Get1Resource(cPrefsType, cConfigResID);
    Str255 oldName{};
    if (old != nullptr) {
        SInt16 oldID = 0;
        ResType oldType = 0;
        GetResInfo(old, &oldID, &oldType, oldName);
        RemoveResource(old);
        if (ResError() != noErr) {
            DisposeHandle(block);
            return false;
        }
    }
    AddResource(block, cPrefsType, cConfigResID, PName("Config Settings"));
    if (ResError() != noErr) {
        DisposeHandle(block);
        if (old != nullptr)
            AddResource(old, cPrefsType, cConfigResID, oldName);
        return false;
    }
    if (old != nullptr)
        DisposeHandle(old);

    UpdateResFile(file.RefNum());
    if (ResError() != noErr)
        return false;
    ReleaseResource(block);
    return file.Close() == noErr;
}

Boolean ReadConfig(pluginDataRec* theConfig)
{
    if (theConfig == nullptr)
        return false;
    PrefsFile location;
    if (!LocateInPrefsFolder(PrefsFileName(), location) || location.specErr != noErr)
        return false;
    Handle data = TakeResource(location.spec, cConfigResID);
    if (data == nullptr)
        return false;
    Boolean read = Save2Config(theConfig, reinterpret_cast<configSaveH>(data));
    DisposeHandle(data);
    return read;
}
