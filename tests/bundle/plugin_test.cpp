// The shipped bundle as a host sees it: one exported symbol, loaded with
// dlopen, its resources opened by the host, driven only through "main".
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Effects/AdjustColors/TestHost.h"
#include "Files.h"
#include "Resources.h"

namespace {

const std::string kBundle = BRIMTONE_BUILD_DIR "/Brimtone.bundle/Contents";

TEST(Bundle, SharedObjectExportsOnlyMain)
{
    const std::string command =
        "nm -D --defined-only '" + kBundle + "/Linux/Brimtone.so' | awk '{print $3}'";
    std::string symbols;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        symbols += buffer;
    pclose(pipe);
    EXPECT_EQ(symbols, "main\n");
}

TEST(Bundle, LoadedBundleRendersAPassThroughMain)
{
    char pattern[] = "/tmp/brimtone-bundle-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("XDG_CONFIG_HOME", pattern, 1);
    ASSERT_GE(TBOpenResFileAtPath((kBundle + "/Resources/Brimtone.rsrc").c_str(), fsRdPerm), 0);

    void* handle = dlopen((kBundle + "/Linux/Brimtone.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto entry = reinterpret_cast<HYPluginEntry>(dlsym(handle, "main"));
    ASSERT_NE(entry, nullptr);

    TestHost host(32, 24);
    host.filterInfo.fadeInFrames = 2;
    EXPECT_EQ(host.Call(kPlugGetInfo, entry), kPluginOK);
    EXPECT_EQ(host.params.getInfo.pluginType, kPluginFilterType);
    ASSERT_EQ(host.Call(kPlugInitialize, entry), kPluginOK);
    for (SInt32 r = 0; r < 3; ++r) {
        host.params.renderFrame = r;
        ASSERT_EQ(host.Call(kPlugDoFrame, entry), kPluginOK);
    }
    EXPECT_EQ(host.blits.size(), 2u);
    EXPECT_EQ(host.Call(kPlugTerminate, entry), kPluginOK);
    EXPECT_EQ(host.liveBlocks, 1);
    EXPECT_EQ(host.liveFrames, 0);
}

}  // namespace
