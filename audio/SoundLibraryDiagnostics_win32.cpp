#include "SoundLibraryDiagnostics.h"

// Windows' audio services report through return codes only; nothing to quiet.
void silenceSoundLibraryDiagnostics() {}
