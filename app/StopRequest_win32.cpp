#include "StopRequest.h"

#include <csignal>

// Windows has no SIGTERM from outside; the C runtime turns a console's Ctrl+C
// and Ctrl+Break into SIGINT and SIGBREAK on a thread of their own, which is
// all a console-started presentation can be asked to stop by.
namespace {

volatile std::sig_atomic_t requested = 0;
bool installed = false;

extern "C" void onStopSignal(int signal) {
    if (requested != 0) {
        // Asked twice: whatever the orderly path is doing, stop now.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    requested = signal;
    // The runtime resets a handler once it has run; the second request must
    // still find this one.
    std::signal(signal, onStopSignal);
}

}  // namespace

void installStopHandlers() {
    if (installed) return;
    installed = true;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGBREAK, onStopSignal);
}

bool stopRequested() { return requested != 0; }

int stopSignal() { return requested; }

void raiseRequestedStop() {
    const int signal = requested;
    if (signal == 0) return;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
