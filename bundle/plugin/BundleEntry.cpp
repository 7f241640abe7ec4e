// The one symbol the bundle exports. A C++ function cannot be called main with
// this signature, so the assembler name gives it that name.
#include "Effects/AdjustColors/AdjustColors.h"
#include "plugin/PluginGlue.h"

extern "C" __attribute__((visibility("default"))) SInt32 BrimtoneBundleEntry(
    SInt32 which, PluginParams* params) __asm__("main");

SInt32 BrimtoneBundleEntry(SInt32 which, PluginParams* params)
{
    // The bundle is where the effect and its dialog meet.
    SetConfigureProc(ConfigurePlugIn);
    return BrimtoneMain(which, params);
}
