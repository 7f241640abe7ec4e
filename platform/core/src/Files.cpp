#include "Files.h"

#include "FileSystemInternal.h"
#include "MacErrors.h"
#include "MacRomanText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr SInt32 kRootDirID = 2;
constexpr SInt32 kFirstFolderID = 100;
constexpr SInt16 kVolumeRefNum = -1;
constexpr const char* kTypeAttribute = "user.mac.type";
constexpr const char* kCreatorAttribute = "user.mac.creator";

struct FolderTable {
    std::map<std::string, SInt32> ids;
    std::map<SInt32, std::string> paths;
    SInt32 nextID = kFirstFolderID;
};

FolderTable& Folders()
{
    static FolderTable table;
    return table;
}

struct OpenDataFork {
    int fd;
    dev_t device;
    ino_t inode;
};

std::map<SInt16, OpenDataFork>& DataForks()
{
    static std::map<SInt16, OpenDataFork> forks;
    return forks;
}

std::set<SInt16>& UsedRefNums()
{
    static std::set<SInt16> used;
    return used;
}

bool FolderPathForID(SInt32 dirID, std::string& path)
{
    if (dirID == 0) {
        char buffer[PATH_MAX];
        if (!getcwd(buffer, sizeof buffer))
            return false;
        path = buffer;
        return true;
    }
    if (dirID == kRootDirID) {
        path.assign(1, '/');
        return true;
    }
    const auto found = Folders().paths.find(dirID);
    if (found == Folders().paths.end())
        return false;
    path = found->second;
    return true;
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// Host file name for a Mac name; false for names that no Mac file can carry.
bool HostNameFromMacName(const std::string& macName, std::string& hostName)
{
    if (macName.empty() || macName.size() > 63 || macName == "." || macName == "..")
        return false;
    if (macName.find(':') != std::string::npos || macName.find('\0') != std::string::npos)
        return false;
    hostName = TBUTF8FromMacRoman(macName);
    for (char& c : hostName) {
        if (c == '/')
            c = ':';
    }
    return hostName.size() <= NAME_MAX;
}

bool MacNameFromHostName(const std::string& hostName, std::string& macName)
{
    if (!TBMacRomanFromUTF8(hostName, macName))
        return false;
    for (char& c : macName) {
        if (c == ':')
            c = '/';
    }
    return !macName.empty() && macName.size() <= 63;
}

void StoreName(const std::string& macName, FSSpec* spec)
{
    spec->name[0] = UInt8(macName.size());
    std::memcpy(spec->name + 1, macName.data(), macName.size());
}

bool PathForSpec(const FSSpec* spec, std::string& path)
{
    return spec && TBPathFromFSSpec(*spec, path);
}

OSErr WriteAll(int fd, const UInt8* bytes, size_t count)
{
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return TBOSErrFromErrno(errno);
        }
        bytes += written;
        count -= size_t(written);
    }
    return noErr;
}

void StoreTypes(int fd, OSType fileType, OSType creator)
{
    // Finder information is a nicety: file systems without user attributes lose it.
    const UInt8 typeBytes[4] = {UInt8(fileType >> 24), UInt8(fileType >> 16), UInt8(fileType >> 8),
                                UInt8(fileType)};
    const UInt8 creatorBytes[4] = {UInt8(creator >> 24), UInt8(creator >> 16), UInt8(creator >> 8),
                                   UInt8(creator)};
    (void)fsetxattr(fd, kTypeAttribute, typeBytes, 4, 0);
    (void)fsetxattr(fd, kCreatorAttribute, creatorBytes, 4, 0);
}

bool ReadCode(const std::string& path, const char* attribute, OSType& code)
{
    UInt8 bytes[4];
    if (getxattr(path.c_str(), attribute, bytes, sizeof bytes) != 4)
        return false;
    code = (OSType(bytes[0]) << 24) | (OSType(bytes[1]) << 16) | (OSType(bytes[2]) << 8) | bytes[3];
    return true;
}

