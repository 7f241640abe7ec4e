#include "Files.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<UInt8>;

constexpr ResType kPref = FOUR_CHAR_CODE("Pref");
constexpr ResType kStrList = FOUR_CHAR_CODE("STR#");

void Put16(Bytes& b, size_t at, UInt16 v) { b[at] = UInt8(v >> 8), b[at + 1] = UInt8(v); }
void Put32(Bytes& b, size_t at, UInt32 v) { Put16(b, at, UInt16(v >> 16)), Put16(b, at + 2, UInt16(v)); }
UInt16 Get16(const Bytes& b, size_t at) { return UInt16((b[at] << 8) | b[at + 1]); }
UInt32 Get32(const Bytes& b, size_t at) { return (UInt32(Get16(b, at)) << 16) | Get16(b, at + 2); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A resource file laid out by hand: header, data right after it, then the
// map with two types. Offsets of interesting fields are kept for corruption.
struct HandFile {
    Bytes bytes;
    size_t mapOffset = 0;
    size_t typeList = 0;    // absolute
    size_t references = 0;  // absolute, first reference of the first type
    size_t nameList = 0;    // absolute
};

HandFile MakeHandFile()
{
    // Resources: 'STR#' 128 "Labels" = list {"One","Two"}; 'Pref' -5 no name
    // = 01 02 03; 'Pref' 7 "Seven" = empty.
    const Bytes strList{0, 2, 3, 'O', 'n', 'e', 3, 'T', 'w', 'o'};
    const Bytes pref{1, 2, 3};
    HandFile f;
    Bytes data;
    auto addData = [&](const Bytes& d) {
        const size_t at = data.size();
        data.resize(at + 4);
        Put32(data, at, UInt32(d.size()));
        data.insert(data.end(), d.begin(), d.end());
        return at;
    };
    const size_t strAt = addData(strList);
    const size_t prefAt = addData(pref);
    const size_t sevenAt = addData({});
    const size_t dataOffset = 16;
    f.mapOffset = dataOffset + data.size();
    // Map: 28-byte header, type list (2 + 2*8), references (3*12), names.
    const size_t typeListRel = 28;
    const size_t referencesRel = typeListRel + 2 + 16;
    const size_t nameListRel = referencesRel + 36;
    const Bytes names{6, 'L', 'a', 'b', 'e', 'l', 's', 5, 'S', 'e', 'v', 'e', 'n'};
    const size_t mapLength = nameListRel + names.size();
    f.bytes.assign(f.mapOffset + mapLength, 0);
    Put32(f.bytes, 0, UInt32(dataOffset));
    Put32(f.bytes, 4, UInt32(f.mapOffset));
    Put32(f.bytes, 8, UInt32(data.size()));
    Put32(f.bytes, 12, UInt32(mapLength));
    std::copy(data.begin(), data.end(), f.bytes.begin() + dataOffset);
    const size_t m = f.mapOffset;
    Put16(f.bytes, m + 24, UInt16(typeListRel));
    Put16(f.bytes, m + 26, UInt16(nameListRel));
    f.typeList = m + typeListRel;
    f.references = m + referencesRel;
    f.nameList = m + nameListRel;
    Put16(f.bytes, f.typeList, 1); // two types
    Put32(f.bytes, f.typeList + 2, kStrList);
    Put16(f.bytes, f.typeList + 6, 0);
    Put16(f.bytes, f.typeList + 8, UInt16(referencesRel - typeListRel));
    Put32(f.bytes, f.typeList + 10, kPref);
    Put16(f.bytes, f.typeList + 14, 1);
    Put16(f.bytes, f.typeList + 16, UInt16(referencesRel - typeListRel + 12));
    auto putReference = [&](size_t at, SInt16 id, UInt16 nameOffset, size_t dataAt) {
        Put16(f.bytes, at, UInt16(id));
        Put16(f.bytes, at + 2, nameOffset);
        Put32(f.bytes, at + 4, UInt32(dataAt));
    };
    putReference(f.references, 128, 0, strAt);
    putReference(f.references + 12, -5, 0xFFFF, prefAt);
    putReference(f.references + 24, 7, 7, sevenAt);
    std::copy(names.begin(), names.end(), f.bytes.begin() + f.nameList);
    return f;
}

// An independent reader, so that a fault shared by the library's reader and
// writer cannot hide.
std::map<std::pair<ResType, SInt16>, std::pair<std::string, Bytes>> ReadByHand(const Bytes& b)
{
    std::map<std::pair<ResType, SInt16>, std::pair<std::string, Bytes>> out;
    const size_t dataOffset = Get32(b, 0);
    const size_t m = Get32(b, 4);
    const size_t typeList = m + Get16(b, m + 24);
    const size_t nameList = m + Get16(b, m + 26);
    const size_t types = size_t(Get16(b, typeList) + 1) & 0xFFFF;
    for (size_t t = 0; t < types; ++t) {
        const size_t entry = typeList + 2 + t * 8;
        const ResType type = Get32(b, entry);
        const size_t count = Get16(b, entry + 4) + 1u;
        for (size_t r = 0; r < count; ++r) {
            const size_t ref = typeList + Get16(b, entry + 6) + r * 12;
            std::string name;
            if (Get16(b, ref + 2) != 0xFFFF) {
                const size_t at = nameList + Get16(b, ref + 2);
                name.assign(b.begin() + long(at) + 1, b.begin() + long(at) + 1 + b[at]);
            }
            const size_t at = dataOffset + (Get32(b, ref + 4) & 0xFFFFFF);
            const Bytes data(b.begin() + long(at) + 4, b.begin() + long(at + 4 + Get32(b, at)));
            out[{type, SInt16(Get16(b, ref))}] = {name, data};
        }
    }
    return out;
}

Bytes HandleBytes(Handle h)
{
    return Bytes(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h));
}

