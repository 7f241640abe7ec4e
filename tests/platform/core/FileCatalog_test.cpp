#include "CFURL.h"
#include "Files.h"
#include "MacErrors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class FileCatalog : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-catalog-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = fs::canonical(pattern);
        std::ofstream(mFolder / "b.txt") << "12345";
    }
    void TearDown() override { fs::remove_all(mFolder); }

    FSRef Ref(const fs::path& path) const
    {
        FSRef ref{};
        EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
        return ref;
    }

    fs::path mFolder;
};

TEST_F(FileCatalog, TheClassicRecordNamesTheFileInItsParentAndGoneItemsFail)
{
    const FSRef ref = Ref(mFolder / "b.txt"), parentRef = Ref(mFolder);
    FSSpec spec{};
    FSCatalogInfo info{}, parentInfo{};
    FSRef parent{}, back{};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoParentDirID, &info, nullptr, &spec, &parent), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&parentRef, kFSCatInfoNodeID, &parentInfo, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(spec.parID, SInt32(parentInfo.nodeID));
    EXPECT_EQ(info.parentDirID, parentInfo.nodeID);
    std::string path;
    ASSERT_TRUE(TBFSRefGetPath(&parent, path));
    EXPECT_EQ(fs::path(path), mFolder);
    ASSERT_EQ(FSpMakeFSRef(&spec, &back), noErr);
    ASSERT_TRUE(TBFSRefGetPath(&back, path));
    EXPECT_EQ(fs::path(path), mFolder / "b.txt");

    fs::remove(mFolder / "b.txt");
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr), fnfErr);
    EXPECT_NE(FSpMakeFSRef(&spec, &back), noErr);
    FSRef zero{};
    EXPECT_EQ(FSGetCatalogInfo(&zero, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr), paramErr);
    EXPECT_EQ(PBGetCatInfoSync(nullptr), paramErr);
}

TEST_F(FileCatalog, DirectoryIDsWalkUpToTheVolumeRoot)
{
    FSSpec probe{};
    ASSERT_EQ(TBFSSpecFromPath((mFolder / "probe").string(), &probe), fnfErr);
    Str255 name = {0};
    CInfoPBRec pb{};
    pb.dirInfo.ioNamePtr = name;
    pb.dirInfo.ioDrParID = probe.parID;
    // Up through the parents: the root is ID 2, named after the volume, parent 1.
    for (int steps = 0; pb.dirInfo.ioDrDirID != fsRtDirID && steps < 64; ++steps) {
        pb.dirInfo.ioFDirIndex = -1;
        pb.dirInfo.ioDrDirID = pb.dirInfo.ioDrParID;
        ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
        EXPECT_TRUE(steps > 0 || std::string(name + 1, name + 1 + name[0]) == mFolder.filename().string());
    }
    EXPECT_EQ(pb.dirInfo.ioDrDirID, fsRtDirID);
    EXPECT_EQ(pb.dirInfo.ioDrParID, fsRtParID);
    EXPECT_EQ(std::string(name + 1, name + 1 + name[0]), TBVolumeName());
    pb.dirInfo.ioDrDirID = 987654321;
    EXPECT_EQ(PBGetCatInfoSync(&pb), dirNFErr);
}

}  // namespace
