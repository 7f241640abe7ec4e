#include "Resources.h"

#include "FileSystemInternal.h"
#include "MacErrors.h"
#include "MacMemory.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

constexpr size_t kMaxFileSize = size_t(16) << 20;
constexpr size_t kHeaderSize = 16;
// Classic files leave 240 bytes for the system and the application after the header.
constexpr size_t kDataStart = 256;
constexpr size_t kMapHeaderSize = 28;
constexpr size_t kTypeEntrySize = 8;
constexpr size_t kReferenceSize = 12;
constexpr UInt16 kNoName = 0xFFFF;
constexpr UInt32 kMaxDataOffset = 0xFFFFFF;
constexpr UInt16 kMapTransientAttributes = 0x60; // mapCompact, mapChanged
constexpr UInt16 kMapReadOnly = 0x80;
constexpr ResType kStringListType = FOUR_CHAR_CODE("STR#");

struct ResourceFile;

struct ResourceEntry {
    ResType type = 0;
    SInt16 id = 0;
    std::string name;
    UInt8 attributes = 0;
    std::vector<UInt8> data;
    // Loaded copy owned by the map; its bytes replace data when changed.
    Handle handle = nullptr;
    bool changed = false;
    ResourceFile* file = nullptr;
};

struct ResourceFile {
    SInt16 refNum = 0;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    bool writable = false;
    bool dirty = false;
    // Made by TBOpenNewResFileAtPath and not yet written: closing discards it.
    bool unsaved = false;
    UInt16 mapAttributes = 0;
    bool hasTypes = false;
    OSType fileType = 0;
    OSType creator = 0;
    std::vector<std::unique_ptr<ResourceEntry>> entries;
};

struct ResourceState {
    // Newest first; searches run from the current file towards the end.
    std::vector<std::unique_ptr<ResourceFile>> chain;
    SInt16 current = 0;
    OSErr lastError = noErr;
    std::unordered_map<Handle, ResourceEntry*> handles;
};

ResourceState& State()
{
    static ResourceState state;
    return state;
}

void SetError(OSErr err)
{
    State().lastError = err;
}

UInt16 Read16(const UInt8* p)
{
    return UInt16((p[0] << 8) | p[1]);
}

