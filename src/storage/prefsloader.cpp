// Preferences file and saved configuration.

#include "storage/prefsloader.h"

#include "common/CommonProcs.h"
#include "plugin/DataHandling.h"

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
#include <mutex>
#include <string>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lives for the plug-in's life once InitPreferences has made or read it.
prefsH lgPrefs = nullptr;

// The folder held by PrefsFileLock, and how many locks of this process hold it.
int lgLockFolder = -1;
int lgLockDepth = 0;

// Where start-up keeps a preferences file it cannot read before rebuilding it.
constexpr char kBadSuffix[] = ".bad";
// The temporary file of saves made by earlier versions.
constexpr char kOldTempSuffix[] = ".saving";

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

std::string PrefsFileName()
{
    return std::string(cProductCode) + cPrefName;
}

// The resource file open and current for one scope; closing it restores the
// resource file that was current before.
class ResFileSession {
public:
    explicit ResFileSession(const std::string& thePath, SInt8 thePermission = fsCurPerm)
        : fSaved(CurResFile())
    {
        Adopt(TBOpenResFileAtPath(thePath.c_str(), thePermission));
    }
    // A new file, written whole by its first UpdateResFile.
    struct New {};
    ResFileSession(New, const std::string& thePath) : fSaved(CurResFile())
    {
        Adopt(TBOpenNewResFileAtPath(thePath.c_str(), cPrefsCreator, cPrefsType));
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
    void Adopt(SInt16 refNum)
    {
        if (ResError() != noErr || refNum == -1)
            return;
        fRefNum = refNum;
        UseResFile(fRefNum);
        if (ResError() != noErr)
            Close();
    }

    SInt16 fSaved;
    SInt16 fRefNum = -1;
};

// Whether the file opens as a resource file holding a preferences record.
bool ReadsAsPreferences(const std::string& thePath)
{
    ResFileSession file(thePath, fsRdPerm);
    return file.IsOpen() && Get1Resource(cPrefsType, cPrefsResID) != nullptr;
}

const char* KindOf(mode_t theMode)
{
    if (S_ISFIFO(theMode))
        return "a FIFO";
    if (S_ISCHR(theMode) || S_ISBLK(theMode))
        return "a device";
    if (S_ISDIR(theMode))
        return "a folder";
    if (S_ISSOCK(theMode))
        return "a socket";
    return "not a regular file";
}

// What is at info.path, looked at without following a link first.
void Examine(PrefsFileInfo& info)
{
    struct stat here;
    if (::lstat(info.path.c_str(), &here) != 0) {
        if (errno == ENOENT) {
            info.place = PrefsPlace::absent;
        } else {
            info.place = PrefsPlace::leftAlone;
            info.why = info.path + " cannot be examined: " + std::strerror(errno);
        }
        return;
    }
    if (S_ISREG(here.st_mode)) {
        info.place = PrefsPlace::file;
        return;
    }
    info.place = PrefsPlace::leftAlone;
    if (!S_ISLNK(here.st_mode)) {
        info.why = info.path + " is " + KindOf(here.st_mode);
        return;
    }
    char link[PATH_MAX];
    const ssize_t length = ::readlink(info.path.c_str(), link, sizeof link - 1);
    const std::string shown = length > 0 ? std::string(link, std::size_t(length)) : "?";
    info.why = info.path + " is a link to " + shown;
    struct stat there;
    char resolved[PATH_MAX];
    if (::stat(info.path.c_str(), &there) != 0) {
        info.why += ", which " + std::string(errno == ENOENT ? "does not exist" : std::strerror(errno));
    } else if (!S_ISREG(there.st_mode)) {
        info.why += std::string(", ") + KindOf(there.st_mode);
    } else if (::realpath(info.path.c_str(), resolved) == nullptr) {
        info.why += std::string(", which cannot be resolved: ") + std::strerror(errno);
    } else if (!ReadsAsPreferences(resolved)) {
        info.why += ", which is not a preferences file";
    } else {
        info.place = PrefsPlace::linkToFile;
        info.target = resolved;
        info.why.clear();
    }
}

// Readers leave a missing preferences folder alone; a save makes it.
enum class Purpose { read, save };

// The preferences file's path: the folder lookup for the preferences folder
// of the system disk, then "kavlo-Prefs" in that folder. Empty, with theWhy
// filled, when there is no folder.
std::string PrefsFilePath(std::string& theWhy, Purpose thePurpose)
{
    SInt16 vRefNum = 0;
    SInt32 dirID = 0;
    FSSpec spec{};
    const Boolean create = thePurpose == Purpose::save ? kCreateFolder : kDontCreateFolder;
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, create, &vRefNum, &dirID) != noErr) {
        theWhy = "there is no preferences folder ($XDG_CONFIG_HOME, else ~/.config)";
        if (thePurpose == Purpose::save)
            theWhy += " and it cannot be made";
        return {};
    }
    const OSErr err = FSMakeFSSpec(vRefNum, dirID, PName(PrefsFileName()), &spec);
    std::string path;
    if (err == dirNFErr || err == bdNamErr || err == paramErr || !TBPathFromFSSpec(spec, path)) {
        theWhy = "the preferences folder cannot be reached";
        return {};
    }
    return path;
}

