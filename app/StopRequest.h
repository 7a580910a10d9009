// StopRequest: SIGINT and SIGTERM (on Windows a console's Ctrl+C, Ctrl+Break or
// closing) turned into a request that a frame loop polls, so the program ends
// through its normal teardown and then by that same signal.
//
// Use:
//     installStopHandlers();                 // once, early in main
//     while (!stopRequested()) { ...frame... }
//     ...teardown...
//     raiseRequestedStop();                  // ends the process by the signal, if one came
//
// The handlers only record which signal arrived (async-signal-safe, any thread
// may take it), so nothing is interrupted halfway: the program notices at its
// next poll. A second SIGINT or SIGTERM while the first is still being honoured
// ends the process at once, for a teardown that hangs.
//
// Ownership: process-wide state, set up once and never torn down; calls after
// the first installStopHandlers change nothing.
//
// Failure: none reported. raiseRequestedStop returns only when no stop was
// requested (or, on a platform without signals, never had one to raise).
#pragma once

#include <string>

void installStopHandlers();
bool stopRequested();
// The signal that asked for the stop, 0 while none has.
int stopSignal();
// What asked for the stop, as its user knows it ("SIGTERM", "Ctrl+Break").
std::string stopRequestName();
// Restores the default action of the requested signal and raises it, so a parent
// (a shell) sees the program killed by it: 130 for SIGINT, 143 for SIGTERM.
void raiseRequestedStop();
