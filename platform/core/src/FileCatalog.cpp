#include "CFURL.h"
#include "CoreFoundation.h"
#include "FileSystemInternal.h"
#include "Files.h"
#include "MacErrors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr SInt16 kVolumeRefNum = -1;
constexpr const char* kVolumeName = "Linux";

bool RealPath(const std::string& path, std::string& resolved)
{
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer) == nullptr)
        return false;
    resolved = buffer;
    return true;
}

// The host folder behind a directory ID; 0 is the current folder.
OSErr FolderPathForID(SInt32 dirID, std::string& path)
{
    if (dirID == 0)
        return RealPath(".", path) ? OSErr(noErr) : TBOSErrFromErrno(errno);
    if (dirID == fsRtDirID) {
        path.assign(1, '/');
        return noErr;
    }
    FSSpec folder{};
    const unsigned char noName[1] = {0};
    if (dirID < 0 || FSMakeFSSpec(kVolumeRefNum, dirID, noName, &folder) != noErr ||
        !TBPathFromFSSpec(folder, path))
        return dirNFErr;
    return noErr;
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

void StoreMacName(const char* name, size_t length, StringPtr out)
{
    const size_t taken = std::min<size_t>(length, 255);
    out[0] = UInt8(taken);
    std::memcpy(out + 1, name, taken);
}

// The file specification of an existing item given by its resolved path.
OSErr SpecOfPath(const std::string& path, FSSpec* spec)
{
    if (path == "/") {
        spec->vRefNum = kVolumeRefNum;
        spec->parID = fsRtParID;
        StoreMacName(kVolumeName, std::strlen(kVolumeName), spec->name);
        return noErr;
    }
    return TBFSSpecFromPath(path, spec);
}

UInt16 EntryCount(const std::string& folder)
{
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr)
        return 0;
    unsigned count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
            count < 0xFFFF)
            ++count;
    }
    closedir(directory);
    return UInt16(count);
}

OSErr Finish(CInfoPBPtr pb, OSErr err)
{
    pb->hFileInfo.ioResult = err;
    return err;
}

// Fills the block for the item at a resolved path; the name only when asked.
OSErr Describe(CInfoPBPtr pb, const std::string& path, bool writeName)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return Finish(pb, TBOSErrFromErrno(errno));
    FSSpec spec{};
    const OSErr err = SpecOfPath(path, &spec);
    if (err != noErr)
        return Finish(pb, err);
    StringPtr name = pb->hFileInfo.ioNamePtr;
    const SInt16 index = pb->hFileInfo.ioFDirIndex;
    if (writeName && name != nullptr)
        std::memcpy(name, spec.name, size_t(spec.name[0]) + 1);
    if (S_ISDIR(info.st_mode)) {
        DirInfo folder{};
        folder.ioNamePtr = name;
        folder.ioVRefNum = kVolumeRefNum;
        folder.ioFDirIndex = index;
        folder.ioFlAttrib = kioFlAttribDirMask;
        folder.ioDrDirID = TBDirIDForFolder(path);
        folder.ioDrParID = spec.parID;
        folder.ioDrNmFls = EntryCount(path);
        pb->dirInfo = folder;
    } else {
        HFileInfo file{};
        file.ioNamePtr = name;
        file.ioVRefNum = kVolumeRefNum;
        file.ioFDirIndex = index;
        file.ioDirID = 0;
        file.ioFlParID = spec.parID;
        TBReadFileTypes(path, file.ioFlFndrInfo.fdType, file.ioFlFndrInfo.fdCreator);
        file.ioFlLgLen = info.st_size > INT32_MAX ? INT32_MAX : SInt32(info.st_size);
        pb->hFileInfo = file;
    }
    return Finish(pb, noErr);
}

