// The one symbol the bundle exports. A C++ function cannot be called main with
// this signature, so the assembler name gives it that name.
#include "Effects/AdjustColors/AdjustColors.h"

extern "C" __attribute__((visibility("default"))) SInt32 BrimtoneBundleEntry(
    SInt32 which, PluginParams* params) __asm__("main");

SInt32 BrimtoneBundleEntry(SInt32 which, PluginParams* params)
{
    return BrimtoneMain(which, params);
}
