// What StopRequest.cpp needs from the platform (StopRequest_posix.cpp,
// StopRequest_win32.cpp); nothing else includes it.
#pragma once

// The handler every platform installs; it records the request (StopRequest.cpp).
extern "C" void onStopSignal(int signal);

// Installs onStopSignal for the signals that mean "stop" on this platform.
void installPlatformStopHandlers();
// Called from onStopSignal after a first request: keeps the handler in place
// where the platform resets it once it has run.
void rearmStopHandler(int signal);
// Lets `signal` reach this thread when it is raised (masks are inherited).
void unblockStopSignal(int signal);
// What the platform calls the request a signal number stands for, or null.
const char* stopSignalName(int signal);
