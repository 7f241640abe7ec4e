#include "Interrupt.h"

#include <algorithm>
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
// Guards the list and the commit: a signal either ends the process before a
// commit starts or waits until it is over.
std::mutex gLock;
std::vector<Temporary> gTemporaries;
bool gCommitting = false;

// With gLock held. True when one of them held an unfinished output.
bool removeAll()
{
    bool outputLost = false;
    for (const Temporary& temporary : gTemporaries) {
        // A render still writing frames may add a file while the folder goes.
        std::error_code ignored;
        for (int attempt = 0; attempt < 5 && std::filesystem::exists(temporary.folder, ignored); ++attempt)
            std::filesystem::remove_all(temporary.folder, ignored);
        outputLost = outputLost || temporary.holdsOutput;
    }
    gTemporaries.clear();
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
        std::lock_guard<std::mutex> lock(gLock);
        int none = 0;
        if (gCommitting) {
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
    std::lock_guard<std::mutex> lock(gLock);
    gTemporaries.push_back({folder, holdsOutput});
}

void Interrupt::removeTemporary(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(gLock);
    gTemporaries.erase(std::remove_if(gTemporaries.begin(), gTemporaries.end(),
                                      [&](const Temporary& t) { return t.folder == folder; }),
                       gTemporaries.end());
}

void Interrupt::removeTemporaries()
{
    std::lock_guard<std::mutex> lock(gLock);
    removeAll();
}

Interrupt::Commit::Commit()
{
    std::lock_guard<std::mutex> lock(gLock);
    gCommitting = true;
}

void Interrupt::Commit::succeeded()
{
    std::lock_guard<std::mutex> lock(gLock);
    for (Temporary& temporary : gTemporaries) temporary.holdsOutput = false;
}

Interrupt::Commit::~Commit()
{
    std::lock_guard<std::mutex> lock(gLock);
    gCommitting = false;
}

} // namespace brimtone::host