UInt32 Read32(const UInt8* p)
{
    return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

void Put16(std::vector<UInt8>& out, UInt16 v)
{
    out.push_back(UInt8(v >> 8));
    out.push_back(UInt8(v));
}

void Put32(std::vector<UInt8>& out, UInt32 v)
{
    Put16(out, UInt16(v >> 16));
    Put16(out, UInt16(v));
}

void Set32(std::vector<UInt8>& out, size_t at, UInt32 v)
{
    out[at] = UInt8(v >> 24);
    out[at + 1] = UInt8(v >> 16);
    out[at + 2] = UInt8(v >> 8);
    out[at + 3] = UInt8(v);
}

std::string NameFrom(ConstStr255Param name)
{
    return name ? std::string(reinterpret_cast<const char*>(name + 1), name[0]) : std::string();
}

// Every size and offset in the file is checked before it is used: a file
// that does not hold together is refused as a whole.
OSErr ParseResourceFork(const std::vector<UInt8>& bytes, ResourceFile& file)
{
    const size_t size = bytes.size();
    if (size < kHeaderSize)
        return eofErr;
    const UInt64 dataOffset = Read32(&bytes[0]);
    const UInt64 mapOffset = Read32(&bytes[4]);
    const UInt64 dataLength = Read32(&bytes[8]);
    const UInt64 mapLength = Read32(&bytes[12]);
    if (dataOffset + dataLength > size || mapOffset + mapLength > size)
        return eofErr;
    if (dataOffset < kHeaderSize || mapOffset < kHeaderSize || mapLength < kMapHeaderSize + 2)
        return mapReadErr;
    if (dataLength > 0 && dataOffset < mapOffset + mapLength && mapOffset < dataOffset + dataLength)
        return mapReadErr;

    const UInt8* map = &bytes[mapOffset];
    const UInt8* data = &bytes[dataOffset];
    const size_t typeList = Read16(map + 24);
    const size_t nameList = Read16(map + 26);
    if (typeList < kMapHeaderSize || typeList + 2 > mapLength || nameList > mapLength)
        return mapReadErr;
    const size_t typeCount = (Read16(map + typeList) + 1u) & 0xFFFFu;
    const size_t typeEntriesEnd = typeList + 2 + typeCount * kTypeEntrySize;
    if (typeEntriesEnd > mapLength)
        return mapReadErr;

    std::vector<std::pair<size_t, size_t>> usedRanges{{0, kMapHeaderSize}, {typeList, typeEntriesEnd}};
    std::set<ResType> types;
    std::set<std::pair<ResType, SInt16>> seen;
    UInt64 totalData = 0;
    file.mapAttributes = Read16(map + 22) & UInt16(~kMapTransientAttributes);
    for (size_t t = 0; t < typeCount; ++t) {
        const UInt8* typeEntry = map + typeList + 2 + t * kTypeEntrySize;
        const ResType type = Read32(typeEntry);
        const size_t count = size_t(Read16(typeEntry + 4)) + 1;
        const size_t references = typeList + Read16(typeEntry + 6);
        const size_t referencesEnd = references + count * kReferenceSize;
        if (referencesEnd > mapLength || !types.insert(type).second)
            return mapReadErr;
        usedRanges.emplace_back(references, referencesEnd);
        for (size_t r = 0; r < count; ++r) {
            const UInt8* reference = map + references + r * kReferenceSize;
            std::unique_ptr<ResourceEntry> entry(TBNew<ResourceEntry>());
            if (entry == nullptr)
                return memFullErr;
            entry->type = type;
            entry->id = SInt16(Read16(reference));
            entry->attributes = UInt8(reference[4] & ~resChanged);
            if (!seen.insert({type, entry->id}).second)
                return mapReadErr;
            const UInt16 nameOffset = Read16(reference + 2);
            if (nameOffset != kNoName) {
                const size_t at = nameList + nameOffset;
                if (at >= mapLength || at + 1 + map[at] > mapLength)
                    return mapReadErr;
                entry->name.assign(reinterpret_cast<const char*>(map + at + 1), map[at]);
            }
            const UInt64 at = Read32(reference + 4) & kMaxDataOffset;
            if (at + 4 > dataLength)
                return mapReadErr;
            const UInt64 length = Read32(data + at);
            totalData += 4 + length;
            // Shared data blocks could otherwise multiply a small file in memory.
            if (at + 4 + length > dataLength || totalData > dataLength)
                return mapReadErr;
            entry->data.assign(data + at + 4, data + at + 4 + length);
            entry->file = &file;
            file.entries.push_back(std::move(entry));
        }
    }
    std::sort(usedRanges.begin(), usedRanges.end());
    for (size_t i = 1; i < usedRanges.size(); ++i) {
        if (usedRanges[i].first < usedRanges[i - 1].second)
            return mapReadErr;
    }
    return noErr;
}

// The bytes that a write stores for the entry.
std::pair<const UInt8*, size_t> StoredBytes(const ResourceEntry& entry)
{
    if (entry.changed && entry.handle) {
        const Size size = GetHandleSize(entry.handle);
        if (size <= 0 || !*entry.handle)
            return {nullptr, 0};
        return {reinterpret_cast<const UInt8*>(*entry.handle), size_t(size)};
    }
    return {entry.data.data(), entry.data.size()};
}

// The bytes a reader sees now: the loaded copy when there is one.
std::pair<const UInt8*, size_t> CurrentBytes(const ResourceEntry& entry)
{
    if (entry.handle) {
        const Size size = GetHandleSize(entry.handle);
        if (size <= 0 || !*entry.handle)
            return {nullptr, 0};
        return {reinterpret_cast<const UInt8*>(*entry.handle), size_t(size)};
    }
    return {entry.data.data(), entry.data.size()};
}

OSErr BuildResourceFork(const ResourceFile& file, std::vector<UInt8>& out)
{
    std::vector<ResType> types;
    for (const auto& entry : file.entries) {
        if (std::find(types.begin(), types.end(), entry->type) == types.end())
            types.push_back(entry->type);
    }
    std::vector<UInt8> data;
    std::vector<UInt8> typeList;
    std::vector<UInt8> references;
    std::vector<UInt8> names;
    const size_t typeEntriesSize = 2 + types.size() * kTypeEntrySize;
    Put16(typeList, UInt16(types.size() - 1));
    for (const ResType type : types) {
        size_t count = 0;
        const size_t referencesOffset = typeEntriesSize + references.size();
        for (const auto& entry : file.entries) {
            if (entry->type != type)
                continue;
            ++count;
            const auto [bytes, length] = StoredBytes(*entry);
            if (data.size() > kMaxDataOffset || length > kMaxFileSize)
                return ioErr;
            Put16(references, UInt16(entry->id));
            if (entry->name.empty()) {
                Put16(references, kNoName);
            } else {
                if (names.size() >= kNoName)
                    return ioErr;
                Put16(references, UInt16(names.size()));
                names.push_back(UInt8(entry->name.size()));
                names.insert(names.end(), entry->name.begin(), entry->name.end());
            }
            Put32(references, (UInt32(entry->attributes & ~resChanged) << 24) | UInt32(data.size()));
            Put32(references, 0);
            Put32(data, UInt32(length));
            if (length > 0)
                data.insert(data.end(), bytes, bytes + length);
            if (data.size() > kMaxFileSize)
                return ioErr;
        }
        if (referencesOffset > 0xFFFF)
            return ioErr;
        Put32(typeList, type);
        Put16(typeList, UInt16(count - 1));
        Put16(typeList, UInt16(referencesOffset));
    }
    const size_t nameListOffset = kMapHeaderSize + typeList.size() + references.size();
    const size_t mapLength = nameListOffset + names.size();
    const size_t mapOffset = kDataStart + data.size();
    if (nameListOffset > 0xFFFF || mapOffset + mapLength > kMaxFileSize)
        return ioErr;

    out.assign(kDataStart, 0);
    Set32(out, 0, UInt32(kDataStart));
    Set32(out, 4, UInt32(mapOffset));
    Set32(out, 8, UInt32(data.size()));
    Set32(out, 12, UInt32(mapLength));
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), out.begin(), out.begin() + kHeaderSize);
    Put32(out, 0); // next map handle
    Put16(out, 0); // file reference number
    Put16(out, file.mapAttributes);
    Put16(out, UInt16(kMapHeaderSize));
    Put16(out, UInt16(nameListOffset));
    out.insert(out.end(), typeList.begin(), typeList.end());
    out.insert(out.end(), references.begin(), references.end());
    out.insert(out.end(), names.begin(), names.end());
    return noErr;
}

