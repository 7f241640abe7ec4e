#include "Progress.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace brimtone::host {

namespace {

// The progress whose line is drawn and not yet ended. FFmpeg's log may break
// it from a decoder thread.
std::atomic<Progress*> gOpenLine{nullptr};

std::string clockText(double seconds)
{
    const long long total = static_cast<long long>(std::max(seconds, 0.0) + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

} // namespace

Progress::Progress(int total, std::ostream& out, Mode mode)
    : total_(std::max(total, 0)), out_(out), mode_(mode), start_(Clock::now()), lastDraw_(start_)
{
}

Progress::~Progress()
{
    Progress* self = this;
    if (gOpenLine.compare_exchange_strong(self, nullptr))
        out_ << '\n' << std::flush;
}

void Progress::breakLine()
{
    if (Progress* open = gOpenLine.exchange(nullptr))
        open->out_ << '\n' << std::flush;
}

Progress::Mode Progress::modeFor(bool quiet)
{
    if (quiet)
        return Mode::Silent;
    return isatty(STDERR_FILENO) == 1 ? Mode::Terminal : Mode::Summary;
}

void Progress::update(int done)
{
    done_ = std::clamp(done, 0, total_);
    if (mode_ != Mode::Terminal || finished_)
        return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(200))
        return;
    lastDraw_ = now;
    drawn_ = true;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    char line[128];
    if (done_ > 0 && elapsed > 0.0) {
        const double fps = done_ / elapsed;
        std::snprintf(line, sizeof line, "frame %d/%d  %.1f fps  %s left", done_, total_, fps,
                      clockText((total_ - done_) / fps).c_str());
    } else {
        std::snprintf(line, sizeof line, "frame %d/%d", done_, total_);
    }
    draw(line);
}

void Progress::finish()
{
    if (finished_ || mode_ == Mode::Silent)
        return;
    finished_ = true;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const double fps = elapsed > 0.01 ? done_ / elapsed : 0.0;
    char line[128];
    if (mode_ == Mode::Terminal) {
        std::snprintf(line, sizeof line, "frame %d/%d  %.1f fps  %s total", done_, total_, fps,
                      clockText(elapsed).c_str());
        draw(line);
        breakLine();
    } else {
        std::snprintf(line, sizeof line, "%d/%d frames in %s (%.1f fps)", done_, total_, clockText(elapsed).c_str(),
                      fps);
        out_ << line << '\n';
    }
    out_.flush();
}

void Progress::draw(const char* line)
{
    const std::string text(line);
    out_ << '\r' << text;
    // Blank out what a longer previous line left behind.
    if (lastLength_ > text.size())
        out_ << std::string(lastLength_ - text.size(), ' ');
    lastLength_ = text.size();
    out_.flush();
    gOpenLine = this;
}

} // namespace brimtone::host
