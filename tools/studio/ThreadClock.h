// ThreadClock: processor time the calling thread has used, for the HUD's and
// the benchmark's CPU time per frame (the GL driver's and the audio threads'
// work is not the frame loop's).
//
// Use: const double before = threadCpuSeconds(); ...; double used = threadCpuSeconds() - before;
//
// ThreadClock_posix.cpp reads the thread's CPU clock; ThreadClock_win32.cpp
// its cycle count at the time-stamp counter's rate, or where the system does
// not count cycles its kernel and user times, which move a scheduler tick
// (some 16 ms) at a time, so only averages over many frames mean much there.
//
// Failure: 0.0 where the system cannot tell.
#pragma once

namespace zyr::studio {

double threadCpuSeconds();

}  // namespace zyr::studio
