// Process Manager subset.
#pragma once

#include "MacTypes.h"

// Ends the process at once with a non-zero status, after flushing standard
// output and error; nothing else is saved or released.
[[noreturn]] TB_EXPORT void ExitToShell();
