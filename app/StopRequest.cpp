#include "StopRequest.h"

#include "StopRequestPlatform.h"

#include <atomic>
#include <csignal>
#include <string>

namespace {

// Written by a signal handler on whichever thread took the signal, read by
// frame loops and workers on theirs.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");
bool installed = false;

}  // namespace

extern "C" void onStopSignal(int signal) {
    if (requested.load() != 0) {
        // Asked twice: whatever the orderly path is doing, stop now.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    requested.store(signal);
    rearmStopHandler(signal);
}

void installStopHandlers() {
    if (installed) return;
    installed = true;
    installPlatformStopHandlers();
}

bool stopRequested() { return requested.load() != 0; }

int stopSignal() { return requested.load(); }

std::string stopRequestName() {
    const int signal = requested;
    if (const char* name = stopSignalName(signal)) return name;
    return "signal " + std::to_string(signal);
}

void raiseRequestedStop() {
    const int signal = requested.load();
    if (signal == 0) return;
    std::signal(signal, SIG_DFL);
    unblockStopSignal(signal);
    std::raise(signal);
}