Handle HandleOf(const Bytes& b)
{
    Handle h = NewHandle(Size(b.size()));
    std::copy(b.begin(), b.end(), reinterpret_cast<UInt8*>(*h));
    return h;
}

std::string Pascal(ConstStr255Param s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

struct PascalName {
    Str255 text;
    explicit PascalName(const std::string& s)
    {
        text[0] = UInt8(s.size());
        std::memcpy(text + 1, s.data(), s.size());
    }
};

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-resources-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = pattern;
    }

    void TearDown() override
    {
        // Tests must not leave files open for the next one.
        while (CurResFile() != 0)
            CloseResFile(CurResFile());
        fs::remove_all(mFolder);
    }

    std::string PathOf(const std::string& name) const { return mFolder + "/" + name; }

    std::string WriteFile(const std::string& name, const Bytes& bytes) const
    {
        const std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    std::streamsize(bytes.size()));
        return path;
    }

    Bytes ReadFile(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::vector<std::string> FolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(mFolder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // A fresh resource file made through the library, left open and current.
    SInt16 CreateOpen(const std::string& name)
    {
        FSSpec spec{};
        EXPECT_EQ(TBFSSpecFromPath(PathOf(name), &spec), fnfErr);
        FSpCreateResFile(&spec, FOUR_CHAR_CODE("Dorv"), kPref, smSystemScript);
        EXPECT_EQ(ResError(), noErr);
        const SInt16 refNum = FSpOpenResFile(&spec, fsCurPerm);
        EXPECT_EQ(ResError(), noErr);
        return refNum;
    }

    std::string mFolder;
};

TEST_F(ResourcesTest, HandAssembledFileReadsEveryResource)
{
    const std::string path = WriteFile("hand", MakeHandFile().bytes);
    const SInt16 refNum = TBOpenResFileAtPath(path.c_str(), fsRdPerm);
    ASSERT_NE(refNum, -1) << ResError();

    Handle list = Get1Resource(kStrList, 128);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(HandleBytes(list), (Bytes{0, 2, 3, 'O', 'n', 'e', 3, 'T', 'w', 'o'}));
    Str255 name;
    SInt16 id = 0;
    ResType type = 0;
    GetResInfo(list, &id, &type, name);
    EXPECT_EQ(id, 128);
    EXPECT_EQ(type, kStrList);
    EXPECT_EQ(Pascal(name), "Labels");

    Handle pref = Get1Resource(kPref, -5);
    ASSERT_NE(pref, nullptr);
    EXPECT_EQ(HandleBytes(pref), (Bytes{1, 2, 3}));

    const PascalName seven("Seven");
    Handle empty = Get1NamedResource(kPref, seven.text);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GetHandleSize(empty), 0);
    EXPECT_EQ(Count1Resources(kPref), 2);
    EXPECT_EQ(Get1Resource(kPref, 8), nullptr);
    EXPECT_EQ(ResError(), resNotFound);

    Str255 text;
    GetIndString(text, 128, 2);
    EXPECT_EQ(Pascal(text), "Two");
    for (const SInt16 index : {0, 3}) {
        text[0] = 9;
        GetIndString(text, 128, index);
        EXPECT_EQ(text[0], 0) << index;
    }
    CloseResFile(refNum);
    EXPECT_EQ(ResError(), noErr);
}

struct Corruption {
    const char* what;
    std::function<void(HandFile&)> apply;
    OSErr expected;
};

