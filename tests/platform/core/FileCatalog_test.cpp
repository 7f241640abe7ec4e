#include "CFURL.h"
#include "Files.h"
#include "MacErrors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string Pascal(ConstStr255Param s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

class FileCatalog : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-catalog-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = fs::canonical(pattern);
        fs::create_directory(mFolder / "sub");
        std::ofstream(mFolder / "sub" / "b.txt") << "12345";
        std::ofstream(mFolder / "sub" / "a.png") << "x";
    }
    void TearDown() override { fs::remove_all(mFolder); }

    FSRef Ref(const fs::path& path) const
    {
        FSRef ref{};
        EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
        return ref;
    }
    SInt32 DirID(const fs::path& folder) const
    {
        FSCatalogInfo info{};
        const FSRef ref = Ref(folder);
        EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);
        return SInt32(info.nodeID);
    }

    fs::path mFolder;
};

TEST_F(FileCatalog, AReferenceAndTheClassicRecordNameTheSameFile)
{
    const FSRef ref = Ref(mFolder / "sub" / "b.txt");
    FSSpec spec{};
    FSCatalogInfo info{};
    HFSUniStr255 name{};
    FSRef parent{};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags | kFSCatInfoParentDirID, &info, &name, &spec, &parent),
              noErr);
    EXPECT_EQ(Pascal(spec.name), "b.txt");
    EXPECT_EQ(spec.parID, DirID(mFolder / "sub"));
    EXPECT_EQ(name.length, 5);
    std::string path;
    ASSERT_TRUE(TBFSRefGetPath(&parent, path));
    EXPECT_EQ(fs::path(path), mFolder / "sub");

    FSRef back{};
    ASSERT_EQ(FSpMakeFSRef(&spec, &back), noErr);
    ASSERT_TRUE(TBFSRefGetPath(&back, path));
    EXPECT_EQ(fs::path(path), mFolder / "sub" / "b.txt");
}

TEST_F(FileCatalog, GoneItemsAndForeignReferencesFail)
{
    const FSRef ref = Ref(mFolder / "sub" / "a.png");
    fs::remove(mFolder / "sub" / "a.png");
    FSSpec spec{};
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr), fnfErr);
    FSRef zero{};
    EXPECT_EQ(FSGetCatalogInfo(&zero, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr), paramErr);
    FSSpec missing{};
    ASSERT_EQ(TBFSSpecFromPath((mFolder / "nothing").string(), &missing), fnfErr);
    EXPECT_NE(FSpMakeFSRef(&missing, &zero), noErr);
}

TEST_F(FileCatalog, DirectoryIDsWalkUpToTheVolumeRoot)
{
    const SInt32 sub = DirID(mFolder / "sub");
    Str255 name = {0};
    CInfoPBRec pb{};
    pb.dirInfo.ioNamePtr = name;
    pb.dirInfo.ioFDirIndex = -1;
    pb.dirInfo.ioDrDirID = sub;
    ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
    EXPECT_EQ(Pascal(name), "sub");
    EXPECT_EQ(pb.dirInfo.ioDrParID, DirID(mFolder));
    EXPECT_EQ(pb.dirInfo.ioDrNmFls, 2);

    // Up through the parents: the root is ID 2, named after the volume, parent 1.
    int steps = 0;
    while (pb.dirInfo.ioDrDirID != fsRtDirID && steps++ < 64) {
        pb.dirInfo.ioFDirIndex = -1;
        pb.dirInfo.ioDrDirID = pb.dirInfo.ioDrParID;
        ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
    }
    EXPECT_EQ(pb.dirInfo.ioDrDirID, fsRtDirID);
    EXPECT_EQ(pb.dirInfo.ioDrParID, fsRtParID);
    EXPECT_EQ(Pascal(name), TBVolumeName());

    pb.dirInfo.ioFDirIndex = -1;
    pb.dirInfo.ioDrDirID = 987654321;
    EXPECT_EQ(PBGetCatInfoSync(&pb), dirNFErr);
}

TEST_F(FileCatalog, FilesAreFoundByNameOrByIndex)
{
    const SInt32 sub = DirID(mFolder / "sub");
    Str255 name = {5, 'b', '.', 't', 'x', 't'};
    CInfoPBRec pb{};
    pb.hFileInfo.ioNamePtr = name;
    pb.hFileInfo.ioFDirIndex = 0;
    pb.hFileInfo.ioDirID = sub;
    ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
    EXPECT_EQ(pb.hFileInfo.ioFlLgLen, 5);

    // By index the names come in order: a.png, then b.txt, then nothing.
    for (SInt16 index = 1; index <= 3; ++index) {
        pb = CInfoPBRec{};
        pb.hFileInfo.ioNamePtr = name;
        pb.hFileInfo.ioFDirIndex = index;
        pb.hFileInfo.ioDirID = sub;
        const OSErr err = PBGetCatInfoSync(&pb);
        if (index == 3) {
            EXPECT_EQ(err, fnfErr);
        } else {
            ASSERT_EQ(err, noErr);
            EXPECT_EQ(Pascal(name), index == 1 ? "a.png" : "b.txt");
        }
    }
    EXPECT_EQ(PBGetCatInfoSync(nullptr), paramErr);
}

}  // namespace
