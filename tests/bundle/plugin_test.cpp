// The shipped bundle as a host sees it: its shared object exports one symbol,
// "main"; loading it and driving it through main is the host tests' part.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>

#include "Effects/AdjustColors/TestHost.h"

namespace {

const char kBundleBinary[] = BRIMTONE_BUILD_DIR "/Brimtone.bundle/Contents/Linux/Brimtone.so";

TEST(Bundle, SharedObjectExportsOnlyMain)
{
    const std::string command =
        std::string("nm -D --defined-only '") + kBundleBinary + "' | awk '{print $3}'";
    std::string symbols;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        symbols += buffer;
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(symbols, "main\n");
}

HYPluginResult ThrowBadAlloc(void*, HYPluginFilterInfo**) { throw std::bad_alloc(); }
HYPluginResult ThrowOther(void*, HYPluginFilterInfo**) { throw std::runtime_error("host fault"); }

TEST(Bundle, NoExceptionCrossesMainIntoTheHost)
{
    char folder[] = "/tmp/brimtone-bundle-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("XDG_CONFIG_HOME", folder, 1);
    void* bundle = dlopen(kBundleBinary, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(bundle, nullptr) << dlerror();
    const auto entry = reinterpret_cast<HYPluginEntry>(dlsym(bundle, "main"));
    ASSERT_NE(entry, nullptr);
    {
        TestHost host;
        host.procs.GetFilterInfo = &ThrowBadAlloc;
        EXPECT_EQ(host.Call(kPlugInitialize, entry), kPluginOutOfMemory);
        host.procs.GetFilterInfo = &ThrowOther;
        EXPECT_EQ(host.Call(kPlugInitialize, entry), kPluginFailed);
        // The plug-in goes on working after either.
        host.procs.GetFilterInfo = &TestHost::GetFilterInfoProc;
        EXPECT_EQ(host.Call(kPlugInitialize, entry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugDoFrame, entry), kPluginOK);
        EXPECT_EQ(host.Call(kPlugTerminate, entry), kPluginOK);
    }
    // Left loaded, as hosts keep their plug-ins: the master record lives as long.
    std::filesystem::remove_all(folder);
}

}  // namespace