OSErr PlaceNewFile(const std::string& temporary, const std::string& path, bool mustBeNew)
{
    if (!mustBeNew)
        return rename(temporary.c_str(), path.c_str()) == 0 ? OSErr(noErr) : TBOSErrFromErrno(errno);
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return noErr;
    if (errno != EINVAL && errno != ENOSYS)
        return TBOSErrFromErrno(errno);
    // File systems without the no-replace rename still refuse to link over a name.
    if (link(temporary.c_str(), path.c_str()) != 0)
        return TBOSErrFromErrno(errno);
    unlink(temporary.c_str());
    return noErr;
}

void SyncFolder(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)fsync(fd);
    close(fd);
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Temporary files of a save are hidden and named after the file they become,
// so that the stale ones of one file can be found; the name is cut to leave
// room for the random part.
std::string TemporaryPrefix(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name.resize(std::min<size_t>(name.size(), NAME_MAX - 32));
    return "." + name + ".saving-";
}

} // namespace

SInt32 TBDirIDForFolder(const std::string& folderPath)
{
    if (folderPath == "/")
        return kRootDirID;
    FolderTable& table = Folders();
    const auto found = table.ids.find(folderPath);
    if (found != table.ids.end())
        return found->second;
    if (table.nextID == INT32_MAX)
        return 0;
    const SInt32 id = table.nextID++;
    table.ids.emplace(folderPath, id);
    table.paths.emplace(id, folderPath);
    return id;
}

OSErr TBOSErrFromErrno(int error)
{
    switch (error) {
    case 0:
        return noErr;
    case ENOENT:
        return fnfErr;
    case ENOTDIR:
        return dirNFErr;
    case EACCES:
    case EPERM:
        return permErr;
    case EROFS:
        return wrPermErr;
    case EEXIST:
        return dupFNErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return dskFulErr;
    case ENAMETOOLONG:
        return bdNamErr;
    case EMFILE:
    case ENFILE:
        return tmfoErr;
    case EBUSY:
    case ETXTBSY:
        return fBsyErr;
    default:
        return ioErr;
    }
}

SInt16 TBAllocateFileRefNum()
{
    // Low numbers are the system's on the Mac; starting above them keeps
    // 0 free as "no file".
    static SInt16 next = 3;
    std::set<SInt16>& used = UsedRefNums();
    for (int tries = 0; tries < 32765; ++tries) {
        const SInt16 candidate = next;
        next = next == 32767 ? 3 : SInt16(next + 1);
        if (used.insert(candidate).second)
            return candidate;
    }
    return 0;
}

void TBReleaseFileRefNum(SInt16 refNum)
{
    UsedRefNums().erase(refNum);
}

bool TBReadFileTypes(const std::string& path, OSType& fileType, OSType& creator)
{
    fileType = 0;
    creator = 0;
    const bool hasType = ReadCode(path, kTypeAttribute, fileType);
    const bool hasCreator = ReadCode(path, kCreatorAttribute, creator);
    return hasType || hasCreator;
}

mode_t TBNewFileMode()
{
    static const mode_t mode = [] {
        const mode_t mask = umask(022);
        umask(mask);
        return mode_t(0666 & ~mask);
    }();
    return mode;
}

OSErr TBWriteFileAtomically(const std::string& path, const std::vector<UInt8>& bytes,
                            const TBAtomicWrite& how)
{
    const std::string folder = ParentOf(path);
    std::string temporary = JoinPath(folder, TemporaryPrefix(path) + "XXXXXX");
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return TBOSErrFromErrno(errno);
    OSErr err = WriteAll(fd, bytes.data(), bytes.size());
    if (err == noErr) {
        // A file that stays with its owner or is not saved at all: replacing
        // someone else's file with one of ours would hand it to us.
        if (how.keepOwner && (how.owner != geteuid() || how.group != getegid()) &&
            fchown(fd, how.owner, how.group) != 0)
            err = TBOSErrFromErrno(errno);
    }
    if (err == noErr) {
        (void)fchmod(fd, how.mode);
        if (how.hasTypes)
            StoreTypes(fd, how.fileType, how.creator);
        if (fsync(fd) != 0)
            err = TBOSErrFromErrno(errno);
    }
    if (close(fd) != 0 && err == noErr)
        err = TBOSErrFromErrno(errno);
    if (err == noErr)
        err = PlaceNewFile(temporary, path, how.mustBeNew);
    if (err != noErr) {
        unlink(temporary.c_str());
        return err;
    }
    SyncFolder(folder);
    return noErr;
}