OSErr WriteResourceFile(ResourceFile& file)
{
    if (!file.writable)
        return wrPermErr;
    std::vector<UInt8> bytes;
    OSErr err = BuildResourceFork(file, bytes);
    if (err != noErr)
        return err;
    TBAtomicWrite how;
    struct stat info;
    if (stat(file.path.c_str(), &info) == 0) {
        how.mode = info.st_mode & 07777;
        how.keepOwner = true;
        how.owner = info.st_uid;
        how.group = info.st_gid;
    } else {
        how.mode = TBNewFileMode();
    }
    how.hasTypes = file.hasTypes;
    how.fileType = file.fileType;
    how.creator = file.creator;
    err = TBWriteFileAtomically(file.path, bytes, how);
    if (err != noErr)
        return err;
    for (auto& entry : file.entries) {
        if (entry->changed) {
            const auto [stored, length] = StoredBytes(*entry);
            entry->data.assign(stored, stored + length);
            entry->changed = false;
        }
    }
    file.dirty = false;
    file.unsaved = false;
    if (stat(file.path.c_str(), &info) == 0) {
        file.device = info.st_dev;
        file.inode = info.st_ino;
    }
    return noErr;
}

ResourceFile* FindFile(SInt16 refNum)
{
    for (auto& file : State().chain) {
        if (file->refNum == refNum)
            return file.get();
    }
    return nullptr;
}

