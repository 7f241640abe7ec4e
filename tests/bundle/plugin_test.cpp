// The shipped bundle as a host sees it: its shared object exports one symbol,
// "main"; loading it and driving it through main is the host tests' part.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(Bundle, SharedObjectExportsOnlyMain)
{
    const std::string command =
        "nm -D --defined-only '" BRIMTONE_BUILD_DIR "/Brimtone.bundle/Contents/Linux/Brimtone.so' | awk '{print $3}'";
    std::string symbols;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        symbols += buffer;
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(symbols, "main\n");
}

}  // namespace
