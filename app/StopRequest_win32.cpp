#include "StopRequestPlatform.h"

#include <csignal>

// Windows has no SIGTERM from outside; the C runtime turns a console's Ctrl+C
// and Ctrl+Break into SIGINT and SIGBREAK on a thread of their own, which is
// all a console-started presentation can be asked to stop by.
void installPlatformStopHandlers() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGBREAK, onStopSignal);
}

// The runtime resets a handler once it has run; a second request must still
// find this one.
void rearmStopHandler(int signal) { std::signal(signal, onStopSignal); }

// The runtime has no signal masks.
void unblockStopSignal(int) {}
