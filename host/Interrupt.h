// Ctrl-C and SIGTERM while the host writes a file. The first signal during a
// render asks it to stop taking frames, so that it can finish a shorter,
// playable file; any other signal (a second one, or one outside the frame
// loop) removes the unfinished output and ends the process at once with
// status 128 + the signal's number, as a shell reports a killed program.
#pragma once

#include <string>

namespace brimtone::host {

class Interrupt {
public:
    // Blocks SIGINT and SIGTERM in this thread and every thread made after it
    // and starts the thread that takes them. Call before any other thread
    // exists (FFmpeg's decoders make theirs when a file is opened).
    static void install();

    // While true, the first signal asks to stop instead of ending the process.
    static void setStoppable(bool stoppable);
    // The signal that asked to stop, or 0.
    static int stopSignal();

    // The folder removed when a signal ends the process; empty for none.
    static void setScratch(const std::string& folder);
};

}  // namespace brimtone::host