size_t CurrentIndex()
{
    const auto& chain = State().chain;
    for (size_t i = 0; i < chain.size(); ++i) {
        if (chain[i]->refNum == State().current)
            return i;
    }
    return chain.size();
}

ResourceEntry* FindEntry(ResourceFile& file, ResType type, SInt16 id)
{
    for (auto& entry : file.entries) {
        if (entry->type == type && entry->id == id)
            return entry.get();
    }
    return nullptr;
}

ResourceEntry* EntryOf(Handle h)
{
    const auto found = State().handles.find(h);
    return found == State().handles.end() ? nullptr : found->second;
}

Handle LoadEntry(ResourceEntry* entry)
{
    if (!entry) {
        SetError(resNotFound);
        return nullptr;
    }
    if (!entry->handle) {
        Handle h = NewHandle(Size(entry->data.size()));
        if (!h) {
            SetError(memFullErr);
            return nullptr;
        }
        if (!entry->data.empty())
            std::memcpy(*h, entry->data.data(), entry->data.size());
        entry->handle = h;
        State().handles[h] = entry;
    }
    SetError(noErr);
    return entry->handle;
}

// Lets go of the map's copy, keeping unsaved changes in the map.
void UnloadEntry(ResourceEntry* entry)
{
    if (entry->changed) {
        const auto [bytes, length] = StoredBytes(*entry);
        entry->data.assign(bytes, bytes + length);
    }
    State().handles.erase(entry->handle);
    entry->handle = nullptr;
}

template <typename Find>
ResourceEntry* SearchChain(Find find)
{
    auto& chain = State().chain;
    for (size_t i = CurrentIndex(); i < chain.size(); ++i) {
        if (ResourceEntry* entry = find(*chain[i]))
            return entry;
    }
    return nullptr;
}

ResourceFile* CurrentFile()
{
    return FindFile(State().current);
}

