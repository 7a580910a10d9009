// WorkerPriority: a worker thread that gives way to the frame loop, so slow
// work beside it (a song rendered and encoded) does not stretch its frames on
// a machine with few cores.
//
// Use: lowerThreadPriority();      // first thing on the worker thread
//
// The thread alone is lowered (a nice value on Linux, a thread priority
// below normal on Windows); the process's other threads keep theirs.
//
// Failure: none; where the system does not allow it, nothing changes.
#pragma once

namespace zyr::studio {

void lowerThreadPriority();

}  // namespace zyr::studio
