#include "Interrupt.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Progress.h"

namespace brimtone::host {

namespace {

struct Temporary {
    std::string folder;
    bool holdsOutput;
};

std::atomic<bool> gStoppable{false};
std::atomic<int> gStopSignal{0};

struct Shared {
    // Guards the list and the commit: a signal either ends the process
    // before a commit starts or waits until it is over.
    std::mutex lock;
    std::vector<Temporary> temporaries;
    bool committing = false;
};

// Never destroyed: the owners of temporary folders that live until the
// process ends (a run's settings) still find it while statics go.
Shared& shared()
{
    static Shared* const state = new Shared;
    return *state;
}

// With the lock held. True when one of them held an unfinished output.
bool removeAll()
{
    std::vector<Temporary>& temporaries = shared().temporaries;
    bool outputLost = false;
    for (const Temporary& temporary : temporaries) {
        // A render still writing frames may add a file while the folder goes.
        std::error_code ignored;
        for (int attempt = 0; attempt < 5 && std::filesystem::exists(temporary.folder, ignored); ++attempt)
            std::filesystem::remove_all(temporary.folder, ignored);
        outputLost = outputLost || temporary.holdsOutput;
    }
    temporaries.clear();
    return outputLost;
}

[[noreturn]] void endNow(int signal)
{
    const bool outputLost = removeAll();
    Progress::breakLine();
    static const char interrupted[] = "brimtone: interrupted\n";
    static const char nothing[] = "brimtone: interrupted; nothing written\n";
    const char* message = outputLost ? nothing : interrupted;
    const size_t length = outputLost ? sizeof nothing - 1 : sizeof interrupted - 1;
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, length);
    _exit(128 + signal);
}

void watch(sigset_t signals)
{
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        Shared& state = shared();
        std::lock_guard<std::mutex> lock(state.lock);
        int none = 0;
        if (state.committing) {
            gStopSignal.compare_exchange_strong(none, signal);
            continue;
        }
        if (gStoppable && gStopSignal.compare_exchange_strong(none, signal)) continue;
        endNow(signal);
    }
}

} // namespace

void Interrupt::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        std::thread(watch, signals).detach();
    });
}

void Interrupt::setStoppable(bool stoppable)
{
    gStoppable = stoppable;
}

int Interrupt::stopSignal()
{
    return gStopSignal;
}

void Interrupt::addTemporary(const std::string& folder, bool holdsOutput)
{
    Shared& state = shared();
    std::lock_guard<std::mutex> lock(state.lock);
    state.temporaries.push_back({folder, holdsOutput});
}

void Interrupt::removeTemporary(const std::string& folder)
{
    Shared& state = shared();
    std::lock_guard<std::mutex> lock(state.lock);
    std::erase_if(state.temporaries, [&](const Temporary& t) { return t.folder == folder; });
}

void Interrupt::removeTemporaries()
{
    std::lock_guard<std::mutex> lock(shared().lock);
    removeAll();
}

Interrupt::Commit::Commit()
{
    Shared& state = shared();
    std::lock_guard<std::mutex> lock(state.lock);
    state.committing = true;
}

void Interrupt::Commit::succeeded()
{
    Shared& state = shared();
    std::lock_guard<std::mutex> lock(state.lock);
    for (Temporary& temporary : state.temporaries) temporary.holdsOutput = false;
}

Interrupt::Commit::~Commit()
{
    Shared& state = shared();
    std::lock_guard<std::mutex> lock(state.lock);
    state.committing = false;
}

} // namespace brimtone::host