TEST_F(ResourcesTest, CorruptFilesAreRefusedWithoutReadingOutside)
{
    const std::vector<Corruption> corruptions = {
        {"empty file", [](HandFile& f) { f.bytes.clear(); }, eofErr},
        {"truncated header", [](HandFile& f) { f.bytes.resize(10); }, eofErr},
        {"last byte cut", [](HandFile& f) { f.bytes.pop_back(); }, eofErr},
        {"map beyond the end", [](HandFile& f) { Put32(f.bytes, 4, 0xFFFFFFF0); }, eofErr},
        {"data inside the header", [](HandFile& f) { Put32(f.bytes, 0, 4); }, mapReadErr},
        {"map too short", [](HandFile& f) { Put32(f.bytes, 12, 20); }, mapReadErr},
        {"map overlapping data",
         [](HandFile& f) { Put32(f.bytes, 8, Get32(f.bytes, 8) + 4); }, mapReadErr},
        {"type list outside the map", [](HandFile& f) { Put16(f.bytes, f.mapOffset + 24, 0xFFF0); }, mapReadErr},
        {"absurd reference count", [](HandFile& f) { Put16(f.bytes, f.typeList + 6, 0xFFFF); }, mapReadErr},
        {"duplicate id", [](HandFile& f) { Put16(f.bytes, f.references + 24, UInt16(-5)); }, mapReadErr},
        {"name running off the end", [](HandFile& f) { f.bytes[f.nameList + 7] = 200; }, mapReadErr},
        {"data offset outside the data", [](HandFile& f) { Put32(f.bytes, f.references + 4, 0x00FFFFF0); }, mapReadErr},
        {"data length past the data", [](HandFile& f) { Put32(f.bytes, 16, 0x00100000); }, mapReadErr},
    };
    for (const Corruption& corruption : corruptions) {
        HandFile f = MakeHandFile();
        corruption.apply(f);
        const std::string path = WriteFile("corrupt", f.bytes);
        EXPECT_EQ(TBOpenResFileAtPath(path.c_str(), fsCurPerm), -1) << corruption.what;
        EXPECT_EQ(ResError(), corruption.expected) << corruption.what;
    }
}

TEST_F(ResourcesTest, AddRemoveDetachAndUpdateRoundTrip)
{
    const SInt16 refNum = CreateOpen("prefs");
    ASSERT_NE(refNum, -1);
    const PascalName prefsName("Prefs Settings");
    const PascalName configName("Config Settings");
    Handle prefs = HandleOf({0, 3, 0, 0});
    Handle config = HandleOf(Bytes(392, 0xAB));
    Handle dropped = HandleOf(Text("gone"));
    AddResource(prefs, kPref, 0, prefsName.text);
    AddResource(config, kPref, 1, configName.text);
    AddResource(dropped, FOUR_CHAR_CODE("TEXT"), -300, nullptr);
    UpdateResFile(refNum);
    ASSERT_EQ(ResError(), noErr);

    RemoveResource(dropped);
    EXPECT_EQ(ResError(), noErr);
    DisposeHandle(dropped);
    // A change made through the handle reaches the file once announced.
    (*prefs)[3] = 9;
    ChangedResource(prefs);
    ReleaseResource(prefs);
    DetachResource(config);
    EXPECT_EQ(ResError(), noErr);
    CloseResFile(refNum);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(HandleBytes(config), Bytes(392, 0xAB)) << "the detached handle stays the caller's";
    DisposeHandle(config);

    const auto content = ReadByHand(ReadFile(PathOf("prefs")));
    ASSERT_EQ(content.size(), 2u);
    EXPECT_EQ(content.at({kPref, 0}).first, "Prefs Settings");
    EXPECT_EQ(content.at({kPref, 0}).second, (Bytes{0, 3, 0, 9}));
    EXPECT_EQ(content.at({kPref, 1}).first, "Config Settings");
    EXPECT_EQ(content.at({kPref, 1}).second, Bytes(392, 0xAB));

    ASSERT_NE(TBOpenResFileAtPath(PathOf("prefs").c_str(), fsRdPerm), -1);
    Str255 name;
    GetResInfo(Get1Resource(kPref, 1), nullptr, nullptr, name);
    EXPECT_EQ(Pascal(name), "Config Settings");
}

TEST_F(ResourcesTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    const SInt16 refNum = CreateOpen("prefs");
    AddResource(HandleOf(Text("small")), kPref, 0, nullptr);
    UpdateResFile(refNum);
    ASSERT_EQ(ResError(), noErr);
    const Bytes before = ReadFile(PathOf("prefs"));

    // A file size limit makes the write itself fail, even for root.
    AddResource(HandleOf(Bytes(64 * 1024, 7)), kPref, 1, nullptr);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 4096;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    UpdateResFile(refNum);
    const OSErr err = ResError();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_NE(err, noErr);
    EXPECT_EQ(ReadFile(PathOf("prefs")), before);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"prefs"});

    // The change is still pending and goes out once writing works again.
    UpdateResFile(refNum);
    EXPECT_EQ(ResError(), noErr);
    EXPECT_EQ(ReadByHand(ReadFile(PathOf("prefs"))).at({kPref, 1}).second, Bytes(64 * 1024, 7));

    // A folder where the file was: the rename fails, the moved file is intact.
    fs::rename(PathOf("prefs"), PathOf("moved"));
    fs::create_directory(PathOf("prefs"));
    fs::create_directory(PathOf("prefs/inside"));
    const Bytes moved = ReadFile(PathOf("moved"));
    AddResource(HandleOf(Text("more")), kPref, 2, nullptr);
    CloseResFile(refNum);
    EXPECT_NE(ResError(), noErr);
    EXPECT_EQ(ReadFile(PathOf("moved")), moved);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"moved", "prefs"}));
}

} // namespace
