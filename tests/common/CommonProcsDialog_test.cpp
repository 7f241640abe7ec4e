// The dialog half of the common routines: nib windows.
#include "common/CommonProcs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "CFBundle.h"
#include "IBCarbonRuntime.h"

namespace {

TEST(OpenNibWindowFromCFBundleDeathTest, AMissingNibIsAStopAlertAndAMissingWindowExitsWithTheErrorsLowByte)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string pattern = (std::filesystem::temp_directory_path() / "nibs-XXXXXX").string();
    const std::filesystem::path root = mkdtemp(pattern.data());
    const auto contents = root / "T.bundle" / "Contents";
    std::filesystem::create_directories(contents / "Resources" / "brimtone.nib");
    std::ofstream(contents / "Info.plist") << "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
                                              "<string>com.brimtone.test.nibs</string></dict></plist>\n";
    std::ofstream(contents / "Resources" / "brimtone.nib" / "one.ui")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>one</class>"
           "<widget class=\"QDialog\" name=\"one\"/></ui>\n";
    CFURLRef url = TBCFURLCreateWithPath((root / "T.bundle").string(), true);
    CFBundleCreate(nullptr, url);
    CFRelease(url);
    EXPECT_EXIT(OpenNibWindowFromCFBundle("com.brimtone.test.nibs", "other", "one"),
                testing::ExitedWithCode(1),
                "OpenNibWindow Failed\n  Unable to CreateNibReferenceWithCFBundle for "
                "\"com.brimtone.test.nibs/other\" as it returned errcode #-10960\\.");
    EXPECT_EXIT(OpenNibWindowFromCFBundle("com.brimtone.test.nibs", "brimtone", "two"),
                testing::ExitedWithCode(int(UInt32(kIBCarbonRuntimeCantFindObject) & 0xFF)), "");
    std::filesystem::remove_all(root);
}

}  // namespace
