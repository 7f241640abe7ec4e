// Compiled with -m32 only: the header's static_asserts check every binding
// offset where pointers are 4 bytes wide; these add the records' ends.
#include "Effects/AdjustColors/HostInterface.h"

static_assert(sizeof(void*) == 4, "compile this file with -m32");
static_assert(sizeof(PluginParams) == 1940);
static_assert(sizeof(HYProcs) == 120);
static_assert(offsetof(PluginParams, getInfo4) + sizeof(HY4PluginGetInfo) == 1940);
static_assert(offsetof(PluginParams, frameRect) == 78);
static_assert(offsetof(HYProcs, GetFrame) == 4 * 9);
static_assert(offsetof(HYProcs, MixAudio) == 4 * 24);
static_assert(sizeof(HYPluginSelector) == 1 && sizeof(HYPluginResult) == 1);
