#include "Files.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
void Append(Bytes& b, UInt32 v, int size)
{
    for (int i = size - 1; i >= 0; --i)
        b.push_back(UInt8(v >> (8 * i)));
}

// A resource file laid out by hand: header, data right after it, then the map
// with two types: 'STR#' 128 "Labels" = list {"One","Two"}; 'Pref' -5 with no
// name = 01 02 03; 'Pref' 7 "Seven" = empty. The absolute offsets of the
// fields that the corruptions change:
constexpr size_t kDataSize = 25, kMapOffset = 16 + kDataSize, kTypeList = kMapOffset + 28,
                 kReferences = kTypeList + 18, kNameList = kReferences + 36;

Bytes MakeHandFile()
{
    Bytes b;
    for (size_t v : {size_t(16), kMapOffset, kDataSize, kNameList + 13 - kMapOffset})
        Append(b, UInt32(v), 4);
    b.insert(b.end(), {0, 0, 0, 10, 0, 2, 3, 'O', 'n', 'e', 3, 'T', 'w', 'o', 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0});
    b.resize(kMapOffset + 24);  // the map's copy of the header and its handles stay zero
    Append(b, kTypeList - kMapOffset, 2);
    Append(b, kNameList - kMapOffset, 2);
    Append(b, 1, 2);  // two types, each with its count less one and its references
    Append(b, kStrList, 4), Append(b, 0, 2), Append(b, kReferences - kTypeList, 2);
    Append(b, kPref, 4), Append(b, 1, 2), Append(b, kReferences + 12 - kTypeList, 2);
    const struct {
        UInt16 id, nameOffset;  // no name: FFFF
        UInt32 dataOffset;
    } references[] = {{128, 0, 0}, {UInt16(-5), 0xFFFF, 14}, {7, 7, 21}};
    for (const auto& r : references)
        Append(b, r.id, 2), Append(b, r.nameOffset, 2), Append(b, r.dataOffset, 4), Append(b, 0, 4);
    b.insert(b.end(), {6, 'L', 'a', 'b', 'e', 'l', 's', 5, 'S', 'e', 'v', 'e', 'n'});
    return b;
}

Bytes HandleBytes(Handle h) { return h != nullptr ? Bytes(*h, *h + GetHandleSize(h)) : Bytes{0xDE, 0xAD}; }

Handle HandleOf(const Bytes& b)
{
    Handle h = NewHandle(Size(b.size()));
    std::copy(b.begin(), b.end(), reinterpret_cast<UInt8*>(*h));
    return h;
}

std::string Pascal(ConstStr255Param s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }
ConstStr255Param Name(const char* lengthFirst) { return reinterpret_cast<ConstStr255Param>(lengthFirst); }

std::string NameOf(Handle resource)
{
    Str255 name;
    GetResInfo(resource, nullptr, nullptr, name);
    return Pascal(name);
}

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
        while (CurResFile() != 0)  // no file stays open for the next test
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
        return Bytes(std::istreambuf_iterator<char>(in), {});
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
        return FSpOpenResFile(&spec, fsCurPerm);
    }

    std::string mFolder;
};

TEST_F(ResourcesTest, HandAssembledFileReadsEveryResource)
{
    const std::string path = WriteFile("hand", MakeHandFile());
    ASSERT_NE(TBOpenResFileAtPath(path.c_str(), fsRdPerm), -1) << ResError();
    Handle list = Get1Resource(kStrList, 128);
    EXPECT_EQ(HandleBytes(list), (Bytes{0, 2, 3, 'O', 'n', 'e', 3, 'T', 'w', 'o'}));
    EXPECT_EQ(NameOf(list), "Labels");
    Handle pref = Get1Resource(kPref, -5);
    EXPECT_EQ(HandleBytes(pref), (Bytes{1, 2, 3}));
    EXPECT_EQ(NameOf(pref), "");
    Handle empty = Get1Resource(kPref, 7);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GetHandleSize(empty), 0);
    EXPECT_EQ(NameOf(empty), "Seven");
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
}