int TBRemoveStaleSaves(const std::string& path)
{
    const std::string folder = ParentOf(path);
    const std::string prefix = TemporaryPrefix(path);
    DIR* listing = opendir(folder.c_str());
    if (!listing)
        return 0;
    int removed = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        // Exactly the random part of mkostemp after the prefix.
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat info;
        const std::string stale = JoinPath(folder, name);
        if (lstat(stale.c_str(), &info) == 0 && S_ISREG(info.st_mode) && unlink(stale.c_str()) == 0)
            ++removed;
    }
    closedir(listing);
    return removed;
}

bool TBPathFromFSSpec(const FSSpec& spec, std::string& path)
{
    std::string folder;
    if (spec.name[0] > 63 || !FolderPathForID(spec.parID, folder))
        return false;
    std::string hostName;
    if (!HostNameFromMacName(std::string(reinterpret_cast<const char*>(spec.name + 1), spec.name[0]),
                             hostName))
        return false;
    path = JoinPath(folder, hostName);
    return true;
}

OSErr TBFSSpecFromPath(const std::string& path, FSSpec* spec)
{
    if (path.empty() || !spec)
        return paramErr;
    std::string absolute = path;
    if (absolute[0] != '/') {
        char buffer[PATH_MAX];
        if (!getcwd(buffer, sizeof buffer))
            return TBOSErrFromErrno(errno);
        absolute = JoinPath(buffer, absolute);
    }
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    const size_t slash = absolute.find_last_of('/');
    const std::string hostName = absolute.substr(slash + 1);
    if (hostName.empty() || hostName == "." || hostName == "..")
        return bdNamErr;
    char resolved[PATH_MAX];
    if (!realpath(ParentOf(absolute).c_str(), resolved))
        return errno == ENOENT || errno == ENOTDIR ? OSErr(dirNFErr) : TBOSErrFromErrno(errno);
    std::string macName;
    if (!MacNameFromHostName(hostName, macName))
        return bdNamErr;
    const SInt32 dirID = TBDirIDForFolder(resolved);
    if (dirID == 0)
        return dirNFErr;
    Str255 name;
    name[0] = UInt8(macName.size());
    std::memcpy(name + 1, macName.data(), macName.size());
    return FSMakeFSSpec(kVolumeRefNum, dirID, name, spec);
}

OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec)
{
    (void)vRefNum;
    if (!fileName || !spec)
        return paramErr;
    std::string macName(reinterpret_cast<const char*>(fileName + 1), fileName[0]);
    // A single leading colon marks a name relative to the folder, which it is anyway.
    if (!macName.empty() && macName[0] == ':')
        macName.erase(0, 1);
    std::string folder;
    if (!FolderPathForID(dirID, folder))
        return dirNFErr;
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return dirNFErr;
    if (macName.empty()) {
        // The folder itself.
        if (folder == "/")
            return bdNamErr;
        std::string folderName;
        if (!MacNameFromHostName(folder.substr(folder.find_last_of('/') + 1), folderName))
            return bdNamErr;
        spec->vRefNum = kVolumeRefNum;
        spec->parID = TBDirIDForFolder(ParentOf(folder));
        StoreName(folderName, spec);
        return noErr;
    }
    std::string hostName;
    if (!HostNameFromMacName(macName, hostName))
        return bdNamErr;
    spec->vRefNum = kVolumeRefNum;
    spec->parID = dirID == 0 ? TBDirIDForFolder(folder) : dirID;
    StoreName(macName, spec);
    if (stat(JoinPath(folder, hostName).c_str(), &info) == 0)
        return noErr;
    return TBOSErrFromErrno(errno);
}