SInt16 OpenResourceFile(const std::string& path, SInt8 permission)
{
    if (permission < fsCurPerm || permission > fsRdWrShPerm) {
        SetError(paramErr);
        return -1;
    }
    const int flags = O_CLOEXEC | O_NONBLOCK;
    int fd = open(path.c_str(), (permission == fsRdPerm ? O_RDONLY : O_RDWR) | flags);
    bool writable = permission != fsRdPerm;
    if (fd < 0 && permission == fsCurPerm && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = open(path.c_str(), O_RDONLY | flags);
        writable = false;
    }
    if (fd < 0) {
        SetError(errno == EISDIR ? OSErr(fnfErr) : TBOSErrFromErrno(errno));
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        SetError(fnfErr);
        return -1;
    }
    char resolvedBuffer[PATH_MAX];
    const std::string resolved = realpath(path.c_str(), resolvedBuffer) ? resolvedBuffer : path;
    for (auto& open : State().chain) {
        if (open->path == resolved || (open->device == info.st_dev && open->inode == info.st_ino)) {
            close(fd);
            open->writable = open->writable || writable;
            SetError(noErr);
            return open->refNum;
        }
    }
    if (size_t(info.st_size) > kMaxFileSize) {
        close(fd);
        SetError(mapReadErr);
        return -1;
    }
    std::vector<UInt8> bytes(size_t(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    close(fd);
    if (done < bytes.size()) {
        SetError(eofErr);
        return -1;
    }
    std::unique_ptr<ResourceFile> file(TBNew<ResourceFile>());
    if (file == nullptr) {
        SetError(memFullErr);
        return -1;
    }
    const OSErr err = ParseResourceFork(bytes, *file);
    if (err != noErr) {
        SetError(err);
        return -1;
    }
    file->refNum = TBAllocateFileRefNum();
    if (file->refNum == 0) {
        SetError(tmfoErr);
        return -1;
    }
    file->path = resolved;
    file->device = info.st_dev;
    file->inode = info.st_ino;
    file->writable = writable && !(file->mapAttributes & kMapReadOnly);
    file->hasTypes = TBReadFileTypes(resolved, file->fileType, file->creator);
    const SInt16 refNum = file->refNum;
    State().chain.insert(State().chain.begin(), std::move(file));
    State().current = refNum;
    SetError(noErr);
    return refNum;
}

bool SpecPath(const FSSpec* spec, std::string& path)
{
    if (!spec) {
        SetError(paramErr);
        return false;
    }
    if (!TBPathFromFSSpec(*spec, path)) {
        SetError(bdNamErr);
        return false;
    }
    return true;
}

} // namespace

bool TBResourceFileIsOpen(dev_t device, ino_t inode)
{
    for (const auto& file : State().chain) {
        if (file->device == device && file->inode == inode)
            return true;
    }
    return false;
}

OSErr ResError()
{
    return State().lastError;
}

SInt16 FSpOpenResFile(const FSSpec* spec, SInt8 permission)
{
    std::string path;
    if (!SpecPath(spec, path))
        return -1;
    return OpenResourceFile(path, permission);
}

SInt16 TBOpenResFileAtPath(const char* path, SInt8 permission)
{
    if (!path || !*path) {
        SetError(paramErr);
        return -1;
    }
    return OpenResourceFile(path, permission);
}

SInt16 TBOpenNewResFileAtPath(const char* path, OSType creator, OSType fileType)
{
    if (!path || *path != '/') {
        SetError(paramErr);
        return -1;
    }
    for (const auto& open : State().chain) {
        if (open->path == path) {
            SetError(fBsyErr);
            return -1;
        }
    }
    std::unique_ptr<ResourceFile> file(TBNew<ResourceFile>());
    if (file == nullptr) {
        SetError(memFullErr);
        return -1;
    }
    file->refNum = TBAllocateFileRefNum();
    if (file->refNum == 0) {
        SetError(tmfoErr);
        return -1;
    }
    file->path = path;
    file->writable = true;
    file->unsaved = true;
    file->hasTypes = true;
    file->fileType = fileType;
    file->creator = creator;
    const SInt16 refNum = file->refNum;
    State().chain.insert(State().chain.begin(), std::move(file));
    State().current = refNum;
    SetError(noErr);
    return refNum;
}

void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag)
{
    (void)scriptTag;
    std::string path;
    if (!SpecPath(spec, path))
        return;
    ResourceFile empty;
    std::vector<UInt8> bytes;
    OSErr err = BuildResourceFork(empty, bytes);
    if (err == noErr) {
        TBAtomicWrite how;
        how.mode = TBNewFileMode();
        how.hasTypes = true;
        how.fileType = fileType;
        how.creator = creator;
        how.mustBeNew = true;
        err = TBWriteFileAtomically(path, bytes, how);
    }
    SetError(err);
}

void UseResFile(SInt16 refNum)
{
    ResourceState& state = State();
    if (refNum == 0) {
        // The bottom of the chain stands in for the system file.
        if (!state.chain.empty())
            state.current = state.chain.back()->refNum;
        SetError(noErr);
        return;
    }
    if (!FindFile(refNum)) {
        SetError(resFNotFound);
        return;
    }
    state.current = refNum;
    SetError(noErr);
}

SInt16 CurResFile()
{
    SetError(noErr);
    return State().current;
}

void UpdateResFile(SInt16 refNum)
{
    ResourceFile* file = FindFile(refNum);
    if (!file) {
        SetError(resFNotFound);
        return;
    }
    SetError(file->dirty ? WriteResourceFile(*file) : OSErr(noErr));
}

