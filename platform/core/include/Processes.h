// Process Manager subset.
#pragma once

// Ends the process at once with a non-zero status, after flushing standard
// output and error; nothing else is saved or released.
[[noreturn]] void ExitToShell();
