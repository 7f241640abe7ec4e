#include "CFBundle.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class CFBundleTest : public ::testing::Test {
protected:
    CFBundleTest()
    {
        char pattern[] = "/tmp/cfbundle-XXXXXX";
        root_ = fs::canonical(mkdtemp(pattern));
    }
    ~CFBundleTest() override { fs::remove_all(root_); }

    fs::path MakeBundle(const std::string& name, const std::string& identifier)
    {
        fs::create_directories(root_ / name / "Contents" / "Resources" / "English.lproj" / "sub");
        fs::create_directories(root_ / name / "Contents" / "Linux");
        std::ofstream(root_ / name / "Contents" / "Info.plist")
            << "<plist><dict><key>CFBundleExecutable</key><string>x</string>\n"
               "<key>CFBundleIdentifier</key>\n  <string>" << identifier << "</string></dict></plist>";
        return root_ / name;
    }

    fs::path root_;
};

TEST_F(CFBundleTest, CreatedBundlesAreFoundByIdentifierAndHandOutOnlyTheirResources)
{
    const fs::path resources = MakeBundle("Made.bundle", "org.brimtone.test.made&amp;more") / "Contents" / "Resources";
    std::ofstream(resources / "English.lproj" / "sub" / "local.txt") << "x";
    CFURLRef url = TBCFURLCreateWithPath((root_ / "Made.bundle").string(), true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("org.brimtone.test.made&more")), bundle);
    CFURLRef local = CFBundleCopyResourceURL(bundle, CFSTR("local"), CFSTR("txt"), CFSTR("sub"));
    ASSERT_NE(local, nullptr);
    CFRelease(local);
    EXPECT_EQ(CFBundleCopyResourceURL(bundle, CFSTR("../Info"), CFSTR("plist"), nullptr), nullptr);
    CFRelease(bundle);

    CFURLRef plain = TBCFURLCreateWithPath(root_.string(), true);
    EXPECT_EQ(CFBundleCreate(nullptr, plain), nullptr);
    CFRelease(plain);
}

TEST_F(CFBundleTest, BundleOfALoadedBinaryIsFoundByIdentifier)
{
    const fs::path folder = MakeBundle("Loaded.bundle", "org.brimtone.test.loaded");
    // Any small shared object serves as the bundle's binary.
    Dl_info info{};
    void* libdl = dlopen("libdl.so.2", RTLD_NOW);
    ASSERT_NE(libdl, nullptr);
    ASSERT_NE(dladdr(dlsym(libdl, "dlopen"), &info), 0);
    const fs::path binary = folder / "Contents" / "Linux" / "Loaded.so";
    fs::copy_file(info.dli_fname, binary);
    fs::create_directories(folder / "Contents" / "Resources");
    std::ofstream(folder / "Contents" / "Resources" / "probe.txt") << "x";
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("org.brimtone.test.loaded")), nullptr);
    void* handle = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(CFSTR("org.brimtone.test.loaded"));
    ASSERT_NE(bundle, nullptr);
    CFURLRef url = CFBundleCopyResourceURL(bundle, CFSTR("probe"), CFSTR("txt"), nullptr);
    EXPECT_EQ(TBCFURLGetPath(url), (folder / "Contents" / "Resources" / "probe.txt").string());
    CFRelease(url);
    dlclose(handle);
    dlclose(libdl);
}

}  // namespace
