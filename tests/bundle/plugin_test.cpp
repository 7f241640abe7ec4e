// The shipped bundle as a host sees it: one exported symbol, loaded with
// dlopen, its resources opened by the host, driven only through "main".
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "Effects/AdjustColors/TestHost.h"
#include "Files.h"
#include "Resources.h"

namespace {

const std::string kBundle = BRIMTONE_BUILD_DIR "/Brimtone.bundle/Contents";

std::string RunCommand(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    pclose(pipe);
    return output;
}

TEST(Bundle, SharedObjectExportsOnlyMain)
{
    const std::string symbols =
        RunCommand("nm -D --defined-only '" + kBundle + "/Linux/Brimtone.so' | awk '{print $3}'");
    EXPECT_EQ(symbols, "main\n");
}

TEST(Bundle, InfoPlistNamesTheBundle)
{
    std::ifstream plist(kBundle + "/Info.plist");
    std::stringstream text;
    text << plist.rdbuf();
    EXPECT_NE(text.str().find("<key>CFBundleIdentifier</key>\n\t<string>com.brimtone.plugin.Brimtone</string>"),
              std::string::npos);
    EXPECT_NE(text.str().find("<string>3.0.0</string>"), std::string::npos);
    EXPECT_NE(text.str().find("<key>CFBundleExecutable</key>\n\t<string>Brimtone</string>"),
              std::string::npos);
}

TEST(Bundle, LoadedBundleDescribesItselfAndRendersAPass)
{
    char pattern[] = "/tmp/brimtone-bundle-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("XDG_CONFIG_HOME", pattern, 1);
    ASSERT_GE(TBOpenResFileAtPath((kBundle + "/Resources/Brimtone.rsrc").c_str(), fsRdPerm), 0);

    void* handle = dlopen((kBundle + "/Linux/Brimtone.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto entry = reinterpret_cast<HYPluginEntry>(dlsym(handle, "main"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(dlsym(handle, "EffectDrives"), nullptr);

    TestHost host(32, 24);
    host.filterInfo.fadeInFrames = 2;
    EXPECT_EQ(host.Call(kPlugGetInfo, entry), kPluginOK);
    EXPECT_EQ(host.params.getInfo.pluginType, kPluginFilterType);
    EXPECT_STREQ(host.params.getInfo2.group, "Brimtone Effects");
    EXPECT_EQ(host.liveBlocks, 1);

    ASSERT_EQ(host.Call(kPlugInitialize, entry), kPluginOK);
    for (SInt32 r = 0; r < 3; ++r) {
        host.params.renderFrame = r;
        ASSERT_EQ(host.Call(kPlugDoFrame, entry), kPluginOK);
    }
    EXPECT_EQ(host.blits.size(), 2u);
    EXPECT_EQ(PixelAt(host.output, 3, 3)[0], 255);
    EXPECT_EQ(host.Call(kPlugTerminate, entry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
    EXPECT_EQ(host.liveFrames, 0);
    host.params.interfaceVersion = 3;
    EXPECT_EQ(host.Call(kPlugGetInfo, entry), kPluginAppIsTooOld);
}

}  // namespace
