// Putting an output in place, on real files in a temporary folder: the rule
// that tells one file from a PNG sequence, and commits that give the user the
// old output or the new one, never a mixture and never nothing.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "OutputFile.h"

namespace fs = std::filesystem;
using namespace brimtone::host;

namespace {

// A file system without hard links (FAT, some network shares), while set.
bool gNoHardLinks = false;

}  // namespace

// The host's link() in this program: it fails as on such a file system.
extern "C" int link(const char* from, const char* to)
{
    if (gNoHardLinks) {
        errno = EPERM;
        return -1;
    }
    return linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
}

namespace {

std::string readText(const fs::path& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/brimtone-output-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::unique_ptr<OutputFile> open(const std::string& name, int frames, std::string& error)
    {
        return OutputFile::open(OutputRequest{(dir_ / name).string(), "", frames, Replace::Always}, error);
    }

    // Frame `frame` of the writer's pattern, as the writer names it.
    static std::string writerFrame(const OutputFile& output, int frame)
    {
        char name[4096];
        std::snprintf(name, sizeof name, output.writePath().c_str(), frame);
        return name;
    }

    // The names in the folder, hidden ones too, sorted.
    std::vector<std::string> listing()
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

TEST_F(OutputFileTest, OnlyAPngNameWithOneFrameNumberIsASequence)
{
    struct Case {
        const char* name;
        bool sequence;
        const char* refused;  // part of the error, or nullptr
    };
    const Case cases[] = {
        {"Holiday 100%.mp4", false, nullptr}, {"seq%d.mkv", false, nullptr},   {"100%.png", false, nullptr},
        {"f%03d.png", true, nullptr},         {"F%d.PNG", true, nullptr},       {"50%%-%04d.png", true, nullptr},
        {"a%d%d.png", true, "one frame number"}, {"x%d%s.png", true, "write %%"}, {"x%011d.png", true, "10 digits"},
    };
    for (const Case& c : cases) {
        std::string error;
        auto output = open(c.name, 1, error);
        if (c.refused) {
            EXPECT_EQ(output, nullptr) << c.name;
            EXPECT_NE(error.find(c.refused), std::string::npos) << c.name << ": " << error;
            continue;
        }
        ASSERT_NE(output, nullptr) << c.name << ": " << error;
        EXPECT_EQ(output->isSequence(), c.sequence) << c.name;
        // The writer is handed a name that it cannot take for a pattern by mistake.
        const std::string written = fs::path(output->writePath()).filename().string();
        EXPECT_EQ(written.find('%') != std::string::npos, c.sequence) << c.name << " -> " << written;
    }
    EXPECT_EQ(listing(), std::vector<std::string>{}) << "nothing is left of outputs never committed";
}

TEST_F(OutputFileTest, ACommitWithoutTheFinishedFilesFailsAndKeepsTheOldOutput)
{
    std::ofstream(dir_ / "old.mp4") << "old";
    std::string error;
    auto single = open("old.mp4", 1, error);
    ASSERT_NE(single, nullptr) << error;
    EXPECT_FALSE(single->commit(1, error));
    EXPECT_NE(error.find("nothing was written"), std::string::npos) << error;
    EXPECT_EQ(readText(dir_ / "old.mp4"), "old");

    for (int frame = 1; frame <= 3; ++frame) std::ofstream(dir_ / ("f00" + std::to_string(frame) + ".png")) << "old";
    auto sequence = open("f%03d.png", 3, error);
    ASSERT_NE(sequence, nullptr) << error;
    std::ofstream(writerFrame(*sequence, 1)) << "new";
    std::ofstream(writerFrame(*sequence, 2)) << "new";
    EXPECT_FALSE(sequence->commit(3, error));
    EXPECT_NE(error.find("frame 3 was not written"), std::string::npos) << error;

    auto none = open("f%03d.png", 3, error);
    ASSERT_NE(none, nullptr) << error;
    EXPECT_FALSE(none->commit(0, error));
    for (const char* frame : {"f001.png", "f002.png", "f003.png"}) EXPECT_EQ(readText(dir_ / frame), "old") << frame;
    EXPECT_EQ(listing(), (std::vector<std::string>{"f001.png", "f002.png", "f003.png", "old.mp4"}));
}

TEST_F(OutputFileTest, ASequenceThatCannotBeFullyPutInPlaceIsPutBack)
{
    // Frame 2's name is taken by a folder, which no file can replace; on a
    // file system with hard links and on one without.
    std::ofstream(dir_ / "f1.png") << "old";
    fs::create_directories(dir_ / "f2.png" / "inside");
    std::ofstream(dir_ / "f4.png") << "old";
    std::string error;
    for (const bool hardLinks : {true, false}) {
        gNoHardLinks = !hardLinks;
        auto output = open("f%d.png", 3, error);
        ASSERT_NE(output, nullptr) << error;
        for (int frame = 1; frame <= 3; ++frame) std::ofstream(writerFrame(*output, frame)) << "new";
        EXPECT_FALSE(output->commit(3, error));
        gNoHardLinks = false;
        SCOPED_TRACE(hardLinks ? "with hard links" : "without hard links");
        EXPECT_NE(error.find("f2.png"), std::string::npos) << error;
        EXPECT_EQ(readText(dir_ / "f1.png"), "old");
        EXPECT_EQ(readText(dir_ / "f4.png"), "old") << "old frames after the new ones go only with success";
        EXPECT_TRUE(fs::exists(dir_ / "f2.png" / "inside"));
        output.reset();
        EXPECT_EQ(listing(), (std::vector<std::string>{"f1.png", "f2.png", "f4.png"}));
    }

    // Once it can, the new frames replace the old sequence exactly, and the
    // old frames moved aside go with the temporary folder.
    fs::remove_all(dir_ / "f2.png");
    auto output = open("f%d.png", 3, error);
    ASSERT_NE(output, nullptr) << error;
    for (int frame = 1; frame <= 3; ++frame) std::ofstream(writerFrame(*output, frame)) << "new";
    gNoHardLinks = true;
    ASSERT_TRUE(output->commit(3, error)) << error;
    gNoHardLinks = false;
    EXPECT_EQ(output->committed(), (dir_ / "f%d.png").string() + " (3 frames; 1 old frame after them removed)");
    EXPECT_EQ(listing(), (std::vector<std::string>{"f1.png", "f2.png", "f3.png"}));
    EXPECT_EQ(readText(dir_ / "f1.png"), "new");
}

}  // namespace