TEST_F(ResourcesTest, CorruptFilesAreRefusedWithoutReadingOutside)
{
    const struct {
        const char* what;
        void (*apply)(Bytes&);
        OSErr expected;
    } corruptions[] = {
        {"empty file", [](Bytes& b) { b.clear(); }, eofErr},
        {"truncated header", [](Bytes& b) { b.resize(10); }, eofErr},
        {"last byte cut", [](Bytes& b) { b.pop_back(); }, eofErr},
        {"map beyond the end", [](Bytes& b) { Put32(b, 4, 0xFFFFFFF0); }, eofErr},
        {"data inside the header", [](Bytes& b) { Put32(b, 0, 4); }, mapReadErr},
        {"map too short", [](Bytes& b) { Put32(b, 12, 20); }, mapReadErr},
        {"map overlapping data", [](Bytes& b) { Put32(b, 8, UInt32(kDataSize + 4)); }, mapReadErr},
        {"type list outside the map", [](Bytes& b) { Put16(b, kMapOffset + 24, 0xFFF0); }, mapReadErr},
        {"absurd reference count", [](Bytes& b) { Put16(b, kTypeList + 6, 0xFFFF); }, mapReadErr},
        {"duplicate id", [](Bytes& b) { Put16(b, kReferences + 24, UInt16(-5)); }, mapReadErr},
        {"name running off the end", [](Bytes& b) { b[kNameList + 7] = 200; }, mapReadErr},
        {"data offset outside the data", [](Bytes& b) { Put32(b, kReferences + 4, 0x00FFFFF0); }, mapReadErr},
        {"data length past the data", [](Bytes& b) { Put32(b, 16, 0x00100000); }, mapReadErr},
    };
    for (const auto& corruption : corruptions) {
        Bytes b = MakeHandFile();
        corruption.apply(b);
        const std::string path = WriteFile("corrupt", b);
        EXPECT_EQ(TBOpenResFileAtPath(path.c_str(), fsCurPerm), -1) << corruption.what;
        EXPECT_EQ(ResError(), corruption.expected) << corruption.what;
    }
}

TEST_F(ResourcesTest, RemovedResourcesGoAndDetachedHandlesRemainTheCallers)
{
    const SInt16 refNum = CreateOpen("prefs");
    ASSERT_NE(refNum, -1);
    Handle prefs = HandleOf({0, 3, 0, 0});
    Handle config = HandleOf(Bytes(392, 0xAB));
    Handle dropped = HandleOf(Bytes(4, 0x67));
    AddResource(prefs, kPref, 0, nullptr);
    AddResource(config, kPref, 1, Name("\x0F" "Config Settings"));
    AddResource(dropped, FOUR_CHAR_CODE("TEXT"), -300, nullptr);
    UpdateResFile(refNum);
    ASSERT_EQ(ResError(), noErr);
    RemoveResource(dropped);
    EXPECT_EQ(ResError(), noErr);
    DisposeHandle(dropped);
    ReleaseResource(prefs);
    DetachResource(config);
    CloseResFile(refNum);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(HandleBytes(config), Bytes(392, 0xAB));
    DisposeHandle(config);

    ASSERT_NE(TBOpenResFileAtPath(PathOf("prefs").c_str(), fsRdPerm), -1);
    EXPECT_EQ(Get1Resource(FOUR_CHAR_CODE("TEXT"), -300), nullptr);
    EXPECT_EQ(HandleBytes(Get1Resource(kPref, 0)), (Bytes{0, 3, 0, 0}));
    EXPECT_EQ(NameOf(Get1Resource(kPref, 1)), "Config Settings");
    EXPECT_EQ(HandleBytes(Get1Resource(kPref, 1)), Bytes(392, 0xAB));
}

TEST_F(ResourcesTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    const SInt16 refNum = CreateOpen("prefs");
    AddResource(HandleOf(Bytes(5, 0x73)), kPref, 0, nullptr);
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
    const Bytes written = ReadFile(PathOf("prefs"));
    EXPECT_GT(written.size(), 64u * 1024);

    // A folder where the file was: the rename fails, the moved file is intact.
    fs::rename(PathOf("prefs"), PathOf("moved"));
    fs::create_directory(PathOf("prefs"));
    fs::create_directory(PathOf("prefs/inside"));
    AddResource(HandleOf(Bytes(4, 0x6D)), kPref, 2, nullptr);
    CloseResFile(refNum);
    EXPECT_NE(ResError(), noErr);
    EXPECT_EQ(ReadFile(PathOf("moved")), written);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"moved", "prefs"}));
    ASSERT_NE(TBOpenResFileAtPath(PathOf("moved").c_str(), fsRdPerm), -1);
    EXPECT_EQ(HandleBytes(Get1Resource(kPref, 1)), Bytes(64 * 1024, 7));
}

} // namespace
