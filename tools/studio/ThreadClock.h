// ThreadClock: processor time the calling thread has used, for the HUD's and
// the benchmark's CPU time per frame (the GL driver's and the audio threads'
// work is not the frame loop's).
//
// Use: const double before = threadCpuSeconds(); ...; double used = threadCpuSeconds() - before;
// Failure: 0.0 where the system cannot tell.
#pragma once

namespace zyr::studio {

double threadCpuSeconds();

}  // namespace zyr::studio