// The n-th (from 1) entry of a folder, in byte order of the names, counting
// only entries that a Mac name can stand for.
bool NthEntry(const std::string& folder, SInt16 index, std::string& path)
{
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr)
        return false;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    SInt16 seen = 0;
    for (const std::string& name : names) {
        const std::string candidate = folder == "/" ? "/" + name : folder + "/" + name;
        FSSpec spec{};
        if (TBFSSpecFromPath(candidate, &spec) != noErr)
            continue;
        if (++seen == index) {
            path = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

const char* TBVolumeName()
{
    return kVolumeName;
}

OSErr PBGetCatInfoSync(CInfoPBPtr pb)
{
    if (pb == nullptr)
        return paramErr;
    const SInt16 index = pb->hFileInfo.ioFDirIndex;
    const StringPtr name = pb->hFileInfo.ioNamePtr;
    std::string folder;
    if (index < 0 || (index == 0 && (name == nullptr || name[0] == 0))) {
        const OSErr err = FolderPathForID(pb->dirInfo.ioDrDirID, folder);
        return err != noErr ? Finish(pb, err) : Describe(pb, folder, index < 0);
    }
    OSErr err = FolderPathForID(pb->hFileInfo.ioDirID, folder);
    if (err != noErr)
        return Finish(pb, err);
    std::string path;
    if (index > 0) {
        if (!NthEntry(folder, index, path))
            return Finish(pb, fnfErr);
        return Describe(pb, path, true);
    }
    FSSpec spec{};
    err = FSMakeFSSpec(kVolumeRefNum, pb->hFileInfo.ioDirID == 0 ? TBDirIDForFolder(folder)
                                                                  : pb->hFileInfo.ioDirID,
                       name, &spec);
    if (err != noErr)
        return Finish(pb, err);
    std::string resolved;
    if (!TBPathFromFSSpec(spec, path) || !RealPath(path, resolved))
        return Finish(pb, fnfErr);
    return Describe(pb, resolved, false);
}

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo,
                       FSCatalogInfo* catalogInfo, HFSUniStr255* outName, FSSpec* fsSpec,
                       FSRef* parentRef)
{
    std::string refPath;
    if (ref == nullptr || !TBFSRefGetPath(ref, refPath))
        return paramErr;
    std::string path;
    struct stat info;
    if (!RealPath(refPath, path) || stat(path.c_str(), &info) != 0)
        return TBOSErrFromErrno(errno);
    FSSpec spec{};
    const OSErr err = SpecOfPath(path, &spec);
    if (err != noErr)
        return err;
    const bool isFolder = S_ISDIR(info.st_mode);
    if (catalogInfo != nullptr) {
        *catalogInfo = FSCatalogInfo{};
        if (whichInfo & kFSCatInfoNodeFlags)
            catalogInfo->nodeFlags = isFolder ? kFSNodeIsDirectoryMask : 0;
        if (whichInfo & kFSCatInfoVolume)
            catalogInfo->volume = kVolumeRefNum;
        if (whichInfo & kFSCatInfoParentDirID)
            catalogInfo->parentDirID = UInt32(spec.parID);
        if ((whichInfo & kFSCatInfoNodeID) && isFolder)
            catalogInfo->nodeID = UInt32(path == "/" ? fsRtDirID : TBDirIDForFolder(path));
    }
    if (outName != nullptr) {
        *outName = HFSUniStr255{};
        const std::string hostName = path == "/" ? std::string(kVolumeName)
                                                 : path.substr(path.find_last_of('/') + 1);
        CFStringRef text = TBCFStringCreateWithUTF8(hostName);
        if (text != nullptr) {
            const CFIndex length = std::min<CFIndex>(CFStringGetLength(text), 255);
            CFStringGetCharacters(text, CFRangeMake(0, length), outName->unicode);
            outName->length = UInt16(length);
            CFRelease(text);
        }
    }
    if (fsSpec != nullptr)
        *fsSpec = spec;
    if (parentRef != nullptr) {
        *parentRef = FSRef{};
        if (path != "/")
            FSPathMakeRef(reinterpret_cast<const UInt8*>(ParentOf(path).c_str()), parentRef,
                          nullptr);
    }
    return noErr;
}

OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef)
{
    if (source == nullptr || newRef == nullptr)
        return paramErr;
    std::string path;
    if (source->parID == fsRtParID)
        path.assign(1, '/');
    else if (!TBPathFromFSSpec(*source, path))
        return dirNFErr;
    const OSStatus status = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), newRef, nullptr);
    return status == noErr ? OSErr(noErr) : OSErr(fnfErr);
}
