#include "StopRequest.h"

#include <csignal>
#include <pthread.h>

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
}

void install(int signal) {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a worker thread in the middle of a write must not
    // see it fail with EINTR just because the handler ran on it.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void installStopHandlers() {
    if (installed) return;
    installed = true;
    install(SIGINT);
    install(SIGTERM);
}

bool stopRequested() { return requested != 0; }

int stopSignal() { return requested; }

void raiseRequestedStop() {
    const int signal = requested;
    if (signal == 0) return;
    std::signal(signal, SIG_DFL);
    // The signal may be blocked on this thread (inherited masks); it must land.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
}
