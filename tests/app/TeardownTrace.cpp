// Preloaded into the real binary by end-to-end tests: each teardown step that
// leaves the process (audio device closed, GLFW terminated, zip directory
// closed) writes its name to standard error before it runs, so a test sees
// which steps ran and in what order. Nothing else changes.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

void note(const char* step) {
    const std::size_t length = std::strlen(step);
    if (::write(2, step, length) != static_cast<ssize_t>(length)) return;
    [[maybe_unused]] const ssize_t ignored = ::write(2, "\n", 1);
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

void SDL_CloseAudioDevice(std::uint32_t device) {
    note("audio closed");
    next<void (*)(std::uint32_t)>("SDL_CloseAudioDevice")(device);
}

void glfwTerminate() {
    note("glfw terminated");
    next<void (*)()>("glfwTerminate")();
}

int zzip_dir_close(void* directory) {
    note("archive closed");
    return next<int (*)(void*)>("zzip_dir_close")(directory);
}

}  // extern "C"
