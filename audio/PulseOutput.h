// The output through a PulseAudio server (or PipeWire's), for the platform
// file that picks the system's output (AudioOutput_posix.cpp). Null when no
// server runs; it never starts one. Same terms as every AudioOutput.
#pragma once

#include "AudioOutput.h"

std::unique_ptr<AudioOutput> openPulseOutput(unsigned rate);
