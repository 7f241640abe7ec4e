#include "Interrupt.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <thread>

#include <unistd.h>

#include "Progress.h"

namespace brimtone::host {

namespace {

std::atomic<bool> gStoppable{false};
std::atomic<int> gStopSignal{0};
std::mutex gScratchLock;
std::string gScratch;

[[noreturn]] void endNow(int signal)
{
    {
        std::lock_guard<std::mutex> lock(gScratchLock);
        // A render still writing frames may add a file while the folder goes.
        std::error_code ignored;
        for (int attempt = 0; attempt < 5 && !gScratch.empty() && std::filesystem::exists(gScratch, ignored);
             ++attempt)
            std::filesystem::remove_all(gScratch, ignored);
    }
    Progress::breakLine();
    static const char message[] = "brimtone: interrupted; nothing written\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(128 + signal);
}

void watch(sigset_t signals)
{
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            continue;
        int none = 0;
        if (gStoppable && gStopSignal.compare_exchange_strong(none, signal))
            continue;
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

void Interrupt::setScratch(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(gScratchLock);
    gScratch = folder;
}

} // namespace brimtone::host