void CloseResFile(SInt16 refNum)
{
    ResourceState& state = State();
    ResourceFile* file = FindFile(refNum);
    if (!file) {
        SetError(resFNotFound);
        return;
    }
    const OSErr err = file->dirty && !file->unsaved ? WriteResourceFile(*file) : OSErr(noErr);
    for (auto& entry : file->entries) {
        if (entry->handle) {
            state.handles.erase(entry->handle);
            DisposeHandle(entry->handle);
        }
    }
    size_t index = 0;
    while (state.chain[index].get() != file)
        ++index;
    if (state.current == refNum) {
        if (index + 1 < state.chain.size())
            state.current = state.chain[index + 1]->refNum;
        else
            state.current = state.chain.size() > 1 ? state.chain.front()->refNum : 0;
    }
    state.chain.erase(state.chain.begin() + std::ptrdiff_t(index));
    TBReleaseFileRefNum(refNum);
    SetError(err);
}

Handle Get1Resource(ResType theType, SInt16 theID)
{
    ResourceFile* file = CurrentFile();
    return LoadEntry(file ? FindEntry(*file, theType, theID) : nullptr);
}

void DetachResource(Handle theResource)
{
    ResourceEntry* entry = EntryOf(theResource);
    if (!entry) {
        SetError(resNotFound);
        return;
    }
    UnloadEntry(entry);
    SetError(noErr);
}

void ReleaseResource(Handle theResource)
{
    ResourceEntry* entry = EntryOf(theResource);
    if (!entry) {
        SetError(resNotFound);
        return;
    }
    UnloadEntry(entry);
    DisposeHandle(theResource);
    SetError(noErr);
}

void AddResource(Handle theData, ResType theType, SInt16 theID, ConstStr255Param name)
{
    ResourceFile* file = CurrentFile();
    // A resource id may appear once per type: duplicates would make lookups ambiguous.
    if (!theData || EntryOf(theData) || !file || !file->writable || FindEntry(*file, theType, theID)) {
        SetError(addResFailed);
        return;
    }
    std::unique_ptr<ResourceEntry> entry(TBNew<ResourceEntry>());
    if (entry == nullptr) {
        SetError(memFullErr);
        return;
    }
    entry->type = theType;
    entry->id = theID;
    entry->name = NameFrom(name);
    entry->handle = theData;
    entry->changed = true;
    entry->file = file;
    State().handles[theData] = entry.get();
    file->entries.push_back(std::move(entry));
    file->dirty = true;
    SetError(noErr);
}

void RemoveResource(Handle theResource)
{
    ResourceEntry* entry = EntryOf(theResource);
    if (!entry || entry->file->refNum != State().current || !entry->file->writable ||
        (entry->attributes & resProtected)) {
        SetError(rmvResFailed);
        return;
    }
    ResourceFile* file = entry->file;
    State().handles.erase(theResource);
    file->entries.erase(std::find_if(file->entries.begin(), file->entries.end(),
                                     [&](const auto& e) { return e.get() == entry; }));
    file->dirty = true;
    SetError(noErr);
}

void GetResInfo(Handle theResource, SInt16* theID, ResType* theType, Str255 name)
{
    const ResourceEntry* entry = EntryOf(theResource);
    if (!entry) {
        SetError(resNotFound);
        return;
    }
    if (theID)
        *theID = entry->id;
    if (theType)
        *theType = entry->type;
    if (name) {
        name[0] = UInt8(entry->name.size());
        std::memcpy(name + 1, entry->name.data(), entry->name.size());
    }
    SetError(noErr);
}

void GetIndString(Str255 theString, SInt16 strListID, SInt16 index)
{
    if (!theString)
        return;
    theString[0] = 0;
    const ResourceEntry* entry =
        SearchChain([&](ResourceFile& file) { return FindEntry(file, kStringListType, strListID); });
    if (!entry) {
        SetError(resNotFound);
        return;
    }
    SetError(noErr);
    const auto [bytes, length] = CurrentBytes(*entry);
    if (length < 2 || index < 1 || index > Read16(bytes))
        return;
    size_t at = 2;
    for (SInt16 i = 1; i < index; ++i) {
        if (at >= length)
            return;
        at += 1 + size_t(bytes[at]);
    }
    if (at >= length || at + 1 + bytes[at] > length)
        return;
    std::memcpy(theString, bytes + at, size_t(bytes[at]) + 1);
}
