// Progress of a long render: on a terminal one line kept up to date
// ("frame 120/150  48.3 fps  0:02 left"); elsewhere one summary at the end.
#pragma once

#include <chrono>
#include <ostream>

namespace brimtone::host {

class Progress {
public:
    Progress(int total, std::ostream& out, bool isTerminal);

    // `done` frames are finished; redraws at most about five times a second.
    void update(int done);
    // Prints the final line with the total time, ending it with a newline.
    void finish();

    static bool stderrIsTerminal();

private:
    using Clock = std::chrono::steady_clock;
    void draw(const char* line);

    int total_;
    int done_ = 0;
    std::ostream& out_;
    bool terminal_;
    bool finished_ = false;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    bool drawn_ = false;
    size_t lastLength_ = 0;
};

} // namespace brimtone::host
