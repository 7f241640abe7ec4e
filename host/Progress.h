// Progress of a long render: on a terminal one line kept up to date
// ("frame 120/150  48.3 fps  0:02 left"); elsewhere one summary at the end;
// or nothing at all.
#pragma once

#include <chrono>
#include <ostream>

namespace brimtone::host {

class Progress {
public:
    enum class Mode { Terminal, Summary, Silent };
    Progress(int total, std::ostream& out, Mode mode);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `done` frames are finished; redraws at most about five times a second.
    void update(int done);
    // Prints the final line with the total time, ending it with a newline.
    void finish();

    // Ends an unfinished progress line, so that a message printed next
    // starts a line of its own.
    static void breakLine();

    // Terminal when standard error is one, else Summary; Silent when quiet.
    static Mode modeFor(bool quiet);

private:
    using Clock = std::chrono::steady_clock;
    void draw(const char* line);

    int total_;
    int done_ = 0;
    std::ostream& out_;
    Mode mode_;
    bool finished_ = false;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    bool drawn_ = false;
    size_t lastLength_ = 0;
};

} // namespace brimtone::host
