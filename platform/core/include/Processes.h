// Process Manager subset.
#pragma once

#include "MacTypes.h"

// Ends the process at once with a non-zero status, after the hook and
// flushing standard output and error; nothing else is saved or released.
[[noreturn]] TB_EXPORT void ExitToShell();

// What ExitToShell runs first (a host removes its temporary files); nil for
// nothing. Returns the hook it replaces.
TB_EXPORT void (*TBSetExitToShellHook(void (*theHook)()))();
