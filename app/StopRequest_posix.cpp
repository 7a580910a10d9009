#include "StopRequestPlatform.h"

#include <csignal>
#include <pthread.h>

namespace {

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

void installPlatformStopHandlers() {
    install(SIGINT);
    install(SIGTERM);
}

// sigaction's handler stays installed after it runs.
void rearmStopHandler(int) {}

void unblockStopSignal(int signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

const char* stopSignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return nullptr;
    }
}
