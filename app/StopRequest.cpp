#include "StopRequest.h"

#include "StopRequestPlatform.h"

#include <csignal>
#include <string>

namespace {

volatile std::sig_atomic_t requested = 0;
bool installed = false;

}  // namespace

extern "C" void onStopSignal(int signal) {
    if (requested != 0) {
        // Asked twice: whatever the orderly path is doing, stop now.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    requested = signal;
    rearmStopHandler(signal);
}

void installStopHandlers() {
    if (installed) return;
    installed = true;
    installPlatformStopHandlers();
}

bool stopRequested() { return requested != 0; }

int stopSignal() { return requested; }

std::string stopRequestName() {
    const int signal = requested;
    if (const char* name = stopSignalName(signal)) return name;
    return "signal " + std::to_string(signal);
}

void raiseRequestedStop() {
    const int signal = requested;
    if (signal == 0) return;
    std::signal(signal, SIG_DFL);
    unblockStopSignal(signal);
    std::raise(signal);
}
