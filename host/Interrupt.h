// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) while the host works. The
// first signal during a render asks it to stop taking frames, so that it can
// finish a shorter, playable file. While an output is being put in place the
// signal waits for that to end (it is short), so the user gets either the old
// output whole or the new one whole. Any other signal removes the host's
// temporary folders and ends the process at once with status 128 + the
// signal's number, as a shell reports a killed program.
#pragma once

#include <string>

namespace brimtone::host {

class Interrupt {
public:
    // Blocks the three signals in this thread and every thread made after it
    // and starts the thread that takes them. Call before any other thread
    // exists (FFmpeg's decoders make theirs when a file is opened).
    static void install();

    // While true, the first signal asks to stop instead of ending the process.
    static void setStoppable(bool stoppable);
    // The signal that asked to stop, or that came while an output was put in
    // place; 0 when none did.
    static int stopSignal();

    // Folders removed when a signal ends the process; one that holds an
    // unfinished output makes the last words "nothing written".
    static void addTemporary(const std::string& folder, bool holdsOutput);
    static void removeTemporary(const std::string& folder);
    // Removes them all now, for a way out that skips their owners.
    static void removeTemporaries();

    // Held while an output takes its final names: a signal then is kept for
    // stopSignal() instead of ending the process. The holder must end soon.
    class Commit {
    public:
        Commit();
        ~Commit();
        // The output is in place: a later signal must not say that nothing
        // was written.
        void succeeded();
        Commit(const Commit&) = delete;
        Commit& operator=(const Commit&) = delete;
    };
};

}  // namespace brimtone::host
