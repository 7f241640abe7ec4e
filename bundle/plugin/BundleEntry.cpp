// The one symbol the bundle exports. A C++ function cannot be called main with
// this signature, so the assembler name gives it that name.
#include <new>

#include "Effects/AdjustColors/AdjustColors.h"
#include "plugin/PluginGlue.h"

extern "C" __attribute__((visibility("default"))) SInt32 BrimtoneBundleEntry(
    SInt32 which, PluginParams* params) __asm__("main");

// The host is C: no exception may cross into it.
SInt32 BrimtoneBundleEntry(SInt32 which, PluginParams* params)
{
    // The bundle is where the effect and its dialog meet.
    SetConfigureProc(ConfigurePlugIn);
    try {
        return BrimtoneMain(which, params);
    } catch (const std::bad_alloc&) {
        return kPluginOutOfMemory;
    } catch (...) {
        return kPluginFailed;
    }
}
