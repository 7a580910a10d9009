#include "StopRequestPlatform.h"

#include <windows.h>

#include <csignal>

namespace {

// Windows has no SIGTERM from outside. A console asks its programs to stop
// with Ctrl+C, Ctrl+Break, or by closing (and logging off or shutting down);
// each arrives on a thread of its own and is recorded as a signal number.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT: onStopSignal(SIGINT); return TRUE;
    case CTRL_BREAK_EVENT: onStopSignal(SIGBREAK); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        onStopSignal(SIGTERM);
        // The system ends the process as soon as this returns (and in any
        // case a few seconds later): the orderly stop gets that time, and
        // ends the process itself when done.
        Sleep(INFINITE);
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

void installPlatformStopHandlers() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

// The console handler stays installed; a second request still finds it.
void rearmStopHandler(int) {}

// The runtime has no signal masks.
void unblockStopSignal(int) {}

const char* stopSignalName(int signal) {
    switch (signal) {
    case SIGINT: return "Ctrl+C";
    case SIGBREAK: return "Ctrl+Break";
    case SIGTERM: return "closing the console";
    default: return nullptr;
    }
}