PrefsFileInfo LocatePrefs(Purpose thePurpose = Purpose::read)
{
    PrefsFileInfo info;
    info.path = PrefsFilePath(info.why, thePurpose);
    if (info.path.empty())
        return info;
    info.target = info.path;
    Examine(info);
    return info;
}

bool MayRead(const PrefsFileInfo& theInfo)
{
    return theInfo.place == PrefsPlace::file || theInfo.place == PrefsPlace::linkToFile;
}

std::string FolderOf(const std::string& thePath)
{
    const std::string::size_type slash = thePath.rfind('/');
    return slash == 0 ? "/" : thePath.substr(0, slash);
}

// Resource theID of the file, detached so that the caller owns it; nil when
// the file cannot be opened or lacks the resource.
Handle TakeResource(const std::string& thePath, SInt16 theID)
{
    ResFileSession file(thePath);
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

PrefsRead ReadPrefsRecord(const PrefsFileInfo& theInfo, prefsH& thePrefs)
{
    thePrefs = nullptr;
    if (theInfo.place == PrefsPlace::absent) {
        thePrefs = NewPrefs();
        if (thePrefs == nullptr)
            return PrefsRead::failed;
        DefaultPrefs(thePrefs);
        return PrefsRead::freshDefaults;
    }
    if (!MayRead(theInfo))
        return PrefsRead::failed;

    Handle data = TakeResource(theInfo.path, cPrefsResID);
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

// Writes a whole new file at thePath holding a copy of thePrefs and
// theCarried (may be nil), which it takes over. The Resource Manager saves
// it once: one temporary file, one rename.
bool WritePrefsFile(const std::string& thePath, prefsH thePrefs, Handle theCarried)
{
    Handle copy = reinterpret_cast<Handle>(thePrefs);
    const bool copied = HandToHand(&copy) == noErr && copy != nullptr;
    ResFileSession file(ResFileSession::New{}, thePath);
    bool added = false;
    if (copied && file.IsOpen()) {
        AddResource(copy, cPrefsType, cPrefsResID, PName("Prefs Settings"));
        added = ResError() == noErr;
    }
    if (!added) {
        if (copied)
            DisposeHandle(copy);
        if (theCarried != nullptr)
            DisposeHandle(theCarried);
        return false;
    }
    if (theCarried != nullptr) {
        AddResource(theCarried, cPrefsType, cConfigResID, PName("Config Settings *"));
        if (ResError() != noErr) {
            DisposeHandle(theCarried);
            return false;  // closing discards the unwritten file
        }
    }
    UpdateResFile(file.RefNum());
    return ResError() == noErr && file.Close() == noErr;
}

// The file for a save, or false when there is none that may be replaced.
bool WritableTarget(const PrefsFileInfo& theInfo, std::string& outPath)
{
    switch (theInfo.place) {
    case PrefsPlace::absent:
    case PrefsPlace::file:
    case PrefsPlace::linkToFile:
        outPath = theInfo.target;
        return true;
    case PrefsPlace::noFolder:
    case PrefsPlace::leftAlone:
        break;
    }
    return false;
}

bool SavePrefsAt(const PrefsFileInfo& theInfo, prefsH thePrefs)
{
    std::string target;
    if (thePrefs == nullptr || *thePrefs == nullptr || !WritableTarget(theInfo, target))
        return false;
    Handle carried = MayRead(theInfo) ? TakeResource(target, cConfigResID) : nullptr;
    return WritePrefsFile(target, thePrefs, carried);
}

// Clears what interrupted saves left beside the file. Only under the lock:
// a save running now would lose its temporary file.
void RemoveStaleSaves(const PrefsFileInfo& theInfo)
{
    std::string target;
    if (!WritableTarget(theInfo, target))
        return;
    TBRemoveStaleSaves(target);
    const std::string old = theInfo.path + kOldTempSuffix;
    struct stat info;
    if (::lstat(old.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        ::unlink(old.c_str());
}

// Keeps a preferences file that cannot be read as "kavlo-Prefs.bad", so that
// the user can recover it; false when it cannot be kept.
bool KeepAsBad(const PrefsFileInfo& theInfo)
{
    const std::string bad = theInfo.path + kBadSuffix;
    return std::rename(theInfo.path.c_str(), bad.c_str()) == 0;
}

void ReleaseHeldPrefs()
{
    if (lgPrefs != nullptr)
        DisposeHandle(reinterpret_cast<Handle>(lgPrefs));
    lgPrefs = nullptr;
}

bool AllFinite(const relRect& theRel)
{
    return std::isfinite(theRel.left) && std::isfinite(theRel.right) &&
           std::isfinite(theRel.top) && std::isfinite(theRel.bottom);
}

// What a File or Resource Manager error means to the user.
std::string CauseOf(OSErr theErr)
{
    switch (theErr) {
    case permErr:
    case wrPermErr:
    case wPrErr:
    case fLckdErr:
    case vLckdErr:
    case addResFailed:  // the file could be opened for reading only
    case rmvResFailed:
        return "permission denied (the file or its folder is read-only)";
    case dskFulErr:
    case dirFulErr:
        return "the disk is full";
    case fnfErr:
    case dirNFErr:
        return "the file or its folder has gone";
    case memFullErr:
        return "not enough memory";
    default:
        return "error " + std::to_string(theErr);
    }
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
    return ReadPrefsRecord(LocatePrefs(), thePrefs) != PrefsRead::failed;
}

Boolean SavePreferences(prefsH thePrefs)
{
    PrefsFileLock lock;
    return SavePrefsAt(LocatePrefs(Purpose::save), thePrefs);
}

void InitPreferences()
{
    PrefsFileLock lock;
    const PrefsFileInfo info = LocatePrefs(Purpose::save);
    RemoveStaleSaves(info);
    prefsH record = nullptr;
    switch (ReadPrefsRecord(info, record)) {
    case PrefsRead::failed:
        record = NewPrefs();
        DefaultPrefs(record);
        // Only a regular file of ours is rebuilt, and only once it is kept.
        if (info.place == PrefsPlace::file && record != nullptr) {
            Handle carried = TakeResource(info.path, cConfigResID);
            if (KeepAsBad(info))
                WritePrefsFile(info.path, record, carried);
            else if (carried != nullptr)
                DisposeHandle(carried);
        }
        break;
    case PrefsRead::freshDefaults:
        SavePrefsAt(info, record);
        break;
    case PrefsRead::fromFile:
        break;
    }
    ReleaseHeldPrefs();
    lgPrefs = record;
}

prefsH PrefsLoaderHeldPrefs()
{
    return lgPrefs;
}

void ForgetHeldPrefsForTests()
{
    ReleaseHeldPrefs();
}

PrefsFileInfo InspectPrefsFile()
{
    return LocatePrefs();
}

PrefsFileLock::PrefsFileLock()
{
    if (lgLockDepth++ > 0)
        return;
    std::string why;
    const std::string path = PrefsFilePath(why, Purpose::save);
    if (path.empty())
        return;
    lgLockFolder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lgLockFolder < 0)
        return;
    int locked;
    do
        locked = ::flock(lgLockFolder, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    // A file system without locks still gets its saves, as before.
}

PrefsFileLock::~PrefsFileLock()
{
    if (--lgLockDepth > 0 || lgLockFolder < 0)
        return;
    ::close(lgLockFolder);
    lgLockFolder = -1;
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
    // The one place a stored threshold enters a configuration: the slider's
    // range, so that the plug-in, the dialog and the frei0r filter render a
    // hand-edited or foreign value alike.
    theConfig->Sliders[kThresholdSlider] = std::clamp<SInt16>(record.Sliders[kThresholdSlider], 0, 100);
    theConfig->FrameStartColor = record.FrameStartColor;
    theConfig->FrameEndColor = record.FrameEndColor;
    theConfig->MediaType = record.MediaType;
    theConfig->KeepProps = record.KeepProps;
    theConfig->TwoColors = record.TwoColors;
    return true;
}

Boolean SaveConfig(const pluginDataRec* theConfig)
{
    std::string ignored;
    return SaveConfig(theConfig, ignored);
}

Boolean SaveConfig(const pluginDataRec* theConfig, std::string& outWhy)
{
    outWhy.clear();
    if (theConfig == nullptr)
        return false;
    PrefsFileLock lock;
    const PrefsFileInfo info = LocatePrefs(Purpose::save);
    const auto failed = [&](const std::string& theCause) {
        outWhy = "cannot save the settings in " + info.path + ": " + theCause;
        return false;
    };
    if (info.place == PrefsPlace::absent) {
        // Usually the plug-in's start could not make the file: say why.
        const std::string folder = FolderOf(info.path);
        if (::access(folder.c_str(), W_OK) != 0)
            return failed("its folder " + folder + " cannot be written: " + std::strerror(errno));
        return failed("the file has gone");
    }
    if (!MayRead(info)) {
        // What stands in the way names the place itself.
        outWhy = "cannot save the settings: " + info.why;
        return false;
    }
    ResFileSession file(info.path);
    if (!file.IsOpen())
        return failed(CauseOf(ResError()));

    // The new record is ready before the old one goes, so that no failure
    // leaves the file without a saved configuration.
    Handle block = NewHandleClear(kConfigSaveSize);
    if (block == nullptr)
        return failed(CauseOf(memFullErr));
    if (!Config2Save(theConfig, reinterpret_cast<configSaveH>(block))) {
        DisposeHandle(block);
        return failed(CauseOf(memFullErr));
    }

    Handle old = Get1Resource(cPrefsType, cConfigResID);
    Str255 oldName{};
    if (old != nullptr) {
        SInt16 oldID = 0;
        ResType oldType = 0;
        GetResInfo(old, &oldID, &oldType, oldName);
        RemoveResource(old);
        if (const OSErr err = ResError(); err != noErr) {
            DisposeHandle(block);
            return failed(CauseOf(err));
        }
    }
    AddResource(block, cPrefsType, cConfigResID, PName("Config Settings"));
    if (const OSErr err = ResError(); err != noErr) {
        DisposeHandle(block);
        if (old != nullptr)
            AddResource(old, cPrefsType, cConfigResID, oldName);
        return failed(CauseOf(err));
    }
    if (old != nullptr)
        DisposeHandle(old);

    UpdateResFile(file.RefNum());
    if (const OSErr err = ResError(); err != noErr)
        return failed(CauseOf(err));
    ReleaseResource(block);
    if (const OSErr err = file.Close(); err != noErr)
        return failed(CauseOf(err));
    return true;
}

Boolean ReadConfig(pluginDataRec* theConfig)
{
    return ReadSavedConfig(theConfig) == SavedConfig::read;
}

SavedConfig ReadSavedConfig(pluginDataRec* theConfig)
{
    if (theConfig == nullptr)
        return SavedConfig::unreachable;
    const PrefsFileInfo info = LocatePrefs();
    if (!MayRead(info))
        return SavedConfig::unreachable;
    Handle data = nullptr;
    {
        ResFileSession file(info.path);
        if (!file.IsOpen())
            return SavedConfig::unreachable;
        data = Get1Resource(cPrefsType, cConfigResID);
        if (data == nullptr)
            return ResError() == resNotFound ? SavedConfig::none : SavedConfig::unreachable;
        DetachResource(data);
        if (ResError() != noErr)
            return SavedConfig::unreachable;
    }
    const Boolean read = Save2Config(theConfig, reinterpret_cast<configSaveH>(data));
    DisposeHandle(data);
    return read ? SavedConfig::read : SavedConfig::refused;
}

void ReadSavedOverDefaults(pluginDataRec& theConfig)
{
    ResetConfig(&theConfig, true);
    static std::mutex readerLock;
    const std::lock_guard<std::mutex> lock(readerLock);
    ReadConfig(&theConfig);
}
