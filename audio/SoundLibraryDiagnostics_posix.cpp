#include "SoundLibraryDiagnostics.h"

#include <dlfcn.h>

namespace {

// ALSA writes its own diagnostics to standard error when there is no sound
// card. Its error handler is set to a no-op through the library SDL itself
// loads (nothing to link).
void ignoreSoundLibraryDiagnostic(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void silenceSoundLibraryDiagnostics() {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    static const bool silenced = [] {
        void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
        if (!library) library = dlopen("libasound.so.2", RTLD_NOW);
        if (!library) return false;
        auto setHandler = reinterpret_cast<int (*)(Handler)>(dlsym(library, "snd_lib_error_set_handler"));
        if (!setHandler) return false;
        setHandler(ignoreSoundLibraryDiagnostic);
        return true;
    }();
    (void)silenced;
}
