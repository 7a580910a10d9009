// The operating system's sound library under SDL, kept quiet: the presentation
// reports nothing but fatal errors, and a missing sound card is already handled
// by the audio layer's silent fallback. One file per platform; the audio layer
// calls it before opening a device. Idempotent, never fails.
#pragma once

void silenceSoundLibraryDiagnostics();