OSErr FSpDelete(const FSSpec* spec)
{
    std::string path;
    if (!PathForSpec(spec, path))
        return spec ? OSErr(dirNFErr) : OSErr(paramErr);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return TBOSErrFromErrno(errno);
    if (S_ISDIR(info.st_mode)) {
        if (rmdir(path.c_str()) == 0)
            return noErr;
        return errno == ENOTEMPTY || errno == EEXIST ? OSErr(fBsyErr) : TBOSErrFromErrno(errno);
    }
    if (TBResourceFileIsOpen(info.st_dev, info.st_ino))
        return fBsyErr;
    for (const auto& [refNum, fork] : DataForks()) {
        if (fork.device == info.st_dev && fork.inode == info.st_ino)
            return fBsyErr;
    }
    return unlink(path.c_str()) == 0 ? OSErr(noErr) : TBOSErrFromErrno(errno);
}

OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag)
{
    (void)scriptTag;
    std::string path;
    if (!PathForSpec(spec, path))
        return spec ? OSErr(dirNFErr) : OSErr(paramErr);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return TBOSErrFromErrno(errno);
    StoreTypes(fd, fileType, creator);
    close(fd);
    return noErr;
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo)
{
    std::string path;
    if (!fndrInfo || !PathForSpec(spec, path))
        return paramErr;
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return TBOSErrFromErrno(errno);
    *fndrInfo = FInfo{};
    TBReadFileTypes(path, fndrInfo->fdType, fndrInfo->fdCreator);
    return noErr;
}

OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum)
{
    std::string path;
    if (!refNum || permission < fsCurPerm || permission > fsRdWrShPerm || !PathForSpec(spec, path))
        return paramErr;
    *refNum = 0;
    int fd = open(path.c_str(), (permission == fsRdPerm ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && permission == fsCurPerm && (errno == EACCES || errno == EROFS))
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return TBOSErrFromErrno(errno);
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return fnfErr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const SInt16 number = TBAllocateFileRefNum();
    if (number == 0) {
        close(fd);
        return tmfoErr;
    }
    DataForks()[number] = OpenDataFork{fd, info.st_dev, info.st_ino};
    *refNum = number;
    return noErr;
}

namespace {

int DataForkFD(SInt16 refNum)
{
    const auto found = DataForks().find(refNum);
    return found == DataForks().end() ? -1 : found->second.fd;
}

} // namespace

OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr)
{
    const int fd = DataForkFD(refNum);
    if (fd < 0)
        return rfNumErr;
    if (!count || *count < 0 || (*count > 0 && !buffPtr))
        return paramErr;
    const OSErr err = WriteAll(fd, static_cast<const UInt8*>(buffPtr), size_t(*count));
    // A fork opened for reading only refuses writes with EBADF.
    return err != noErr && errno == EBADF ? OSErr(wrPermErr) : err;
}

OSErr FSClose(SInt16 refNum)
{
    const auto found = DataForks().find(refNum);
    if (found == DataForks().end())
        return rfNumErr;
    const int result = close(found->second.fd);
    DataForks().erase(found);
    TBReleaseFileRefNum(refNum);
    return result == 0 ? OSErr(noErr) : TBOSErrFromErrno(errno);
}

OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOff)
{
    const int fd = DataForkFD(refNum);
    if (fd < 0)
        return rfNumErr;
    struct stat info;
    const off_t current = lseek(fd, 0, SEEK_CUR);
    if (current < 0 || fstat(fd, &info) != 0)
        return ioErr;
    off_t target = 0;
    switch (posMode) {
    case fsAtMark:
        return noErr;
    case fsFromStart:
        target = posOff;
        break;
    case fsFromLEOF:
        target = info.st_size + posOff;
        break;
    case fsFromMark:
        target = current + posOff;
        break;
    default:
        return paramErr;
    }
    if (target < 0)
        return posErr;
    const bool beyond = target > info.st_size;
    if (lseek(fd, beyond ? info.st_size : target, SEEK_SET) < 0)
        return ioErr;
    return beyond ? OSErr(eofErr) : OSErr(noErr);
}
